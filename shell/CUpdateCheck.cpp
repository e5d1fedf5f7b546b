#include "shell/CUpdateCheck.h"

#include "httpclient/CHttpAgent.h"
#include "httpclient/UpdateServer.h"
#include "library/IDBCenter.h"
#include "media/CHMd5.h"
#include "media/JsonText.h"
#include "pairing/MachineId.h"
#include "platform/Dialogs.h"
#include "platform/Folders.h"
#include "platform/Spawn.h"
#include "platform/Version.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr const char* kUsageKey = "count_data";
constexpr const char* kUpdaterName = "fernlift";
constexpr size_t kMaxVersionCharacters = 32;

bool HasMember(const Json::Value& value, const char* name) {
    return value.isObject() && value.isMember(name);
}

// Control characters removed (C0 and DEL), cut to at most maxCharacters UTF-8 characters.
std::string PlainText(const std::string& text, size_t maxCharacters) {
    std::string plain;
    size_t characters = 0;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            continue;
        }
        bool starts = (c & 0xC0) != 0x80;
        if (starts && ++characters > maxCharacters) {
            break;
        }
        plain.push_back(static_cast<char>(c));
    }
    return plain;
}

std::string Format(const char* format, const std::string& value) {
    char text[512];
    std::snprintf(text, sizeof(text), format, value.c_str());
    return text;
}

} // namespace

UpdateAnswer ReadUpdateAnswer(std::string_view body) {
    UpdateAnswer answer;
    Json::Value root;
    if (!JsonParse(body, root) || !HasMember(root, "update") || JsonAsInt64(root["update"]) != 1) {
        return answer;
    }
    if (!HasMember(root, "current_version") || !HasMember(root, "download_url")) {
        answer.kind = UpdateAnswer::Kind::Incomplete;
        return answer;
    }
    answer.kind = UpdateAnswer::Kind::Available;
    answer.version = PlainText(JsonAsText(root["current_version"]), kMaxVersionCharacters);
    answer.downloadUrl = JsonAsText(root["download_url"]);
    return answer;
}

std::string UsageReportForServer(const std::string& stored, const std::string& machineId) {
    if (stored.empty()) {
        return stored;
    }
    Json::Value report;
    if (!JsonParse(stored, report) || !report.isObject()) {
        return std::string();
    }
    const Json::Value& devices = JsonMember(report, "devices");
    if (devices.isArray()) {
        Json::Value hashed(Json::arrayValue);
        for (const Json::Value& device : devices) {
            std::string keyed = machineId + JsonAsText(device);
            hashed.append(Md5Text(keyed.data(), keyed.size()));
        }
        report["devices"] = hashed;
    }
    return JsonStyled(report);
}

CUpdateCheck::~CUpdateCheck() {
    Stop();
}

void CUpdateCheck::Attach(IDBCenter* library, fs::path programPath) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_library = library;
    m_programPath = std::move(programPath);
}

bool CUpdateCheck::Start(bool quiet) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping || m_library == nullptr) {
            return false;
        }
    }
    // Off means off: no thread, no request, no name lookup, and the report stays stored.
    if (CurrentUpdateServer().IsOff()) {
        return false;
    }
    return m_slot.Start([this, quiet] { Run(quiet); });
}

void CUpdateCheck::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
        if (m_agent != nullptr) {
            m_agent->Cancel();
        }
    }
    m_slot.Join();
}

bool CUpdateCheck::Register(CHttpAgent* agent) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stopping && agent != nullptr) {
        return false;
    }
    m_agent = agent;
    return true;
}

void CUpdateCheck::Run(bool quiet) {
    CHttpAgent agent;
    if (!Register(&agent)) {
        return;
    }
    // The report goes out at most once, even when the request then fails.
    std::string stored = m_library->GetConfig(kUsageKey);
    m_library->SetConfig(kUsageKey, "");
    std::string answerText;
    bool answered = Exchange(agent, UsageReportForServer(stored, GetMachineId()), answerText);
    Register(nullptr);
    if (!answered) {
        return; // network failures are never reported, not even to a user who asked
    }
    UpdateAnswer answer = ReadUpdateAnswer(answerText);
    switch (answer.kind) {
    case UpdateAnswer::Kind::Available:
        Offer(answer);
        break;
    case UpdateAnswer::Kind::Incomplete:
        break;
    case UpdateAnswer::Kind::UpToDate:
        if (!quiet) {
            ShowMessage(kUpToDateTitle, "您的Vellumo已经是最新版本 :)" + std::string(17, ' '));
        }
        break;
    }
}

bool CUpdateCheck::Exchange(CHttpAgent& agent, const std::string& report, std::string& answer) {
    UpdateServer server = CurrentUpdateServer();
    if (server.IsOff() ||
        !agent.Open(server.host, server.port, "POST",
                    std::string("/check_update?version=") + kVellumoVersion, "HTTP/1.1")) {
        return false;
    }
    agent.SetHeader("Accept", "*/*");
    agent.SetHeader("Connection", "keep-alive");
    agent.SetHeader("Content-Length", "%ld", static_cast<long>(report.size()));
    agent.SetHeaderValue("Host", server.HostHeader());
    agent.SetHeader("User-Agent", "Vellumo");
    agent.SetTimeout(kTimeoutSeconds);
    if (!agent.SendHead()) {
        return false;
    }
    agent.SendBody(report);
    return agent.ReceiveHead() && agent.ReceiveBody(answer);
}

void CUpdateCheck::Offer(const UpdateAnswer& answer) {
    if (IsHeadlessMode()) {
        // Nobody to ask: say where the new version is and leave the rest to the user.
        ShowMessage(kQuestionTitle, Format("发现新版 %s", answer.version) + ": " +
                                        PlainText(answer.downloadUrl, 2048));
        return;
    }
    if (AskOkCancel(kQuestionTitle, Format("发现新版 %s，前往更新？", answer.version))) {
        HandOver(answer);
    }
}

void CUpdateCheck::HandOver(const UpdateAnswer& answer) {
    fs::path program;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        program = m_programPath;
    }
    if (program.empty()) {
        program = GetModulePath();
    }
    fs::path updater = program.parent_path() / kUpdaterName;
    std::error_code ec;
    if (!program.empty() && fs::is_regular_file(updater, ec) &&
        ::access(updater.c_str(), X_OK) == 0) {
        // Fernlift asks the same server as this check did.
        std::string server =
            std::string(kUpdateServerVariable) + "=" + CurrentUpdateServer().ToSetting();
        SpawnDetached(updater, {program.string(), kVellumoVersion, std::to_string(::getpid())},
                      {server});
        return;
    }
    OpenWebAddress(answer.downloadUrl);
}
