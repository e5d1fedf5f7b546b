#include "platform/Folders.h"

#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvGuard {
public:
    void Set(const char* name, const char* value) {
        if (m_saved.find(name) == m_saved.end()) {
            const char* old = std::getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvGuard() {
        for (auto& [name, value] : m_saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

} // namespace

TEST(Folders, TempDirEndsWithSlash) {
    EnvGuard env;
    env.Set("TMPDIR", nullptr);
    EXPECT_EQ(GetTempDir(), fs::path("/tmp/"));
    env.Set("TMPDIR", "/var/tmp");
    EXPECT_EQ(GetTempDir(), fs::path("/var/tmp/"));
    env.Set("TMPDIR", "/var/tmp/");
    EXPECT_EQ(GetTempDir(), fs::path("/var/tmp/"));
}

TEST(Folders, XdgVariablesAndFallbacks) {
    EnvGuard env;
    env.Set("HOME", "/home/tester");
    env.Set("XDG_CONFIG_HOME", nullptr);
    env.Set("XDG_DATA_HOME", nullptr);
    env.Set("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(GetAppDataDir(), fs::path("/home/tester/.config"));
    EXPECT_EQ(GetDataHomeDir(), fs::path("/home/tester/.local/share"));
    EXPECT_EQ(GetRuntimeDir(), fs::path("/tmp"));
    env.Set("XDG_CONFIG_HOME", "/cfg");
    env.Set("XDG_DATA_HOME", "/data");
    env.Set("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(GetAppDataDir(), fs::path("/cfg"));
    EXPECT_EQ(GetDataHomeDir(), fs::path("/data"));
    EXPECT_EQ(GetRuntimeDir(), fs::path("/run/user/1000"));
    // Relative values are ignored, as the XDG base-directory rules say.
    env.Set("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(GetAppDataDir(), fs::path("/home/tester/.config"));
}

TEST(Folders, DocumentsFromUserDirs) {
    TempDir home("home");
    EnvGuard env;
    env.Set("HOME", home.Path().c_str());
    env.Set("XDG_CONFIG_HOME", nullptr);
    env.Set("XDG_DOCUMENTS_DIR", nullptr);
    EXPECT_EQ(GetDocumentsDir(), home / "Documents");
    ASSERT_TRUE(WriteTestFile(home / ".config" / "user-dirs.dirs",
                              "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                              "XDG_DOCUMENTS_DIR=\"$HOME/文档\"\n"));
    EXPECT_EQ(GetDocumentsDir(), home / "文档");
    ASSERT_TRUE(
        WriteTestFile(home / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n"));
    EXPECT_EQ(GetDocumentsDir(), fs::path("/srv/docs"));
    env.Set("XDG_DOCUMENTS_DIR", "/explicit");
    EXPECT_EQ(GetDocumentsDir(), fs::path("/explicit"));
}

TEST(Folders, ModulePathIsThisProgram) {
    fs::path exe = GetModulePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(fs::exists(exe));
    EXPECT_EQ(GetModuleDir(), exe.parent_path());
    EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
}
