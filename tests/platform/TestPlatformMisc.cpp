#include "platform/Dialogs.h"
#include "platform/Random.h"
#include "platform/Resources.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

TEST(Random, BytesDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        std::string s(16, '\0');
        RandomBytes(s.data(), s.size());
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 1000u);
    RandomBytes(nullptr, 0);
    std::vector<uint8_t> big(1 << 20);
    RandomBytes(big.data(), big.size());
    size_t zeros = 0;
    for (uint8_t b : big) {
        zeros += b == 0;
    }
    EXPECT_LT(zeros, big.size() / 128);
}

TEST(Random, GuidLayout) {
    for (int i = 0; i < 100; ++i) {
        Guid g = NewGuid();
        EXPECT_EQ(g.data3 >> 12, 4);
        EXPECT_EQ(g.data4[0] & 0xC0, 0x80);
    }
}

TEST(Resources, RegisterAndLoad) {
    std::string out = "old";
    EXPECT_FALSE(LoadResourceBytes("UIR", 9999, out));
    EXPECT_TRUE(out.empty());
    RegisterResource("UIR", 131, std::string("PK\0\x03", 4));
    ASSERT_TRUE(LoadResourceBytes("UIR", 131, out));
    EXPECT_EQ(out, std::string("PK\0\x03", 4));
    EXPECT_FALSE(LoadResourceBytes("ICO", 131, out));
    RegisterResource("EMPTY", 1, "");
    EXPECT_FALSE(LoadResourceBytes("EMPTY", 1, out));
}

TEST(Dialogs, HeadlessMessageIsAStderrLine) {
    SetHeadlessMode(true);
    EXPECT_TRUE(IsHeadlessMode());
    testing::internal::CaptureStderr();
    ShowMessage("Vellumo", "存储目录无法创建");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Vellumo: 存储目录无法创建\n");
    std::vector<fs::path> files{"x"};
    EXPECT_EQ(ChooseFiles(nullptr, {{"图片", "*.jpg"}}, files), 0);
    EXPECT_TRUE(files.empty());
    fs::path folder;
    EXPECT_FALSE(ChooseFolder(nullptr, folder));
    SetHeadlessMode(false);
}

TEST(Dialogs, BackendIsUsedWhenNotHeadless) {
    SetHeadlessMode(false);
    std::string shown;
    DialogBackend backend;
    backend.showMessage = [&](const std::string& t, const std::string& x) { shown = t + "|" + x; };
    backend.chooseFolder = [](void*, fs::path& out) {
        out = "/picked";
        return true;
    };
    SetDialogBackend(backend);
    ShowMessage("a", "b");
    EXPECT_EQ(shown, "a|b");
    fs::path folder;
    EXPECT_TRUE(ChooseFolder(nullptr, folder));
    EXPECT_EQ(folder, fs::path("/picked"));
    std::vector<fs::path> files;
    EXPECT_EQ(ChooseFiles(nullptr, {}, files), 0); // no file chooser installed
    // Headless wins over the backend.
    SetHeadlessMode(true);
    testing::internal::CaptureStderr();
    ShowMessage("a", "b");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "a: b\n");
    SetHeadlessMode(false);
    SetDialogBackend({});
}
