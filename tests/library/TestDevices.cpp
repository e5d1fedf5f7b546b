#include "library/ISQLite3.h"
#include "shell/HistoryRecord.h"
#include "tests/library/LibraryTestUtil.h"

namespace {

using Devices = LibraryTest;

std::string StoredPathOf(const fs::path& library, Pid pid) {
    auto raw = CreateISQLite3();
    EXPECT_TRUE(raw->Open(library));
    auto rows = raw->Query("SELECT path FROM images WHERE pid = ?;", {pid});
    return rows && rows->Next() ? rows->GetText(0) : std::string();
}

TEST_F(Devices, AuthorisationRecords) {
    auto db = Open();
    EXPECT_EQ(db->SetAuth("", 1, "x"), 0);
    EXPECT_EQ(db->SetAuth("k", 1, "Phone"), 1);
    EXPECT_EQ(db->SetAuth("k", 2, "Phone"), 0); // same name: nothing written
    EXPECT_TRUE(db->IsAuthorized("k"));
    EXPECT_EQ(db->GetDeviceName("k"), "Phone");
    EXPECT_EQ(db->GetDeviceName("localhost"), "Local");
    EXPECT_EQ(db->GetDeviceName("nobody"), "");
    std::map<std::string, AuthEntry> list{{"stale", {}}};
    EXPECT_EQ(db->GetAuthList(list), 1);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list["k"].type, 1);

    const std::string key = "key'with\"quotes\\/..\x02😀";
    const std::string name = "名字 'quoted' \\ 😀";
    EXPECT_EQ(db->SetAuth(key, 3, name), 1);
    db.reset();
    db = Open();
    EXPECT_EQ(db->GetDeviceName(key), name);
    EXPECT_EQ(db->RemoveAuth(key), 1);
    EXPECT_FALSE(db->IsAuthorized(key));
    EXPECT_EQ(db->RemoveAuth(""), 0);

    int changed = 0;
    for (const auto& event : m_observer.Take()) {
        changed += event.code == NOTIFY_DEVICES_CHANGED;
    }
    EXPECT_EQ(changed, 2);
}

TEST_F(Devices, RenameMovesTheFolderAndKeepsPhotosReachable) {
    auto db = Open();
    db->SetAuth("k", 1, "Old");
    Pid a = db->AddImage(MakePhoto("Old_photo.jpg", 1), "", "k");
    Pid b = db->AddImage(MakePhoto("b.jpg", 2), "", "k");
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    EXPECT_EQ(db->SetAuth("k", 1, "New"), 1);
    ASSERT_TRUE(db->WaitIdle(10000));
    EXPECT_FALSE(fs::exists(Repos() / "Old"));
    EXPECT_EQ(db->GetImagePath(a), Repos() / "New" / "Old_photo.jpg");
    EXPECT_TRUE(fs::exists(db->GetImagePath(a)));
    EXPECT_TRUE(fs::exists(db->GetImagePath(b)));
    EXPECT_EQ(StoredPathOf(m_root / "Vellumo.cfg", a), "\\New\\Old_photo.jpg");
    // Later uploads land in the new folder.
    Pid c = db->AddImage(MakePhoto("c.jpg", 3), "", "k");
    EXPECT_EQ(db->GetImagePath(c), Repos() / "New" / "c.jpg");
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(Devices, RenamesAreQueuedAndApplyInOrder) {
    auto db = Open();
    db->SetAuth("k", 1, "One");
    std::vector<Pid> pids;
    for (int i = 0; i < 5; ++i) {
        pids.push_back(db->AddImage(MakePhoto("p" + std::to_string(i) + ".jpg", 10 + i), "", "k"));
        ASSERT_NE(pids.back(), 0);
    }
    EXPECT_EQ(db->SetAuth("k", 1, "Two"), 1);
    EXPECT_EQ(db->SetAuth("k", 1, "Three"), 1);
    EXPECT_EQ(db->SetAuth("k", 1, "Four"), 1);
    ASSERT_TRUE(db->WaitIdle(10000));
    for (Pid pid : pids) {
        fs::path path = db->GetImagePath(pid);
        EXPECT_EQ(path.parent_path(), Repos() / "Four");
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_EQ(CountFiles(Repos()), 5u);
    EXPECT_FALSE(fs::exists(Repos() / "One"));
    EXPECT_FALSE(fs::exists(Repos() / "Two"));
}

TEST_F(Devices, NamesThatSanitiseAlikeShareAFolderWithoutTearingIt) {
    auto db = Open();
    db->SetAuth("a", 1, "Phone.1");
    db->SetAuth("b", 1, "Phone1"); // the same folder "Phone1"
    Pid a = db->AddImage(MakePhoto("a.jpg", 1), "", "a");
    Pid b = db->AddImage(MakePhoto("b.jpg", 2), "", "b");
    ASSERT_EQ(db->GetImagePath(a).parent_path(), db->GetImagePath(b).parent_path());

    EXPECT_EQ(db->SetAuth("a", 1, "Tablet"), 1);
    ASSERT_TRUE(db->WaitIdle(10000));
    // Only a's photos moved; b keeps its folder and its photo.
    EXPECT_EQ(db->GetImagePath(a), Repos() / "Tablet" / "a.jpg");
    EXPECT_EQ(db->GetImagePath(b), Repos() / "Phone1" / "b.jpg");
    EXPECT_TRUE(fs::exists(db->GetImagePath(a)));
    EXPECT_TRUE(fs::exists(db->GetImagePath(b)));

    // Renaming into a folder that exists merges file by file with unique names.
    Pid clash = db->AddImage(MakePhoto("a.jpg", 3), "", "b");
    ASSERT_NE(clash, 0);
    EXPECT_EQ(db->SetAuth("b", 1, "Tablet"), 1);
    ASSERT_TRUE(db->WaitIdle(10000));
    EXPECT_EQ(db->GetImagePath(clash).parent_path(), Repos() / "Tablet");
    EXPECT_NE(db->GetImagePath(clash), db->GetImagePath(a));
    EXPECT_EQ(CountFiles(Repos() / "Tablet"), 3u);
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(Devices, PhoneChosenNamesStayInsideTheRepository) {
    auto db = Open();
    db->SetAuth("evil", 1, "../../escape");
    Pid pid = db->AddImage(MakePhoto("a.jpg", 1), "", "evil");
    ASSERT_NE(pid, 0);
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "escape" / "a.jpg");
    EXPECT_EQ(db->SetAuth("evil", 1, ".."), 1);
    ASSERT_TRUE(db->WaitIdle(10000));
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "unnamed" / "a.jpg");
    EXPECT_TRUE(fs::exists(db->GetImagePath(pid)));
    EXPECT_TRUE(fs::exists(Repos()));
    EXPECT_EQ(db->SetAuth("evil", 1, "/etc/\\x"), 1);
    ASSERT_TRUE(db->WaitIdle(10000));
    EXPECT_EQ(db->GetImagePath(pid), Repos() / "etcx" / "a.jpg");
    EXPECT_FALSE(fs::exists(m_root / "escape"));
    EXPECT_FALSE(fs::exists(m_dir / "escape"));
    EXPECT_EQ(CountFiles(Repos()), 1u);
}

TEST_F(Devices, RenameAndUploadsAtTheSameTimeLoseNothing) {
    auto db = Open();
    db->SetAuth("k", 1, "Before");
    std::vector<fs::path> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back(MakePhoto("r" + std::to_string(i) + ".jpg", 50 + i));
    }
    for (int i = 0; i < 6; ++i) {
        db->QueueImport(files[i], "k", nullptr, 0, "t" + std::to_string(i));
    }
    db->SetAuth("k", 1, "After");
    for (int i = 6; i < 12; ++i) {
        db->QueueImport(files[i], "k", nullptr, 0, "t" + std::to_string(i));
    }
    ASSERT_TRUE(db->WaitIdle(30000));
    for (int i = 0; i < 12; ++i) {
        Pid pid = db->FindPidByMd5("t" + std::to_string(i));
        ASSERT_NE(pid, 0);
        EXPECT_EQ(db->GetImagePath(pid).parent_path(), Repos() / "After") << i;
        EXPECT_TRUE(fs::exists(db->GetImagePath(pid))) << i;
    }
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(Devices, HistoryIsRecordedWithoutUndoingARename) {
    auto db = Open();
    EXPECT_EQ(db->RecordImport("k", 3, 1536, 61, true), 0);
    EXPECT_EQ(db->ShowLastImport("k"), 0);
    db->SetAuth("k", 1, "Old");
    db->SetAuth("k", 1, "New");
    m_observer.Take();
    EXPECT_EQ(db->RecordImport("k", 3, 1536, 61, true), 1);
    auto events = m_observer.Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, NOTIFY_BACKUP_DONE);
    auto history = std::static_pointer_cast<const HistoryRecord>(events[0].data);
    EXPECT_EQ(history->deviceKey, "k");
    EXPECT_EQ(history->summaryText, "备份3张, 占用空间1.50 KB, 耗时1分1秒");
    EXPECT_EQ(history->timeText.rfind("时间: ", 0), 0u);

    EXPECT_EQ(db->ShowLastImport("k"), 1);
    EXPECT_EQ(m_observer.Take().size(), 1u);
    db.reset();
    db = Open();
    EXPECT_EQ(db->GetDeviceName("k"), "New"); // the history write kept the new name
    EXPECT_EQ(db->ShowLastImport("k"), 1);
    EXPECT_EQ(m_observer.Take().size(), 1u);

    // A new name clears the history; a run of nothing is stored but never shown.
    db->SetAuth("k", 1, "Newer");
    ASSERT_TRUE(db->WaitIdle(10000));
    m_observer.Take();
    EXPECT_EQ(db->ShowLastImport("k"), 1);
    EXPECT_TRUE(m_observer.Take().empty());
    EXPECT_EQ(db->RecordImport("k", 0, 0, 5, false), 1);
    EXPECT_EQ(db->ShowLastImport("k"), 1);
    EXPECT_TRUE(m_observer.Take().empty());
}

TEST_F(Devices, RePairingARemovedDeviceFindsItsPhotosAgain) {
    auto db = Open();
    db->SetAuth("k", 1, "Phone");
    Pid pid = db->AddImage(MakePhoto("a.jpg", 1), "", "k");
    ASSERT_NE(pid, 0);
    db->RemoveAuth("k");
    EXPECT_FALSE(db->DeviceHasImage("k", pid));
    Json::Value devices;
    db->GetDevicesJson(devices);
    EXPECT_FALSE(devices.isMember("k"));
    db->SetAuth("k", 1, "Phone");
    EXPECT_TRUE(db->DeviceHasImage("k", pid));
}

} // namespace
