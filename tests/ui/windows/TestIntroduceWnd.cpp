// The first-run wizard over the real core on temporary roots, without a display: the test
// thread is the UI thread, and message boxes and choosers go to a recording dialog backend.

#include "platform/Dialogs.h"
#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "shell/IObserver.h"
#include "shell/StoragePaths.h"
#include "tests/support/TestDirs.h"
#include "tests/support/WaitFor.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UIXEdit.h"
#include "ui/windows/CXAppstoreQR.h"
#include "ui/windows/CXIntroduceWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;

DriveTile Tile(const fs::path& point, uint64_t freeGiB, bool home = false) {
    return {point, point.filename().string(), 1000ull << 30, freeGiB << 30, home};
}

// Counts the device-list notifications the main window's panels would get.
class DeviceListWatch final : public IObserver {
public:
    explicit DeviceListWatch(CNotifyHub& hub) : m_hub(hub) {
        m_hub.Subscribe(this, NOTIFY_DEVICES_CHANGED);
    }
    ~DeviceListWatch() { m_hub.Unsubscribe(this, NOTIFY_DEVICES_CHANGED); }
    void OnNotify(int, const std::shared_ptr<const void>&) override { ++count; }
    std::atomic<int> count{0};

private:
    CNotifyHub& m_hub;
};

class IntroduceTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DOCUMENTS_DIR", (m_dir / "docs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        CoreOptions options;
        options.servicePort = CoreOptions::kNoService;
        options.startWatcher = false;
        options.checkForUpdatesAtStart = false;
        options.pointerFile = m_dir / "config" / "Vellumo" / "Vellumo.cfg";
        m_pointer = options.pointerFile;
        m_core = std::make_unique<CVellumoCore>(options);
        ASSERT_TRUE(m_core->Start());
        ASSERT_TRUE(m_core->IsFirstRun());
        m_firstPassword = m_core->EnsurePairingPassword();
        std::string package = std::string(VELLUMO_BINARY_DIR) + "/resources/vellumo.uir";
        ASSERT_TRUE(m_skin.LoadFromFile(package)) << package;
        SetHeadlessMode(false);
        DialogBackend backend;
        backend.showMessage = [this](const std::string&, const std::string& text) {
            m_messages.push_back(text);
        };
        backend.askOkCancel = [this](const std::string&, const std::string&) {
            ++m_questions;
            return m_answerOk;
        };
        backend.chooseFolder = [this](void*, fs::path& out) {
            out = m_chosen;
            return !m_chosen.empty();
        };
        SetDialogBackend(backend);
        m_disks = {Tile(m_dir / "diskA", 40), Tile(m_dir / "diskB", 90),
                   Tile(m_dir / "home", 20, true)};
    }
    void TearDown() override {
        m_wizard.reset();
        m_core.reset();
        SetDialogBackend({});
        SetHeadlessMode(true);
    }

    void Open(std::vector<DriveTile> drives, int recommended) {
        DriveList list;
        list.drives = std::move(drives);
        list.recommended = recommended;
        m_wizard = std::make_unique<CXIntroduceWnd>(*m_core, m_skin, m_ui, list);
        m_wizard->Build();
    }

    // Runs UI tasks until the wizard has no root change running.
    void Settle() {
        ASSERT_TRUE(WaitFor(
            [&] {
                m_ui.RunPending();
                return !m_wizard->IsBusy();
            },
            30s));
    }

    void NextAndSettle() {
        m_wizard->Next();
        Settle();
    }

    TempDir m_dir{"vellumo-wizard"};
    fs::path m_pointer;
    CHUiDispatcher m_ui;
    UIResource m_skin;
    std::unique_ptr<CVellumoCore> m_core;
    std::unique_ptr<CXIntroduceWnd> m_wizard;
    std::vector<DriveTile> m_disks;
    std::string m_firstPassword;
    std::vector<std::string> m_messages;
    int m_questions = 0;
    bool m_answerOk = false;
    fs::path m_chosen;
};

bool Overlap(const CHRect& a, const CHRect& b) {
    return !RectEmpty(RectIntersect(a, b));
}

} // namespace

TEST(WizardPaths, ChoosingADriveCarriesTheFoldersBelowItsMountPoint) {
    DriveTile d = Tile("/media/d", 1), e = Tile("/media/e", 1), home = Tile("/", 1, true);
    const fs::path docs = "/home/u/Documents/Vellumo";
    EXPECT_EQ(ProposedFolder(d, docs), "/media/d/Vellumo");
    EXPECT_EQ(ProposedFolder(home, docs), docs);
    EXPECT_EQ(ProposedFolder(home, ""), "/Vellumo");
    // A typed path on the old drive moves over with its folders.
    EXPECT_EQ(RetargetPath("/media/d/Photos/Vellumo", &d, e, docs), "/media/e/Photos/Vellumo");
    EXPECT_EQ(RetargetPath("/media/d", &d, e, docs), "/media/e");
    // An untouched proposal becomes the new drive's proposal, both ways round.
    EXPECT_EQ(RetargetPath(docs.string(), &home, e, docs), "/media/e/Vellumo");
    EXPECT_EQ(RetargetPath("/media/e/Vellumo/", &e, home, docs), docs.string());
    // A path on no drive chosen so far, or no drive chosen: the proposal.
    EXPECT_EQ(RetargetPath("/srv/x", &d, e, docs), "/media/e/Vellumo");
    EXPECT_EQ(RetargetPath("/srv/x", nullptr, e, docs), "/media/e/Vellumo");
    // "/media/dx" is not on "/media/d".
    EXPECT_EQ(RetargetPath("/media/dx/Photos", &d, e, docs), "/media/e/Vellumo");
    EXPECT_EQ(RetargetPath("", &d, e, docs), "");
}

TEST_F(IntroduceTest, TilesRowsAndTheFolderRowStayClearOfTheNextButton) {
    for (size_t count : {size_t{1}, size_t{4}, size_t{5}, size_t{8}}) {
        SCOPED_TRACE(count);
        std::vector<DriveTile> drives;
        for (size_t i = 0; i < count; ++i) {
            drives.push_back(Tile(m_dir / ("d" + std::to_string(i)), 10 + i));
        }
        Open(drives, static_cast<int>(count) - 1);
        EXPECT_EQ(m_wizard->FolderRowY(), count > 4 ? 380 : 285);
        if (count >= 5) {
            // The fifth tile starts the second row.
            EXPECT_EQ(m_wizard->TileRect(4).left, 85);
            EXPECT_EQ(m_wizard->TileRect(4).top, 260);
        }
        CHRect lastTile = m_wizard->TileRect(static_cast<int>(count) - 1);
        const CHRect next = m_wizard->NextButton()->Rect();
        EXPECT_EQ(next.top, CXIntroduceWnd::kHeight - 90);
        for (const auto& child : m_wizard->Children()) {
            if (child->Rect().top == m_wizard->FolderRowY()) {
                EXPECT_FALSE(Overlap(child->Rect(), next));
                EXPECT_GE(child->Rect().top, lastTile.bottom);
            }
        }
        EXPECT_EQ(m_wizard->PathText(), (drives.back().mountPoint / "Vellumo").string());
    }
}

TEST_F(IntroduceTest, WithoutAnyDriveTheBoxHoldsTheDefaultStorageRoot) {
    Open({}, -1);
    EXPECT_EQ(m_wizard->PathText(), (m_dir / "docs" / "Vellumo").string());
    EXPECT_TRUE(fs::path(m_wizard->PathText()).is_absolute());
}

TEST_F(IntroduceTest, TileClicksAndTheFolderChooserSetTheBox) {
    Open(m_disks, 1);
    EXPECT_EQ(m_wizard->PathText(), (m_dir / "diskB" / "Vellumo").string());
    CHRect home = m_wizard->TileRect(2);
    EXPECT_TRUE(m_wizard->OnElementLButtonUp(home.left + 50, home.top + 50));
    EXPECT_EQ(m_wizard->SelectedDrive(), 2);
    EXPECT_EQ(m_wizard->PathText(), (m_dir / "docs" / "Vellumo").string());
    // Between tiles nothing is hit.
    EXPECT_FALSE(m_wizard->OnElementLButtonUp(home.left - 10, home.top + 50));

    m_chosen = m_dir / "diskA" / "Photos";
    m_wizard->ChangeFolder();
    EXPECT_EQ(m_wizard->PathText(), m_chosen.string());
    EXPECT_EQ(m_wizard->SelectedDrive(), 0);
    m_wizard->SelectDrive(1);
    EXPECT_EQ(m_wizard->PathText(), (m_dir / "diskB" / "Photos").string());
    // A cancelled chooser changes nothing.
    m_chosen.clear();
    m_wizard->ChangeFolder();
    EXPECT_EQ(m_wizard->PathText(), (m_dir / "diskB" / "Photos").string());
}

TEST_F(IntroduceTest, TheWholeWayMovesTheLibraryAndStoresTheTypedPassword) {
    Open(m_disks, 1);
    fs::path oldRoot = m_core->GetRootPath();
    m_wizard->Next();
    EXPECT_TRUE(m_wizard->IsBusy());
    EXPECT_FALSE(m_wizard->NextButton()->IsEnabled());
    Settle();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_wizard->Step(), 1);
    EXPECT_TRUE(m_wizard->NextButton()->IsEnabled());
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "diskB" / "Vellumo");
    EXPECT_EQ(ReadSettingsRoot(m_pointer), m_dir / "diskB" / "Vellumo");
    EXPECT_TRUE(fs::is_regular_file(m_dir / "diskB" / "Vellumo" / "Vellumo.cfg"));
    EXPECT_FALSE(fs::exists(oldRoot / "Vellumo.cfg"));
    EXPECT_EQ(m_wizard->NextButton()->Text(), "已经下载App, 下一步");
    EXPECT_TRUE(m_wizard->StoreCode()->IsVisible());
    EXPECT_EQ(m_wizard->StoreCode()->Address(), m_core->SiteAddressNow(SiteLink::AppStoreWizard));

    NextAndSettle();
    ASSERT_EQ(m_wizard->Step(), 2);
    UIXEdit* box = m_wizard->PasswordBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->MaxLength(), 20);
    EXPECT_EQ(m_wizard->FocusedElement(), box);
    EXPECT_EQ(m_wizard->NextButton()->Text(), "开始体验");

    // Finishing with an empty box stores nothing, warns and keeps the focus in the box.
    m_wizard->FocusedElement();
    m_wizard->NextButton()->SetFocus();
    m_wizard->Next();
    EXPECT_FALSE(m_wizard->IsFinished());
    EXPECT_EQ(m_core->GetPairingPassword(), m_firstPassword);
    EXPECT_EQ(m_wizard->HintLabel()->Text(), "密码20位以内, 不能为空");
    EXPECT_EQ(m_wizard->FocusedElement(), box);
    // The close button in this step is the same as finishing.
    m_wizard->OnSystemCommand(kSysCommandClose);
    EXPECT_FALSE(m_wizard->IsFinished());

    box->SetEditText("tulip42");
    EXPECT_EQ(m_wizard->HintLabel()->Text(), "20位以内");
    m_wizard->Next();
    EXPECT_TRUE(m_wizard->IsFinished());
    EXPECT_EQ(m_core->GetPairingPassword(), "tulip42");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(IntroduceTest, ARefusedFolderKeepsTheStepAndTheText) {
    Open(m_disks, 1);
    fs::path root = m_core->GetRootPath();
    const std::string inside = (root / "Repos" / "photos").string();
    m_wizard->SetPathText(inside);
    NextAndSettle();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find(inside), std::string::npos);
    EXPECT_EQ(m_wizard->Step(), 0);
    EXPECT_EQ(m_wizard->PathText(), inside);
    EXPECT_TRUE(m_wizard->NextButton()->IsEnabled());
    EXPECT_EQ(m_core->GetRootPath(), root);
    EXPECT_FALSE(fs::exists(m_pointer));
}

TEST_F(IntroduceTest, AFolderHoldingALibraryIsAdoptedWhenTheUserAgrees) {
    {
        CHDBCenter other;
        other.SetServicePort(-1);
        fs::create_directories(m_dir / "carried");
        ASSERT_EQ(other.OpenLibrary(m_dir / "carried"), 1);
        ASSERT_EQ(other.SetConfig("auth_passwd", "carried-pw"), 1);
    }
    DeviceListWatch panels(m_core->Hub());
    Open(m_disks, 1);
    m_wizard->SetPathText((m_dir / "carried").string());
    m_answerOk = false;
    NextAndSettle();
    EXPECT_EQ(m_questions, 1);
    EXPECT_EQ(m_wizard->Step(), 0);
    EXPECT_EQ(panels.count, 0);
    m_answerOk = true;
    NextAndSettle();
    EXPECT_EQ(m_questions, 2);
    EXPECT_EQ(m_wizard->Step(), 1);
    EXPECT_EQ(panels.count, 1) << "the panels read the adopted library's phones";
    EXPECT_EQ(m_core->GetRootPath(), m_dir / "carried");
    EXPECT_EQ(m_core->GetPairingPassword(), "carried-pw");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(IntroduceTest, ClosingEarlyAppliesTheFolderAndStoresARandomPassword) {
    // Step 0: the proposed folder is applied, then a random password from the core.
    Open(m_disks, 0);
    m_wizard->OnSystemCommand(kSysCommandClose);
    Settle();
    EXPECT_TRUE(m_wizard->IsFinished());
    EXPECT_EQ(ReadSettingsRoot(m_pointer), m_dir / "diskA" / "Vellumo");
    std::string password = m_core->GetPairingPassword();
    EXPECT_EQ(password.size(), 8u);
    EXPECT_EQ(password.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_NE(password, m_firstPassword);

    // Step 1: only the password.
    Open(m_disks, 1);
    NextAndSettle();
    ASSERT_EQ(m_wizard->Step(), 1);
    m_wizard->OnSystemCommand(kSysCommandClose);
    EXPECT_TRUE(m_wizard->IsFinished());
    EXPECT_NE(m_core->GetPairingPassword(), password);
}

TEST_F(IntroduceTest, ClosingWithARefusedFolderTellsWhyAndKeepsTheCurrentRoot) {
    Open(m_disks, 1);
    fs::path root = m_core->GetRootPath();
    m_wizard->SetPathText((m_dir / "a-file").string());
    ASSERT_TRUE(WriteTestFile(m_dir / "a-file", "x"));
    m_wizard->OnSystemCommand(kSysCommandClose);
    Settle();
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(m_wizard->IsFinished());
    EXPECT_EQ(m_core->GetRootPath(), root);
    // The folder in use is recorded, so the next start is not a first run again.
    EXPECT_EQ(ReadSettingsRoot(m_pointer), root);
    EXPECT_NE(m_core->GetPairingPassword(), m_firstPassword);
}
