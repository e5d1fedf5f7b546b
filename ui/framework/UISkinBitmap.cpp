#include "ui/framework/UISkinBitmap.h"

namespace {

// COLORREF (0x00BBGGRR) to the pixel layout 0x??RRGGBB.
uint32_t KeyToPixel(SkinColor key) {
    return ((key & 0xFF) << 16) | (key & 0xFF00) | ((key >> 16) & 0xFF);
}

} // namespace

bool MakeColorKeyedCopy(const CHBitmap& source, SkinColor key, CHBitmap& out) {
    if (source.IsEmpty() || !out.Create(source.Width(), source.Height(), 32)) {
        return false;
    }
    const uint32_t keyPixel = KeyToPixel(key);
    for (int y = 0; y < source.Height(); ++y) {
        const uint32_t* in = source.Row(y);
        uint32_t* row = out.Row(y);
        for (int x = 0; x < source.Width(); ++x) {
            uint32_t rgb = in[x] & 0x00FFFFFF;
            // Premultiplied: a transparent pixel is all zero, so scaling cannot pull the key
            // colour into its neighbours.
            row[x] = rgb == keyPixel ? 0 : (0xFF000000 | rgb);
        }
    }
    return true;
}

const CHBitmap* UISkinBitmap::KeyedCopy(SkinColor key) const {
    auto it = m_keyed.find(key);
    if (it != m_keyed.end()) {
        return it->second.get();
    }
    auto copy = std::make_unique<CHBitmap>();
    if (!MakeColorKeyedCopy(*this, key, *copy)) {
        return nullptr;
    }
    return m_keyed.emplace(key, std::move(copy)).first->second.get();
}

const UISkinBitmap* UISkinBitmap::HiDpi() const {
    if (!m_hiDpiTried) {
        m_hiDpiTried = true;
        auto twin = std::make_unique<UISkinBitmap>();
        if (!m_hiDpiBytes.empty() &&
            twin->LoadFromMemory(m_hiDpiBytes.data(), m_hiDpiBytes.size()) &&
            twin->Width() == 2 * Width() && twin->Height() == 2 * Height() &&
            twin->BitsPerPixel() == BitsPerPixel()) {
            if (m_hue || m_saturation || m_lightness) {
                twin->Colourise(m_hue, m_saturation, m_lightness);
            }
            m_hiDpi = std::move(twin);
        }
    }
    return m_hiDpi.get();
}

void UISkinBitmap::SetHiDpiBytes(std::string bytes) {
    m_hiDpiBytes = std::move(bytes);
    m_hiDpi.reset();
    m_hiDpiTried = false;
}

void UISkinBitmap::ForgetDerived(int hue, int saturation, int lightness) {
    m_keyed.clear();
    m_hiDpi.reset();
    m_hiDpiTried = false;
    m_hue = hue;
    m_saturation = saturation;
    m_lightness = lightness;
}
