// Which installations Fernlift touches, and what one run holds for itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TestDirs.h"
#include "updater/InstallGuard.h"

namespace {

TEST(InstallGuard, SharedSystemFoldersAndPackagedFilesAreLeftToThePackageManager) {
    for (const char* shared : {"/usr/bin", "/usr/bin/", "/usr/local/bin", "/bin", "/opt", "/"}) {
        EXPECT_TRUE(IsSharedSystemFolder(shared)) << shared;
    }
    TempDir dir("updater-guard");
    EXPECT_FALSE(IsSharedSystemFolder(dir.Path()));
    EXPECT_FALSE(IsSharedSystemFolder("/opt/vellumo"));
    EXPECT_FALSE(RefuseInstallReason("/usr/bin/vellumo").empty());
    // dpkg itself is a file the package manager owns.
    EXPECT_TRUE(IsOwnedByPackageManager("/usr/bin/dpkg"));
    WriteTestFile(dir / "vellumo", "program");
    EXPECT_FALSE(IsOwnedByPackageManager(dir / "vellumo"));
    EXPECT_TRUE(RefuseInstallReason(dir / "vellumo").empty());
}

TEST(InstallGuard, OneRunHoldsTheLockAndAPrivateFolder) {
    TempDir dir("updater-guard");
    {
        CHRunLock first;
        CHRunLock second;
        ASSERT_TRUE(first.Acquire(dir / "fernlift.lock"));
        EXPECT_FALSE(second.Acquire(dir / "fernlift.lock"));
    }
    CHRunLock again;
    EXPECT_TRUE(again.Acquire(dir / "fernlift.lock")); // released with its holder

    fs::path kept;
    {
        PrivateTempDir temp;
        ASSERT_TRUE(temp.Valid());
        kept = temp.Path();
        struct stat st {};
        ASSERT_EQ(::lstat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        WriteTestFile(kept / "a/b/package.zip", "bytes");
    }
    EXPECT_FALSE(fs::exists(kept));
}

} // namespace
