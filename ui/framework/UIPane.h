#pragma once
// A plain area with a skinned background ("bkgnd"); windows use it for titles and groups.

#include "ui/framework/UIObject.h"

class UIPane : public UIObject {
public:
    explicit UIPane(int typeCode = kTypePane) : UIObject(typeCode) {}

    // Reads "size" and "bkgnd"; a node without "bkgnd" is itself the background style.
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void SetBackgroundStyle(const SkinImageStyle& style) { m_bkgnd = style; }
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

protected:
    SkinImageStyle m_bkgnd{};
};
