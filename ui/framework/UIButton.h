#pragma once
// A push button drawn from five skin states. A click is a left press and a left release both on
// the enabled button: the button holds the mouse capture in between, shows the pressed look
// only while the pointer is over it, and reports nothing when the release happens elsewhere.

#include "ui/framework/UIObject.h"

#include <array>

class UIButton : public UIObject {
public:
    enum State { kStateNone = 0, kStateHovered = 2, kStatePressed = 3 };

    explicit UIButton(int typeCode = kTypeButton) : UIObject(typeCode) {}

    // Reads "id", "size", the five state styles and "Text/margin", "Text/<state>".
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void SetText(std::string text);
    const std::string& Text() const { return m_text; }
    int State() const { return m_state; }
    // The state table index this button draws with now.
    virtual int DrawIndex() const;

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonDown(int x, int y) override;
    bool OnElementLDoubleClick(int x, int y) override;
    bool OnElementLButtonUp(int x, int y) override;
    bool OnElementMouseMove(int x, int y) override;
    void OnMouseEnter() override;
    void OnMouseLeave() override;
    void OnShown(bool visible) override;

protected:
    // A completed click; the default reports kNotifyCommand with the button's id.
    virtual void OnClicked();
    void SetState(int state);
    void ReadStates(IResource* resource, const Json::Value* node, std::string_view prefix,
                    SkinStateTable& table);
    void DrawFace(cairo_t* cr, const CHRect& rect, const SkinStateTable& table);

    SkinStateTable m_styles{};
    std::array<SkinTextStyle, 5> m_textStyles{};
    SkinQuad m_textMargin{};
    std::string m_text;
    int m_state = kStateNone;
};
