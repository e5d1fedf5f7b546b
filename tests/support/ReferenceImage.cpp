#include "tests/support/ReferenceImage.h"

#include "media/CHBitmap.h"
#include "tests/support/TestDirs.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr uint32_t kMaskColour = 0xFFFF00FF;

bool LoadPng(const fs::path& file, CHBitmap& bitmap) {
    std::string bytes = ReadTestFile(file);
    return !bytes.empty() && bitmap.LoadFromMemory(bytes.data(), bytes.size());
}

// A 24-bit copy with the masked areas painted over.
bool MaskedCopy(const CHBitmap& source, const std::vector<ImageArea>& masks, CHBitmap& out) {
    if (!out.Create(source.Width(), source.Height(), 24)) {
        return false;
    }
    for (int y = 0; y < source.Height(); ++y) {
        for (int x = 0; x < source.Width(); ++x) {
            out.Row(y)[x] = source.Pixel(x, y);
        }
    }
    for (const ImageArea& area : masks) {
        int right = std::min(area.x + area.width, out.Width());
        int bottom = std::min(area.y + area.height, out.Height());
        for (int y = std::max(area.y, 0); y < bottom; ++y) {
            for (int x = std::max(area.x, 0); x < right; ++x) {
                out.Row(y)[x] = kMaskColour;
            }
        }
    }
    return true;
}

int ChannelDifference(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16}) {
        int d =
            std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
        most = std::max(most, d);
    }
    return most;
}

} // namespace

ReferenceResult CompareWithReference(const fs::path& screenshot, const fs::path& reference,
                                     const ReferenceOptions& options) {
    ReferenceResult result;
    CHBitmap shot;
    CHBitmap actual;
    if (!LoadPng(screenshot, shot) || !MaskedCopy(shot, options.masks, actual)) {
        result.report = "cannot read the screenshot " + screenshot.string();
        return result;
    }
    if (std::getenv("VELLUMO_UPDATE_REFERENCES") != nullptr) {
        result.updated = actual.SaveToFile(reference);
        result.matches = result.updated;
        result.report = (result.updated ? "wrote " : "cannot write ") + reference.string();
        return result;
    }
    CHBitmap stored;
    CHBitmap expected;
    if (!LoadPng(reference, stored) || !MaskedCopy(stored, options.masks, expected)) {
        result.report = "cannot read the reference " + reference.string() +
                        " (tools/update-ui-references.sh writes it)";
        return result;
    }
    if (expected.Width() != actual.Width() || expected.Height() != actual.Height()) {
        result.report = "the screenshot is " + std::to_string(actual.Width()) + "x" +
                        std::to_string(actual.Height()) + ", the reference " +
                        std::to_string(expected.Width()) + "x" + std::to_string(expected.Height());
        return result;
    }
    CHBitmap differences;
    differences.Create(actual.Width(), actual.Height(), 24);
    size_t compared = 0;
    size_t differing = 0;
    for (int y = 0; y < actual.Height(); ++y) {
        for (int x = 0; x < actual.Width(); ++x) {
            uint32_t a = actual.Row(y)[x];
            uint32_t e = expected.Row(y)[x];
            if (a == kMaskColour && e == kMaskColour) {
                continue;
            }
            ++compared;
            bool differs = ChannelDifference(a, e) > options.tolerance;
            differing += differs ? 1 : 0;
            // Differences in red over a faded copy of the screenshot.
            differences.Row(y)[x] =
                differs ? 0xFFFF0000 : 0xFF000000 | ((a >> 2) & 0x3F3F3F) | 0xC0C0C0;
        }
    }
    double share = compared == 0 ? 1.0 : static_cast<double>(differing) / compared;
    result.matches = compared > 0 && share <= options.allowedShare;
    if (!result.matches) {
        fs::path picture = screenshot;
        picture.replace_extension(".differences.png");
        differences.SaveToFile(picture);
        result.report = std::to_string(differing) + " of " + std::to_string(compared) +
                        " pixels differ from " + reference.string() + "; see " + picture.string() +
                        " and " + screenshot.string();
    }
    return result;
}
