#pragma once
// A row of tab items; pressing a visible item other than the current one selects it and reports
// kNotifyCommand with the item's id. A control taller than wide stacks its items top to bottom.

#include "ui/framework/UIObject.h"

#include <vector>

class UITabCtrl : public UIObject {
public:
    struct Item {
        int id = 0;
        std::string text;
        bool visible = true;
        CHRect rect{};
    };
    static constexpr int kTextPadding = 35;
    static constexpr int kNarrowText = 45;
    static constexpr int kNarrowItem = 80;
    static constexpr int kDefaultItemHeight = 36;

    UITabCtrl() : UIObject(kTypeTabCtrl) {}

    // Reads "bkgnd", "Item/normal", "Item/pressed", "Text/normal", "Text/pressed".
    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void AddItem(int id, std::string text);
    void ShowItem(int id, bool visible);
    // 0: items as wide as their text (horizontal) or the style's height (vertical).
    void SetItemSize(int size);
    bool SelectById(int id); // no notification
    int CurrentId() const;
    int CurrentIndex() const { return m_current; }
    const std::vector<Item>& Items() const { return m_items; }
    bool IsVertical() const;

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonDown(int x, int y) override;
    void AfterLayout() override { LayoutItems(); }

private:
    void LayoutItems();
    int ItemExtent(const Item& item) const;

    std::vector<Item> m_items;
    int m_current = -1;
    int m_itemSize = 0;
    SkinImageStyle m_bkgnd{};
    SkinImageStyle m_itemNormal{};
    SkinImageStyle m_itemPressed{};
    SkinTextStyle m_textNormal{};
    SkinTextStyle m_textPressed{};
};
