#pragma once
// The settings window's about page: logo, name, version, two notice lines, the link to the
// product site and "扫一扫下载Vellumo App", which opens a bubble with the app's download code.
// Addresses depend on the PC's current address: they are rebuilt whenever they are shown.

#include "ui/framework/UIObject.h"

#include <string>
#include <vector>

class CXQRCodeView;
class IPanelHost;
class UIButton;
class UILabel;
class UIQRBtn;

class CXConfigAbout : public UIObject {
public:
    static constexpr int kSiteButtonId = 4201;
    static constexpr int kQrButtonId = 4202;
    static constexpr const char* kNoticeChinese = "照片只保存在这台电脑上。";
    static constexpr const char* kNoticeEnglish = "Your photos stay on this PC.";

    explicit CXConfigAbout(IPanelHost& host);

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    void OnShown(bool visible) override;
    int NotifyParent(UIObject* source, int code, int id) override;

    // The link button's caption follows the product site's current address.
    void RefreshSiteLink();
    // The download bubble: created on first use, its code rebuilt each time.
    void ShowDownloadCode();

    UIButton* SiteButton() const { return m_site; }
    UIQRBtn* QrButton() const { return m_qrButton; }
    CXQRCodeView* QrView() const { return m_qrView; }
    const std::vector<UILabel*>& Labels() const { return m_labels; }

private:
    void BuildContent(IResource* resource);
    UILabel* AddLabel(IResource* resource, const char* style, std::string text, int y);

    IPanelHost& m_host;
    IResource* m_skin = nullptr;
    SkinImageStyle m_logo{};
    std::vector<UILabel*> m_labels;
    UIButton* m_site = nullptr;
    const PangoFontDescription* m_siteFont = nullptr;
    UIQRBtn* m_qrButton = nullptr;
    CXQRCodeView* m_qrView = nullptr;
};
