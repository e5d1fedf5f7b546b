#include "ui/windows/CXConfigFrame.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIPane.h"
#include "ui/framework/UITabCtrl.h"
#include "ui/windows/CXConfig.h"
#include "ui/windows/CXConfigAbout.h"
#include "ui/windows/CXConfigHelp.h"
#include "ui/windows/IPanelHost.h"

namespace {

// Every page lies right of the tab control.
void PlacePage(UIObject& page, int height = 290) {
    page.SetAnchorTopLeft(true);
    page.SetLayout(101, 45, 430, height);
}

} // namespace

CXConfigFrame::CXConfigFrame(IPanelHost& host) : m_host(host) {}

CXConfigFrame::~CXConfigFrame() = default;

bool CXConfigFrame::Build(bool createWindow) {
    if (createWindow && !Create(kWidth, kHeight)) {
        return false;
    }
    if (!createWindow) {
        MoveTo({0, 0, kWidth, kHeight});
    }
    IResource* skin = m_host.Skin();
    ApplySkin(skin, "Config/ConfigWindow");
    auto* title = Add<UIPane>();
    title->ApplySkin(skin, "Config/ConfigWindow/Title");
    auto* caption = Add<UILabel>();
    caption->ApplySkin(skin, "Config/Label");
    caption->SetText("设置");
    caption->SetAnchorTopLeft(true);
    caption->SetLayout(40, 6, 100, 37);

    m_tabs = Add<UITabCtrl>();
    m_tabs->ApplySkin(skin, "Config/Tab");
    m_tabs->SetAnchorTopLeft(true);
    m_tabs->SetLayout(6, 45, 100, 350);
    m_tabs->SetItemSize(kTabItemHeight); // the skin's item picture is a stretchable strip
    m_tabs->AddItem(kSettingsTab, "设置");
    m_tabs->AddItem(kAboutTab, "关于");
    m_tabs->AddItem(kHelpTab, "帮助");

    m_settings = Add<CXConfig>(m_host);
    PlacePage(*m_settings);
    m_settings->ApplySkin(skin, "");
    m_settings->SetCloseHandler([this] { OnSystemCommand(kSysCommandClose); });
    m_about = Add<CXConfigAbout>(m_host);
    PlacePage(*m_about);
    m_about->ApplySkin(skin, "");
    m_help = Add<CXConfigHelp>(m_host);
    PlacePage(*m_help, CXConfigHelp::kPageHeight);
    m_help->ApplySkin(skin, "");
    SelectPage(kSettingsTab);
    return true;
}

bool CXConfigFrame::SelectPage(int tabId) {
    UIObject* pages[] = {m_settings, m_about, m_help};
    if (tabId < kSettingsTab || tabId > kHelpTab) {
        return false;
    }
    m_tabs->SelectById(tabId);
    for (int i = 0; i < 3; ++i) {
        pages[i]->Show(kSettingsTab + i == tabId);
    }
    Invalidate();
    return true;
}

int CXConfigFrame::CurrentPage() const {
    return m_tabs != nullptr ? m_tabs->CurrentId() : 0;
}

void CXConfigFrame::ShowOver(INativeWindow* owner) {
    bool shown = HasNative() && Native()->IsVisible();
    if (!shown) {
        // A new showing starts from the stored values; an open window keeps what was typed.
        m_settings->Reload();
        SelectPage(kSettingsTab);
    }
    if (!HasNative()) {
        return;
    }
    if (!shown) {
        CenterOver(owner);
    }
    Show(true);
    Native()->Present();
}

void CXConfigFrame::CenterOver(INativeWindow* owner) {
    if (owner == nullptr || !owner->IsVisible() || owner->IsIconified()) {
        CenterOnScreen();
        return;
    }
    NativeRect frame = owner->Frame();
    Native()->Move(frame.x + (frame.width - kWidth) / 2, frame.y + (frame.height - kHeight) / 2);
}

int CXConfigFrame::NotifyParent(UIObject* source, int code, int id) {
    if (source == m_tabs && code == kNotifyCommand) {
        SelectPage(id);
        return 1;
    }
    return UIFrameWindow::NotifyParent(source, code, id);
}
