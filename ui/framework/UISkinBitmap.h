#pragma once
// A skin picture as the resource caches it: the decoded bitmap plus what drawing derives from it
// once (colour-keyed copies) and, when the package has one, its double-resolution twin for
// targets drawn at 2x.

#include "media/CHBitmap.h"
#include "shell/IResource.h"

#include <map>
#include <memory>
#include <string>

class UISkinBitmap : public CHBitmap {
public:
    // A 32-bit copy of this 24-bit picture with every pixel of the key colour made transparent,
    // made on first use and kept; null when the bitmap is empty.
    const CHBitmap* KeyedCopy(SkinColor key) const;
    // The double-resolution picture, decoded from its bytes on first use (tinted like this
    // one); null when there is none or it does not decode to exactly twice this size.
    const UISkinBitmap* HiDpi() const;

    void SetHiDpiBytes(std::string bytes);
    // Drops everything derived from the pixels (after a re-colouring) and remembers the tint
    // for the double-resolution picture.
    void ForgetDerived(int hue, int saturation, int lightness);

private:
    mutable std::map<SkinColor, std::unique_ptr<CHBitmap>> m_keyed;
    std::string m_hiDpiBytes;
    mutable std::unique_ptr<UISkinBitmap> m_hiDpi;
    mutable bool m_hiDpiTried = false;
    int m_hue = 0, m_saturation = 0, m_lightness = 0;
};

// The keyed conversion itself: a 32-bit bitmap of the same size, key pixels transparent, all
// others opaque. False for an empty source.
bool MakeColorKeyedCopy(const CHBitmap& source, SkinColor key, CHBitmap& out);
