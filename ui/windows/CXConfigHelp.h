#pragma once
// The settings window's help page: one bold line, the introduction carousel (built when the
// page is first shown) and "查看更多", which opens the usage page in the browser.

#include "ui/framework/UIObject.h"

class CXIntroAnimate;
class IPanelHost;
class UIHyperLink;

class CXConfigHelp : public UIObject {
public:
    static constexpr int kMoreLinkId = 4301;
    static constexpr SkinColor kLineColor = 0x4C4F52;
    static constexpr SkinColor kLinkColor = 0x4277E1;
    static constexpr const char* kHeadline = "WiFi传输图片到电脑，就这么简单";
    static constexpr int kCarouselTop = 55;
    static constexpr int kCarouselHeight = 275;
    // Taller than the other pages: the carousel keeps its full height (its marks lie in its
    // lower band, under the slides' captions) and "查看更多" gets a line of its own below.
    static constexpr int kPageHeight = kCarouselTop + kCarouselHeight + 20;

    explicit CXConfigHelp(IPanelHost& host);

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    void OnShown(bool visible) override;
    int NotifyParent(UIObject* source, int code, int id) override;

    // Null until the page was shown once.
    CXIntroAnimate* Carousel() const { return m_carousel; }
    UIHyperLink* MoreLink() const { return m_more; }
    // The address "查看更多" opens now.
    std::string MoreAddress();

private:
    IPanelHost& m_host;
    IResource* m_skin = nullptr;
    const PangoFontDescription* m_bold = nullptr;
    CXIntroAnimate* m_carousel = nullptr;
    UIHyperLink* m_more = nullptr;
};
