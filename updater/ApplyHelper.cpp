#include "updater/ApplyHelper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "updater/CHInstallTransaction.h"
#include "updater/CHPackageUnpacker.h"
#include "updater/InstallGuard.h"
#include "updater/PackageSignature.h"
#include "updater/UpgradeScript.h"

namespace {

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

int Fail(const char* reason, const std::string& detail = {}) {
    if (!detail.empty()) {
        std::cerr << "fernlift: " << detail << "\n";
    }
    Say(std::string("fail ") + reason);
    return 1;
}

// Copies the package into a file of our own, created exclusively, so that nobody can change it
// between the checks and the unpacking.
bool CopyPackage(const fs::path& from, const fs::path& to) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!in.Valid() || !out.Valid()) {
        return false;
    }
    std::string buffer(1 << 20, '\0');
    for (;;) {
        ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out.Get(), buffer.data() + done, static_cast<size_t>(got - done));
            if (put <= 0) {
                return false;
            }
            done += put;
        }
    }
}

bool ValidProgram(const std::string& text, fs::path& program) {
    program = text;
    std::error_code ec;
    return program.is_absolute() && fs::is_regular_file(program, ec) &&
           program.lexically_normal() == program;
}

bool WaitForGo() {
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line)) && line == "go";
}

} // namespace

int RunApplyHelper(const std::vector<std::string>& args) {
    fs::path program;
    if (args.size() != 3 || !ValidProgram(args[2], program)) {
        return Fail(helper::kFailUsage, "usage: fernlift --apply PACKAGE SIGNATURE PROGRAM");
    }
    fs::path root = program.parent_path();
    // With administrator rights the helper checks for itself what the updater checked.
    std::string refusal = ::geteuid() == 0 ? RefuseInstallReason(program) : std::string();
    if (!refusal.empty()) {
        return Fail(helper::kFailRefused, refusal);
    }
    std::string error;
    if (CHInstallTransaction::Recover(root, &error) == CHInstallTransaction::Recovery::Failed) {
        return Fail(helper::kFailRecover, error);
    }
    PrivateTempDir temp;
    if (!temp.Valid() || !fs::create_directory(temp.Path() / "unpack")) {
        return Fail(helper::kFailTemp);
    }
    // Named first, so that the updater can clear it should this process be killed.
    Say("temp " + temp.Path().string());
    fs::path package = temp.Path() / "package.zip";
    std::string signature;
    if (FileSize64(args[1]) > static_cast<int64_t>(kMaxSignatureBytes) ||
        !ReadWholeFile(args[1], signature) || !CopyPackage(args[0], package) ||
        !VerifyPackageSignature(package, signature, BuiltInPublicKey())) {
        return Fail(helper::kFailSignature);
    }
    CHPackageUnpacker unpacker;
    CHPackageUnpacker::Result unpacked = unpacker.Unpack(package, temp.Path() / "unpack");
    fs::remove(package);
    if (unpacked != CHPackageUnpacker::Result::Ok) {
        return Fail(unpacked == CHPackageUnpacker::Result::NotAZip ? helper::kFailZip
                                                                   : helper::kFailUnpack,
                    unpacker.Error());
    }
    UpgradePlan plan;
    if (LoadUpgradePlan(temp.Path() / "unpack", root, program.filename().string(), plan, error) !=
        ScriptResult::Ok) {
        return Fail(helper::kFailScript, error);
    }
    Say("ready " + std::to_string(plan.skippedCommands));
    if (!WaitForGo()) {
        return 0; // the updater changed its mind; nothing was touched
    }
    CHInstallTransaction transaction(root);
    transaction.SetProgress([](size_t done, size_t total) {
        Say("progress " + std::to_string(done) + " " + std::to_string(total));
    });
    switch (transaction.Apply(plan)) {
    case CHInstallTransaction::Result::Committed:
        Say("committed " + plan.lastRun.string());
        transaction.ClearBackup();
        return 0;
    case CHInstallTransaction::Result::RolledBack:
        std::cerr << "fernlift: " << transaction.Error() << "\n";
        Say("rolledback");
        transaction.ClearBackup();
        return 1;
    case CHInstallTransaction::Result::RollbackFailed:
        break;
    }
    std::cerr << "fernlift: " << transaction.Error() << "\n";
    Say("rollback-failed");
    return 1;
}

bool IsLeftoverTempFolder(const fs::path& folder) {
    struct stat st {};
    return folder.parent_path() == GetTempDir().lexically_normal().parent_path() &&
           folder.filename().string().rfind("fernlift-", 0) == 0 &&
           ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

int RunRecoverHelper(const std::vector<std::string>& args) {
    fs::path program;
    if (args.empty() || args.size() > 2 || !ValidProgram(args[0], program)) {
        return Fail(helper::kFailUsage, "usage: fernlift --recover PROGRAM [TEMP-FOLDER]");
    }
    if (args.size() == 2 && IsLeftoverTempFolder(fs::path(args[1]).lexically_normal())) {
        std::error_code ec;
        fs::remove_all(args[1], ec);
    }
    std::string error;
    if (CHInstallTransaction::Recover(program.parent_path(), &error) ==
        CHInstallTransaction::Recovery::Failed) {
        return Fail(helper::kFailRecover, error);
    }
    Say("recovered");
    return 0;
}
