// The private staging folder of received photos: each upload on its own, nothing of another
// user's touched, and after a crash the complete photos found again and only incomplete bodies
// removed.

#include "net/UploadStaging.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(UploadStaging, EachUploadIsPrivateAndRemovedUnlessKept) {
    TempDir root("vellumo-staging");
    auto staging = UploadStaging::Open(root.Path());
    ASSERT_TRUE(staging);
    EXPECT_EQ(ModeOf(root / ".incoming"), 0700u);
    fs::path kept;
    {
        StagedUpload a(staging, "same.jpg");
        StagedUpload b(staging, "same.jpg");
        ASSERT_TRUE(a.Ok());
        ASSERT_TRUE(b.Ok());
        EXPECT_NE(a.File(), b.File());
        EXPECT_EQ(a.File().filename(), "same.jpg");
        EXPECT_TRUE(IsUploadFolderName(a.Id()));
        EXPECT_EQ(ModeOf(a.File()), 0600u);
        ASSERT_TRUE(a.Write("first"));
        ASSERT_TRUE(b.Write("second"));
        EXPECT_TRUE(b.SetTimes(1388534400));
        ASSERT_TRUE(b.Seal("key", "token"));
        EXPECT_EQ(ReadTestFile(a.File()), "first");
        struct stat info {};
        ASSERT_EQ(stat(b.File().c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, 1388534400);
        b.Keep();
        kept = b.File();
    }
    EXPECT_EQ(ReadTestFile(kept), "second");
    // Only the kept upload and its record remain.
    EXPECT_EQ(Names(root / ".incoming").size(), 2u);
    staging->Remove(kept.parent_path().filename().string(), "same.jpg");
    EXPECT_TRUE(Names(root / ".incoming").empty());

    // Names that are not one plain component are refused outright.
    EXPECT_FALSE(StagedUpload(staging, "../x").Ok());
    EXPECT_FALSE(StagedUpload(staging, "..").Ok());
    EXPECT_FALSE(StagedUpload(staging, "").Ok());
    EXPECT_FALSE(StagedUpload(nullptr, "x.jpg").Ok());
    EXPECT_TRUE(Names(root / ".incoming").empty());
}

TEST(UploadStaging, AFolderThatIsNotOursIsNeverUsed) {
    TempDir dir("vellumo-staging");
    // A link planted where the folder belongs: refused, its target untouched.
    fs::create_directories(dir / "a" / "elsewhere");
    fs::create_symlink(dir / "a" / "elsewhere", dir / "a" / ".incoming");
    EXPECT_FALSE(UploadStaging::Open(dir / "a"));
    EXPECT_TRUE(Names(dir / "a" / "elsewhere").empty());
    // A file where the folder belongs.
    ASSERT_TRUE(WriteTestFile(dir / "b" / ".incoming", "x"));
    EXPECT_FALSE(UploadStaging::Open(dir / "b"));
    // Our own folder left open to others is made private again.
    fs::create_directories(dir / "c" / ".incoming");
    chmod((dir / "c" / ".incoming").c_str(), 0777);
    ASSERT_TRUE(UploadStaging::Open(dir / "c"));
    EXPECT_EQ(ModeOf(dir / "c" / ".incoming"), 0700u);
    // No storage root at all.
    EXPECT_FALSE(UploadStaging::Open(dir / "missing" / "root"));
    EXPECT_FALSE(UploadStaging::Open(fs::path()));
}

TEST(UploadStaging, AnotherUsersFolderIsLeftAlone) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs to hand a folder to another user (run as root)";
    }
    TempDir dir("vellumo-staging");
    fs::path folder = dir / ".incoming";
    ASSERT_TRUE(WriteTestFile(folder / "0123456789abcdef" / "a.jpg", "theirs"));
    ASSERT_TRUE(WriteTestFile(folder / "0123456789abcdef.json", "{}"));
    for (const fs::path& path :
         {folder, folder / "0123456789abcdef", folder / "0123456789abcdef" / "a.jpg",
          folder / "0123456789abcdef.json"}) {
        ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
    }
    chmod(folder.c_str(), 0755);
    EXPECT_FALSE(UploadStaging::Open(dir.Path()));
    EXPECT_EQ(ModeOf(folder), 0755u);
    EXPECT_EQ(ReadTestFile(folder / "0123456789abcdef" / "a.jpg"), "theirs");
    EXPECT_EQ(Names(folder).size(), 2u);
}

TEST(UploadStaging, LeftoversCompleteAreKeptIncompleteAreRemoved) {
    TempDir root("vellumo-staging");
    auto staging = UploadStaging::Open(root.Path());
    ASSERT_TRUE(staging);
    std::vector<std::string> sealedIds;
    for (const char* name : {"first.jpg", "second.jpg"}) {
        StagedUpload upload(staging, name);
        ASSERT_TRUE(upload.Write(std::string("body of ") + name));
        ASSERT_TRUE(upload.Seal("phone", std::string("token-") + name));
        upload.Keep();
        sealedIds.push_back(upload.Id());
    }
    std::string unsealed;
    {
        // Killed while the body was arriving: no record.
        StagedUpload upload(staging, "partial.jpg");
        ASSERT_TRUE(upload.Write("half"));
        upload.Keep();
        unsealed = upload.Id();
    }
    std::string shortened;
    {
        // A record whose file is not the size it announces.
        StagedUpload upload(staging, "short.jpg");
        ASSERT_TRUE(upload.Write("0123456789"));
        ASSERT_TRUE(upload.Seal("phone", "t"));
        upload.Keep();
        shortened = upload.Id();
        ASSERT_EQ(truncate(upload.File().c_str(), 4), 0);
    }
    // A record whose folder is gone, and something that is not ours to judge.
    ASSERT_TRUE(WriteTestFile(root / ".incoming" / "00000000000000aa.json", "{}"));
    ASSERT_TRUE(WriteTestFile(root / ".incoming" / "notes" / "keep.txt", "x"));

    std::vector<UploadStaging::Leftover> leftovers = staging->TakeLeftovers();
    ASSERT_EQ(leftovers.size(), 2u);
    EXPECT_EQ(leftovers[0].id, sealedIds[0]);
    EXPECT_EQ(leftovers[0].file.filename(), "first.jpg");
    EXPECT_EQ(leftovers[0].deviceKey, "phone");
    EXPECT_EQ(leftovers[0].token, "token-first.jpg");
    EXPECT_EQ(ReadTestFile(leftovers[1].file), "body of second.jpg");
    std::vector<std::string> expected = {sealedIds[0], sealedIds[0] + ".json", sealedIds[1],
                                         sealedIds[1] + ".json", "notes"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(root / ".incoming"), expected);
    EXPECT_FALSE(fs::exists(root / ".incoming" / unsealed));
    EXPECT_FALSE(fs::exists(root / ".incoming" / shortened));
}
