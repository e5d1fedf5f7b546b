#include "updater/UpgradeScript.h"

#include <fcntl.h>
#include <json/json.h>

#include <algorithm>
#include <memory>
#include <set>

#include "platform/FileSystem.h"
#include "updater/SafePaths.h"

namespace {

constexpr int64_t kMaxScriptBytes = 1024 * 1024;
constexpr char kScriptName[] = "upgrade.cfg";
constexpr char kNestedFolder[] = "upgrade";
constexpr char kWindowsMainName[] = "Vellumo.exe";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool ParseJsonObject(const std::string& text, Json::Value& root) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors) && root.isObject();
}

class ScriptChecker {
public:
    ScriptChecker(UpgradePlan& plan, std::string& error, bool checkFiles)
        : m_plan(plan), m_error(error), m_checkFiles(checkFiles) {}

    bool OpenRoots() {
        if (!m_checkFiles) {
            return true;
        }
        m_installFd.Reset(
            ::open(m_plan.installRoot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        m_packageFd.Reset(
            ::open(m_plan.packageRoot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        return Check(m_installFd.Valid() && m_packageFd.Valid(), "cannot open the roots");
    }

    bool ReadRemoves(const Json::Value& list) {
        if (list.isNull()) {
            return true;
        }
        if (!Check(list.isArray(), "\"remove\" is not an array")) {
            return false;
        }
        for (const Json::Value& item : list) {
            // Elements that are not texts, or empty ones, name nothing and are skipped, so they
            // can never stand for the installation root itself.
            if (!item.isString() || item.asString().empty()) {
                continue;
            }
            std::string relative;
            if (!Check(NormalizePackageName(item.asString(), relative),
                       "unsafe remove path: " + item.asString()) ||
                !CheckInstallPath(relative, true)) {
                return false;
            }
            m_plan.removes.push_back(relative);
        }
        return true;
    }

    bool ReadFiles(const Json::Value& files, const std::string& mainFileName) {
        if (files.isNull()) {
            return true;
        }
        if (!Check(files.isObject(), "\"files\" is not an object")) {
            return false;
        }
        std::vector<std::string> names = files.getMemberNames();
        std::sort(names.begin(), names.end());
        std::set<std::string> destinations;
        for (const std::string& name : names) {
            UpgradePlan::Copy copy;
            if (!Check(NormalizePackageName(name, copy.source), "unsafe file name: " + name)) {
                return false;
            }
            copy.destination =
                EqualsIgnoringCase(copy.source, kWindowsMainName) ? mainFileName : copy.source;
            if (!Check(destinations.insert(copy.destination).second,
                       "two files for one destination: " + copy.destination) ||
                !CheckSource(copy.source) || !CheckInstallPath(copy.destination, false)) {
                return false;
            }
            m_plan.copies.push_back(std::move(copy));
        }
        return true;
    }

    bool ReadLastRun(const Json::Value& value, const std::string& mainFileName) {
        if (value.isNull() || !value.isString()) {
            return true;
        }
        std::string text = value.asString();
        ReplaceAll(text, "%root%", m_plan.installRoot.string());
        ReplaceAll(text, "%package%", m_plan.packageRoot.string());
        ReplaceAll(text, kWindowsMainName, mainFileName);
        std::replace(text.begin(), text.end(), '\\', '/');
        if (text.empty()) {
            return true;
        }
        std::string prefix = m_plan.installRoot.string() + "/";
        std::string relative;
        if (!Check(text.compare(0, prefix.size(), prefix) == 0 &&
                       NormalizePackageName(text.substr(prefix.size()), relative),
                   "\"lastrun\" is outside the installation: " + text)) {
            return false;
        }
        m_plan.lastRun = m_plan.installRoot / relative;
        return true;
    }

private:
    bool Check(bool condition, const std::string& error) {
        if (!condition && m_error.empty()) {
            m_error = error;
        }
        return condition;
    }

    bool CheckSource(const std::string& relative) {
        return !m_checkFiles || Check(InspectBelow(m_packageFd.Get(), relative) == EntryKind::File,
                                      "missing package file: " + relative);
    }

    // A path below the installation: no link on the way; a file to replace must not be a folder.
    bool CheckInstallPath(const std::string& relative, bool forRemoval) {
        if (!m_checkFiles) {
            return true;
        }
        EntryKind kind = InspectBelow(m_installFd.Get(), relative);
        bool fine = kind == EntryKind::Missing || kind == EntryKind::File ||
                    kind == EntryKind::Link || (forRemoval && kind == EntryKind::Folder);
        return Check(fine, "unsafe installation path: " + relative);
    }

    UpgradePlan& m_plan;
    std::string& m_error;
    bool m_checkFiles;
    UniqueFd m_installFd;
    UniqueFd m_packageFd;
};

} // namespace

ScriptResult ParseUpgradeScript(const std::string& text, const fs::path& packageRoot,
                                const fs::path& installRoot, const std::string& mainFileName,
                                bool checkFiles, UpgradePlan& plan, std::string& error) {
    plan = UpgradePlan{};
    plan.packageRoot = packageRoot;
    plan.installRoot = installRoot;
    error.clear();
    Json::Value root;
    if (!ParseJsonObject(text, root)) {
        error = "the script is not a JSON object";
        return ScriptResult::Unreadable;
    }
    for (const char* commands : {"precmd", "postcmd"}) {
        if (root[commands].isArray()) {
            plan.skippedCommands += root[commands].size();
        }
    }
    ScriptChecker checker(plan, error, checkFiles);
    if (!checker.OpenRoots() || !checker.ReadRemoves(root["remove"]) ||
        !checker.ReadFiles(root["files"], mainFileName) ||
        !checker.ReadLastRun(root["lastrun"], mainFileName)) {
        UpgradePlan empty;
        plan = empty;
        return ScriptResult::Unsafe;
    }
    return ScriptResult::Ok;
}

ScriptResult LoadUpgradePlan(const fs::path& unpackFolder, const fs::path& installRoot,
                             const std::string& mainFileName, UpgradePlan& plan,
                             std::string& error) {
    UniqueFd unpackFd(::open(unpackFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    fs::path packageRoot = unpackFolder;
    if (!unpackFd.Valid() || InspectBelow(unpackFd.Get(), kScriptName) != EntryKind::File) {
        packageRoot = unpackFolder / kNestedFolder;
    }
    fs::path script = packageRoot / kScriptName;
    std::string text;
    if (!unpackFd.Valid() ||
        InspectBelow(unpackFd.Get(), (packageRoot == unpackFolder ? "" : "upgrade/") +
                                         std::string(kScriptName)) != EntryKind::File ||
        FileSize64(script) > kMaxScriptBytes || !ReadWholeFile(script, text)) {
        plan = UpgradePlan{};
        error = "no readable upgrade.cfg";
        return ScriptResult::Unreadable;
    }
    return ParseUpgradeScript(text, packageRoot, installRoot, mainFileName, true, plan, error);
}
