// Starting other programs and asking questions without a desktop.

#include "platform/Dialogs.h"
#include "platform/Folders.h"
#include "platform/Spawn.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Spawn, OnlyPlainWebAddressesMayBeOpened) {
    const std::vector<std::string> safe = {"http://updates.test/vellumo-1.3.zip",
                                           "https://updates.test/", "HTTP://a",
                                           "https://a.test:8443/p?q=1&r=%20#f"};
    const std::vector<std::string> unsafe = {"file:///etc/passwd",
                                             "javascript:alert(1)",
                                             "ftp://a.test/",
                                             "http:/a.test",
                                             "http://",
                                             "http:///path",
                                             "https://a.test/a b",
                                             "http://a.test/\x01",
                                             "http://a.test/\t",
                                             "http://a.test/\x7f",
                                             "http://a.test/\n",
                                             "-http://a.test",
                                             " http://a.test",
                                             "",
                                             "mailto:a@b.test",
                                             "vellumo://x"};
    for (const std::string& address : safe) {
        EXPECT_TRUE(IsSafeWebAddress(address)) << address;
    }
    for (const std::string& address : unsafe) {
        EXPECT_FALSE(IsSafeWebAddress(address)) << address;
        EXPECT_FALSE(OpenWebAddress(address)) << address;
    }
}

TEST(Spawn, ProgramPathSurvivesTheUpdateThatReplacedIt) {
    TempDir dir("spawn");
    const fs::path program = dir / "vellumo";
    ASSERT_TRUE(WriteTestFile(program, "new version"));
    // The link of a program whose file was replaced while it ran.
    EXPECT_EQ(ProgramPathFromLink(fs::path(program.string() + " (deleted)")), program);
    EXPECT_EQ(ProgramPathFromLink(program), program);
    // A file really named so stays as it is.
    const fs::path odd = dir / "odd (deleted)";
    ASSERT_TRUE(WriteTestFile(odd, "x"));
    EXPECT_EQ(ProgramPathFromLink(odd), odd);
    EXPECT_EQ(ProgramPathFromLink(" (deleted)"), fs::path(" (deleted)"));
    EXPECT_FALSE(GetModulePath().empty());
}

TEST(Spawn, QuestionsWithoutADesktopAreAnsweredCancel) {
    SetDialogBackend({});
    SetHeadlessMode(false);
    EXPECT_FALSE(AskOkCancel("更新", "发现新版 1.3，前往更新？"));

    int asked = 0;
    DialogBackend backend;
    backend.askOkCancel = [&](const std::string&, const std::string&) {
        ++asked;
        return true;
    };
    SetDialogBackend(backend);
    EXPECT_TRUE(AskOkCancel("t", "q"));
    SetHeadlessMode(true);
    EXPECT_FALSE(AskOkCancel("t", "q"));
    EXPECT_EQ(asked, 1);
    SetHeadlessMode(false);
    SetDialogBackend({});
}

TEST(Spawn, MissingProgramsAreReported) {
    EXPECT_EQ(SpawnDetached("/nonexistent/fernlift", {"a"}), -1);
    EXPECT_EQ(SpawnDetached("no-such-program-anywhere", {}, {}, true), -1);
}
