#include "media/Base64.h"
#include "shell/StoragePaths.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

TEST(SettingsPointer, AnythingButAnObjectWithATextRootReadsAsNoRoot) {
    TempDir dir;
    fs::path file = dir / "Vellumo" / "Vellumo.cfg";
    EXPECT_TRUE(ReadSettingsRoot(file).empty()); // missing
    for (const char* text : {"", "not json", "[1, 2]", "42", "\"/photos\"", "null", "true",
                             "{\"RootPath\": 7}", "{\"RootPath\": {\"a\": 1}}", "{}"}) {
        ASSERT_TRUE(WriteTestFile(file, text));
        EXPECT_TRUE(ReadSettingsRoot(file).empty()) << text;
    }
    ASSERT_TRUE(WriteTestFile(file, "{\"RootPath\": \"" + Base64Encode("/data/photos") + "\"}"));
    EXPECT_EQ(ReadSettingsRoot(file), fs::path("/data/photos"));
}

TEST(SettingsPointer, WritingKeepsOtherMembersAndCreatesTheParentFolder) {
    TempDir dir;
    fs::path file = dir / "config" / "Vellumo" / "Vellumo.cfg";
    fs::path root = dir / "Fotos Ümlaut 照片";
    ASSERT_TRUE(WriteSettingsRoot(file, root));
    EXPECT_EQ(ReadSettingsRoot(file), root);
    EXPECT_EQ(ReadTestFile(file).back(), '\n');

    ASSERT_TRUE(WriteTestFile(file, "{\"Other\": [1, \"x\"], \"RootPath\": 5, \"Z\": true}"));
    ASSERT_TRUE(WriteSettingsRoot(file, "/new/root"));
    std::string text = ReadTestFile(file);
    EXPECT_NE(text.find("\"Other\""), std::string::npos);
    EXPECT_NE(text.find("\"Z\" : true"), std::string::npos);
    EXPECT_NE(text.find(Base64Encode("/new/root")), std::string::npos);
    EXPECT_EQ(ReadSettingsRoot(file), fs::path("/new/root"));

    // A file that holds valid JSON but no object is replaced by an object.
    ASSERT_TRUE(WriteTestFile(file, "[\"a\"]"));
    ASSERT_TRUE(WriteSettingsRoot(file, "/r"));
    EXPECT_EQ(ReadSettingsRoot(file), fs::path("/r"));
}

TEST(SettingsPointer, AFailedWriteLeavesTheOldFile) {
    TempDir dir;
    fs::path file = dir / "Vellumo.cfg";
    ASSERT_TRUE(WriteSettingsRoot(file, "/old"));
    // The replacement cannot be created: a folder stands where it would be written.
    fs::create_directories(dir / "Vellumo.cfg.new" / "x");
    EXPECT_FALSE(WriteSettingsRoot(file, "/new"));
    EXPECT_EQ(ReadSettingsRoot(file), fs::path("/old"));
    // No parent folder can be made under a regular file.
    ASSERT_TRUE(WriteTestFile(dir / "blocker", "x"));
    EXPECT_FALSE(WriteSettingsRoot(dir / "blocker" / "Vellumo" / "Vellumo.cfg", "/new"));
}

TEST(StoragePaths, LocationsFollowTheXdgFolders) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    setenv("XDG_DOCUMENTS_DIR", (dir / "docs").c_str(), 1);
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    EXPECT_EQ(SettingsPointerPath(), dir / "cfg" / "Vellumo" / "Vellumo.cfg");
    EXPECT_EQ(DefaultStorageRoot(), dir / "docs" / "Vellumo");
    fs::path temp = NewTempFolderPath();
    EXPECT_EQ(temp.parent_path(), dir / "tmp");
    EXPECT_TRUE(
        std::regex_match(temp.filename().string(), std::regex("Vellumo_Temp_[0-9A-F]{16}")));
    EXPECT_NE(temp, NewTempFolderPath());
}

TEST(StoragePaths, NormalizedRootsCompareByFolder) {
    EXPECT_EQ(NormalizeRoot("/a/b/"), fs::path("/a/b"));
    EXPECT_EQ(NormalizeRoot("/a/./c/../b"), fs::path("/a/b"));
    EXPECT_EQ(NormalizeRoot("/"), fs::path("/"));
    EXPECT_TRUE(NormalizeRoot("").empty());
    EXPECT_TRUE(NormalizeRoot("relative").is_absolute());
}
