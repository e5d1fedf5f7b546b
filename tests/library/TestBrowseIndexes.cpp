#include "library/CHBrowseIndexes.h"
#include "media/JsonText.h"
#include "tests/library/LibraryTestUtil.h"

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value value;
    EXPECT_TRUE(JsonParse(text, value)) << text;
    return value;
}

TEST(BrowseIndexes, TimeLineListsAndGroups) {
    CHBrowseIndexes indexes;
    indexes.AddTimePid(2013, 5, 1, 11);
    indexes.AddTimePid(2013, 5, 1, 12);
    indexes.AddTimePid(2013, 5, 3, 13);
    NameList out{"stale"};
    EXPECT_TRUE(indexes.ListTimeGroups(out));
    EXPECT_EQ(out, (NameList{"stale", "2013/05/01", "2013/05/03"})); // one month: its days
    indexes.AddTimePid(2012, 11, 30, 9);
    indexes.AddTimePid(2013, 7, 4, 14);
    out.clear();
    indexes.ListTimeGroups(out);
    EXPECT_EQ(out, (NameList{"2013/07", "2013/05", "2012/11"})); // newest first

    out = {"stale"};
    EXPECT_TRUE(indexes.ListYears(out));
    EXPECT_EQ(out, (NameList{"2012", "2013"}));
    EXPECT_TRUE(indexes.ListMonths("2013", out));
    EXPECT_EQ(out, (NameList{"05", "07"}));
    out.clear();
    EXPECT_TRUE(indexes.ListTimeChildren("2013", out));
    EXPECT_EQ(out, (NameList{"07", "05"}));
    out.clear();
    EXPECT_TRUE(indexes.ListTimeChildren("2013/05/01", out)); // exists, no children
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(indexes.ListTimeChildren("2014", out));
    EXPECT_TRUE(indexes.ListDays("2013", "05", out));
    EXPECT_EQ(out, (NameList{"01", "03"}));
    EXPECT_FALSE(indexes.ListDays("2013", "06", out));
    EXPECT_TRUE(out.empty());

    PidList pids;
    EXPECT_TRUE(indexes.GetTimePids("//2013///05/", pids)); // doubled and trailing "/"
    EXPECT_EQ(pids, (PidList{11, 12, 13}));
    pids.clear();
    indexes.GetTimePids("", pids);
    EXPECT_EQ(pids, (PidList{9, 11, 12, 13, 14}));
    EXPECT_EQ(indexes.GetLastTimePid("2013/05"), 13);
    EXPECT_EQ(indexes.GetLastTimePid("1999"), 0);
}

TEST(BrowseIndexes, RemovalFindsThePidWhereverItIsFiled) {
    CHBrowseIndexes indexes;
    indexes.AddTimePid(2013, 5, 1, 11);
    indexes.AddTimePid(2013, 5, 2, 12);
    // Filed on the 2nd, looked for on the 1st (the zone changed since).
    EXPECT_TRUE(indexes.RemoveTimePid(12, 2013, 5, 1));
    EXPECT_FALSE(indexes.HasTimePid(12));
    NameList days;
    indexes.ListDays("2013", "05", days);
    EXPECT_EQ(days, NameList{"01"});
    // The only photo of a day: the day goes, month and year stay.
    EXPECT_TRUE(indexes.RemoveTimePid(11, 2013, 5, 1));
    NameList groups;
    indexes.ListTimeGroups(groups);
    EXPECT_TRUE(groups.empty());
    indexes.AddTimePid(2012, 1, 1, 5);
    indexes.ListTimeGroups(groups);
    EXPECT_EQ(groups, (NameList{"2013/05", "2012/01"}));
    EXPECT_FALSE(indexes.RemoveTimePid(99, 2013, 5, 1));
    EXPECT_TRUE(indexes.AddTimePidIfAbsent(2013, 5, 1, 11));
    EXPECT_FALSE(indexes.AddTimePidIfAbsent(2014, 1, 1, 11));
}

TEST(BrowseIndexes, AlbumsOriginsTrashAndHistory) {
    CHBrowseIndexes indexes;
    indexes.SetTree(CHBrowseIndexes::kAlbum,
                    Parse(R"({"albums":{"Trips":{"images":[1,2],"albums":{"Rome":{"images":[3]},
                          "Oslo":{"albums":{"Day 1":{"images":[4]}}}}},"Empty":{}}})"));
    NameList out;
    EXPECT_TRUE(indexes.ListAlbums(out));
    EXPECT_EQ(out, (NameList{"Empty", "Trips"}));
    EXPECT_TRUE(indexes.ListSubAlbums("Trips", out));
    EXPECT_EQ(out, (NameList{"Oslo", "Rome"}));
    out.clear();
    EXPECT_TRUE(indexes.ListAlbumsDeep("Trips", out));
    EXPECT_EQ(out, (NameList{"Trips/Oslo", "Trips/Oslo/Day 1", "Trips/Rome"}));
    PidList pids;
    EXPECT_TRUE(indexes.GetAlbumPids("Trips", pids)); // own images only
    EXPECT_EQ(pids, (PidList{1, 2}));
    pids.clear();
    EXPECT_TRUE(indexes.GetAlbumPids("Trips/Oslo", pids));
    EXPECT_EQ(pids, PidList{4});
    EXPECT_EQ(indexes.GetLastAlbumPid("Trips/Rome/"), 3);
    EXPECT_FALSE(indexes.GetAlbumOwnPids("Trips/Oslo", pids));
    EXPECT_TRUE(pids.empty());
    EXPECT_EQ(indexes.CreateAlbum("New/Sub"), 1);
    EXPECT_TRUE(indexes.ListSubAlbums("New", out));
    EXPECT_EQ(out, NameList{"Sub"});

    indexes.SetTree(CHBrowseIndexes::kOrigin,
                    Parse(R"({"Canon":{"EOS":[5,6],"A1":[7]},"null":{"null":[8]}})"));
    out.clear();
    EXPECT_TRUE(indexes.ListOrigins(out));
    EXPECT_EQ(out, (NameList{"null/null", "Canon/EOS", "Canon/A1"}));
    EXPECT_EQ(indexes.GetLastOriginPid("Canon"), 6);
    EXPECT_TRUE(indexes.RemoveOriginPid(7));
    out.clear();
    indexes.ListOrigins(out);
    EXPECT_EQ(out, (NameList{"null/null", "Canon/EOS"}));
    indexes.AddOriginPid("", "", 9);
    indexes.AddOriginPid("Canon", "EOS", 5); // already filed
    pids.clear();
    indexes.GetOriginPids("", pids);
    EXPECT_EQ(pids, (PidList{5, 6, 8, 9}));

    indexes.SetTree(CHBrowseIndexes::kTrash,
                    Parse(R"({"2013":{"5":["Trips","New/Sub"],"6":[]},"old":{"10":[]}})"));
    EXPECT_TRUE(indexes.ListTrashGroups(out));
    EXPECT_EQ(out, (NameList{"2013", "old"}));
    EXPECT_TRUE(indexes.GetTrashPids("2013", pids));
    EXPECT_EQ(pids, (PidList{5, 6}));
    EXPECT_FALSE(indexes.GetTrashPids("none", pids));
    std::vector<std::string> albums;
    EXPECT_TRUE(indexes.TakeTrashAlbums(5, albums));
    EXPECT_EQ(albums, (std::vector<std::string>{"Trips", "New/Sub"}));
    EXPECT_TRUE(indexes.RemoveTrashMember(10, true));
    EXPECT_TRUE(indexes.ListTrashGroups(out));
    EXPECT_EQ(out, NameList{"2013"});

    indexes.SetTree(CHBrowseIndexes::kHistory, Parse(R"({"run":[3,true,2.9,"17","x",null]})"));
    out.clear();
    EXPECT_TRUE(indexes.ListHistory(out));
    pids.clear();
    EXPECT_EQ(indexes.GetHistoryPids("run", pids), 1);
    EXPECT_EQ(pids, (PidList{3, 1, 2, 17, 0, 0}));
}

TEST(BrowseIndexes, StoredTreesOfTheWrongShapeNeverThrow) {
    CHBrowseIndexes indexes;
    for (int tree = 0; tree < CHBrowseIndexes::kTreeCount; ++tree) {
        indexes.SetTree(tree, Parse(R"([1, "x", {"a": 2}])"));
    }
    NameList out;
    PidList pids;
    EXPECT_FALSE(indexes.ListYears(out));
    EXPECT_FALSE(indexes.ListTimeGroups(out));
    EXPECT_FALSE(indexes.GetTimePids("2013/05", pids));
    EXPECT_FALSE(indexes.ListAlbums(out));
    EXPECT_FALSE(indexes.ListTrashGroups(out));
    EXPECT_FALSE(indexes.ListHistory(out));
    EXPECT_FALSE(indexes.RemoveTimePid(1, 2013, 5, 1));
    EXPECT_FALSE(indexes.RemoveTrashMember(1, true));
    indexes.SetTree(CHBrowseIndexes::kTime, Parse(R"({"2013":{"05":"oops","06":{"01":7}}})"));
    indexes.AddTimePid(2013, 5, 1, 4); // the unusable month is replaced
    indexes.AddAlbumPid("A/B", 1);
    EXPECT_TRUE(indexes.GetTimePids("2013/05/01", pids));
    EXPECT_EQ(pids, PidList{4});
    EXPECT_EQ(indexes.GetLastAlbumPid("A/B"), 1);
}

TEST(BrowseIndexes, OnlyChangedTreesAreSavedAgain) {
    CHBrowseIndexes indexes;
    EXPECT_TRUE(indexes.TakeDirty().empty());
    indexes.AddTimePid(2013, 5, 1, 1);
    auto texts = indexes.TakeDirty();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].first, "timeCache");
    EXPECT_EQ(texts[0].second, "{\"2013\":{\"05\":{\"01\":[1]}}}\n");
    EXPECT_TRUE(indexes.TakeDirty().empty());
    EXPECT_EQ(indexes.TakeDirty(true).size(), 5u);
}

using BrowseLibrary = LibraryTest;

TEST_F(BrowseLibrary, HideAndRestoreNeverFileAPhotoTwice) {
    auto db = Open();
    Pid pid = db->AddImage(MakePhoto("a.jpg", 1, "2013:05:01 08:30:00", "Canon", "EOS"), "", "k");
    Pid other = db->AddImage(MakePhoto("b.jpg", 2, "2013:05:02 08:30:00"), "", "k");
    ASSERT_NE(pid, 0);
    EXPECT_EQ(db->RestoreImage(pid), 0); // already filed: stays filed once
    PidList pids;
    db->GetTimePids("", pids);
    EXPECT_EQ(pids, (PidList{pid, other}));
    NameList origins;
    EXPECT_TRUE(db->ListOrigins(origins));
    EXPECT_EQ(origins, NameList{"Canon/EOS"});

    EXPECT_EQ(db->HideImage(pid), 0);
    pids.clear();
    db->GetTimePids("", pids);
    EXPECT_EQ(pids, PidList{other});
    origins.clear();
    EXPECT_FALSE(db->ListOrigins(origins));
    EXPECT_NE(db->GetImagePath(pid), fs::path()); // the photo itself stays

    EXPECT_EQ(db->RestoreImage(pid), 0);
    EXPECT_EQ(db->RestoreImage(pid), 0);
    pids.clear();
    db->GetTimePids("", pids);
    EXPECT_EQ(pids, (PidList{pid, other}));
    EXPECT_EQ(db->GetLastOriginPid("Canon/EOS"), pid);
    EXPECT_EQ(db->HideImage(12345), 0);
    EXPECT_EQ(db->RestoreImage(12345), 0);
    pids.clear();
    db->GetTimePids("", pids);
    EXPECT_EQ(pids.size(), 2u);
    EXPECT_TRUE(db->CheckLibrary().empty());
}

TEST_F(BrowseLibrary, RestoreRefilesTrashedAlbums) {
    auto db = Open();
    Pid pid = db->AddImage(MakePhoto("a.jpg", 1, "2013:05:01 08:30:00"), "", "k");
    ASSERT_NE(pid, 0);
    db->HideImage(pid);
    Json::Value trash;
    trash["2013-05"][std::to_string(pid)].append("Trips/Rome");
    ASSERT_TRUE(db->WriteConfigJson("trashCache", trash));
    db->CloseLibrary();
    ASSERT_EQ(db->OpenLibrary(m_root), 1);
    PidList trashed;
    EXPECT_TRUE(db->GetTrashPids("2013-05", trashed));
    EXPECT_EQ(trashed, PidList{pid});
    db->RestoreImage(pid);
    EXPECT_EQ(db->GetLastAlbumPid("Trips/Rome"), pid);
    EXPECT_TRUE(db->GetTrashPids("2013-05", trashed)); // the group stays, empty
    EXPECT_TRUE(trashed.empty());
    EXPECT_EQ(db->GetLastTimePid("2013/05/01"), pid);
}

} // namespace
