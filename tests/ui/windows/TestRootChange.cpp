// Root changes from a window: the real core on temporary roots, a worker doing the change, and
// the test thread as the UI thread running posted tasks. Message boxes and questions go to a
// recording dialog backend.

#include "platform/Dialogs.h"
#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "shell/StoragePaths.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"
#include "tests/support/WaitFor.h"
#include "ui/windows/CXRootChange.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace {

using namespace std::chrono_literals;
using RootChange = CVellumoCore::RootChange;

class RootChangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DOCUMENTS_DIR", (m_dir / "docs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        m_options.servicePort = CoreOptions::kNoService;
        m_options.startWatcher = false;
        m_options.checkForUpdatesAtStart = false;
        m_options.pointerFile = m_dir / "config" / "Vellumo" / "Vellumo.cfg";
        ASSERT_TRUE(WriteSettingsRoot(m_options.pointerFile, m_dir / "old"));
        SetHeadlessMode(false);
        DialogBackend backend;
        backend.showMessage = [this](const std::string&, const std::string& text) {
            m_messages.push_back(text);
        };
        backend.askOkCancel = [this](const std::string&, const std::string& text) {
            m_questions.push_back(text);
            return m_answerOk;
        };
        SetDialogBackend(backend);
    }
    void TearDown() override {
        m_change.reset();
        m_core.reset();
        SetDialogBackend({});
        SetHeadlessMode(true);
    }

    void StartCore() {
        m_core = std::make_unique<CVellumoCore>(m_options);
        ASSERT_TRUE(m_core->Start()) << m_core->StorageError();
        m_change = std::make_unique<CXRootChange>(*m_core, m_ui);
        m_change->SetBusyHandler([this](bool busy) { m_busy.push_back(busy); });
    }

    void ImportPhotos(int count) {
        std::vector<fs::path> files;
        for (int i = 0; i < count; ++i) {
            TestJpegOptions options;
            options.seed = 40 + static_cast<uint32_t>(i);
            files.push_back(m_dir / "pick" / ("IMG_" + std::to_string(i) + ".jpg"));
            ASSERT_TRUE(WriteTestJpeg(files.back(), options));
        }
        m_core->ImportLocalFiles(files);
        ASSERT_TRUE(
            WaitFor([&] { return CountFiles(m_core->GetReposPath()) == files.size(); }, 20s));
        ASSERT_TRUE(m_core->Library()->WaitIdle(10000));
    }

    // Starts a move and runs UI tasks until its result arrives.
    CXRootChange::Result MoveAndWait(const fs::path& root) {
        std::optional<CXRootChange::Result> result;
        EXPECT_TRUE(m_change->Start(root, [&](const CXRootChange::Result& r) { result = r; }));
        EXPECT_TRUE(WaitFor(
            [&] {
                m_ui.RunPending();
                return result.has_value();
            },
            60s));
        return result.value_or(CXRootChange::Result{});
    }

    TempDir m_dir{"vellumo-rootchange"};
    CoreOptions m_options;
    CHUiDispatcher m_ui;
    std::unique_ptr<CVellumoCore> m_core;
    std::unique_ptr<CXRootChange> m_change;
    std::vector<bool> m_busy;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_questions;
    bool m_answerOk = false;
};

} // namespace

TEST_F(RootChangeTest, AMoveAcrossFileSystemsRunsWhileTheUiThreadKeepsWorking) {
    m_options.forceCopyOnMove = true;
    StartCore();
    ImportPhotos(3);
    // An import whose file is a pipe holds the move in its wait for the library to be idle
    // until the test lets the pipe end: the move is certainly running meanwhile.
    fs::path pipe = m_dir / "slow.jpg";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    m_core->ImportFileWithProgress(pipe, "localhost", "");

    std::optional<CXRootChange::Result> result;
    ASSERT_TRUE(m_change->Start(m_dir / "new", [&](const CXRootChange::Result& r) { result = r; }));
    EXPECT_EQ(m_busy, std::vector<bool>{true});
    EXPECT_TRUE(m_change->IsRunning());
    EXPECT_FALSE(m_change->Start(m_dir / "other", {})); // one change at a time
    int ticks = 0;
    for (int i = 0; i < 20; ++i) {
        m_ui.Post([&] { ++ticks; });
        m_ui.RunPending();
    }
    EXPECT_EQ(ticks, 20);
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "old");

    int writer = open(pipe.c_str(), O_WRONLY | O_CLOEXEC); // waits for the library to read
    ASSERT_GE(writer, 0);
    fs::remove(pipe);
    close(writer);
    ASSERT_TRUE(WaitFor(
        [&] {
            m_ui.Post([&] { ++ticks; });
            m_ui.RunPending();
            return result.has_value();
        },
        60s));
    EXPECT_EQ(result->change, RootChange::Done) << result->reason;
    EXPECT_EQ(m_busy, (std::vector<bool>{true, false}));
    EXPECT_FALSE(m_change->IsRunning());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "new");
    EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), m_dir / "new");
    EXPECT_EQ(CountFiles(m_dir / "new" / "Repos"), 3u);
    EXPECT_FALSE(fs::exists(m_dir / "old" / "Repos"));
    EXPECT_TRUE(m_core->Library()->IsOpen());
}

TEST_F(RootChangeTest, EveryRefusalIsToldAndChangesNothing) {
    StartCore();
    ImportPhotos(1);
    ASSERT_TRUE(WriteTestFile(m_dir / "a-file", "x"));
    ASSERT_TRUE(WriteTestFile(m_dir / "busy" / "Repos" / "someone.jpg", "x"));
    const std::vector<fs::path> refused = {m_dir / "old" / "Repos" / "inside",
                                           m_dir.Path(),
                                           m_dir / "a-file",
                                           "",
                                           "relative/photos",
                                           m_dir / "busy"};
    for (const fs::path& target : refused) {
        SCOPED_TRACE(target);
        m_messages.clear();
        m_busy.clear();
        CXRootChange::Result result = MoveAndWait(target);
        EXPECT_EQ(result.change, RootChange::Refused);
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_EQ(m_messages[0], CXRootChange::MessageText(result));
        EXPECT_NE(m_messages[0].find(target.empty() ? "没有选择存储目录" : target.string()),
                  std::string::npos)
            << m_messages[0];
        EXPECT_FALSE(result.reason.empty());
        EXPECT_EQ(m_busy, (std::vector<bool>{true, false}));
        EXPECT_EQ(m_core->GetRootPath(), m_dir / "old");
        EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), m_dir / "old");
        EXPECT_EQ(CountFiles(m_dir / "old" / "Repos"), 1u);
        EXPECT_TRUE(m_core->Library()->IsOpen());
    }
    EXPECT_TRUE(m_questions.empty());
    EXPECT_FALSE(fs::exists(m_dir / "relative"));
}

TEST_F(RootChangeTest, AFailedMoveIsRolledBackAndTold) {
    // The pointer file cannot be written (its folder is a regular file).
    ASSERT_TRUE(WriteTestFile(m_dir / "blocker", "x"));
    m_options.pointerFile = m_dir / "blocker" / "Vellumo.cfg";
    StartCore();
    ImportPhotos(2);
    fs::path root = m_core->GetRootPath();
    CXRootChange::Result result = MoveAndWait(m_dir / "new");
    EXPECT_EQ(result.change, RootChange::Failed);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("恢复"), std::string::npos) << m_messages[0];
    EXPECT_EQ(m_core->GetRootPath(), root);
    EXPECT_EQ(CountFiles(root / "Repos"), 2u);
    EXPECT_FALSE(fs::exists(m_dir / "new" / "Repos"));
    EXPECT_TRUE(m_core->Library()->IsOpen());
}

TEST_F(RootChangeTest, ALibraryAtTheTargetIsAdoptedOnlyWhenTheUserAgrees) {
    {
        fs::create_directories(m_dir / "carried");
        CHDBCenter other;
        other.SetServicePort(-1);
        ASSERT_EQ(other.OpenLibrary(m_dir / "carried"), 1);
        ASSERT_EQ(other.SetConfig("auth_passwd", "carried-pw"), 1);
    }
    StartCore();
    ImportPhotos(1);
    ASSERT_TRUE(m_core->SetPairingPassword("old-pw"));

    m_answerOk = false;
    CXRootChange::Result declined = MoveAndWait(m_dir / "carried");
    EXPECT_EQ(declined.change, RootChange::HoldsLibrary);
    ASSERT_EQ(m_questions.size(), 1u);
    EXPECT_EQ(m_questions[0], CXRootChange::AdoptQuestion(m_dir / "carried"));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "old");
    EXPECT_EQ(m_core->GetPairingPassword(), "old-pw");

    m_answerOk = true;
    m_busy.clear();
    CXRootChange::Result adopted = MoveAndWait(m_dir / "carried");
    EXPECT_EQ(adopted.change, RootChange::Done) << adopted.reason;
    EXPECT_EQ(adopted.kind, CXRootChange::Kind::Adopt);
    EXPECT_EQ(m_busy, (std::vector<bool>{true, false, true, false}));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "carried");
    EXPECT_EQ(ReadSettingsRoot(m_options.pointerFile), m_dir / "carried");
    EXPECT_EQ(m_core->GetPairingPassword(), "carried-pw");
    EXPECT_EQ(CountFiles(m_dir / "old" / "Repos"), 1u);
    EXPECT_TRUE(fs::is_regular_file(m_dir / "old" / "Vellumo.cfg"));
}

TEST_F(RootChangeTest, AResultArrivingAfterTheOwnerIsGoneIsDropped) {
    StartCore();
    bool called = false;
    ASSERT_TRUE(
        m_change->Start(m_dir / "new", [&](const CXRootChange::Result&) { called = true; }));
    m_change.reset(); // waits for the worker; its result is still queued
    EXPECT_GE(m_ui.RunPending(), 1u);
    EXPECT_FALSE(called);
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "new");
}
