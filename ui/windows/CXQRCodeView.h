#pragma once
// The speech-bubble pop-up with a QR code and its caption. It hides itself when it loses the
// element focus, so a click anywhere else closes it.

#include "pairing/QrImage.h"
#include "ui/framework/UIObject.h"

#include <optional>
#include <string>

// The QR picture's place in the bubble: scaled by a whole factor (sharp modules, the quiet
// zone kept) into at most maxSide pixels. factor 0: it does not fit at all.
struct QrSquare {
    int factor = 0;
    int side = 0;
};
QrSquare FitQrSquare(int imageSize, int maxSide);
// Paints the image into square (a whole multiple of its size) module by module on white, so
// every module stays sharp.
void DrawQrSquare(cairo_t* cr, const QrImage& image, const CHRect& square);

class CXQRCodeView : public UIObject {
public:
    static constexpr int kArrowHeight = 8;

    CXQRCodeView() : UIObject(kTypeObject) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    void OnFocusLost(UIObject* gaining) override;

    void SetQrText(const std::string& text);
    const std::string& QrText() const { return m_text; }
    void SetArrowOnTop(bool top) { m_arrowTop = top; }
    void SetCaption(std::string caption) { m_caption = std::move(caption); }
    const std::string& Caption() const { return m_caption; }
    // Where the code and the caption go for the element's current rectangle.
    CHRect QrRect() const;
    CHRect CaptionRect() const;

private:
    CHRect Body() const;

    SkinImageStyle m_back{}, m_up{}, m_down{};
    bool m_arrowTop = true;
    std::string m_caption = "用手机里的Vellumo App扫一扫此条形码快速配对";
    std::string m_text;
    std::optional<QrImage> m_image;
};
