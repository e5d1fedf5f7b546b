#pragma once
// The column header of a list: a skinned band with column titles and splitters.

#include "ui/framework/UIObject.h"

#include <vector>

class UIHeader : public UIObject {
public:
    struct Column {
        std::string text;
        int width = 0;
    };

    UIHeader() : UIObject(kTypeHeader) {}

    // Reads "text", "bkgnd", "splitter" and "height".
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void AddColumn(std::string text, int width);
    const std::vector<Column>& Columns() const { return m_columns; }
    int HeaderHeight() const { return m_height; }
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;

private:
    std::vector<Column> m_columns;
    SkinTextStyle m_text{};
    SkinImageStyle m_bkgnd{};
    SkinImageStyle m_splitter{};
    int m_height = 0;
};
