#pragma once
// The three-slide introduction carousel: slides side by side, scrolled into view one after the
// other every few seconds; the index marks below choose a slide. Its timers run only while it
// is shown.

#include "ui/framework/UIObject.h"

#include <chrono>

class CXIntroAnimate : public UIObject {
public:
    static constexpr int kSlides = 3;
    static constexpr int kAdvanceMs = 4500;
    // The scroll moves a quarter of the remaining distance every step; the steps due are
    // applied once per frame, so the same motion costs a third of the wake-ups.
    static constexpr int kScrollStepMs = 5;
    static constexpr int kScrollFrameMs = 16;
    static constexpr int kMarkSize = 24;
    static constexpr int kMarkSpacing = 34;

    CXIntroAnimate() : UIObject(kTypeObject) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    void OnElementTimer(int timerId) override;
    bool OnElementLButtonDown(int x, int y) override;
    NativeCursor CursorAt(int x, int y) override;
    void OnShown(bool visible) override;

    int Current() const { return m_current; }
    int Offset() const { return m_offset; }
    // Makes slide current and starts scrolling to it.
    void GoTo(int slide);
    // One step of the scroll: a quarter of the remaining distance (at least one pixel).
    void ScrollStep();
    // The mark under (x, y), or -1.
    int MarkAt(int x, int y) const;
    // Where the index mark of a slide is drawn.
    CHRect MarkRect(int index) const;
    // Where a slide is drawn at the current scroll offset (the current one, once the scroll
    // has settled, lies in view).
    CHRect SlideRect(int index) const;

private:
    // The scroll steps due since the last frame (at least one).
    void ScrollFrame();
    void StopTimers();

    SkinImageStyle m_slides[kSlides]{};
    SkinImageStyle m_marks[kSlides]{};
    SkinImageStyle m_marksHL[kSlides]{};
    int m_current = 0;
    int m_offset = 0;
    int m_advanceTimer = 0;
    int m_scrollTimer = 0;
    std::chrono::steady_clock::time_point m_lastFrame;
};
