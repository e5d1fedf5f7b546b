#pragma once
// A clickable QR icon with a link caption ("二维码配对"). A click on the icon or the caption is
// reported to the parent as a command with the button's id.

#include "ui/framework/UIObject.h"

class UIHyperLink;

class UIQRBtn : public UIObject {
public:
    static constexpr int kIconSize = 30;

    UIQRBtn() : UIObject(kTypeObject) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonUp(int x, int y) override;
    NativeCursor CursorAt(int x, int y) override;
    int NotifyParent(UIObject* source, int code, int id) override;
    void SetLinkText(std::string text);
    UIHyperLink* Link() const { return m_link; }

private:
    bool InIcon(int x, int y) const;

    SkinImageStyle m_icon{};
    UIHyperLink* m_link = nullptr;
};
