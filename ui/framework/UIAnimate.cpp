#include "ui/framework/UIAnimate.h"

#include "ui/framework/UISkinDraw.h"

UIAnimate::~UIAnimate() {
    KillTimer();
}

void UIAnimate::KillTimer() {
    if (m_timer)
        KillElementTimer(m_timer);
    m_timer = 0;
}

void UIAnimate::Start() {
    if (m_timer)
        return;
    m_timer = SetElementTimer(m_period);
    m_running = true;
}

void UIAnimate::Stop() {
    KillTimer();
    m_running = false;
}

void UIAnimate::Reset() {
    KillTimer();
}

void UIAnimate::SetPeriod(int milliseconds) {
    m_period = milliseconds > 0 ? milliseconds : kDefaultPeriod;
    if (m_timer) {
        KillTimer();
        m_timer = SetElementTimer(m_period);
    }
}

void UIAnimate::SetFrames(std::vector<SkinImageStyle> frames) {
    m_frames = std::move(frames);
    m_frame = 0;
    Invalidate();
}

void UIAnimate::NextFrame() {
    if (m_frames.empty())
        return;
    m_frame = (m_frame + 1) % m_frames.size();
    Invalidate();
}

void UIAnimate::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    if (m_frame < m_frames.size())
        DrawImageStyle(cr, rect, m_frames[m_frame]);
}

void UIAnimate::OnElementTimer(int timerId) {
    if (timerId == m_timer)
        NextFrame();
}
