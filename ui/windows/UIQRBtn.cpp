#include "ui/windows/UIQRBtn.h"

#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UISkinDraw.h"

namespace {
constexpr SkinColor kLinkColor = 4356065;
constexpr int kLinkId = 1;
} // namespace

bool UIQRBtn::ApplySkin(IResource* resource, std::string_view, const Json::Value*) {
    m_icon = resource->GetImageStyle("DeviceInfoPanel/QRCode", nullptr);
    m_link = Add<UIHyperLink>();
    m_link->SetTextColor(kLinkColor);
    m_link->SetText("二维码配对");
    m_link->SetId(kLinkId);
    m_link->SetAnchorTopLeft(true);
    m_link->SetLayout(30, 0, 200, 30);
    return true;
}

void UIQRBtn::SetLinkText(std::string text) {
    if (m_link != nullptr) {
        m_link->SetText(std::move(text));
    }
}

void UIQRBtn::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    DrawImageStyleAt(cr, rect.left, rect.top, m_icon);
}

bool UIQRBtn::InIcon(int x, int y) const {
    return x >= Rect().left && x < Rect().left + kIconSize && y >= Rect().top &&
           y < Rect().top + kIconSize;
}

bool UIQRBtn::OnElementLButtonUp(int x, int y) {
    if (!InIcon(x, y)) {
        return false;
    }
    UIObject::NotifyParent(this, kNotifyCommand, Id());
    return true;
}

NativeCursor UIQRBtn::CursorAt(int x, int y) {
    return InIcon(x, y) ? NativeCursor::Hand : UIObject::CursorAt(x, y);
}

int UIQRBtn::NotifyParent(UIObject* source, int code, int id) {
    if (source == m_link && code == kNotifyCommand) {
        return UIObject::NotifyParent(this, kNotifyCommand, Id());
    }
    return UIObject::NotifyParent(source, code, id);
}
