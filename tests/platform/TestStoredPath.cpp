#include "platform/StoredPath.h"

#include <gtest/gtest.h>

TEST(StoredPath, ToFileSystem) {
    fs::path repos = "/data/Repos";
    EXPECT_EQ(StoredToFsPath(repos, "\\a\\b.jpg"), fs::path("/data/Repos/a/b.jpg"));
    EXPECT_EQ(StoredToFsPath(repos, "\\local\\2013-05-01\\IMG_0001.JPG"),
              fs::path("/data/Repos/local/2013-05-01/IMG_0001.JPG"));
    EXPECT_EQ(StoredToFsPath(repos, "a\\b.jpg"), fs::path("/data/Repos/a/b.jpg"));
    EXPECT_EQ(StoredToFsPath(repos, "\\\\a\\\\b.jpg"), fs::path("/data/Repos/a/b.jpg"));
    EXPECT_EQ(StoredToFsPath(repos, "\\张三\\照片.jpg"), fs::path("/data/Repos/张三/照片.jpg"));
    EXPECT_EQ(StoredToFsPath(repos, "\\a\\.\\b.jpg"), fs::path("/data/Repos/a/b.jpg"));
}

TEST(StoredPath, RefusesEscapes) {
    fs::path repos = "/data/Repos";
    EXPECT_TRUE(StoredToFsPath(repos, "\\..\\secret").empty());
    EXPECT_TRUE(StoredToFsPath(repos, "\\a\\..\\..\\x").empty());
    EXPECT_TRUE(StoredToFsPath(repos, "..").empty());
    EXPECT_TRUE(StoredToFsPath(repos, "/etc/passwd").string().rfind("/data/Repos/", 0) == 0);
    EXPECT_EQ(StoredToFsPath(repos, "/etc/passwd"), fs::path("/data/Repos/etc/passwd"));
    EXPECT_TRUE(StoredToFsPath(repos, "\\a/../../x").empty());
    EXPECT_TRUE(StoredToFsPath(repos, std::string("\\a\0b", 4)).empty());
    EXPECT_TRUE(StoredToFsPath(repos, "").empty());
    EXPECT_TRUE(StoredToFsPath(repos, "\\").empty());
    EXPECT_TRUE(StoredToFsPath("", "\\a.jpg").empty());
}

TEST(StoredPath, FromFileSystem) {
    fs::path repos = "/data/Repos";
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos/a/b.jpg"), "\\a\\b.jpg");
    EXPECT_EQ(FsToStoredPath("/data/Repos/", "/data/Repos/a/b.jpg"), "\\a\\b.jpg");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos/./a//b.jpg"), "\\a\\b.jpg");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos/张三/照片.jpg"), "\\张三\\照片.jpg");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Other/a.jpg"), "");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos2/a.jpg"), "");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos/../x.jpg"), "");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos"), "");
    EXPECT_EQ(FsToStoredPath(repos, "/data/Repos/a\\b.jpg"), ""); // cannot be carried
}

TEST(StoredPath, RoundTrip) {
    fs::path repos = "/srv/photos/Repos";
    for (const char* stored :
         {"\\local\\2013-05-01\\IMG_0001.JPG", "\\iPhone 51\\a b.jpg", "\\x"}) {
        EXPECT_EQ(FsToStoredPath(repos, StoredToFsPath(repos, stored)), stored);
    }
}
