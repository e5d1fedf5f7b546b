#include "ui/windows/CXQRCodeView.h"

#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinText.h"

#include <cairo.h>

#include <algorithm>

namespace {
constexpr SkinColor kCaptionColor = 3828717;
} // namespace

QrSquare FitQrSquare(int imageSize, int maxSide) {
    if (imageSize <= 0 || maxSide < imageSize) {
        return {};
    }
    int factor = maxSide / imageSize;
    return {factor, factor * imageSize};
}

bool CXQRCodeView::ApplySkin(IResource* resource, std::string_view, const Json::Value*) {
    m_back = resource->GetImageStyle("QRCodeView/bkgnd", nullptr);
    m_up = resource->GetImageStyle("QRCodeView/UpArrow", nullptr);
    m_down = resource->GetImageStyle("QRCodeView/DownArrow", nullptr);
    return true;
}

void CXQRCodeView::SetQrText(const std::string& text) {
    m_text = text;
    m_image = MakeQrImage(text);
    Invalidate();
}

void DrawQrSquare(cairo_t* cr, const QrImage& image, const CHRect& square) {
    if (image.width <= 0 || square.right <= square.left) {
        return;
    }
    int factor = (square.right - square.left) / image.width;
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, square.left, square.top, square.right - square.left,
                    square.bottom - square.top);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (image.At(x, y) < 128) {
                cairo_rectangle(cr, square.left + x * factor, square.top + y * factor, factor,
                                factor);
            }
        }
    }
    cairo_fill(cr);
}

CHRect CXQRCodeView::Body() const {
    CHRect body = Rect();
    if (m_arrowTop) {
        body.top += kArrowHeight;
    } else {
        body.bottom -= kArrowHeight;
    }
    return body;
}

CHRect CXQRCodeView::CaptionRect() const {
    CHRect body = Body();
    int width = body.right - body.left;
    return {body.left + 16, body.top + width - 12, body.right - 4, body.bottom - 4};
}

CHRect CXQRCodeView::QrRect() const {
    CHRect body = Body();
    int width = body.right - body.left;
    if (!m_image) {
        return {};
    }
    // The square ends above the caption, whatever the bubble's proportions.
    int maxSide = std::min(width - 8, CaptionRect().top - 2 - (body.top + 4));
    QrSquare square = FitQrSquare(m_image->width, maxSide);
    int left = body.left + (width - square.side) / 2;
    return {left, body.top + 4, left + square.side, body.top + 4 + square.side};
}

void CXQRCodeView::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    CHRect body = Body();
    int width = rect.right - rect.left;
    if (m_arrowTop) {
        DrawImageStyleAt(cr, rect.left + 135, rect.top, m_up);
    } else {
        DrawImageStyleAt(cr, rect.left + (width - m_down.bgW) / 2, rect.bottom - kArrowHeight,
                         m_down);
    }
    DrawImageStyle(cr, body, m_back);
    CHRect square = QrRect();
    if (m_image) {
        DrawQrSquare(cr, *m_image, square);
    }
    DrawSkinText(cr, m_caption, CaptionRect(), DefaultUiFont(), kCaptionColor, 0);
}

void CXQRCodeView::OnFocusLost(UIObject*) {
    if (IsVisible()) {
        Show(false);
        if (Parent() != nullptr) {
            Parent()->Invalidate();
        }
    }
}
