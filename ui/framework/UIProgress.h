#pragma once
// A progress bar: "bkgnd" over the whole bar, "frgnd" over the part done.

#include "ui/framework/UIObject.h"

class UIProgress : public UIObject {
public:
    UIProgress() : UIObject(kTypeProgress) {}

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void SetRange(int minimum, int maximum);
    void SetPos(int position);
    int Pos() const { return m_pos; }
    void SetStyles(const SkinImageStyle& background, const SkinImageStyle& foreground);
    // Width of the done part for a bar of the given width: (position - minimum) clamped to the
    // range, scaled to the width; 0 when maximum <= minimum.
    static int FilledWidth(int width, int minimum, int maximum, int position);
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

private:
    SkinImageStyle m_bkgnd{};
    SkinImageStyle m_frgnd{};
    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
};
