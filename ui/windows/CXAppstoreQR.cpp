#include "ui/windows/CXAppstoreQR.h"

#include "ui/framework/UISkinText.h"
#include "ui/windows/CXQRCodeView.h"

#include <algorithm>

namespace {
constexpr SkinColor kCaptionColor = 0x4C4F52;
} // namespace

void CXAppstoreQR::SetAddress(const std::string& address) {
    m_address = address;
    m_image = address.empty() ? std::nullopt : MakeQrImage(address);
    Invalidate();
}

CHRect CXAppstoreQR::CaptionRect() const {
    const CHRect& r = Rect();
    return {r.left, std::max(r.top, r.bottom - kCaptionHeight), r.right, r.bottom};
}

CHRect CXAppstoreQR::QrRect() const {
    if (!m_image) {
        return {};
    }
    const CHRect& r = Rect();
    int width = r.right - r.left;
    // A square as wide as the panel, ending where the caption band begins.
    int maxSide = std::min(width, CaptionRect().top - r.top);
    QrSquare square = FitQrSquare(m_image->width, maxSide);
    if (square.factor == 0) {
        return {};
    }
    int left = r.left + (width - square.side) / 2;
    int top = r.top + (maxSide - square.side) / 2;
    return {left, top, left + square.side, top + square.side};
}

void CXAppstoreQR::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    if (m_image) {
        DrawQrSquare(cr, *m_image, QrRect());
    }
    DrawSkinText(cr, kCaption, CaptionRect(), DefaultUiFont(), kCaptionColor,
                 kTextCenter | kTextVCenter | kTextSingleLine);
}
