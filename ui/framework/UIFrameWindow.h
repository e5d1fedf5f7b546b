#pragma once
// The skinned top-level window: a client background, four frame bands (normal while active,
// grayed while inactive) and the system buttons, all from the skin. The top band drags the
// window; a sizable window resizes from its bands' edges. Without per-pixel alpha the corners
// are cut with the window shape wherever the painted corner pieces are transparent (the skin's
// colour-keyed pixels), so the frame's rounded corners look the same either way.

#include "ui/framework/UIObject.h"

class UIButton;

// System commands, also used as the system buttons' ids when the skin gives none.
constexpr int kSysCommandMinimize = 0xF020;
constexpr int kSysCommandMaximize = 0xF030;
constexpr int kSysCommandClose = 0xF060;
constexpr int kSysCommandRestore = 0xF120;

// Hit-test answers of the frame.
enum FrameHit {
    kHitNowhere = 0,
    kHitClient = 1,
    kHitCaption = 2,
    kHitLeft = 10,
    kHitRight = 11,
    kHitTop = 12,
    kHitTopLeft = 13,
    kHitTopRight = 14,
    kHitBottom = 15,
    kHitBottomLeft = 16,
    kHitBottomRight = 17,
};

class UIFrameWindow : public UIObject {
public:
    static constexpr int kCornerGrip = 4;
    static constexpr int kTopGrip = 2;

    UIFrameWindow() : UIObject(kTypeFrameWindow) {}

    // Creates the native window; translucent asks for per-pixel alpha (used when a compositor
    // runs). Centred on the screen.
    bool Create(int width, int height, bool translucent = true, bool taskbar = true);
    // Reads "Client/bkgnd", "Frames/<Top|Left|Right|Bottom>/<normal|grayed>" and creates the
    // system buttons whose "SysBtns/<name>" node exists.
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void SetSizable(bool sizable) { m_sizable = sizable; }
    bool IsSizable() const { return m_sizable; }
    void CenterOnScreen();

    const CHRect& TopBand() const { return m_top; }
    const CHRect& LeftBand() const { return m_left; }
    const CHRect& RightBand() const { return m_right; }
    const CHRect& BottomBand() const { return m_bottom; }
    const CHRect& ClientArea() const { return m_client; }
    UIButton* SystemButton(int command) const;
    // What the point is for the window manager: caption, a sizing edge or client.
    int HitTest(int x, int y);
    // The rectangles the window shape keeps, from the painted corners of the back buffer.
    std::vector<NativeRect> ComputeShape() const;

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    void AfterLayout() override;
    int NotifyParent(UIObject* source, int code, int id) override;
    // Close (from the close button or the window manager), minimise, maximise, restore. The
    // default closes by hiding the window.
    virtual void OnSystemCommand(int command);

protected:
    bool OnFramePress(const NativeEvent& press) override;
    void OnClose() override { OnSystemCommand(kSysCommandClose); }
    void OnFocusChange(bool focused) override;
    void OnStateChange(const NativeEvent& event) override;
    NativePixels OnPaint(const NativeRect& dirty) override;

private:
    struct Band {
        SkinImageStyle normal{};
        SkinImageStyle grayed{};
    };
    void ComputeBands();
    UIButton* MakeSystemButton(IResource* resource, const Json::Value* node, const char* name,
                               int command);
    void SwapMaximizeButtons(bool maximized);

    SkinImageStyle m_clientStyle{};
    Band m_bands[4]; // top, left, right, bottom
    CHRect m_top{}, m_left{}, m_right{}, m_bottom{}, m_client{};
    UIButton* m_sysButtons[4] = {}; // close, restore, maximize, minimize
    bool m_sizable = false;
    bool m_active = true;
    bool m_shapeDirty = true;
};
