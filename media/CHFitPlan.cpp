#include "media/CHFitPlan.h"

#include <algorithm>
#include <cstdint>
#include <limits>

bool CHFitPlan::Make(int imageWidth, int imageHeight, int boxWidth, int boxHeight,
                     CHFitPlan& plan) {
    plan = CHFitPlan{};
    if (imageWidth <= 0 || imageHeight <= 0) {
        return false;
    }
    const int64_t W0 = imageWidth;
    const int64_t H0 = imageHeight;
    int64_t w = boxWidth;
    int64_t h = boxHeight;
    if (w <= 0 && h > 0) {
        h = std::min(h, H0);
        w = std::min<int64_t>(h * W0 / H0, kMaxFollowingSide);
    } else if (w <= 0 && h <= 0) {
        w = W0;
        h = H0;
    } else if (w > 0 && h <= 0) {
        w = std::min(w, W0);
        h = std::min<int64_t>(w * H0 / W0, kMaxFollowingSide);
    }
    if (w <= 0 || h <= 0 || w > std::numeric_limits<int>::max() ||
        h > std::numeric_limits<int>::max()) {
        return false;
    }
    plan.width = static_cast<int>(w);
    plan.height = static_cast<int>(h);
    plan.srcWidth = static_cast<double>(W0);
    plan.srcHeight = static_cast<double>(H0);

    if (w == W0 && h == H0) {
        plan.dstWidth = plan.width;
        plan.dstHeight = plan.height;
    } else if (w != h) {
        if (W0 < w && H0 < h) {
            plan.dstX = static_cast<int>((w - W0) / 2);
            plan.dstY = static_cast<int>((h - H0) / 2);
            plan.dstWidth = imageWidth;
            plan.dstHeight = imageHeight;
        } else {
            // The whole image stays visible: fit by height when that leaves room sideways.
            double t = static_cast<double>(W0) / (static_cast<double>(H0) / static_cast<double>(h));
            if (static_cast<double>(w) > t) {
                int64_t tw = static_cast<int64_t>(t);
                if (tw == 0) {
                    tw = W0;
                }
                plan.dstX = static_cast<int>((w - tw) / 2);
                plan.dstWidth = static_cast<int>(tw);
                plan.dstHeight = plan.height;
            } else {
                double u =
                    static_cast<double>(H0) / (static_cast<double>(W0) / static_cast<double>(w));
                int64_t uh = static_cast<int64_t>(u);
                if (uh == 0) {
                    uh = H0;
                }
                plan.dstY = static_cast<int>((h - uh) / 2);
                plan.dstWidth = plan.width;
                plan.dstHeight = static_cast<int>(uh);
            }
        }
    } else {
        if (H0 < W0) {
            plan.srcX = static_cast<double>((W0 - H0) / 2);
            plan.srcWidth = static_cast<double>(H0);
        } else if (W0 < H0) {
            plan.srcY = static_cast<double>((H0 - W0) / 2);
            plan.srcHeight = static_cast<double>(W0);
        }
        plan.dstWidth = plan.width;
        plan.dstHeight = plan.height;
    }
    return true;
}

double CHFitPlan::MinSourceScale() const {
    if (srcWidth <= 0 || srcHeight <= 0) {
        return 1.0;
    }
    return std::max(dstWidth / srcWidth, dstHeight / srcHeight);
}
