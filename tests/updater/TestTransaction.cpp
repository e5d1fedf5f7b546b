// Installing a plan as a transaction: every failure, and a kill at any point followed by a
// recovery, leaves the installation exactly as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestDirs.h"
#include "tests/updater/PackageMaker.h"
#include "updater/CHInstallTransaction.h"

namespace {

using Result = CHInstallTransaction::Result;
using Recovery = CHInstallTransaction::Recovery;

class Transaction : public ::testing::Test {
protected:
    Transaction() {
        MakeInstall();
        WriteTestFile(m_dir / "package/vellumo", "new program");
        WriteTestFile(m_dir / "package/Pages/index.html", "new page");
        WriteTestFile(m_dir / "package/Pages/new/extra.js", "added");
        WriteTestFile(m_dir / "package/libnew.so", "added lib");
        fs::permissions(m_dir / "package/vellumo", fs::perms(0644)); // as a Windows zip leaves it
        m_plan.installRoot = m_install;
        m_plan.packageRoot = m_dir / "package";
        m_plan.removes = {"old.dll", "Obsolete", "never-existed"};
        m_plan.copies = {{"Pages/index.html", "Pages/index.html"},
                         {"Pages/new/extra.js", "Pages/new/extra.js"},
                         {"libnew.so", "libnew.so"},
                         {"vellumo", "vellumo"}};
    }
    void MakeInstall() {
        fs::remove_all(m_install);
        WriteTestFile(m_install / "vellumo", "old program");
        fs::permissions(m_install / "vellumo", fs::perms(0755));
        WriteTestFile(m_install / "Pages/index.html", "old page");
        WriteTestFile(m_install / "old.dll", "old lib");
        WriteTestFile(m_install / "Obsolete/a/b.txt", "deep");
        fs::create_symlink("vellumo", m_install / "current");
        m_before = TreeDigest(m_install);
    }
    size_t CountChanges() {
        CHInstallTransaction counter(m_install);
        size_t changes = 0;
        counter.SetFaultHook([&](size_t) {
            ++changes;
            return true;
        });
        EXPECT_EQ(counter.Apply(m_plan), Result::Committed);
        MakeInstall();
        return changes;
    }

    TempDir m_dir{"updater-transaction"};
    fs::path m_install = m_dir / "install";
    UpgradePlan m_plan;
    std::string m_before;
};

TEST_F(Transaction, CommittedPlanReplacesAddsAndRemoves) {
    CHInstallTransaction transaction(m_install);
    std::vector<size_t> progress;
    transaction.SetProgress([&](size_t done, size_t total) {
        EXPECT_EQ(total, 7u);
        progress.push_back(done);
    });
    ASSERT_EQ(transaction.Apply(m_plan), Result::Committed) << transaction.Error();
    transaction.ClearBackup();
    EXPECT_EQ(ReadTestFile(m_install / "vellumo"), "new program");
    EXPECT_EQ(fs::status(m_install / "vellumo").permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec); // still executable
    EXPECT_EQ(ReadTestFile(m_install / "Pages/new/extra.js"), "added");
    EXPECT_FALSE(fs::exists(m_install / "old.dll"));
    EXPECT_FALSE(fs::exists(m_install / "Obsolete"));
    EXPECT_TRUE(fs::is_symlink(m_install / "current"));
    EXPECT_FALSE(fs::exists(m_install / ".fernlift-backup"));
    EXPECT_EQ(progress.size(), 7u);
    EXPECT_EQ(CountFiles(m_install), 5u);
}

TEST_F(Transaction, ReplacingALinkNeverWritesThroughIt) {
    WriteTestFile(m_dir / "outside.txt", "outside");
    fs::create_symlink(m_dir / "outside.txt", m_install / "target.txt");
    WriteTestFile(m_dir / "package/target.txt", "new");
    m_plan.copies = {{"target.txt", "target.txt"}};
    CHInstallTransaction transaction(m_install);
    ASSERT_EQ(transaction.Apply(m_plan), Result::Committed) << transaction.Error();
    EXPECT_EQ(ReadTestFile(m_dir / "outside.txt"), "outside");
    EXPECT_FALSE(fs::is_symlink(m_install / "target.txt"));
    EXPECT_EQ(ReadTestFile(m_install / "target.txt"), "new");
}

TEST_F(Transaction, AFailureAtAnyChangeRollsEverythingBack) {
    size_t changes = CountChanges();
    ASSERT_GT(changes, 8u);
    for (size_t failAt = 0; failAt < changes; ++failAt) {
        {
            CHInstallTransaction transaction(m_install);
            transaction.SetFaultHook([&](size_t change) { return change != failAt; });
            EXPECT_EQ(transaction.Apply(m_plan), Result::RolledBack) << failAt;
            // Back as it was before the backup folder is cleared.
            std::string digest = TreeDigest(m_install);
            EXPECT_EQ(digest.substr(digest.find("Obsolete ")), m_before) << failAt;
        }
        EXPECT_EQ(TreeDigest(m_install), m_before) << "failing change " << failAt;
    }
}

TEST_F(Transaction, AKilledApplyIsRolledBackAtTheNextStart) {
    size_t changes = CountChanges();
    for (size_t killAt = 0; killAt <= changes; ++killAt) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CHInstallTransaction transaction(m_install);
            transaction.SetFaultHook([&](size_t change) {
                if (change == killAt) {
                    ::raise(SIGKILL);
                }
                return true;
            });
            transaction.Apply(m_plan);
            ::raise(SIGKILL); // after the commit: nothing to roll back
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        std::string error;
        Recovery recovery = CHInstallTransaction::Recover(m_install, &error);
        if (killAt < changes) {
            EXPECT_EQ(recovery, Recovery::RolledBack) << killAt << error;
            EXPECT_EQ(TreeDigest(m_install), m_before) << "killed before change " << killAt;
        } else {
            EXPECT_NE(recovery, Recovery::Failed);
            EXPECT_EQ(ReadTestFile(m_install / "vellumo"), "new program");
            MakeInstall();
        }
        EXPECT_EQ(CHInstallTransaction::Recover(m_install), Recovery::Nothing);
    }
}

TEST_F(Transaction, TornJournalLineAndCommittedJournalAreHandled) {
    // A line cut short by a crash was never acted on and is ignored.
    fs::create_directories(m_install / ".fernlift-backup/files");
    WriteTestFile(m_install / ".fernlift-backup/journal", "fernlift-journal 1\nadded\tvellum");
    EXPECT_EQ(CHInstallTransaction::Recover(m_install), Recovery::RolledBack);
    EXPECT_EQ(TreeDigest(m_install), m_before);
    // A journal naming a path outside the installation is never acted on.
    fs::create_directories(m_install / ".fernlift-backup/files");
    WriteTestFile(m_dir / "victim", "keep");
    WriteTestFile(m_install / ".fernlift-backup/journal", "fernlift-journal 1\nadded\t../victim\n");
    EXPECT_EQ(CHInstallTransaction::Recover(m_install), Recovery::Failed);
    EXPECT_EQ(ReadTestFile(m_dir / "victim"), "keep");
    fs::remove_all(m_install / ".fernlift-backup");
    // A committed journal only leaves its backup folder to clear.
    fs::create_directories(m_install / ".fernlift-backup/files");
    WriteTestFile(m_install / ".fernlift-backup/files/vellumo", "older");
    WriteTestFile(m_install / ".fernlift-backup/journal",
                  "fernlift-journal 1\nreplaced\tvellumo\ncommit\n");
    EXPECT_EQ(CHInstallTransaction::Recover(m_install), Recovery::Cleaned);
    EXPECT_EQ(TreeDigest(m_install), m_before);
}

} // namespace
