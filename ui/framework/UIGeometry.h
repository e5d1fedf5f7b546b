#pragma once
// Rectangle helpers for the framework (CHRect: left, top, exclusive right and bottom).

#include "media/CHBitmap.h"
#include "platform/NativeWindow.h"

#include <algorithm>

inline bool RectEmpty(const CHRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

inline int RectWidth(const CHRect& r) {
    return r.right - r.left;
}

inline int RectHeight(const CHRect& r) {
    return r.bottom - r.top;
}

inline bool RectContains(const CHRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Empty results are normalised to all zeros.
inline CHRect RectIntersect(const CHRect& a, const CHRect& b) {
    CHRect out{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    return RectEmpty(out) ? CHRect{} : out;
}

inline CHRect RectUnion(const CHRect& a, const CHRect& b) {
    if (RectEmpty(a))
        return b;
    if (RectEmpty(b))
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

inline CHRect RectInset(const CHRect& r, int left, int top, int right, int bottom) {
    return {r.left + left, r.top + top, r.right - right, r.bottom - bottom};
}

inline CHRect RectOffset(const CHRect& r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

inline CHRect RectFromNative(const NativeRect& r) {
    return {r.x, r.y, r.x + r.width, r.y + r.height};
}

inline NativeRect NativeFromRect(const CHRect& r) {
    return {r.left, r.top, RectWidth(r), RectHeight(r)};
}
