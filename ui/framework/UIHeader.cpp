#include "ui/framework/UIHeader.h"

#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinText.h"

bool UIHeader::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    if (!resource)
        return false;
    const Json::Value* node = resource->FindNode(path, start);
    if (!node)
        return false;
    m_text = resource->GetTextStyle("text", node);
    m_bkgnd = resource->GetImageStyle("bkgnd", node);
    m_splitter = resource->GetImageStyle("splitter", node);
    m_height = resource->GetInt("height", node);
    Invalidate();
    return true;
}

void UIHeader::AddColumn(std::string text, int width) {
    m_columns.push_back({std::move(text), width});
    Invalidate();
}

void UIHeader::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    DrawImageStyle(cr, rect, m_bkgnd);
    int x = rect.left;
    for (const Column& column : m_columns) {
        CHRect cell{x, rect.top, x + column.width, rect.bottom};
        DrawSkinText(cr, column.text, RectInset(cell, 4, 0, 4, 0), m_text.font, m_text.color,
                     m_text.align ? m_text.align : (kTextVCenter | kTextSingleLine));
        x += column.width;
        if (m_splitter.bgW > 0)
            DrawImageStyle(cr, {x - m_splitter.bgW, rect.top, x, rect.bottom}, m_splitter);
    }
}
