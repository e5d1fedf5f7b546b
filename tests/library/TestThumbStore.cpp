// The thumbnail store: which file and table a thumbnail lands in, what is served when a photo
// cannot be decoded, clamped sizes, stores closed while in use, and the asynchronous service.
#include "library/CHImageList.h"
#include "library/CHThumbMaker.h"
#include "library/CHThumbStore.h"
#include "library/ISQLite3.h"
#include "tests/support/TestBitmaps.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

class ThumbStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_dir / "Thumb");
        m_photo = EncodeJpegAt(MakePhotoBitmap(640, 480, 3), 90);
        m_store.SetFolder(m_dir / "Thumb");
    }

    // Gives the pid a photo file with these bytes.
    void AddPhoto(Pid pid, const std::string& bytes) {
        fs::path file = m_dir / "Repos" / (std::to_string(pid) + ".jpg");
        ASSERT_TRUE(WriteTestFile(file, bytes));
        std::lock_guard<std::mutex> guard(m_lock);
        m_paths[pid] = file;
    }

    fs::path PathOf(Pid pid) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_paths.find(pid);
        return it == m_paths.end() ? fs::path() : it->second;
    }

    // Rows of a table in store file N, read through a connection of our own; -1 without table.
    int64_t Rows(int number, const std::string& table, Pid pid) {
        auto db = CreateISQLite3();
        if (!db->Open(m_dir / "Thumb" / (std::to_string(number) + ".thumb")) ||
            !db->TableExists(table)) {
            return -1;
        }
        return db->QueryInt64("SELECT count(*) FROM " + table + " WHERE pid = ?;", {pid});
    }

    std::set<std::string> Tables(int number) {
        std::set<std::string> names;
        auto db = CreateISQLite3();
        if (db->Open(m_dir / "Thumb" / (std::to_string(number) + ".thumb"))) {
            if (auto rows = db->Query("SELECT name FROM sqlite_master WHERE type='table'")) {
                while (rows->Next()) {
                    names.insert(rows->GetText(0));
                }
            }
        }
        return names;
    }

    std::set<std::string> StoreFiles() {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir / "Thumb")) {
            if (entry.path().extension() == ".thumb") {
                names.insert(entry.path().filename().string());
            }
        }
        return names;
    }

    TempDir m_dir{"vellumo-thumbs"};
    std::string m_photo;
    std::mutex m_lock;
    std::map<Pid, fs::path> m_paths;
    std::function<void(Pid)> m_onPath; // runs inside the store's path lookup
    CHThumbStore m_store{[this](Pid pid) {
        if (m_onPath) {
            m_onPath(pid);
        }
        return PathOf(pid);
    }};
};

TEST_F(ThumbStoreTest, PidsShareStoresByTheirLowFiveBits) {
    EXPECT_EQ(CHThumbStore::StoreNumber(1), 2);
    EXPECT_EQ(CHThumbStore::StoreNumber(33), 2);
    EXPECT_EQ(CHThumbStore::StoreNumber(32), 1);
    EXPECT_EQ(CHThumbStore::StoreNumber(-1), 32);
    EXPECT_EQ(CHThumbStore::StoreNumber((int64_t{1} << 32) + 5), 6);
    for (Pid pid : {1, 33, 32}) {
        AddPhoto(pid, m_photo);
        std::string jpeg;
        ASSERT_TRUE(m_store.GetThumbnail(pid, 150, 150, jpeg));
    }
    EXPECT_EQ(StoreFiles(), (std::set<std::string>{"1.thumb", "2.thumb"}));
    EXPECT_EQ(Rows(2, "t150x150", 1), 1);
    EXPECT_EQ(Rows(2, "t150x150", 33), 1);
    EXPECT_EQ(Rows(1, "t150x150", 32), 1);
}

TEST_F(ThumbStoreTest, MakesStoresAndServesTheSameJpeg) {
    AddPhoto(7, m_photo);
    std::string first;
    ASSERT_TRUE(m_store.GetThumbnail(7, 150, 150, first));
    std::string made;
    ASSERT_TRUE(CHThumbStore::MakeThumbnail(m_photo, 150, 150, made));
    EXPECT_EQ(first, made);
    CHBitmap thumb;
    ASSERT_TRUE(thumb.LoadFromMemory(first.data(), first.size()));
    EXPECT_EQ(thumb.Width(), 150);
    EXPECT_EQ(thumb.Height(), 150);
    // Served from the store from now on, even without the photo.
    fs::remove(PathOf(7));
    std::string second;
    ASSERT_TRUE(m_store.GetThumbnail(7, 150, 150, second));
    EXPECT_EQ(second, first);
    std::string stored;
    EXPECT_TRUE(m_store.GetStoredThumbnail(7, 150, 150, stored));
    EXPECT_EQ(stored, first);
    EXPECT_FALSE(m_store.GetStoredThumbnail(7, 151, 150, stored));
    EXPECT_TRUE(stored.empty());
}

TEST_F(ThumbStoreTest, EachSizeHasItsTableInTheSameFile) {
    AddPhoto(5, m_photo);
    std::string square;
    std::string free;
    ASSERT_TRUE(m_store.GetThumbnail(5, 160, 160, square));
    ASSERT_TRUE(m_store.GetThumbnail(5, kThumbFree, 160, free));
    EXPECT_NE(square, free);
    EXPECT_EQ(Rows(6, "t160x160", 5), 1);
    EXPECT_EQ(Rows(6, "t32767x160", 5), 1);
    // The free width follows the photo: 640 x 480 at height 160 is 213 wide.
    CHBitmap thumb;
    ASSERT_TRUE(thumb.LoadFromMemory(free.data(), free.size()));
    EXPECT_EQ(thumb.Width(), 213);
    EXPECT_EQ(thumb.Height(), 160);
}

TEST_F(ThumbStoreTest, DeleteThumbnailsRemovesEverySize) {
    AddPhoto(2, m_photo);
    AddPhoto(34, m_photo); // same store
    std::string out;
    for (auto [w, h] : {std::pair{150, 150}, {160, 160}, {kThumbFree, 160}}) {
        ASSERT_TRUE(m_store.GetThumbnail(2, w, h, out));
    }
    ASSERT_TRUE(m_store.GetThumbnail(34, 150, 150, out));
    m_store.DeleteThumbnails(2);
    EXPECT_EQ(Rows(3, "t150x150", 2), 0);
    EXPECT_EQ(Rows(3, "t160x160", 2), 0);
    EXPECT_EQ(Rows(3, "t32767x160", 2), 0);
    EXPECT_EQ(Rows(3, "t150x150", 34), 1);
    EXPECT_FALSE(m_store.GetStoredThumbnail(2, 160, 160, out));
}

TEST_F(ThumbStoreTest, UndecodablePhotoIsServedAsItIsAndNothingIsStored) {
    const std::string notAnImage = "these bytes are no picture";
    const std::string truncated = m_photo.substr(0, m_photo.size() / 2);
    AddPhoto(3, notAnImage);
    AddPhoto(35, truncated);
    std::string out;
    EXPECT_TRUE(m_store.GetThumbnail(3, 150, 150, out));
    EXPECT_EQ(out, notAnImage);
    EXPECT_TRUE(m_store.GetThumbnail(35, 150, 150, out));
    EXPECT_EQ(out, truncated);
    EXPECT_LE(Rows(4, "t150x150", 3), 0);
    EXPECT_LE(Rows(4, "t150x150", 35), 0);
    // A photo the library does not have, or whose file is gone: nothing at all.
    EXPECT_FALSE(m_store.GetThumbnail(99, 150, 150, out));
    EXPECT_TRUE(out.empty());
    AddPhoto(100, m_photo);
    fs::remove(PathOf(100));
    EXPECT_FALSE(m_store.GetThumbnail(100, 150, 150, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(ThumbStoreTest, RequestedSizesAreClamped) {
    EXPECT_EQ(CHThumbStore::ClampSide(-7), 0);
    EXPECT_EQ(CHThumbStore::ClampSide(4096), 4096);
    EXPECT_EQ(CHThumbStore::ClampSide(4097), 4096);
    EXPECT_EQ(CHThumbStore::ClampSide(32766), 4096);
    EXPECT_EQ(CHThumbStore::ClampSide(kThumbFree), kThumbFree);
    EXPECT_EQ(CHThumbStore::ClampSide(32768), 4096);
    AddPhoto(9, m_photo);
    std::string out;
    for (int side : {5000, 70000, 123456, 2147483647}) {
        ASSERT_TRUE(m_store.GetThumbnail(9, -side, side, out));
        ASSERT_TRUE(m_store.GetThumbnail(9, side, -1, out));
    }
    // Height 4096 with a free width: never larger than the photo.
    CHBitmap thumb;
    ASSERT_TRUE(thumb.LoadFromMemory(out.data(), out.size()));
    EXPECT_EQ(thumb.Width(), 640);
    EXPECT_EQ(thumb.Height(), 480);
    EXPECT_EQ(Tables(10), (std::set<std::string>{"t0x4096", "t4096x0"}));
}

TEST_F(ThumbStoreTest, CloseStoresWhileAThumbnailIsBeingMade) {
    AddPhoto(11, m_photo);
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false;
    bool closed = false;
    m_onPath = [&](Pid) {
        std::unique_lock<std::mutex> guard(lock);
        inside = true;
        changed.notify_all();
        changed.wait(guard, [&] { return closed; });
    };
    std::string out;
    bool ok = false;
    std::thread request([&] { ok = m_store.GetThumbnail(11, 150, 150, out); });
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return inside; });
    }
    m_store.CloseStores(); // the running request keeps its store until it is done
    {
        std::lock_guard<std::mutex> guard(lock);
        closed = true;
        changed.notify_all();
    }
    request.join();
    m_onPath = nullptr;
    ASSERT_TRUE(ok);
    EXPECT_EQ(out.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(Rows(12, "t150x150", 11), 1);
    std::string again;
    EXPECT_TRUE(m_store.GetStoredThumbnail(11, 150, 150, again));
    EXPECT_EQ(again, out);
}

TEST_F(ThumbStoreTest, StoresFollowTheFolder) {
    AddPhoto(13, m_photo);
    std::string out;
    ASSERT_TRUE(m_store.GetThumbnail(13, 150, 150, out));
    fs::create_directories(m_dir / "Moved");
    m_store.CloseStores();
    m_store.SetFolder(m_dir / "Moved");
    ASSERT_TRUE(m_store.PutThumbnail(13, 90, 90, "x"));
    EXPECT_TRUE(fs::exists(m_dir / "Moved" / "14.thumb"));
    EXPECT_FALSE(m_store.GetStoredThumbnail(13, 150, 150, out));
    // A folder that cannot hold stores: thumbnails are still made, just not kept.
    m_store.CloseStores();
    m_store.SetFolder(m_dir / "missing" / "folder");
    EXPECT_TRUE(m_store.GetThumbnail(13, 150, 150, out));
    EXPECT_EQ(out.substr(0, 2), "\xFF\xD8");
    EXPECT_FALSE(m_store.PutThumbnail(13, 150, 150, out));
}

TEST_F(ThumbStoreTest, NewSizesBeyondTheTableLimitAreServedButNotKept) {
    AddPhoto(3, m_photo);
    for (int side = 1; side <= CHThumbStore::kMaxSizeTables; ++side) {
        ASSERT_TRUE(m_store.PutThumbnail(3, side, side, "x")) << side;
    }
    std::string out;
    // A size that will not be kept is answered with the nearest kept one, without decoding.
    ASSERT_TRUE(m_store.PutThumbnail(3, 60, 60, "sixty"));
    ASSERT_TRUE(m_store.PutThumbnail(3, 64, 64, "sixty-four"));
    ASSERT_TRUE(m_store.GetThumbnail(3, 300, 200, out));
    EXPECT_EQ(out, "sixty-four");
    ASSERT_TRUE(m_store.GetThumbnail(3, 2, 1, out));
    EXPECT_EQ(out, "x");
    EXPECT_FALSE(m_store.GetStoredThumbnail(3, 300, 200, out));
    // A photo without any kept size there is made for the request, and not kept either.
    AddPhoto(35, m_photo);
    ASSERT_TRUE(m_store.GetThumbnail(35, 300, 200, out));
    EXPECT_EQ(out.substr(0, 2), "\xFF\xD8");
    EXPECT_FALSE(m_store.GetStoredThumbnail(35, 300, 200, out));
    EXPECT_FALSE(m_store.PutThumbnail(3, 301, 200, "x"));
    EXPECT_EQ(Tables(4).size(), static_cast<size_t>(CHThumbStore::kMaxSizeTables));
    // Sizes already kept are still written; other store files have their own room.
    EXPECT_TRUE(m_store.PutThumbnail(3, 1, 1, "y"));
    ASSERT_TRUE(m_store.GetStoredThumbnail(3, 1, 1, out));
    EXPECT_EQ(out, "y");
    EXPECT_TRUE(m_store.PutThumbnail(4, 300, 200, "z"));
}

// Collects the callbacks of the asynchronous service.
struct Deliveries {
    struct Call {
        CHImageList* list;
        int index;
        intptr_t user1;
        intptr_t user2;
        Pid pid;
    };
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Call> calls;

    static Deliveries* s_current;
    static void Callback(CHImageList* list, int index, intptr_t u1, intptr_t u2, Pid pid) {
        std::lock_guard<std::mutex> guard(s_current->lock);
        s_current->calls.push_back({list, index, u1, u2, pid});
        s_current->arrived.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return arrived.wait_for(guard, std::chrono::seconds(60),
                                [&] { return calls.size() >= count; });
    }
};
Deliveries* Deliveries::s_current = nullptr;

TEST_F(ThumbStoreTest, AsynchronousRequestsDeliverImageListEntries) {
    Deliveries deliveries;
    Deliveries::s_current = &deliveries;
    AddPhoto(20, m_photo);
    AddPhoto(21, m_photo);
    EXPECT_EQ(m_store.RequestThumbnail({20, 96, 96, &Deliveries::Callback, 1, 2}), 1);
    EXPECT_EQ(m_store.RequestThumbnail({21, 96, 96, &Deliveries::Callback, 3, 4}), 1);
    EXPECT_EQ(m_store.RequestThumbnail({22, 96, 96, &Deliveries::Callback, 5, 6}), 1); // no file
    ASSERT_TRUE(deliveries.WaitFor(2));
    // The same pid and size again: the entry already delivered.
    EXPECT_EQ(m_store.RequestThumbnail({20, 96, 96, &Deliveries::Callback, 7, 8}), 1);
    ASSERT_TRUE(deliveries.WaitFor(3));
    m_store.Shutdown();
    ASSERT_EQ(deliveries.calls.size(), 3u);
    std::map<Pid, std::vector<Deliveries::Call>> byPid;
    for (const auto& call : deliveries.calls) {
        byPid[call.pid].push_back(call);
    }
    EXPECT_EQ(byPid.count(22), 0u);
    ASSERT_EQ(byPid[20].size(), 2u);
    ASSERT_EQ(byPid[21].size(), 1u);
    EXPECT_EQ(byPid[20][0].list, byPid[20][1].list);
    EXPECT_EQ(byPid[20][0].index, byPid[20][1].index);
    EXPECT_EQ(byPid[20][1].user1, 7);
    EXPECT_EQ(byPid[20][1].user2, 8);
    EXPECT_EQ(byPid[21][0].list, byPid[20][0].list);
    EXPECT_NE(byPid[21][0].index, byPid[20][0].index);
    const CHBitmap* bitmap = byPid[21][0].list->Get(byPid[21][0].index);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Width(), 96);
    EXPECT_EQ(bitmap->Height(), 96);
    // What the workers made is in the store too.
    EXPECT_EQ(Rows(22, "t96x96", 21), 1);
}

TEST_F(ThumbStoreTest, CancelledRequestsGetNoCallback) {
    Deliveries deliveries;
    Deliveries::s_current = &deliveries;
    // Ten requests hold all ten workers in the path lookup until released.
    std::mutex lock;
    std::condition_variable changed;
    int waiting = 0;
    bool release = false;
    m_onPath = [&](Pid pid) {
        if (pid >= 100) {
            return;
        }
        std::unique_lock<std::mutex> guard(lock);
        ++waiting;
        changed.notify_all();
        changed.wait(guard, [&] { return release; });
    };
    for (Pid pid = 40; pid < 50; ++pid) {
        AddPhoto(pid, m_photo);
        m_store.RequestThumbnail({pid, 64, 64, &Deliveries::Callback, 0, 0});
    }
    {
        std::unique_lock<std::mutex> guard(lock);
        ASSERT_TRUE(
            changed.wait_for(guard, std::chrono::seconds(60), [&] { return waiting == 10; }));
    }
    AddPhoto(100, m_photo);
    AddPhoto(101, m_photo);
    const ThumbRequest cancelled{100, 64, 64, &Deliveries::Callback, 1, 1};
    m_store.RequestThumbnail(cancelled);
    m_store.RequestThumbnail({101, 64, 64, &Deliveries::Callback, 2, 2});
    // Only an exact match is cancelled.
    m_store.CancelThumbnailRequest({100, 64, 64, &Deliveries::Callback, 1, 9});
    m_store.CancelThumbnailRequest(cancelled);
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
        changed.notify_all();
    }
    ASSERT_TRUE(deliveries.WaitFor(11));
    m_store.Shutdown();
    m_onPath = nullptr;
    std::set<Pid> pids;
    for (const auto& call : deliveries.calls) {
        pids.insert(call.pid);
    }
    EXPECT_EQ(pids.count(100), 0u);
    EXPECT_EQ(pids.count(101), 1u);
    EXPECT_EQ(deliveries.calls.size(), 11u);
}

} // namespace

// Decompression bombs: a file of a few dozen kilobytes that would decode to hundreds of
// megabytes is refused from its header, and served to nobody.
TEST_F(ThumbStoreTest, BombsAreRefusedBeforeDecoding) {
    const std::string bomb = MakePngBomb(14000, 14000);
    ASSERT_FALSE(bomb.empty());
    ASSERT_LT(bomb.size(), 200u << 10);
    ImageHeader header;
    ASSERT_TRUE(ReadImageHeader(bomb, header));
    EXPECT_TRUE(CHThumbMaker::IsAbsurd(header, bomb.size()));
    CHThumbMaker maker;
    std::string jpeg;
    EXPECT_EQ(maker.MakeJpeg(bomb, 150, 150, jpeg), CHThumbMaker::Result::Refused);
    EXPECT_EQ(maker.PeakReserved(), 0); // nothing was even queued

    AddPhoto(5, bomb);
    std::string out;
    EXPECT_FALSE(m_store.GetThumbnail(5, 150, 150, out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(Rows(6, "t150x150", 5), -1);

    // Large honest images are not bombs: a noisy photo, a flat one of 16 megapixels.
    header.width = 4000;
    header.height = 3000;
    EXPECT_FALSE(CHThumbMaker::IsAbsurd(header, 3u << 20));
    header.width = 4096;
    header.height = 4096;
    EXPECT_FALSE(CHThumbMaker::IsAbsurd(header, 1000));
    header.width = 8000;
    header.height = 6000;
    EXPECT_FALSE(CHThumbMaker::IsAbsurd(header, 200u << 10));
    EXPECT_TRUE(CHThumbMaker::IsAbsurd(header, 150u << 10));
}

// Requests wait their turn under the memory budget instead of all decoding at once; an image
// that could never fit is refused.
TEST(ThumbMaker, ParallelRequestsStayWithinTheBudget) {
    const std::string photo = EncodeJpegAt(MakePhotoBitmap(1600, 1200, 5), 85);
    ImageHeader header;
    ASSERT_TRUE(ReadImageHeader(photo, header));
    const int64_t one = CHThumbMaker::EstimateMemory(header, 1600, 1200);
    ASSERT_GT(one, CHThumbMaker::EstimateMemory(header, 150, 150)); // scaled decoding is smaller
    CHThumbMaker maker(4, one + one / 2); // room for one full-size request at a time
    std::atomic<int> made{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 6; ++i) {
        callers.emplace_back([&] {
            std::string jpeg;
            if (maker.MakeJpeg(photo, 1600, 1200, jpeg) == CHThumbMaker::Result::Made &&
                jpeg.substr(0, 2) == "\xFF\xD8") {
                ++made;
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(made.load(), 6);
    EXPECT_EQ(maker.PeakReserved(), one);

    CHThumbMaker small(2, one - 1);
    std::string jpeg;
    EXPECT_EQ(small.MakeJpeg(photo, 1600, 1200, jpeg), CHThumbMaker::Result::Refused);
    EXPECT_EQ(small.MakeJpeg(photo, 150, 150, jpeg), CHThumbMaker::Result::Made);
    EXPECT_EQ(small.MakeJpeg("not an image", 150, 150, jpeg), CHThumbMaker::Result::Failed);
}

// A free side keeps its table name, but the side computed from the photo's shape is limited
// like a requested one.
TEST_F(ThumbStoreTest, AFreeSideOfAThinPanoramaIsClamped) {
    AddPhoto(9, EncodeJpegAt(MakePhotoBitmap(6000, 24, 2), 80));
    std::string out;
    ASSERT_TRUE(m_store.GetThumbnail(9, CHThumbStore::ClampSide(32767), 24, out));
    int width = 0;
    int height = 0;
    ASSERT_TRUE(ReadImageSize(out, width, height));
    EXPECT_EQ(width, CHThumbStore::kMaxSide);
    EXPECT_EQ(height, 24);
    EXPECT_EQ(Rows(10, "t32767x24", 9), 1);
    // A shape that fits keeps following the photo.
    AddPhoto(10, m_photo);
    ASSERT_TRUE(m_store.GetThumbnail(10, 32767, 120, out));
    ASSERT_TRUE(ReadImageSize(out, width, height));
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
}
