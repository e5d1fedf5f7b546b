#include "ui/windows/CXIntroAnimate.h"

#include "ui/framework/UISkinDraw.h"

#include <cairo.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// Screenshot tests compare the window with reference pictures: with this variable set the
// carousel stays on its first slide.
bool StillForTests() {
    static const bool still = std::getenv("VELLUMO_TEST_STILL_CAROUSEL") != nullptr;
    return still;
}

} // namespace

bool CXIntroAnimate::ApplySkin(IResource* resource, std::string_view, const Json::Value*) {
    for (int i = 0; i < kSlides; ++i) {
        std::string n = std::to_string(i + 1);
        m_slides[i] = resource->GetImageStyle("DeviceInfoPanel/IntroduceAnimate/" + n, nullptr);
        m_marks[i] = resource->GetImageStyle("DeviceInfoPanel/index" + n, nullptr);
        m_marksHL[i] = resource->GetImageStyle("DeviceInfoPanel/indexHL" + n, nullptr);
    }
    return true;
}

CHRect CXIntroAnimate::MarkRect(int index) const {
    const CHRect& r = Rect();
    int width = r.right - r.left;
    int first = r.left + width / 2 - kMarkSpacing * (kSlides - 1) / 2 - kMarkSize / 2;
    int left = first + index * kMarkSpacing;
    int top = r.bottom - 35 - kMarkSize / 2;
    return {left, top, left + kMarkSize, top + kMarkSize};
}

CHRect CXIntroAnimate::SlideRect(int index) const {
    // Side by side, each centred in the element above a band left for the marks.
    const CHRect& r = Rect();
    const SkinImageStyle& slide = m_slides[index];
    int width = r.right - r.left;
    int left = r.left + index * width - m_offset + (width - slide.bgW) / 2;
    int top = r.top + (r.bottom - r.top - 20 - slide.bgH) / 2;
    return {left, top, left + slide.bgW, top + slide.bgH};
}

int CXIntroAnimate::MarkAt(int x, int y) const {
    for (int i = 0; i < kSlides; ++i) {
        CHRect m = MarkRect(i);
        if (x >= m.left && x < m.right && y >= m.top && y < m.bottom) {
            return i;
        }
    }
    return -1;
}

void CXIntroAnimate::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    int width = rect.right - rect.left;
    cairo_save(cr);
    cairo_rectangle(cr, rect.left, rect.top, width, rect.bottom - rect.top);
    cairo_clip(cr);
    for (int i = 0; i < kSlides; ++i) {
        CHRect slide = SlideRect(i);
        DrawImageStyleAt(cr, slide.left, slide.top, m_slides[i]);
    }
    cairo_restore(cr);
    for (int i = 0; i < kSlides; ++i) {
        CHRect m = MarkRect(i);
        DrawImageStyleAt(cr, m.left, m.top, i == m_current ? m_marksHL[i] : m_marks[i]);
    }
    if (m_advanceTimer == 0 && IsVisible() && !StillForTests()) {
        m_advanceTimer = SetElementTimer(kAdvanceMs);
    }
}

void CXIntroAnimate::GoTo(int slide) {
    m_current = ((slide % kSlides) + kSlides) % kSlides;
    if (m_scrollTimer == 0) {
        m_scrollTimer = SetElementTimer(kScrollFrameMs);
        m_lastFrame = std::chrono::steady_clock::now();
    }
    Invalidate();
}

void CXIntroAnimate::ScrollStep() {
    int target = m_current * (Rect().right - Rect().left);
    int remaining = target - m_offset;
    if (remaining == 0) {
        if (m_scrollTimer != 0) {
            KillElementTimer(m_scrollTimer);
            m_scrollTimer = 0;
        }
        return;
    }
    int step = remaining / 4;
    if (step == 0) {
        step = std::abs(remaining) > 1 ? remaining / 2 : remaining;
    }
    m_offset += step;
    Invalidate();
}

void CXIntroAnimate::ScrollFrame() {
    auto now = std::chrono::steady_clock::now();
    auto step = std::chrono::milliseconds(kScrollStepMs);
    auto due = std::max<int64_t>(1, (now - m_lastFrame) / step);
    m_lastFrame += due * step;
    for (int64_t i = 0; i < due && m_scrollTimer != 0; ++i) {
        ScrollStep();
    }
}

void CXIntroAnimate::OnElementTimer(int timerId) {
    if (timerId == m_advanceTimer) {
        // Behind a hidden or minimised window the slides stay put: no scrolling for nobody.
        // The timer stops until the window is painted again.
        INativeWindow* window = HostWindow();
        if (window != nullptr && (!window->IsVisible() || window->IsIconified())) {
            KillElementTimer(m_advanceTimer);
            m_advanceTimer = 0;
            return;
        }
        GoTo(m_current + 1);
    } else if (timerId == m_scrollTimer) {
        ScrollFrame();
    }
}

bool CXIntroAnimate::OnElementLButtonDown(int x, int y) {
    int mark = MarkAt(x, y);
    if (mark < 0) {
        return false;
    }
    if (mark != m_current) {
        if (m_advanceTimer != 0) {
            KillElementTimer(m_advanceTimer);
            m_advanceTimer = 0;
        }
        GoTo(mark);
    }
    return true;
}

NativeCursor CXIntroAnimate::CursorAt(int x, int y) {
    return MarkAt(x, y) >= 0 ? NativeCursor::Hand : UIObject::CursorAt(x, y);
}

void CXIntroAnimate::StopTimers() {
    for (int* timer : {&m_advanceTimer, &m_scrollTimer}) {
        if (*timer != 0) {
            KillElementTimer(*timer);
            *timer = 0;
        }
    }
}

void CXIntroAnimate::OnShown(bool visible) {
    if (!visible) {
        StopTimers(); // a hidden carousel wakes nobody up
    }
}
