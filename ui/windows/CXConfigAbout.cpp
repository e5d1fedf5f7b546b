#include "ui/windows/CXConfigAbout.h"

#include "platform/Spawn.h"
#include "platform/Version.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinPaths.h"
#include "ui/framework/UISkinText.h"
#include "ui/windows/CXQRCodeView.h"
#include "ui/windows/IPanelHost.h"
#include "ui/windows/UIQRBtn.h"

#include <algorithm>

namespace {

constexpr int kLogoTop = 65;
constexpr int kLabelX = 45;
constexpr int kLabelWidth = 340;
constexpr int kLabelHeight = 30;
constexpr int kSiteX = 160;
constexpr int kSiteMinWidth = 110;
constexpr int kSitePadding = 16;

} // namespace

CXConfigAbout::CXConfigAbout(IPanelHost& host) : m_host(host) {}

bool CXConfigAbout::ApplySkin(IResource* resource, std::string_view path,
                              const Json::Value* start) {
    UIObject::ApplySkin(resource, path, start);
    m_skin = resource;
    BuildContent(resource);
    m_qrButton = Add<UIQRBtn>();
    m_qrButton->ApplySkin(resource, "");
    m_qrButton->SetId(kQrButtonId);
    m_qrButton->SetLayout(130, -130, 180, 30);
    m_qrButton->SetLinkText("扫一扫下载Vellumo App");
    return true;
}

UILabel* CXConfigAbout::AddLabel(IResource* resource, const char* style, std::string text, int y) {
    auto* label = Add<UILabel>();
    label->ApplySkin(resource, style);
    label->SetText(std::move(text));
    label->SetLayout(kLabelX, y, kLabelWidth, kLabelHeight);
    m_labels.push_back(label);
    return label;
}

void CXConfigAbout::BuildContent(IResource* resource) {
    m_logo = resource->GetImageStyle("About/Logo", nullptr);
    AddLabel(resource, "About/LabelTitle", "Vellumo", -180);
    AddLabel(resource, "About/LabelNormal", std::string("版本号: v") + kVellumoVersion, -160);
    AddLabel(resource, "About/LabelNormal", kNoticeChinese, -90);
    AddLabel(resource, "About/LabelNormal", kNoticeEnglish, -70);
    m_site = Add<UIButton>();
    m_site->ApplySkin(resource, "About/LinkButton");
    m_siteFont = resource->GetFont(SkinPaths::kFontRegular14);
    m_site->SetId(kSiteButtonId);
    RefreshSiteLink();
}

void CXConfigAbout::RefreshSiteLink() {
    if (m_site == nullptr) {
        return;
    }
    std::string address = m_host.Core().SiteAddressNow(SiteLink::ProductSite);
    m_site->SetText(address);
    // An address is longer than the classic caption: the button grows to show all of it.
    int room = std::max(kSiteMinWidth, RectWidth(Rect()) - kSiteX - 10);
    int width =
        std::clamp(MeasureSkinTextWidth(address, m_siteFont) + kSitePadding, kSiteMinWidth, room);
    m_site->SetLayout(kSiteX, -45, width, 30);
    m_site->Show(!address.empty()); // a link to nowhere is not offered
}

void CXConfigAbout::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    DrawImageStyleAt(cr, rect.left + (RectWidth(rect) - m_logo.bgW) / 2, rect.top + kLogoTop,
                     m_logo);
}

void CXConfigAbout::OnShown(bool visible) {
    if (visible) {
        RefreshSiteLink();
    } else if (m_qrView != nullptr) {
        m_qrView->Show(false);
    }
}

void CXConfigAbout::ShowDownloadCode() {
    if (m_qrView == nullptr) {
        m_qrView = Add<CXQRCodeView>();
        m_qrView->ApplySkin(m_skin, "");
        m_qrView->SetLayout(125, 35, 180, 187);
        m_qrView->SetArrowOnTop(false);
        m_qrView->SetCaption("");
    } else {
        m_qrView->Show(true);
        BringToFront(m_qrView);
    }
    m_qrView->SetFocus();
    m_qrView->SetQrText(m_host.Core().SiteAddressNow(SiteLink::AppStore));
    Invalidate();
}

int CXConfigAbout::NotifyParent(UIObject* source, int code, int id) {
    int handled = UIObject::NotifyParent(source, code, id);
    if (code != kNotifyCommand) {
        return handled;
    }
    if (source == m_site) {
        OpenWebAddress(m_host.Core().SiteAddressNow(SiteLink::ProductSite));
        return 1;
    }
    if (source == m_qrButton) {
        ShowDownloadCode();
        return 1;
    }
    return handled;
}
