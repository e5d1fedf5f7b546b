#pragma once
// The PC panel: this computer's name and address, the library totals, "打开文件夹" and
// "添加照片" with the busy animation of a local import.

#include "shell/IObserver.h"
#include "ui/framework/UIObject.h"

#include <chrono>
#include <string>

class CNotifyHub;
class IPanelHost;
class UIAnimate;
class UIButton;

class CXPCInfo : public UIObject, public IObserver {
public:
    static constexpr int kOpenFolderId = 2001;
    static constexpr int kAddPhotosId = 2002;

    explicit CXPCInfo(IPanelHost& host);
    ~CXPCInfo() override;

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    int NotifyParent(UIObject* source, int code, int id) override;
    void OnNotify(int code, const std::shared_ptr<const void>& data) override;

    // UI thread: the busy animation of a local import.
    void SetBusy(bool busy);
    // UI thread: re-reads the totals (the local device's line when local is true).
    void RefreshStatistics(bool local);
    // UI thread: the totals are read at once, or, within kRefreshGapMs of the last reading,
    // once at the end of that gap for every request that arrived meanwhile. The whole-library
    // totals cost a scan of the library; a backup asks for them with every photo.
    void RequestStatistics(bool local);
    void OnElementTimer(int timerId) override;

    static constexpr int kRefreshGapMs = 500;

    const std::string& NameText() const { return m_name; }
    const std::string& AddressText() const { return m_address; }
    const std::string& LibraryText() const { return m_library; }
    bool IsBusy() const;

private:
    void OpenFolder();
    void AddPhotos();

    IPanelHost& m_host;
    CNotifyHub* m_hub = nullptr; // kept: the host is gone when the panel is destroyed
    std::string m_name;
    std::string m_address;
    std::string m_library;
    SkinImageStyle m_computer{};
    const PangoFontDescription* m_nameFont = nullptr;
    UIButton* m_openFolder = nullptr;
    UIButton* m_addPhotos = nullptr;
    UIAnimate* m_busy = nullptr;
    std::chrono::steady_clock::time_point m_lastRefresh{};
    int m_refreshTimer = 0;
    bool m_pendingLocal = false;
};
