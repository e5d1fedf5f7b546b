#pragma once
// The device panel: every paired phone with its statistics, its last backup and the live
// progress of a running one; the pairing QR button and its bubble. Notifications arrive on
// worker threads; each copies its data into a task for the UI thread, where every item and
// list change happens.

#include "net/BackupProgress.h"
#include "shell/HistoryRecord.h"
#include "shell/IObserver.h"
#include "ui/framework/UIObject.h"
#include "ui/windows/PanelText.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct AuthEntry;
class CXIntroAnimate;
class CXQRCodeView;
class CNotifyHub;
class IPanelHost;
class UIAnimate;
class UIButton;
class UIHyperLink;
class UIQRBtn;

class CXDevInfo : public UIObject, public IObserver {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kHeaderHeight = 40;
    static constexpr int kExpandedHeight = 114;
    static constexpr int kCollapsedHeight = 56;
    static constexpr int kBusySize = 28;
    static constexpr int kMinContentHeight = 300;
    static constexpr int kStallPeriodMs = 10000;
    static constexpr std::chrono::seconds kStallAfter{20};
    static constexpr int kQrButtonId = 3001;
    static constexpr int kFolderButtonBase = 3100;

    struct Item {
        std::string name;
        std::string key;
        int type = 0;
        int phase = 0; // 0 idle, 2 transferring, other: preparing
        ProgressNumbers numbers;
        bool expanded = false;
        int count = 0;
        int64_t bytes = 0;
        std::string shortStatus;
        std::string detail;
        std::string lastTime;
        std::string lastSummary;
        CHRect rect{};
        UIButton* folder = nullptr;
        UIAnimate* busy = nullptr;
        UIHyperLink* link = nullptr;
        Clock::time_point lastProgress{};
        bool IsIdle() const { return phase == 0; }
    };

    explicit CXDevInfo(IPanelHost& host);
    ~CXDevInfo() override;

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void AfterLayout() override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonDown(int x, int y) override;
    bool OnElementRButtonDown(int x, int y) override;
    bool OnElementMouseMove(int x, int y) override;
    void OnMouseLeave() override;
    void OnElementTimer(int timerId) override;
    int NotifyParent(UIObject* source, int code, int id) override;
    void OnNotify(int code, const std::shared_ptr<const void>& data) override;

    // UI thread handlers of the notifications (public for the panel tests).
    // Follows the library's phones: adds the new, drops those it no longer knows, and after
    // a change of the storage root reads every item's totals and last backup again.
    void UpdateItemList();
    void HandleProgress(const BackupProgress& progress);
    void HandleDone(const HistoryRecord& record);
    void HandleStatistics(const std::string& key);
    // Ends stalled runs as of now; the stall timer calls it.
    void CheckStalled(Clock::time_point now);
    // The menu's "删除设备" for the item with this key: only while it is still idle.
    bool DeleteDevice(const std::string& key);
    void ShowPairingCode();

    int ContentHeight() const { return m_contentHeight; }
    const std::vector<std::unique_ptr<Item>>& Items() const { return m_items; }
    Item* FindItem(const std::string& key);
    std::string HeaderText() const;
    CXQRCodeView* QrView() const { return m_qrView; }
    CXIntroAnimate* Intro() const { return m_introAnimate; }
    UIQRBtn* QrButton() const { return m_qrButton; }
    std::string CurrentPairingPayload();

private:
    using ItemList = std::vector<std::unique_ptr<Item>>;
    std::unique_ptr<Item> MakeItem(const std::string& key, const AuthEntry& entry);
    void RemoveItemsNotIn(const std::map<std::string, AuthEntry>& auths);
    // Drops the item and its child controls; returns the position after it.
    ItemList::iterator RemoveItem(ItemList::iterator found);
    void LayoutItems();
    void ToggleExpanded(Item& item);
    void RefreshStatistics(Item& item);
    void StopRun(Item& item);
    void EnsureStallTimer();
    Item* ItemAt(int x, int y);
    void DrawItem(cairo_t* cr, const Item& item);
    void OpenDeviceFolder(const Item& item);
    void PlaceQrButton();

    IPanelHost& m_host;
    IResource* m_skin = nullptr;
    CNotifyHub* m_hub = nullptr; // kept: the host is gone when the panel is destroyed
    ItemList m_items;
    std::filesystem::path m_listRoot; // the storage root the list was last read from
    Item* m_highlight = nullptr;
    int m_contentHeight = kMinContentHeight;
    int m_stallTimer = 0;
    UIQRBtn* m_qrButton = nullptr;
    CXQRCodeView* m_qrView = nullptr;
    CXIntroAnimate* m_introAnimate = nullptr;
    SkinImageStyle m_itemBack{}, m_itemBackHL{}, m_deviceNormal{}, m_deviceSmall{},
        m_deviceNormalHL{}, m_deviceSmallHL{}, m_progressBG{}, m_progressFG{};
    std::vector<SkinImageStyle> m_busyFrames;
    const PangoFontDescription* m_headerFont = nullptr;
};
