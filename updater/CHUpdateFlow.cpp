#include "updater/CHUpdateFlow.h"

#include <json/json.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "httpclient/CHttpAgent.h"
#include "httpclient/UpdateServer.h"
#include "platform/FileSystem.h"
#include "platform/Spawn.h"
#include "updater/ApplyHelper.h"
#include "updater/CHHelperProcess.h"
#include "updater/InstallGuard.h"
#include "updater/PackageAddress.h"
#include "updater/PackageSignature.h"
#include "updater/ProcessControl.h"
#include "updater/UpdaterTexts.h"

namespace {

constexpr char kQueryUserAgent[] = "Vellumo";
constexpr char kDownloadUserAgent[] = "Tessaline";
constexpr size_t kMaxAnswerBytes = 64 * 1024;

std::string Format(const char* format, long value) {
    char text[256];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

// "update" counts by its integer value, whether number, boolean or numeric text.
long long UpdateFlag(const Json::Value& value) {
    if (value.isBool()) {
        return value.asBool() ? 1 : 0;
    }
    if (value.isIntegral()) {
        return value.isInt64() ? value.asInt64() : 0;
    }
    if (value.isDouble()) {
        double d = value.asDouble();
        return d >= 0 && d < 2 ? static_cast<long long>(d) : 0;
    }
    if (value.isString()) {
        return std::strtoll(value.asString().c_str(), nullptr, 10);
    }
    return 0;
}

bool ParseAnswer(const std::string& body, Json::Value& root) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(body.data(), body.data() + body.size(), &root, &errors) && root.isObject();
}

std::string HostHeader(const HttpAddress& address) {
    return address.port == 80 ? address.host : address.host + ":" + std::to_string(address.port);
}

const char* TextForHelperFailure(const std::string& reason) {
    if (reason == helper::kFailTemp) {
        return texts::kNoTempFolder;
    }
    if (reason == helper::kFailSignature || reason == helper::kFailZip) {
        return texts::kIncomplete;
    }
    if (reason == helper::kFailUnpack) {
        return texts::kUnpackFailed;
    }
    if (reason == helper::kFailScript) {
        return texts::kScriptError;
    }
    return texts::kRolledBack;
}

} // namespace

CHUpdateFlow::CHUpdateFlow(UpdateTarget target, UpdateOptions options, IUpdateView& view)
    : m_target(std::move(target)), m_options(std::move(options)), m_view(view) {}

void CHUpdateFlow::Status(const std::string& text) {
    m_view.ShowStatus(text);
}

void CHUpdateFlow::Progress(int percent) {
    if (percent != m_lastPercent) {
        m_lastPercent = percent;
        m_view.ShowProgress(percent);
    }
}

void CHUpdateFlow::SetAgent(CHttpAgent* agent) {
    std::lock_guard<std::mutex> lock(m_agentLock);
    m_agent = agent;
    if (agent && m_cancelled) {
        agent->Cancel();
    }
}

void CHUpdateFlow::Cancel() {
    m_cancelled = true;
    std::lock_guard<std::mutex> lock(m_agentLock);
    if (m_agent) {
        m_agent->Cancel();
    }
}

CHUpdateFlow::Outcome CHUpdateFlow::Run() {
    m_lastPercent = -1;
    Status(texts::kQuerying);
    std::string packageAddress;
    if (!Query(packageAddress)) {
        return Outcome::Failed;
    }
    if (packageAddress.empty()) {
        return Outcome::NothingToDo;
    }
    return Install(packageAddress);
}

// True with an empty address when the server has nothing for us.
bool CHUpdateFlow::Query(std::string& packageAddress) {
    UpdateServer server = CurrentUpdateServer();
    CHttpAgent agent;
    SetAgent(&agent);
    std::string body;
    agent.SetTimeout(m_options.queryTimeoutSeconds);
    agent.SetBodyLimit(kMaxAnswerBytes);
    bool answered = !server.IsOff() &&
                    agent.Open(server.host, server.port, "GET",
                               "/check_update?version=" + m_target.version, "HTTP/1.1") &&
                    agent.SetHeaderValue("Accept", "*/*") &&
                    agent.SetHeaderValue("User-Agent", kQueryUserAgent) &&
                    agent.SetHeaderValue("Host", server.HostHeader()) &&
                    agent.SetHeaderValue("Connection", "keep-alive") && agent.SendHead() &&
                    agent.ReceiveHead() && agent.GetStatusCode() == 200 && agent.ReceiveBody(body);
    SetAgent(nullptr);
    Json::Value answer;
    if (!answered || !ParseAnswer(body, answer)) {
        Status(texts::kQueryFailed);
        return false;
    }
    if (!answer.isMember("update") || !answer.isMember("update_url") ||
        UpdateFlag(answer["update"]) != 1) {
        Status(texts::kNoUpdate);
        return true;
    }
    packageAddress = answer["update_url"].isString() ? answer["update_url"].asString() : "";
    if (packageAddress.empty()) {
        Status(texts::kBadAddress);
        return false;
    }
    return true;
}

bool CHUpdateFlow::Download(const std::string& address, const fs::path& file, bool isSignature) {
    HttpAddress parsed;
    if (!ParseHttpAddress(address, parsed)) {
        return false;
    }
    CHttpAgent agent;
    SetAgent(&agent);
    bool sent = agent.Open(parsed.host, parsed.port, "GET", parsed.path, "HTTP/1.1") &&
                agent.SetHeaderValue("Accept", "*/*") &&
                agent.SetHeaderValue("User-Agent", kDownloadUserAgent) &&
                agent.SetHeaderValue("Host", HostHeader(parsed)) &&
                agent.SetHeaderValue("Connection", "keep-alive") && agent.SendHead() &&
                agent.ReceiveHead() && agent.GetStatusCode() == 200;
    bool fine = false;
    if (sent && isSignature) {
        std::string body;
        agent.SetBodyLimit(kMaxSignatureBytes);
        fine = agent.ReceiveBody(body) && WriteWholeFile(file, body);
    } else if (sent && agent.GetContentLength() > 0 &&
               agent.GetContentLength() <= kMaxPackageBytes) {
        agent.SetBlockSize(256 * 1024);
        fine = agent.DownloadToFile(
            file,
            [this](int percent, int, const char*, int, int64_t, int64_t, void*) {
                if (percent >= 0 && percent != m_lastPercent) {
                    Status(Format(texts::kDownloading, percent));
                    Progress(percent);
                }
                return Cancelled() ? 0 : 1;
            },
            nullptr);
    }
    SetAgent(nullptr);
    return fine && !Cancelled();
}

CHUpdateFlow::Outcome CHUpdateFlow::Install(const std::string& packageAddress) {
    HttpAddress parsed;
    if (!ParseHttpAddress(packageAddress, parsed)) {
        Status(texts::kBadAddress);
        return Outcome::Failed;
    }
    PrivateTempDir temp;
    if (!temp.Valid()) {
        Status(texts::kNoTempFolder);
        return Outcome::Failed;
    }
    fs::path package = temp.Path() / "package.zip";
    fs::path signature = temp.Path() / "package.zip.sig";
    Status(Format(texts::kDownloading, 0));
    Progress(0);
    if (!Download(packageAddress, package, false) ||
        !Download(packageAddress + ".sig", signature, true)) {
        Status(texts::kDownloadFailed);
        return Outcome::Failed;
    }
    std::string signatureBytes;
    if (!ReadWholeFile(signature, signatureBytes) ||
        !VerifyPackageSignature(package, signatureBytes, BuiltInPublicKey())) {
        Status(texts::kIncomplete);
        return Outcome::Failed;
    }
    return ApplyWithHelper(package, signature);
}

CHUpdateFlow::Outcome CHUpdateFlow::ApplyWithHelper(const fs::path& package,
                                                    const fs::path& signature) {
    fs::path root = m_target.program.parent_path();
    m_elevated = m_options.alwaysElevate || ::access(root.c_str(), W_OK) != 0;
    std::vector<std::string> argv;
    if (m_elevated) {
        argv = m_options.elevator;
    }
    argv.insert(argv.end(), {m_options.helper.string(), "--apply", package.string(),
                             signature.string(), m_target.program.string()});
    Status(texts::kChecking);
    CHHelperProcess helper;
    std::string line;
    bool started = helper.Start(argv) && helper.ReadLine(line);
    if (started && line.rfind("temp ", 0) == 0) {
        m_helperTemp = line.substr(5);
        started = helper.ReadLine(line);
    }
    if (!started || line.rfind("ready", 0) != 0) {
        helper.CloseInput();
        int status = helper.Wait();
        if (line.rfind("fail ", 0) == 0) {
            Status(TextForHelperFailure(line.substr(5)));
        } else {
            // pkexec ends with 126 or 127 when the rights were refused or cannot be asked for.
            Status(m_elevated || status == 126 || status == 127 ? texts::kNoElevation
                                                                : texts::kUnpackFailed);
        }
        return Outcome::Failed;
    }
    if (line != "ready 0") {
        Status(texts::kPreCommands); // commands from packages are never carried out
    }
    bool ended = false;
    if (m_target.pid > 0 && !Cancelled()) {
        CHProcessEnder ender(m_options.termGraceMs);
        CHProcessEnder::Result result = ender.End(m_target.pid, m_target.program);
        if (result == CHProcessEnder::Result::Failed) {
            helper.CloseInput();
            Status(texts::kRolledBack);
            return Outcome::Failed;
        }
        ended = result == CHProcessEnder::Result::Ended;
        m_programArguments = ender.Arguments();
    }
    if (Cancelled()) {
        helper.CloseInput();
        StartAgain({}, ended);
        return Outcome::Failed;
    }
    return FinishApply(helper, ended);
}

CHUpdateFlow::Outcome CHUpdateFlow::FinishApply(CHHelperProcess& helper, bool ended) {
    m_view.ApplyStarted();
    Status(texts::kCopying);
    Progress(0);
    std::string line;
    bool committed = false;
    bool rolledBack = false;
    fs::path lastRun;
    if (helper.Send("go")) {
        // The result line comes before the helper clears its backup folder: Vellumo is
        // started again without waiting for that.
        while (!committed && !rolledBack && helper.ReadLine(line)) {
            unsigned long done = 0;
            unsigned long total = 0;
            if (std::sscanf(line.c_str(), "progress %lu %lu", &done, &total) == 2 && total > 0) {
                Progress(static_cast<int>(done * 100 / total));
            } else if (line.rfind("committed", 0) == 0) {
                committed = true;
                lastRun = line.size() > 10 ? fs::path(line.substr(10)) : fs::path();
            } else if (line == "rolledback") {
                rolledBack = true;
            }
        }
    }
    if (!committed && !rolledBack) {
        helper.CloseInput();
        helper.Wait();
        RecoverAfterCrash(m_elevated);
    }
    if (committed) {
        StartAgain(lastRun, ended);
    } else {
        StartAgain({}, ended);
    }
    Status(texts::kCleaning);
    helper.CloseInput();
    helper.Wait();
    m_view.ApplyEnded();
    if (!committed) {
        Status(texts::kRolledBack);
        return Outcome::Failed;
    }
    Status(texts::kDone);
    return Outcome::Done;
}

// The helper died without committing or rolling back: roll back its journal now.
void CHUpdateFlow::RecoverAfterCrash(bool elevated) {
    std::vector<std::string> argv;
    if (elevated) {
        argv = m_options.elevator;
    }
    argv.insert(argv.end(), {m_options.helper.string(), "--recover", m_target.program.string()});
    if (!m_helperTemp.empty()) {
        argv.push_back(m_helperTemp.string());
    }
    CHHelperProcess recovery;
    if (recovery.Start(argv)) {
        recovery.CloseInput();
        std::string line;
        while (recovery.ReadLine(line)) {
        }
        recovery.Wait();
    }
}

// Starts the file the script named, or, when it named none, the program Fernlift ended. The
// program gets back the arguments it was running with.
void CHUpdateFlow::StartAgain(const fs::path& lastRun, bool ended) {
    fs::path program = lastRun.empty() ? (ended ? m_target.program : fs::path()) : lastRun;
    if (program.empty()) {
        return;
    }
    bool isMain = program == m_target.program || SameFile(program, m_target.program);
    pid_t pid = SpawnDetached(program, isMain ? m_programArguments : std::vector<std::string>{});
    if (pid > 0) {
        m_view.ProgramStarted(program, pid);
    }
}
