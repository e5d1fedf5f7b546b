#pragma once
// A scroll bar: a track with a thumb, vertical or horizontal. Clicking the track above or below
// the thumb (or an arrow zone, when the bar has them) reports a scroll code; dragging the thumb
// reports each new position. Reports go through NotifyParent with kNotifyVScroll (or
// kNotifyHScroll) and the scroll code as id; a thumb drag uses id = (position << 16) | 5.

#include "ui/framework/UIObject.h"

struct ScrollThumb {
    bool present = false;
    int offset = 0; // from the start of the track
    int length = 0;
};

class UIScrollBar : public UIObject {
public:
    enum Code { kLineUp = 0, kLineDown = 1, kPageUp = 2, kPageDown = 3, kThumbTrack = 5 };
    static constexpr int kDefaultMinThumb = 20;
    static constexpr int kDragSideTolerance = 96;

    explicit UIScrollBar(bool vertical = true);

    // Reads "size", "thumb" and "trackbar".
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void SetRange(int minimum, int maximum);
    void SetPage(int page);
    // Clamped to minimum .. maximum - page + 1 (minimum when that is smaller).
    void SetPos(int position);
    int Min() const { return m_min; }
    int Max() const { return m_max; }
    int Page() const { return m_page; }
    int Pos() const { return m_pos; }
    bool IsVertical() const { return m_vertical; }
    void SetMinThumb(int length);
    void SetArrowSize(int length); // 0: no arrow zones (the skinned bars have none)
    const CHRect& TrackRect() const { return m_track; }
    const CHRect& ThumbRect() const { return m_thumb; }
    bool IsDragging() const { return m_dragging; }

    // The thumb for a track of trackLength pixels.
    static ScrollThumb ComputeThumb(int minimum, int maximum, int page, int position,
                                    int trackLength, int minThumb);
    // The position for a thumb dragged to thumbOffset; minimum when the thumb cannot move.
    static int PositionFromThumb(int minimum, int maximum, int page, int thumbOffset,
                                 int trackLength, int thumbLength);
    // The position after steps wheel notches (> 0 away from the user): page / 8 per notch,
    // nothing when the range is 100 or less, never outside minimum .. maximum + 1 - page.
    static int WheelPosition(int minimum, int maximum, int page, int position, int steps);

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonDown(int x, int y) override;
    bool OnElementLDoubleClick(int x, int y) override { return OnElementLButtonDown(x, y); }
    bool OnElementMouseMove(int x, int y) override;
    bool OnElementLButtonUp(int x, int y) override;
    void AfterLayout() override { UpdateGeometry(); }
    void OnShown(bool visible) override;

private:
    void UpdateGeometry();
    int Along(int x, int y) const { return m_vertical ? y : x; }
    int Across(int x, int y) const { return m_vertical ? x : y; }
    int TrackStart() const { return m_vertical ? m_track.top : m_track.left; }
    int TrackLength() const;
    void Report(int code);

    bool m_vertical;
    int m_min = 0;
    int m_max = 0;
    int m_page = 0;
    int m_pos = 0;
    int m_minThumb = kDefaultMinThumb;
    int m_arrow = 0;
    SkinImageStyle m_thumbStyle{};
    SkinImageStyle m_trackStyle{};
    CHRect m_arrowBefore{};
    CHRect m_arrowAfter{};
    CHRect m_track{};
    CHRect m_thumb{};
    ScrollThumb m_geometry{};
    bool m_dragging = false;
    int m_grabOffset = 0; // pointer minus thumb start at the press
};
