// Reading and checking upgrade.cfg against an unpacked package and an installation.
#include <gtest/gtest.h>

#include "tests/support/TestDirs.h"
#include "updater/UpgradeScript.h"

namespace {

class Script : public ::testing::Test {
protected:
    Script() {
        WriteTestFile(m_dir / "install/vellumo", "old");
        WriteTestFile(m_dir / "install/Pages/index.html", "old page");
        fs::create_directories(m_dir / "unpack");
    }
    ScriptResult Load(const std::string& script, bool nested = false) {
        fs::path root = m_dir / "unpack" / (nested ? "upgrade" : "");
        WriteTestFile(root / "upgrade.cfg", script);
        return LoadUpgradePlan(m_dir / "unpack", m_dir / "install", "vellumo", m_plan, m_error);
    }
    void AddPackageFile(const std::string& relative, bool nested = false) {
        WriteTestFile(m_dir / "unpack" / (nested ? "upgrade" : "") / relative, "new");
    }

    TempDir m_dir{"updater-script"};
    UpgradePlan m_plan;
    std::string m_error;
};

TEST_F(Script, FlatPackageMapsTheMainProgramAndLastRun) {
    AddPackageFile("VELLUMO.exe");
    AddPackageFile("Pages/index.html");
    ASSERT_EQ(Load(R"({"files": {"VELLUMO.exe": 1, "Pages/index.html": 1},
                       "remove": ["old.dll", "", 7, "Pages\\old"],
                       "lastrun": "%root%\\Vellumo.exe",
                       "precmd": [{"cmd": "touch %root%/x", "show": 0}]})"),
              ScriptResult::Ok)
        << m_error;
    EXPECT_EQ(m_plan.packageRoot, m_dir / "unpack");
    ASSERT_EQ(m_plan.copies.size(), 2u);
    // Ascending byte order of the names: upper case first.
    EXPECT_EQ(m_plan.copies[0].source, "Pages/index.html");
    EXPECT_EQ(m_plan.copies[1].source, "VELLUMO.exe");
    EXPECT_EQ(m_plan.copies[1].destination, "vellumo");
    EXPECT_EQ(m_plan.removes, (std::vector<std::string>{"old.dll", "Pages/old"}));
    EXPECT_EQ(m_plan.lastRun, m_dir / "install/vellumo");
    EXPECT_EQ(m_plan.skippedCommands, 1u);
}

TEST_F(Script, NestedUpgradeFolderIsThePackageRoot) {
    AddPackageFile("vellumo", true);
    ASSERT_EQ(Load(R"({"files": {"vellumo": 0}, "lastrun": "%package%/../x"})", true),
              ScriptResult::Unsafe);
    ASSERT_EQ(Load(R"({"files": {"vellumo": 0}, "lastrun": 5})", true), ScriptResult::Ok)
        << m_error;
    EXPECT_EQ(m_plan.packageRoot, m_dir / "unpack/upgrade");
    EXPECT_TRUE(m_plan.lastRun.empty());
}

TEST_F(Script, PathsOutsideTheirRootRejectTheWholeScript) {
    AddPackageFile("vellumo");
    fs::create_directories(m_dir / "elsewhere");
    fs::create_directory_symlink(m_dir / "elsewhere", m_dir / "install/linked");
    const char* scripts[] = {
        R"({"remove": ["../outside"]})",
        R"({"remove": ["/etc/passwd"]})",
        R"({"remove": ["."]})",
        R"({"remove": ["linked/file"]})",
        R"({"remove": [".fernlift-backup"]})",
        R"({"files": {"../vellumo": 1}})",
        R"({"files": {"/vellumo": 1}})",
        R"({"files": {"linked/vellumo": 1}})",
        R"({"files": {"missing": 1}})",
        R"({"files": {"Pages": 1}})",
        R"({"files": {"vellumo": 1, "Vellumo.exe": 1}})",
        R"({"files": []})",
        R"({"remove": "vellumo"})",
        R"({"lastrun": "/bin/sh"})",
        R"({"lastrun": "%root%/../../bin/sh"})",
        R"({"lastrun": "%root%/"})",
    };
    for (const char* script : scripts) {
        EXPECT_EQ(Load(script), ScriptResult::Unsafe) << script;
        EXPECT_TRUE(m_plan.copies.empty() && m_plan.removes.empty()) << script;
    }
    // A package file reached through a link in the package is not a file of the package.
    fs::create_symlink("/etc/hostname", m_dir / "unpack/hostname");
    EXPECT_EQ(Load(R"({"files": {"hostname": 1}})"), ScriptResult::Unsafe);
}

TEST_F(Script, MissingOrBrokenScriptsAreUnreadable) {
    EXPECT_EQ(LoadUpgradePlan(m_dir / "unpack", m_dir / "install", "vellumo", m_plan, m_error),
              ScriptResult::Unreadable);
    for (const char* script : {"", "[1, 2]", "{\"files\": ", "\"text\""}) {
        EXPECT_EQ(Load(script), ScriptResult::Unreadable) << script;
    }
    // The script itself must be a file, not a link to one elsewhere.
    fs::remove(m_dir / "unpack/upgrade.cfg");
    WriteTestFile(m_dir / "real.cfg", "{}");
    fs::create_symlink(m_dir / "real.cfg", m_dir / "unpack/upgrade.cfg");
    EXPECT_EQ(LoadUpgradePlan(m_dir / "unpack", m_dir / "install", "vellumo", m_plan, m_error),
              ScriptResult::Unreadable);
}

} // namespace
