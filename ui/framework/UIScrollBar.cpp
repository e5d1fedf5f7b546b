#include "ui/framework/UIScrollBar.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"

#include <algorithm>
#include <cstdint>

namespace {

// a * b / c rounded half away from zero, 0 for c == 0.
int MulDiv(int a, int b, int c) {
    if (c == 0)
        return 0;
    int64_t product = static_cast<int64_t>(a) * b;
    int64_t half = (c > 0 ? c : -c) / 2;
    bool negative = (product < 0) != (c < 0);
    int64_t magnitude = ((product < 0 ? -product : product) + half) / (c > 0 ? c : -c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

} // namespace

UIScrollBar::UIScrollBar(bool vertical) : UIObject(kTypeScrollBar), m_vertical(vertical) {}

bool UIScrollBar::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindSkinNode(resource, path, start);
    if (!node)
        return false;
    m_thumbStyle = resource->GetImageStyle("thumb", node);
    m_trackStyle = resource->GetImageStyle("trackbar", node);
    UpdateGeometry();
    return true;
}

void UIScrollBar::SetRange(int minimum, int maximum) {
    m_min = minimum;
    m_max = maximum;
    SetPos(m_pos);
    UpdateGeometry();
}

void UIScrollBar::SetPage(int page) {
    m_page = std::max(page, 0);
    SetPos(m_pos);
    UpdateGeometry();
}

void UIScrollBar::SetPos(int position) {
    int64_t highest = static_cast<int64_t>(m_max) - (m_page > 0 ? m_page - 1 : 0);
    int clamped =
        static_cast<int>(std::clamp<int64_t>(position, m_min, std::max<int64_t>(m_min, highest)));
    if (clamped == m_pos)
        return;
    m_pos = clamped;
    UpdateGeometry();
}

void UIScrollBar::SetMinThumb(int length) {
    m_minThumb = std::max(length, 1);
    UpdateGeometry();
}

void UIScrollBar::SetArrowSize(int length) {
    m_arrow = std::max(length, 0);
    UpdateGeometry();
}

int UIScrollBar::TrackLength() const {
    return m_vertical ? RectHeight(m_track) : RectWidth(m_track);
}

ScrollThumb UIScrollBar::ComputeThumb(int minimum, int maximum, int page, int position,
                                      int trackLength, int minThumb) {
    ScrollThumb thumb;
    int64_t range = static_cast<int64_t>(maximum) - minimum;
    if (range <= 0 || trackLength <= 0 || range > INT32_MAX)
        return thumb;
    int d = static_cast<int>(range);
    int L = trackLength;
    int m = std::min(std::max(minThumb, 1), L);
    int along =
        static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(position) - minimum, 0, d));
    int offset, length;
    if (page != 0) {
        offset = MulDiv(along, L, d);
        length = d < page ? L : MulDiv(page - 1, L, d);
        if (length < m) {
            offset = MulDiv(along, length + L - m, d);
            length = m;
        }
    } else {
        length = m;
        offset = MulDiv(along, L - m, d);
    }
    length = std::min(length, L);
    thumb.present = true;
    thumb.length = length;
    thumb.offset = std::clamp(offset, 0, L - length);
    return thumb;
}

int UIScrollBar::PositionFromThumb(int minimum, int maximum, int page, int thumbOffset,
                                   int trackLength, int thumbLength) {
    int64_t range = static_cast<int64_t>(maximum) - minimum - page + 1;
    int travel = trackLength - thumbLength;
    if (range <= 0 || travel <= 0 || range > INT32_MAX)
        return minimum;
    int offset = std::clamp(thumbOffset, 0, travel);
    return minimum + MulDiv(offset, static_cast<int>(range), travel);
}

int UIScrollBar::WheelPosition(int minimum, int maximum, int page, int position, int steps) {
    if (static_cast<int64_t>(maximum) - minimum <= 100 || steps == 0)
        return position;
    int64_t pos = position;
    int64_t step = page / 8;
    int64_t highest = std::max<int64_t>(static_cast<int64_t>(maximum) + 1 - page, minimum);
    for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
        if (steps < 0)
            pos = std::min(pos + step, highest);
        else
            pos = std::max(pos - step, static_cast<int64_t>(minimum));
    }
    return static_cast<int>(std::clamp<int64_t>(pos, minimum, highest));
}

void UIScrollBar::UpdateGeometry() {
    const CHRect& r = Rect();
    int arrow = m_arrow;
    if (m_vertical) {
        arrow = std::min(arrow, RectHeight(r) / 2);
        m_arrowBefore = {r.left, r.top, r.right, r.top + arrow};
        m_arrowAfter = {r.left, r.bottom - arrow, r.right, r.bottom};
        m_track = {r.left, r.top + arrow, r.right, r.bottom - arrow};
    } else {
        arrow = std::min(arrow, RectWidth(r) / 2);
        m_arrowBefore = {r.left, r.top, r.left + arrow, r.bottom};
        m_arrowAfter = {r.right - arrow, r.top, r.right, r.bottom};
        m_track = {r.left + arrow, r.top, r.right - arrow, r.bottom};
    }
    if (!m_dragging)
        m_geometry = ComputeThumb(m_min, m_max, m_page, m_pos, TrackLength(), m_minThumb);
    if (!m_geometry.present)
        m_thumb = {};
    else if (m_vertical)
        m_thumb = {m_track.left, m_track.top + m_geometry.offset, m_track.right,
                   std::min(m_track.top + m_geometry.offset + m_geometry.length, m_track.bottom)};
    else
        m_thumb = {m_track.left + m_geometry.offset, m_track.top,
                   std::min(m_track.left + m_geometry.offset + m_geometry.length, m_track.right),
                   m_track.bottom};
    Invalidate();
}

void UIScrollBar::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawImageStyle(cr, m_track.right > m_track.left ? m_track : rect, m_trackStyle);
    if (m_geometry.present)
        DrawImageStyle(cr, m_thumb, m_thumbStyle);
}

void UIScrollBar::Report(int code) {
    NotifyParent(this, m_vertical ? kNotifyVScroll : kNotifyHScroll, code);
}

bool UIScrollBar::OnElementLButtonDown(int x, int y) {
    if (RectContains(m_arrowBefore, x, y)) {
        Report(kLineUp);
    } else if (RectContains(m_arrowAfter, x, y)) {
        Report(kLineDown);
    } else if (m_geometry.present && RectContains(m_thumb, x, y)) {
        m_dragging = true;
        m_grabOffset = Along(x, y) - (TrackStart() + m_geometry.offset);
        SetCapture();
    } else if (RectContains(m_track, x, y) && m_geometry.present) {
        Report(Along(x, y) < TrackStart() + m_geometry.offset ? kPageUp : kPageDown);
    }
    return true;
}

bool UIScrollBar::OnElementMouseMove(int x, int y) {
    if (!m_dragging || !HasCapture())
        return false;
    int across = Across(x, y);
    int low = m_vertical ? m_track.left : m_track.top;
    int high = m_vertical ? m_track.right : m_track.bottom;
    if (across < low - kDragSideTolerance || across >= high + kDragSideTolerance)
        return true;
    int length = TrackLength();
    int offset = std::clamp(Along(x, y) - m_grabOffset - TrackStart(), 0,
                            std::max(length - m_geometry.length, 0));
    m_geometry.offset = offset;
    int position = PositionFromThumb(m_min, m_max, m_page, offset, length, m_geometry.length);
    UpdateGeometry();
    if (position != m_pos) {
        m_pos = position;
        Report(static_cast<int>((static_cast<uint32_t>(position) << 16) | kThumbTrack));
    }
    return true;
}

bool UIScrollBar::OnElementLButtonUp(int, int) {
    if (m_dragging) {
        m_dragging = false;
        ReleaseCapture();
        UpdateGeometry();
    }
    return true;
}

void UIScrollBar::OnShown(bool visible) {
    if (!visible && m_dragging) {
        m_dragging = false;
        ReleaseCapture();
    }
}
