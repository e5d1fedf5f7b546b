#include "shell/AutoStart.h"
#include "shell/CSingleInstance.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

TEST(SingleInstance, ASecondStartFindsTheFirstAndAsksItToShow) {
    TempDir dir;
    std::atomic<int> shown{0};
    {
        CSingleInstance first(dir.Path());
        ASSERT_EQ(first.Acquire(), CSingleInstance::Result::Acquired);
        ASSERT_TRUE(first.Listen([&] { ++shown; }));

        CSingleInstance second(dir.Path());
        EXPECT_EQ(second.Acquire(), CSingleInstance::Result::AlreadyRunning);
        EXPECT_EQ(second.RunningPid(), getpid());
        EXPECT_TRUE(second.AskToShow());
        EXPECT_EQ(shown.load(), 1);
    }
    // The lock goes with the first instance; a socket file left behind (a crash) is reused.
    ASSERT_TRUE(WriteTestFile(dir / "VellumoMutex.sock", "stale"));
    CSingleInstance next(dir.Path());
    EXPECT_EQ(next.Acquire(), CSingleInstance::Result::Acquired);
    EXPECT_TRUE(next.Listen([&] { ++shown; }));
    CSingleInstance probe(dir.Path());
    EXPECT_TRUE(probe.AskToShow());
    EXPECT_EQ(shown.load(), 2);
}

TEST(SingleInstance, WithoutAWritableFolderTheCheckFails) {
    TempDir dir;
    ASSERT_TRUE(WriteTestFile(dir / "file", "x"));
    CSingleInstance instance(dir / "file");
    EXPECT_EQ(instance.Acquire(), CSingleInstance::Result::Failed);
    EXPECT_FALSE(instance.AskToShow());
}

TEST(SingleInstance, TheLockIsTheUsersOwnNeverALinkOrAnotherUsersFile) {
    TempDir dir;
    // Without a runtime folder the lock lives in the user's private cache folder, not in /tmp.
    {
        const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
        std::string savedRuntime = oldRuntime != nullptr ? oldRuntime : "";
        const char* oldCache = std::getenv("XDG_CACHE_HOME");
        std::string savedCache = oldCache != nullptr ? oldCache : "";
        unsetenv("XDG_RUNTIME_DIR");
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        CSingleInstance instance;
        EXPECT_EQ(instance.LockPath(), dir / "cache" / "Vellumo" / "VellumoMutex.lock");
        EXPECT_EQ(instance.Acquire(), CSingleInstance::Result::Acquired);
        struct stat info {};
        ASSERT_EQ(stat((dir / "cache" / "Vellumo").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        oldRuntime != nullptr ? setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1)
                              : unsetenv("XDG_RUNTIME_DIR");
        oldCache != nullptr ? setenv("XDG_CACHE_HOME", savedCache.c_str(), 1)
                            : unsetenv("XDG_CACHE_HOME");
    }
    // A link planted as the lock file is not followed: its target is not created.
    fs::create_directories(dir / "links");
    fs::create_symlink(dir / "victim", dir / "links" / "VellumoMutex.lock");
    CSingleInstance linked(dir / "links");
    EXPECT_EQ(linked.Acquire(), CSingleInstance::Result::Failed);
    EXPECT_FALSE(fs::exists(dir / "victim"));
    if (geteuid() == 0) {
        // Another user's lock file is not trusted.
        ASSERT_TRUE(WriteTestFile(dir / "foreign" / "VellumoMutex.lock", "1\n"));
        ASSERT_EQ(chown((dir / "foreign" / "VellumoMutex.lock").c_str(), 65534, 65534), 0);
        CSingleInstance foreign(dir / "foreign");
        EXPECT_EQ(foreign.Acquire(), CSingleInstance::Result::Failed);
        EXPECT_EQ(ReadTestFile(dir / "foreign" / "VellumoMutex.lock"), "1\n");
    }
}

namespace {

// desktop-file-validate's verdict and messages on an entry.
std::pair<int, std::string> Validate(const fs::path& entry) {
    std::string command = "desktop-file-validate '" + entry.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe != nullptr && fgets(buffer, sizeof(buffer), pipe) != nullptr) {
        output += buffer;
    }
    int status = pipe != nullptr ? pclose(pipe) : -1;
    return {status, output};
}

} // namespace

TEST(AutoStart, ExecQuotesTheProgramPathByTheDesktopEntryRules) {
    EXPECT_EQ(AutoStartExecValue("/opt/vellumo/vellumo"), "\"/opt/vellumo/vellumo\" --silence");
    EXPECT_EQ(AutoStartExecValue("/my apps/v\"1\"/$x`y`/100%/a\\b"),
              "\"/my apps/v\\\\\"1\\\\\"/\\\\$x\\\\`y\\\\`/100%%/a\\\\\\\\b\" --silence");
    EXPECT_EQ(AutoStartExecValue("/bad\npath"), "");
    EXPECT_EQ(BuildAutoStartEntry(""), "");
}

TEST(AutoStart, EntryIsWrittenValidAndRemoved) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    fs::path entry = AutoStartEntryPath();
    EXPECT_EQ(entry, dir / "config" / "autostart" / "VellumoStarup.desktop");
    for (const char* program : {"/usr/bin/vellumo", "/home/a b/Vellumo \"x\" $HOME 50%/vellumo"}) {
        ASSERT_TRUE(SetAutoStartEntry(true, program));
        std::string text = ReadTestFile(entry);
        EXPECT_NE(text.find("Exec=" + AutoStartExecValue(program) + "\n"), std::string::npos);
        if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
            auto [status, output] = Validate(entry);
            EXPECT_EQ(status, 0) << output;
            EXPECT_EQ(output, "") << text;
        }
    }
    EXPECT_TRUE(SetAutoStartEntry(false, "/usr/bin/vellumo"));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_TRUE(SetAutoStartEntry(false, "/usr/bin/vellumo"));
    EXPECT_FALSE(SetAutoStartEntry(true, "/bad\npath"));
}
