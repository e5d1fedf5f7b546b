#pragma once
// A list of text rows with alternating backgrounds, one selected row, a header and a vertical
// scroll bar that appears when the rows do not fit.

#include "ui/framework/UIObject.h"

#include <vector>

class UIHeader;
class UIScrollBar;

class UIListView : public UIObject {
public:
    static constexpr int kDefaultRowHeight = 28;

    UIListView();

    // Reads "ScrollBar", "Header", "Item/odd", "Item/even", "Item/selected", "Item/height".
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void AddRow(std::string text);
    void ClearRows();
    size_t RowCount() const { return m_rows.size(); }
    int Selected() const { return m_selected; }
    void Select(int row);
    int ScrollOffset() const { return m_offset; }
    // The row's rectangle at the current scroll offset.
    CHRect RowRect(int row) const;
    UIScrollBar* ScrollBar() const { return m_scroll; }
    UIHeader* Header() const { return m_header; }

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonDown(int x, int y) override;
    bool OnElementWheel(int steps, int x, int y) override;
    int NotifyParent(UIObject* source, int code, int id) override;
    void AfterLayout() override { UpdateScroll(); }

private:
    CHRect RowsArea() const;
    void UpdateScroll();
    void ScrollTo(int offset);

    std::vector<std::string> m_rows;
    int m_selected = -1;
    int m_offset = 0;
    int m_rowHeight = kDefaultRowHeight;
    UIScrollBar* m_scroll = nullptr;
    UIHeader* m_header = nullptr;
    SkinImageStyle m_odd{};
    SkinImageStyle m_even{};
    SkinImageStyle m_selectedStyle{};
    SkinTextStyle m_text{};
};
