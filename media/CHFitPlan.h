#pragma once
// Where a thumbnail's source image lands in its box. Sizes <= 0 follow the aspect ratio; a box
// that differs from the image is letter-boxed, an image smaller than the box both ways is
// centred unscaled, and a square box takes the centre square of the image.

struct CHFitPlan {
    // A side that follows the aspect ratio is at most this long, like a requested one: a thin
    // panorama asked for at a free width must not make a bitmap of unbounded size.
    static constexpr int kMaxFollowingSide = 4096;

    int width = 0; // the output bitmap
    int height = 0;
    // Source rectangle in image pixels.
    double srcX = 0;
    double srcY = 0;
    double srcWidth = 0;
    double srcHeight = 0;
    // Destination rectangle in the output (may reach outside it for extreme shapes).
    int dstX = 0;
    int dstY = 0;
    int dstWidth = 0;
    int dstHeight = 0;

    // False when the image has no size or the resolved output size is not positive.
    static bool Make(int imageWidth, int imageHeight, int boxWidth, int boxHeight, CHFitPlan& plan);
    // The smallest uniform scale the image may be decoded at so that the source rectangle
    // still has at least the destination's pixels.
    double MinSourceScale() const;
};
