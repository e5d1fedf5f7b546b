#include "media/Ids.h"

#include "platform/Folders.h"

#include <gtest/gtest.h>

#include <set>

TEST(Ids, NewId64Differs) {
    std::set<uint64_t> seen;
    for (int i = 0; i < 10000; ++i) {
        seen.insert(NewId64());
    }
    EXPECT_EQ(seen.size(), 10000u);
}

TEST(Ids, NewId64CarriesGuidVersionInHighHalf) {
    // Data3 is the top 16 bits: its version nibble is 4, as with CoCreateGuid.
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ((NewId64() >> 60) & 0xF, 4u);
    }
}

TEST(Ids, TempImagePath) {
    std::filesystem::path p = NewTempImagePath();
    std::string name = p.filename().string();
    ASSERT_EQ(name.size(), 36u);
    EXPECT_EQ(name.substr(32), ".jpg");
    for (size_t i = 0; i < 32; ++i) {
        EXPECT_TRUE((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))
            << name;
    }
    EXPECT_EQ(p.parent_path().string() + "/", GetTempDir().string());
    EXPECT_NE(NewTempImagePath(), p);
}
