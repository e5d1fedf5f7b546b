#pragma once
// A frame animation: a list of image styles shown in turn by an element timer. No timer runs
// while the animation is stopped, so an idle window never wakes up for it.

#include "ui/framework/UIObject.h"

#include <vector>

class UIAnimate : public UIObject {
public:
    static constexpr int kDefaultPeriod = 80;

    UIAnimate() : UIObject(kTypeObject) {}
    ~UIAnimate() override;

    void Start();
    void Stop();  // stops and marks the animation stopped
    void Reset(); // stops the timer only
    bool IsRunning() const { return m_running; }
    void SetPeriod(int milliseconds);
    void SetFrames(std::vector<SkinImageStyle> frames);
    void NextFrame();
    size_t Frame() const { return m_frame; }
    size_t FrameCount() const { return m_frames.size(); }

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    void OnElementTimer(int timerId) override;

private:
    void KillTimer();

    std::vector<SkinImageStyle> m_frames;
    size_t m_frame = 0;
    int m_period = kDefaultPeriod;
    int m_timer = 0;
    bool m_running = false;
};
