#include "library/CHImageList.h"

#include "library/IDBCenter.h"

namespace {

bool Fixed(int side) {
    return side > 0 && side != kThumbFree;
}

} // namespace

int CHImageList::Add(CHBitmap&& bitmap) {
    if (bitmap.IsEmpty() || (Fixed(m_width) && bitmap.Width() != m_width) ||
        (Fixed(m_height) && bitmap.Height() != m_height)) {
        return -1;
    }
    auto item = std::make_unique<CHBitmap>(std::move(bitmap));
    std::lock_guard<std::mutex> guard(m_lock);
    m_items.push_back(std::move(item));
    return static_cast<int>(m_items.size()) - 1;
}

const CHBitmap* CHImageList::Get(int index) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0 || static_cast<size_t>(index) >= m_items.size()) {
        return nullptr;
    }
    return m_items[static_cast<size_t>(index)].get();
}

int CHImageList::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_items.size());
}
