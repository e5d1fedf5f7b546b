#include "media/CHImageScaler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

// For every output pixel of one axis: the first source index and the weights that follow it.
struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<size_t> offset;
    std::vector<float> weights;
    int maxCount = 0;
};

// Output pixels [from, to) of an axis that maps [s0, s0 + sn) of a source of srcLen pixels onto
// dn output pixels.
bool BuildTaps(double s0, double sn, int dn, int srcLen, int from, int to, Taps& taps) {
    int lo = std::max(0, static_cast<int>(std::floor(s0)));
    int hi = std::min(srcLen, static_cast<int>(std::ceil(s0 + sn)));
    if (lo >= hi) {
        return false;
    }
    const double k = sn / dn;
    std::vector<float> local;
    for (int i = from; i < to; ++i) {
        local.clear();
        int first = 0;
        if (k >= 1.0) {
            double a = s0 + i * k;
            double b = a + k;
            int j0 = std::max(lo, static_cast<int>(std::floor(a)));
            int j1 = std::min(hi, static_cast<int>(std::ceil(b)));
            first = j0;
            double total = 0;
            for (int j = j0; j < j1; ++j) {
                double w = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
                w = std::max(w, 0.0);
                local.push_back(static_cast<float>(w));
                total += w;
            }
            if (total <= 0) {
                first = std::clamp(static_cast<int>(std::floor(a)), lo, hi - 1);
                local.assign(1, 1.0f);
            } else {
                for (float& w : local) {
                    w = static_cast<float>(w / total);
                }
            }
        } else {
            double c = s0 + (i + 0.5) * k - 0.5;
            double f = std::floor(c);
            double t = c - f;
            int j0 = std::clamp(static_cast<int>(f), lo, hi - 1);
            int j1 = std::clamp(static_cast<int>(f) + 1, lo, hi - 1);
            first = j0;
            if (j1 == j0) {
                local.assign(1, 1.0f);
            } else {
                local = {static_cast<float>(1.0 - t), static_cast<float>(t)};
            }
        }
        taps.first.push_back(first);
        taps.count.push_back(static_cast<int>(local.size()));
        taps.offset.push_back(taps.weights.size());
        taps.weights.insert(taps.weights.end(), local.begin(), local.end());
        taps.maxCount = std::max(taps.maxCount, static_cast<int>(local.size()));
    }
    return true;
}

} // namespace

bool CHImageScaler::Scale(const CHBitmap& src, double sx, double sy, double sw, double sh,
                          CHBitmap& dst, int dx, int dy, int dw, int dh) {
    if (src.IsEmpty() || dst.IsEmpty() || !(sw > 0) || !(sh > 0) || dw <= 0 || dh <= 0) {
        return false;
    }
    // Output pixels inside dst, relative to the destination rectangle.
    const int x0 = std::max(0, -dx);
    const int x1 = std::min(dw, dst.Width() - dx);
    const int y0 = std::max(0, -dy);
    const int y1 = std::min(dh, dst.Height() - dy);
    if (x0 >= x1 || y0 >= y1) {
        return true;
    }
    // One to one at whole-pixel offsets: a plain copy.
    if (sw == dw && sh == dh && sx == std::floor(sx) && sy == std::floor(sy) && sx >= 0 &&
        sy >= 0 && sx + sw <= src.Width() && sy + sh <= src.Height()) {
        const uint32_t fill = src.BitsPerPixel() != 32 ? 0xFF000000u : 0;
        for (int y = y0; y < y1; ++y) {
            const uint32_t* in = src.Row(static_cast<int>(sy) + y) + static_cast<int>(sx) + x0;
            uint32_t* out = dst.Row(dy + y) + dx + x0;
            for (int x = 0; x < x1 - x0; ++x) {
                out[x] = in[x] | fill;
            }
        }
        return true;
    }
    Taps h;
    Taps v;
    if (!BuildTaps(sx, sw, dw, src.Width(), x0, x1, h) ||
        !BuildTaps(sy, sh, dh, src.Height(), y0, y1, v)) {
        return false;
    }
    const int outW = x1 - x0;
    const bool srcOpaque = src.BitsPerPixel() != 32;
    const bool dstOpaque = dst.BitsPerPixel() != 32;

    // Horizontally resampled source rows, kept in a ring: the rows an output row needs form a
    // window that only moves down.
    const int ringSize = v.maxCount + 1;
    std::vector<float> ring(static_cast<size_t>(ringSize) * outW * 4);
    std::vector<int> ringRow(ringSize, -1);
    auto rowOf = [&](int j) -> const float* {
        int slot = j % ringSize;
        float* out = ring.data() + static_cast<size_t>(slot) * outW * 4;
        if (ringRow[slot] == j) {
            return out;
        }
        ringRow[slot] = j;
        const uint32_t* in = src.Row(j);
        for (int x = 0; x < outW; ++x) {
            const float* w = h.weights.data() + h.offset[x];
            const uint32_t* p = in + h.first[x];
            float b = 0, g = 0, r = 0, a = 0;
            for (int t = 0; t < h.count[x]; ++t) {
                uint32_t px = p[t];
                b += w[t] * static_cast<float>(px & 0xFF);
                g += w[t] * static_cast<float>((px >> 8) & 0xFF);
                r += w[t] * static_cast<float>((px >> 16) & 0xFF);
                a += w[t] * (srcOpaque ? 255.0f : static_cast<float>(px >> 24));
            }
            out[x * 4 + 0] = b;
            out[x * 4 + 1] = g;
            out[x * 4 + 2] = r;
            out[x * 4 + 3] = a;
        }
        return out;
    };

    std::vector<float> acc(static_cast<size_t>(outW) * 4);
    std::vector<const float*> rows(v.maxCount);
    for (int y = y0; y < y1; ++y) {
        const int i = y - y0;
        const float* w = v.weights.data() + v.offset[i];
        const int n = v.count[i];
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (int t = 0; t < n; ++t) {
            const float* row = rowOf(v.first[i] + t);
            const float wt = w[t];
            for (size_t c = 0; c < acc.size(); ++c) {
                acc[c] += wt * row[c];
            }
        }
        uint32_t* out = dst.Row(dy + y) + dx + x0;
        for (int x = 0; x < outW; ++x) {
            auto channel = [&](int c, float limit) {
                float value = std::clamp(acc[x * 4 + c] + 0.5f, 0.0f, limit);
                return static_cast<uint32_t>(value);
            };
            uint32_t a = dstOpaque ? 255 : channel(3, 255.5f);
            uint32_t lim = srcOpaque ? 255 : a;
            uint32_t r = std::min(channel(2, 255.5f), lim);
            uint32_t g = std::min(channel(1, 255.5f), lim);
            uint32_t b = std::min(channel(0, 255.5f), lim);
            out[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    return true;
}
