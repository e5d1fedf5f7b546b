// The settings window's pages over the real core on temporary roots, without a display: what
// "确定" stores, what it refuses and says, the root move on the worker, adopting a library
// already at the target, autostart that cannot be written, and what the pages show.

#include "library/CHDBCenter.h"
#include "platform/Dialogs.h"
#include "shell/AutoStart.h"
#include "shell/CVellumoCore.h"
#include "tests/support/TestDirs.h"
#include "tests/support/WaitFor.h"
#include "tests/ui/windows/TestPanelHost.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UICheckBox.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UITabCtrl.h"
#include "ui/framework/UIXEdit.h"
#include "ui/windows/CXConfig.h"
#include "ui/windows/CXConfigAbout.h"
#include "ui/windows/CXConfigFrame.h"
#include "ui/windows/CXConfigHelp.h"
#include "ui/windows/CXIntroAnimate.h"
#include "ui/windows/CXQRCodeView.h"
#include "ui/windows/PasswordHint.h"
#include "ui/windows/UIQRBtn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;

// Records the notifications the panels would get, while it exists.
class RecordingObserver final : public IObserver {
public:
    explicit RecordingObserver(CNotifyHub& hub) : m_hub(hub) {
        m_hub.Subscribe(this, NOTIFY_DEVICES_CHANGED);
        m_hub.Subscribe(this, NOTIFY_DEVICE_STATS);
    }
    ~RecordingObserver() {
        m_hub.Unsubscribe(this, NOTIFY_DEVICES_CHANGED);
        m_hub.Unsubscribe(this, NOTIFY_DEVICE_STATS);
    }
    void OnNotify(int code, const std::shared_ptr<const void>& data) override {
        std::string key = data ? *static_cast<const std::string*>(data.get()) : std::string();
        seen.push_back(std::to_string(code) + ":" + key);
    }
    bool Saw(const std::string& entry) const {
        return std::find(seen.begin(), seen.end(), entry) != seen.end();
    }
    std::vector<std::string> seen;

private:
    CNotifyHub& m_hub;
};

class SettingsPages : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DOCUMENTS_DIR", (m_dir / "docs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        DialogBackend dialogs;
        dialogs.showMessage = [this](const std::string& title, const std::string& text) {
            m_messages.push_back(title + "|" + text);
        };
        dialogs.askOkCancel = [this](const std::string&, const std::string& text) {
            m_questions.push_back(text);
            return m_answer;
        };
        dialogs.chooseFolder = [this](void*, fs::path& out) {
            out = m_chosenFolder;
            return !out.empty();
        };
        SetDialogBackend(dialogs);
        m_wasHeadless = IsHeadlessMode();
        SetHeadlessMode(false); // the dialogs above answer
        StartCore();
    }

    void TearDown() override {
        m_frame.reset();
        m_core->Stop();
        SetDialogBackend({});
        SetHeadlessMode(m_wasHeadless);
    }

    void StartCore(int port = CoreOptions::kNoService) {
        CoreOptions options;
        options.servicePort = port;
        options.startWatcher = false;
        options.checkForUpdatesAtStart = false;
        options.pointerFile = PointerFile();
        m_core = std::make_unique<CVellumoCore>(options);
        ASSERT_TRUE(m_core->Start());
        ASSERT_TRUE(m_core->SetPairingPassword("old-pass"));
        m_host = std::make_unique<TestPanelHost>(*m_core);
        ASSERT_TRUE(m_host->LoadSkin());
        m_frame = std::make_unique<CXConfigFrame>(*m_host);
        ASSERT_TRUE(m_frame->Build(false));
        m_frame->SettingsPage()->SetCloseHandler([this] { ++m_closed; });
        m_frame->ShowOver(nullptr);
    }

    fs::path PointerFile() const { return m_dir / "config" / "Vellumo" / "Vellumo.cfg"; }
    CXConfig& Page() { return *m_frame->SettingsPage(); }
    std::string StoredAutoStart() { return m_core->Library()->GetConfig("autoStartup"); }
    int AutoStartUses() { return m_core->Counters().BuildReport("pc")["1003"].asInt(); }

    // "确定", then the UI queue until the page is no longer busy.
    void ConfirmAndWait() {
        Page().Confirm();
        ASSERT_TRUE(WaitFor(
            [&] {
                m_host->Drain();
                return !Page().IsBusy();
            },
            30s));
    }

    TempDir m_dir{"vellumo-settings"};
    std::unique_ptr<CVellumoCore> m_core;
    std::unique_ptr<TestPanelHost> m_host;
    std::unique_ptr<CXConfigFrame> m_frame;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_questions;
    bool m_answer = false;
    fs::path m_chosenFolder;
    int m_closed = 0;
    bool m_wasHeadless = false;
};

TEST_F(SettingsPages, ShowingReloadsTheStoredValuesAndTheTabsShowOnePageEach) {
    EXPECT_EQ(Page().StorageBox()->Text(), m_core->GetRootPath().string());
    EXPECT_EQ(Page().PasswordBox()->Text(), "old-pass");
    EXPECT_FALSE(Page().AutoStartBox()->IsChecked());
    EXPECT_EQ(Page().PasswordBox()->MaxLength(), 20);

    UITabCtrl* tabs = m_frame->Tabs();
    ASSERT_EQ(tabs->Items().size(), 3u);
    EXPECT_TRUE(tabs->IsVertical());
    EXPECT_EQ(m_frame->CurrentPage(), CXConfigFrame::kSettingsTab);
    EXPECT_EQ(m_frame->HelpPage()->Carousel(), nullptr) << "the carousel waits for its page";
    m_frame->SelectPage(CXConfigFrame::kHelpTab);
    EXPECT_FALSE(Page().IsVisible());
    EXPECT_FALSE(m_frame->AboutPage()->IsVisible());
    ASSERT_NE(m_frame->HelpPage()->Carousel(), nullptr);
    // The index marks stay inside the page, where they can be seen and clicked.
    EXPECT_LE(m_frame->HelpPage()->Carousel()->Rect().bottom, m_frame->HelpPage()->Rect().bottom);

    // Values changed elsewhere (and a half-typed password) are replaced by the next showing.
    m_core->Library()->SetConfig("autoStartup", "True");
    ASSERT_TRUE(m_core->SetPairingPassword("newer"));
    Page().PasswordBox()->SetEditText("typed");
    m_frame->ShowOver(nullptr);
    EXPECT_EQ(m_frame->CurrentPage(), CXConfigFrame::kSettingsTab);
    EXPECT_TRUE(Page().IsVisible());
    EXPECT_EQ(Page().PasswordBox()->Text(), "newer");
    EXPECT_TRUE(Page().AutoStartBox()->IsChecked());
    EXPECT_EQ(m_frame->HelpPage()->Carousel()->IsVisible(), false);
}

TEST_F(SettingsPages, AnEmptyPasswordStoresNothingAndKeepsThePageOpen) {
    UIXEdit* box = Page().PasswordBox();
    box->SetEditText("");
    EXPECT_EQ(Page().HintLabel()->Text(), kPasswordEmptyHint);
    EXPECT_FALSE(Page().OkButton()->IsEnabled());
    Page().Confirm();
    EXPECT_EQ(m_core->GetPairingPassword(), "old-pass");
    EXPECT_EQ(m_closed, 0);
    EXPECT_EQ(box->FocusedElement(), box) << "the box keeps the focus for the password";

    // Typed characters: no blanks, at most twenty.
    for (char32_t c : std::u32string(U"new pass 1234567890ABCDEFG")) {
        box->OnElementChar(c);
    }
    EXPECT_EQ(box->Text(), "newpass1234567890ABC");
    EXPECT_EQ(Page().HintLabel()->Text(), kPasswordHint);
    EXPECT_TRUE(Page().OkButton()->IsEnabled());
    ConfirmAndWait();
    EXPECT_EQ(m_core->GetPairingPassword(), "newpass1234567890ABC");
    EXPECT_EQ(m_closed, 1);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(SettingsPages, RefusedFoldersAreToldAndChangeNothing) {
    fs::path root = m_core->GetRootPath();
    std::string pointer = ReadTestFile(PointerFile());
    ASSERT_TRUE(WriteTestFile(m_dir / "plain-file", "x"));
    const std::vector<std::string> refused = {
        (root / "inside").string(),      // inside the current root
        root.parent_path().string(),     // around it
        (m_dir / "plain-file").string(), // not a folder
        "",                              // nothing
    };
    for (const std::string& target : refused) {
        SCOPED_TRACE(target);
        m_messages.clear();
        Page().StorageBox()->SetEditText(target);
        Page().PasswordBox()->SetEditText("changed");
        ConfirmAndWait();
        ASSERT_EQ(m_messages.size(), 1u) << "a refusal is told";
        EXPECT_NE(m_messages[0].find("没有做任何更改"), std::string::npos) << m_messages[0];
        EXPECT_EQ(m_closed, 0) << "the page stays open";
        EXPECT_EQ(Page().StorageBox()->Text(), target) << "with the text kept";
        EXPECT_EQ(m_core->GetRootPath(), root);
        EXPECT_EQ(ReadTestFile(PointerFile()), pointer);
        EXPECT_EQ(m_core->GetPairingPassword(), "old-pass") << "nothing else is applied";
        EXPECT_TRUE(Page().StorageBox()->IsEnabled());
    }
}

TEST_F(SettingsPages, TheFolderMovesWithItsPhotosAndTheChooserFillsTheBox) {
    fs::path oldRoot = m_core->GetRootPath();
    ASSERT_TRUE(WriteTestFile(oldRoot / "Repos" / "local" / "photo.jpg", "jpeg"));
    m_chosenFolder = m_dir / "elsewhere" / "Vellumo";
    fs::create_directories(m_chosenFolder);
    ASSERT_NE(Page().NotifyParent(Page().StorageBox(), kNotifyCommand, CXConfig::kChangeFolderId),
              0);
    EXPECT_EQ(Page().StorageBox()->Text(), m_chosenFolder.string());
    Page().PasswordBox()->SetEditText("moved-pass");

    Page().Confirm();
    EXPECT_TRUE(Page().IsBusy());
    EXPECT_FALSE(Page().OkButton()->IsEnabled());
    EXPECT_FALSE(Page().CancelButton()->IsEnabled());
    EXPECT_FALSE(Page().StorageBox()->IsEnabled());
    EXPECT_TRUE(Page().BusyAnimation()->IsRunning());
    Page().Cancel();
    EXPECT_EQ(m_closed, 0) << "a running move cannot be walked away from";
    ASSERT_TRUE(WaitFor(
        [&] {
            m_host->Drain();
            return !Page().IsBusy();
        },
        30s));

    EXPECT_TRUE(m_messages.empty()) << m_messages.front();
    EXPECT_EQ(m_closed, 1);
    EXPECT_EQ(m_core->GetRootPath(), m_chosenFolder);
    EXPECT_EQ(ReadTestFile(m_chosenFolder / "Repos" / "local" / "photo.jpg"), "jpeg");
    EXPECT_FALSE(fs::exists(oldRoot / "Repos" / "local" / "photo.jpg"));
    EXPECT_EQ(m_core->GetPairingPassword(), "moved-pass");
    EXPECT_FALSE(Page().BusyAnimation()->IsRunning());
    EXPECT_TRUE(Page().OkButton()->IsEnabled());
}

TEST_F(SettingsPages, ALibraryFoundAtTheFolderIsUsedAsItIsWhenTheUserAgrees) {
    fs::path carried = m_dir / "carried";
    {
        fs::create_directories(carried);
        CHDBCenter other;
        other.SetServicePort(-1);
        ASSERT_EQ(other.OpenLibrary(carried), 1);
        ASSERT_EQ(other.SetConfig("auth_passwd", "carried-pw"), 1);
        ASSERT_EQ(other.SetAuth("carried-phone", 1, "Carried"), 1);
    }
    RecordingObserver panels(m_core->Hub());
    fs::path oldRoot = m_core->GetRootPath();
    Page().StorageBox()->SetEditText(carried.string());
    m_answer = false;
    ConfirmAndWait();
    EXPECT_EQ(m_questions.size(), 1u);
    EXPECT_EQ(m_closed, 0) << "declined: the page stays open";
    EXPECT_EQ(m_core->GetRootPath(), oldRoot);
    EXPECT_EQ(Page().StorageBox()->Text(), carried.string());

    // Agreed, with the password box as it was loaded: the library keeps its own password.
    m_answer = true;
    ConfirmAndWait();
    EXPECT_EQ(m_questions.size(), 2u);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_closed, 1);
    EXPECT_EQ(m_core->GetRootPath(), carried);
    EXPECT_EQ(m_core->GetPairingPassword(), "carried-pw");
    // The panels learn of the other library's phones and totals.
    EXPECT_TRUE(panels.Saw("0:"));
    EXPECT_TRUE(panels.Saw("1:localhost"));
    EXPECT_TRUE(panels.Saw("1:carried-phone"));

    // Back to the first library, this time with a password typed: that one is stored there.
    m_frame->ShowOver(nullptr);
    Page().StorageBox()->SetEditText(oldRoot.string());
    Page().PasswordBox()->SetEditText("typed-pw");
    ConfirmAndWait();
    EXPECT_EQ(m_core->GetRootPath(), oldRoot);
    EXPECT_EQ(m_core->GetPairingPassword(), "typed-pw");
    EXPECT_EQ(m_closed, 2);
}

TEST_F(SettingsPages, AutostartIsStoredAsOnOnlyWhenItsEntryWasWritten) {
    // A file where the autostart folder belongs: the entry cannot be written.
    fs::path autostart = m_dir / "config" / "autostart";
    ASSERT_TRUE(WriteTestFile(autostart, "in the way"));
    Page().AutoStartBox()->SetChecked(true);
    ConfirmAndWait();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("开机时自动运行"), std::string::npos);
    EXPECT_FALSE(Page().AutoStartBox()->IsChecked());
    EXPECT_NE(StoredAutoStart(), "True");
    EXPECT_EQ(AutoStartUses(), 0);
    EXPECT_EQ(m_closed, 0);

    fs::remove(autostart);
    m_messages.clear();
    Page().AutoStartBox()->SetChecked(true);
    ConfirmAndWait();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(fs::exists(AutoStartEntryPath()));
    EXPECT_EQ(StoredAutoStart(), "True");
    EXPECT_EQ(AutoStartUses(), 1);
    EXPECT_EQ(m_closed, 1);

    m_frame->ShowOver(nullptr);
    EXPECT_TRUE(Page().AutoStartBox()->IsChecked());
    ConfirmAndWait();
    EXPECT_EQ(AutoStartUses(), 1) << "counted when it was not on before, only";

    Page().AutoStartBox()->SetChecked(false);
    ConfirmAndWait();
    EXPECT_FALSE(fs::exists(AutoStartEntryPath()));
    EXPECT_EQ(StoredAutoStart(), "");
}

bool Overlap(const CHRect& a, const CHRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Inside(const CHRect& inner, const CHRect& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

TEST_F(SettingsPages, TheHelpPageShowsTheWholeCarouselWithItsLinkClearOfSlidesAndMarks) {
    m_frame->SelectPage(CXConfigFrame::kHelpTab);
    CXConfigHelp* help = m_frame->HelpPage();
    CXIntroAnimate* carousel = help->Carousel();
    ASSERT_NE(carousel, nullptr);
    const CHRect& page = help->Rect();
    const CHRect& window = m_frame->Rect();
    EXPECT_TRUE(Inside(page, window));
    EXPECT_LE(page.bottom, m_frame->Tabs()->Rect().bottom) << "no lower than the tab column";
    EXPECT_EQ(RectHeight(carousel->Rect()), 275) << "the carousel is not cut";
    EXPECT_TRUE(Inside(carousel->Rect(), page));

    // Each slide picture carries its caption in a line 175..205 pixels into its 220.
    CHRect slide = carousel->SlideRect(carousel->Current());
    ASSERT_EQ(RectHeight(slide), 220);
    CHRect caption{slide.left, slide.top + 175, slide.right, slide.top + 205};
    CHRect link = help->MoreLink()->Rect();
    EXPECT_TRUE(Inside(link, page)) << "the link is not cut either";
    EXPECT_FALSE(Overlap(link, slide));
    for (int i = 0; i < CXIntroAnimate::kSlides; ++i) {
        CHRect mark = carousel->MarkRect(i);
        EXPECT_TRUE(Inside(mark, carousel->Rect())) << "mark " << i;
        EXPECT_FALSE(Overlap(mark, caption)) << "mark " << i;
        EXPECT_FALSE(Overlap(mark, link)) << "mark " << i;
    }
    // The other pages keep their place.
    EXPECT_EQ(RectHeight(Page().Rect()), 290);
}

TEST_F(SettingsPages, TheAboutAndHelpPagesShowTheVersionAndTheCurrentAddresses) {
    m_frame.reset();
    m_core->Stop();
    StartCore(0); // a service on an ephemeral port: its own pages are the addresses
    ASSERT_GT(m_core->WaitServicePort(10000), 0);
    CXConfigAbout* about = m_frame->AboutPage();
    m_frame->SelectPage(CXConfigFrame::kAboutTab);
    std::vector<std::string> texts;
    for (UILabel* label : about->Labels()) {
        texts.push_back(label->Text());
    }
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "Vellumo");
    EXPECT_EQ(texts[1], "版本号: v1.2");
    std::string site = m_core->SiteAddressNow(SiteLink::ProductSite);
    ASSERT_FALSE(site.empty());
    EXPECT_EQ(about->SiteButton()->Text(), site);
    EXPECT_TRUE(about->SiteButton()->IsVisible());
    EXPECT_EQ(about->QrButton()->Link()->Text(), "扫一扫下载Vellumo App");

    // The code is made on the first click and rebuilt on every later one: one bubble.
    EXPECT_EQ(about->QrView(), nullptr);
    about->NotifyParent(about->QrButton(), kNotifyCommand, CXConfigAbout::kQrButtonId);
    CXQRCodeView* view = about->QrView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->QrText(), m_core->SiteAddressNow(SiteLink::AppStore));
    EXPECT_TRUE(view->Caption().empty());
    view->Show(false);
    about->ShowDownloadCode();
    EXPECT_EQ(about->QrView(), view);
    EXPECT_TRUE(view->IsVisible());

    EXPECT_EQ(m_frame->HelpPage()->MoreAddress(), m_core->SiteAddressNow(SiteLink::UsagePage));
    EXPECT_EQ(m_frame->HelpPage()->MoreLink()->Text(), "查看更多");
}

} // namespace
