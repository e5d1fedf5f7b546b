#pragma once
// Drawing skin records onto a cairo target: nine-slice backgrounds with aligned foregrounds.
// Coordinates are in the target's user space; the target's clip is respected.

#include "media/CHBitmap.h"
#include "shell/IResource.h"

// Nine-slice background over dest, then the foreground aligned inside dest. Nothing for an
// empty destination or a style without bitmaps.
void DrawImageStyle(cairo_t* target, const CHRect& dest, const SkinImageStyle& style);
// The same with the destination size taken from the style's background source size.
void DrawImageStyleAt(cairo_t* target, int x, int y, const SkinImageStyle& style);
// How a scaled piece is resampled: smoothly, or pixel by pixel (QR codes keep sharp modules).
enum class SkinScaling { Smooth, Nearest };
// One piece: the source rectangle (clipped to the bitmap) scaled into dest. key is the
// transparent colour of a 24-bit bitmap (kNoColorKey for none); 32-bit bitmaps blend by alpha.
void DrawBitmap(const CHBitmap& bitmap, cairo_t* target, const CHRect& dest, const CHRect& source,
                SkinColor key = kNoColorKey, SkinScaling scaling = SkinScaling::Smooth);
