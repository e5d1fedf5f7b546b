#include "ui/windows/CMainWnd.h"

#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIPane.h"
#include "ui/framework/UIResource.h"
#include "ui/windows/CXContentWnd.h"

CMainWnd::CMainWnd(CVellumoCore& core, UIResource& skin, CHUiDispatcher& dispatcher)
    : m_core(core), m_skin(skin), m_dispatcher(dispatcher) {}

CMainWnd::~CMainWnd() {
    // The panels ask this window for the core while they go: they go first.
    if (m_content != nullptr) {
        DestroyChild(m_content);
    }
}

IResource* CMainWnd::Skin() {
    return &m_skin;
}

bool CMainWnd::Build() {
    if (!Create(kWidth, kHeight)) {
        return false;
    }
    ApplySkin(&m_skin, "MainWindow");
    auto* title = Add<UIPane>();
    title->ApplySkin(&m_skin, "MainWindow/Title");
    title->SetLayout(13, 6, 94, 34);
    m_content = Add<CXContentWnd>(*this);
    m_content->SetAnchorTopLeft(true);
    m_content->SetLayout(5, 45, 630, 448);
    m_content->ApplySkin(&m_skin, "");
    return true;
}

void CMainWnd::ShowWindow() {
    if (!HasNative()) {
        return;
    }
    Show(true);
    Native()->Present();
}

void CMainWnd::HideWindow() {
    if (HasNative()) {
        Native()->Hide();
    }
}

void CMainWnd::OpenFromTray() {
    ShowWindow();
    m_core.AddCount(1002, 1);
}

void CMainWnd::ToggleFromTray() {
    if (IsWindowShown()) {
        HideWindow();
    } else {
        ShowWindow();
    }
}

bool CMainWnd::IsWindowShown() {
    return HasNative() && Native()->IsVisible() && !Native()->IsIconified();
}

void CMainWnd::RequestRelayout() {
    // Posted, so a panel may ask from inside its own layout or event handling.
    if (m_relayoutQueued) {
        return;
    }
    m_relayoutQueued = true;
    m_dispatcher.Post([this] {
        m_relayoutQueued = false;
        if (m_content != nullptr) {
            m_content->Relayout();
        }
    });
}

void CMainWnd::OnSystemCommand(int command) {
    switch (command) {
    case kSysCommandClose:
        if (m_hasTray) {
            HideWindow();
        } else if (m_quit) {
            m_quit();
        }
        break;
    case kSysCommandMaximize:
        if (m_settings) {
            m_settings();
        }
        break;
    default:
        UIFrameWindow::OnSystemCommand(command);
        break;
    }
}
