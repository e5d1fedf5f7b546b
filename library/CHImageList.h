#pragma once
// A list of thumbnails of one size, handed to the callbacks of the asynchronous thumbnail
// service. A size <= 0 or 32767 on an axis accepts any length on that axis (thumbnails whose
// side follows the photo's aspect ratio). Bitmaps never move once added, so a callback may keep
// the pointer from Get while other threads add.

#include "media/CHBitmap.h"

#include <deque>
#include <memory>
#include <mutex>

class CHImageList {
public:
    CHImageList(int width, int height) : m_width(width), m_height(height) {}
    CHImageList(const CHImageList&) = delete;
    CHImageList& operator=(const CHImageList&) = delete;

    // The new entry's index, or -1 when the bitmap is empty or of another size.
    int Add(CHBitmap&& bitmap);
    // Null for an index outside the list.
    const CHBitmap* Get(int index) const;
    int Count() const;
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    const int m_width;
    const int m_height;
    mutable std::mutex m_lock;
    std::deque<std::unique_ptr<CHBitmap>> m_items;
};
