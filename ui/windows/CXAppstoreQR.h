#pragma once
// The wizard's download panel: the QR code of the phone app's download address with the caption
// "扫一扫下载" in the bottom band. The code is made from the address it is given each time the
// panel is shown, so it always carries the PC's current address.

#include "pairing/QrImage.h"
#include "ui/framework/UIObject.h"

#include <optional>
#include <string>

class CXAppstoreQR : public UIObject {
public:
    static constexpr int kCaptionHeight = 20;
    static constexpr const char* kCaption = "扫一扫下载";

    CXAppstoreQR() : UIObject(kTypeObject) {}

    // Makes the code of address (none when it cannot be encoded) and repaints.
    void SetAddress(const std::string& address);
    const std::string& Address() const { return m_address; }
    bool HasCode() const { return m_image.has_value(); }
    // Where the code is drawn: a whole-factor square centred above the caption band; empty
    // when there is no code or it does not fit.
    CHRect QrRect() const;
    CHRect CaptionRect() const;

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

private:
    std::string m_address;
    std::optional<QrImage> m_image;
};
