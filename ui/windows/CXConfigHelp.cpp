#include "ui/windows/CXConfigHelp.h"

#include "platform/Spawn.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UISkinPaths.h"
#include "ui/framework/UISkinText.h"
#include "ui/windows/CXIntroAnimate.h"
#include "ui/windows/IPanelHost.h"

#include <algorithm>

namespace {

constexpr int kHeadlineBand = 53;

} // namespace

CXConfigHelp::CXConfigHelp(IPanelHost& host) : m_host(host) {}

bool CXConfigHelp::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    UIObject::ApplySkin(resource, path, start);
    m_skin = resource;
    m_bold = resource != nullptr ? resource->GetFont(SkinPaths::kFontBold14) : nullptr;
    m_more = Add<UIHyperLink>();
    m_more->SetText("查看更多");
    m_more->SetTextColor(kLinkColor);
    m_more->SetId(kMoreLinkId);
    // Under the carousel's right end: clear of the slides and of the marks in the middle.
    m_more->SetLayout(-100, -35, 100, 30);
    return true;
}

void CXConfigHelp::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    DrawSkinText(cr, kHeadline, {rect.left + 25, rect.top, rect.right, rect.top + kHeadlineBand},
                 m_bold != nullptr ? m_bold : DefaultUiFont(), kLineColor,
                 kTextVCenter | kTextSingleLine);
}

void CXConfigHelp::OnShown(bool visible) {
    if (visible && m_carousel == nullptr && m_skin != nullptr) {
        m_carousel = Add<CXIntroAnimate>();
        m_carousel->ApplySkin(m_skin, "");
        m_carousel->SetAnchorTopLeft(true);
        // Children are clipped to the page: a shorter page would cut off the index marks.
        int height = std::min(kCarouselHeight, RectHeight(Rect()) - kCarouselTop);
        m_carousel->SetLayout(8, kCarouselTop, RectWidth(Rect()) - 16, height);
        BringToFront(m_more); // the link lies in the carousel's empty lower band
    } else if (m_carousel != nullptr) {
        // A hidden carousel stops its timers; shown again, it resumes when painted.
        m_carousel->Show(visible);
    }
}

std::string CXConfigHelp::MoreAddress() {
    return m_host.Core().SiteAddressNow(SiteLink::UsagePage);
}

int CXConfigHelp::NotifyParent(UIObject* source, int code, int id) {
    if (source == m_more && code == kNotifyCommand) {
        OpenWebAddress(MoreAddress());
        return 1;
    }
    return UIObject::NotifyParent(source, code, id);
}
