#include "ui/windows/CXDevInfo.h"

#include "library/IDBCenter.h"
#include "media/TextFormat.h"
#include "media/TextUtil.h"
#include "pairing/PairingPayload.h"
#include "platform/PopupMenu.h"
#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinPaths.h"
#include "ui/framework/UISkinText.h"
#include "ui/windows/CXContentWnd.h"
#include "ui/windows/CXIntroAnimate.h"
#include "ui/windows/CXQRCodeView.h"
#include "ui/windows/FolderOpener.h"
#include "ui/windows/IPanelHost.h"
#include "ui/windows/UIQRBtn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

constexpr SkinColor kHeaderColor = 5001042;
constexpr SkinColor kLineColor = 10724259;
constexpr int kBarWidth = 310;
constexpr int kNameMaxWidth = 180;

template <class T> std::shared_ptr<const T> DataAs(const std::shared_ptr<const void>& data) {
    return std::static_pointer_cast<const T>(data);
}

} // namespace

CXDevInfo::CXDevInfo(IPanelHost& host) : m_host(host) {}

CXDevInfo::~CXDevInfo() {
    if (m_hub != nullptr) {
        CNotifyHub& hub = *m_hub;
        for (int code : {NOTIFY_DEVICES_CHANGED, NOTIFY_BACKUP_PROGRESS, NOTIFY_BACKUP_DONE,
                         NOTIFY_DEVICE_STATS}) {
            hub.Unsubscribe(this, code);
        }
    }
}

bool CXDevInfo::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    UIObject::ApplySkin(resource, path, start);
    m_skin = resource;
    auto image = [&](const char* name) { return resource->GetImageStyle(name, nullptr); };
    m_itemBack = image("DeviceInfoPanel/ItemBkgrd");
    m_itemBackHL = image("DeviceInfoPanel/ItemBkgrdHL");
    m_deviceNormal = image("DeviceInfoPanel/DeviceNormal");
    m_deviceSmall = image("DeviceInfoPanel/DeviceSmallIcon");
    m_deviceNormalHL = image("DeviceInfoPanel/DeviceNormalHL");
    m_deviceSmallHL = image("DeviceInfoPanel/DeviceSmallIconHL");
    m_progressBG = image("DeviceInfoPanel/ProgressBG");
    m_progressFG = image("DeviceInfoPanel/ProgressFG");
    m_headerFont = resource->GetFont(SkinPaths::kFontBold14);
    for (int i = 1; i <= 6; ++i) {
        m_busyFrames.push_back(
            resource->GetImageStyle("DeviceInfoPanel/Animate/" + std::to_string(i), nullptr));
    }
    m_qrButton = Add<UIQRBtn>();
    m_qrButton->ApplySkin(resource, "");
    m_qrButton->SetId(kQrButtonId);
    m_hub = &m_host.Core().Hub();
    for (int code : {NOTIFY_DEVICES_CHANGED, NOTIFY_BACKUP_PROGRESS, NOTIFY_BACKUP_DONE,
                     NOTIFY_DEVICE_STATS}) {
        m_hub->Subscribe(this, code);
    }
    // Phones paired in earlier runs: the list is built once now that changes are followed.
    UpdateItemList();
    return true;
}

void CXDevInfo::OnNotify(int code, const std::shared_ptr<const void>& data) {
    // Worker thread: copy what the notification carries and hand it to the UI thread.
    CHUiDispatcher& ui = m_host.Dispatcher();
    switch (code) {
    case NOTIFY_DEVICES_CHANGED:
        ui.Post([this] { UpdateItemList(); });
        break;
    case NOTIFY_BACKUP_PROGRESS:
        if (data) {
            BackupProgress copy = *DataAs<BackupProgress>(data);
            ui.Post([this, copy] { HandleProgress(copy); });
        }
        break;
    case NOTIFY_BACKUP_DONE:
        if (data) {
            HistoryRecord copy = *DataAs<HistoryRecord>(data);
            ui.Post([this, copy] { HandleDone(copy); });
        }
        break;
    case NOTIFY_DEVICE_STATS: {
        std::string key = data ? *DataAs<std::string>(data) : std::string();
        ui.Post([this, key] { HandleStatistics(key); });
        break;
    }
    default:
        break;
    }
}

CXDevInfo::Item* CXDevInfo::FindItem(const std::string& key) {
    for (auto& item : m_items) {
        if (item->key == key) {
            return item.get();
        }
    }
    return nullptr;
}

void CXDevInfo::UpdateItemList() {
    IDBCenter* db = m_host.Core().Library();
    std::map<std::string, AuthEntry> auths;
    if (db != nullptr) {
        db->GetAuthList(auths);
    }
    // Another library taken into use has other phones: those it does not know go, and the
    // texts of those it shares were read from the old one.
    RemoveItemsNotIn(auths);
    fs::path root = m_host.Core().GetRootPath();
    bool libraryChanged = root != m_listRoot;
    m_listRoot = root;
    std::vector<std::string> asked;
    for (const auto& [key, entry] : auths) {
        if (Item* existing = FindItem(key)) {
            if (existing->name != entry.name) {
                existing->name = entry.name;
                existing->link->SetText(entry.name);
            }
            if (libraryChanged) {
                existing->lastTime.clear();
                existing->lastSummary.clear();
                RefreshStatistics(*existing);
                asked.push_back(key);
            }
            continue;
        }
        m_items.push_back(MakeItem(key, entry));
        asked.push_back(key);
    }
    PlaceQrButton();
    LayoutItems();
    m_host.RequestRelayout();
    Invalidate();
    // The library answers with a NOTIFY_BACKUP_DONE per device; no panel state is held here.
    for (const std::string& key : asked) {
        if (db != nullptr) {
            db->ShowLastImport(key);
        }
    }
}

std::unique_ptr<CXDevInfo::Item> CXDevInfo::MakeItem(const std::string& key,
                                                     const AuthEntry& entry) {
    auto item = std::make_unique<Item>();
    item->name = entry.name;
    item->key = key;
    item->type = entry.type;
    item->folder = Add<UIButton>();
    item->folder->ApplySkin(m_skin, "Buttons/Button");
    item->folder->SetText("打开文件夹");
    item->folder->SetId(kFolderButtonBase);
    item->folder->Show(false);
    item->busy = Add<UIAnimate>();
    item->busy->SetFrames(m_busyFrames);
    item->busy->SetPeriod(80);
    item->busy->Show(false);
    item->link = Add<UIHyperLink>();
    item->link->SetTextColor(kHeaderColor);
    item->link->SetText(entry.name);
    item->link->SetId(kFolderButtonBase);
    RefreshStatistics(*item);
    return item;
}

void CXDevInfo::RemoveItemsNotIn(const std::map<std::string, AuthEntry>& auths) {
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (auths.count((*it)->key) == 0) {
            it = RemoveItem(it);
        } else {
            ++it;
        }
    }
}

CXDevInfo::ItemList::iterator CXDevInfo::RemoveItem(ItemList::iterator found) {
    std::unique_ptr<Item> item = std::move(*found);
    auto next = m_items.erase(found);
    if (m_highlight == item.get()) {
        m_highlight = nullptr;
    }
    DestroyChild(item->folder);
    DestroyChild(item->busy);
    DestroyChild(item->link);
    return next;
}

void CXDevInfo::PlaceQrButton() {
    if (m_qrButton == nullptr) {
        return;
    }
    if (m_items.empty()) {
        m_qrButton->SetLayout(-130, 8, 110, 30);
        if (m_introAnimate == nullptr) {
            m_introAnimate = Add<CXIntroAnimate>();
            m_introAnimate->ApplySkin(m_skin, "");
            m_introAnimate->SetAnchorTopLeft(true);
            m_introAnimate->SetLayout(10, 35, CXContentWnd::kPanelWidth - 20, 275);
            BringToFront(m_qrButton); // the button's lower edge overlaps the slides
            if (m_qrView != nullptr) {
                BringToFront(m_qrView);
            }
        }
        m_introAnimate->Show(true);
    } else {
        m_qrButton->SetLayout(-70, 8, 30, 30);
        if (m_introAnimate != nullptr) {
            m_introAnimate->Show(false);
        }
    }
}

void CXDevInfo::AfterLayout() {
    LayoutItems();
}

void CXDevInfo::LayoutItems() {
    const CHRect& r = Rect();
    int top = r.top + kHeaderHeight;
    for (auto& item : m_items) {
        int height = item->expanded ? kExpandedHeight : kCollapsedHeight;
        item->rect = {r.left + 40, top, r.right - 40, top + height};
        item->folder->MoveTo({r.left + 440, top + 40, r.left + 440 + 115, top + 40 + 34});
        item->folder->Show(item->expanded);
        int left = item->rect.left;
        // A badge on the device image; a collapsed item is too low for the usual place, so
        // the badge moves up rather than into the next item.
        int busyTop = top + std::min(38, height - kBusySize - 2);
        item->busy->MoveTo({left + 28, busyTop, left + 28 + kBusySize, busyTop + kBusySize});
        int linkWidth = std::min(item->link->TextWidth() + 1, kNameMaxWidth);
        int linkTop = top + (item->expanded ? 26 : 18) - 10;
        item->link->MoveTo({left + 80, linkTop, left + 80 + linkWidth, linkTop + 20});
        top += height;
    }
    m_contentHeight = std::max(kMinContentHeight, top - r.top);
}

std::string CXDevInfo::HeaderText() const {
    if (m_items.empty()) {
        return "WiFi传输图片到电脑，就这么简单";
    }
    return "关联的移动设备 (" + std::to_string(m_items.size()) + ")";
}

void CXDevInfo::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    DrawSkinText(cr, HeaderText(), {rect.left + 40, rect.top, rect.right, rect.top + 43},
                 m_headerFont ? m_headerFont : DefaultUiFont(), kHeaderColor, kTextVCenter);
    for (const auto& item : m_items) {
        DrawItem(cr, *item);
    }
}

void CXDevInfo::DrawItem(cairo_t* cr, const Item& item) {
    const CHRect& r = item.rect;
    DrawImageStyle(cr, r, &item == m_highlight ? m_itemBackHL : m_itemBack);
    bool busy = !item.IsIdle();
    if (item.expanded) {
        DrawImageStyleAt(cr, r.left + 10, r.top + 10, busy ? m_deviceNormalHL : m_deviceNormal);
        if (item.phase != BackupProgress::kPhaseTransfer) {
            std::string photos =
                item.count > 0 || item.lastTime.empty()
                    ? std::to_string(item.count) + "张照片(已去重), " + FormatSize(item.bytes)
                    : std::string();
            DrawSkinText(cr, photos, {r.left + 80, r.top + 46, r.right, r.top + 66},
                         DefaultUiFont(), kLineColor, 0);
            if (!item.lastTime.empty()) {
                DrawSkinText(cr, "最近备份", {r.left + 80, r.top + 65, r.left + 135, r.top + 85},
                             DefaultUiFont(), kLineColor, 0);
                DrawSkinText(cr, item.lastTime, {r.left + 135, r.top + 65, r.right, r.top + 85},
                             DefaultUiFont(), kLineColor, 0);
                DrawSkinText(cr, item.lastSummary, {r.left + 135, r.top + 85, r.right, r.top + 105},
                             DefaultUiFont(), kLineColor, 0);
            }
        }
        if (busy) {
            int filled = ProgressBarWidth(item.numbers, kBarWidth);
            DrawImageStyle(cr, {r.left + 80, r.top + 53, r.left + 80 + kBarWidth, r.top + 61},
                           m_progressBG);
            if (filled > 0) {
                DrawImageStyle(cr, {r.left + 80, r.top + 53, r.left + 80 + filled, r.top + 61},
                               m_progressFG);
            }
            DrawSkinText(cr, item.detail, {r.left + 80, r.top + 70, r.right, r.top + 90},
                         DefaultUiFont(), kLineColor, 0);
        }
    } else {
        DrawImageStyleAt(cr, r.left + 10, r.top + 10, busy ? m_deviceSmallHL : m_deviceSmall);
    }
    if (busy) {
        int nameWidth = std::min(item.link->TextWidth(), kNameMaxWidth);
        const CHRect& link = item.link->Rect();
        DrawSkinText(cr, item.shortStatus,
                     {r.left + 80 + nameWidth + 8, link.top, r.right, link.bottom}, DefaultUiFont(),
                     kLineColor, kTextVCenter);
    }
}

void CXDevInfo::HandleProgress(const BackupProgress& progress) {
    Item* item = FindItem(progress.deviceKey);
    if (item == nullptr) {
        return;
    }
    CVellumoCore& core = m_host.Core();
    item->phase = progress.phase;
    item->numbers = ClampProgress(progress);
    bool complete = IsBackupComplete(item->numbers);
    if (item->phase == BackupProgress::kPhaseTransfer) {
        item->shortStatus = ShortStatusText(item->numbers);
        if (complete) {
            core.Hub().NotifyDeviceStats("");
        } else {
            core.SetTrayTip(BackupTrayTip(item->name, item->numbers));
            item->detail = RemainingText(item->numbers);
        }
    } else {
        item->shortStatus = "准备中...";
        item->detail = "正在准备备份，请耐心等待。";
        if (!item->expanded) {
            item->expanded = true;
            LayoutItems();
            m_host.RequestRelayout();
        }
    }
    if (complete && !m_host.IsWindowShown()) {
        core.ShowBalloon("Vellumo", BackupDoneBalloon(item->name));
    }
    item->busy->Show(!complete);
    if (complete) {
        item->busy->Stop();
    } else if (!item->busy->IsRunning()) {
        item->busy->Start();
    }
    item->lastProgress = Clock::now();
    EnsureStallTimer();
    core.AddCountItem(1005, item->key);
    Invalidate();
}

void CXDevInfo::HandleDone(const HistoryRecord& record) {
    Item* item = FindItem(record.deviceKey);
    if (item == nullptr) {
        return;
    }
    item->lastTime = record.timeText;
    item->lastSummary = record.summaryText;
    bool wasRunning = !item->IsIdle();
    StopRun(*item);
    if (wasRunning) {
        m_host.Core().AddCount(1000, item->numbers.total);
    }
    Invalidate();
}

void CXDevInfo::HandleStatistics(const std::string& key) {
    for (auto& item : m_items) {
        if (key.empty() || item->key == key) {
            RefreshStatistics(*item);
        }
    }
    Invalidate();
}

void CXDevInfo::RefreshStatistics(Item& item) {
    if (IDBCenter* db = m_host.Core().Library()) {
        db->GetStatistics(item.count, item.bytes, &item.key);
    }
}

void CXDevInfo::StopRun(Item& item) {
    item.phase = 0;
    item.shortStatus.clear();
    item.busy->Stop();
    item.busy->Show(false);
}

void CXDevInfo::EnsureStallTimer() {
    if (m_stallTimer == 0) {
        m_stallTimer = SetElementTimer(kStallPeriodMs);
    }
}

void CXDevInfo::OnElementTimer(int timerId) {
    if (timerId == m_stallTimer) {
        CheckStalled(Clock::now());
    }
}

void CXDevInfo::CheckStalled(Clock::time_point now) {
    bool anyRunning = false;
    for (auto& item : m_items) {
        if (item->IsIdle()) {
            continue;
        }
        if (now - item->lastProgress < kStallAfter) {
            anyRunning = true;
            continue;
        }
        StopRun(*item);
        RefreshStatistics(*item);
        int missing = static_cast<int>(
            std::max(0.0, std::floor(item->numbers.total - item->numbers.current)));
        m_host.Core().AddCount(1001, missing);
        if (IDBCenter* db = m_host.Core().Library()) {
            db->ShowLastImport(item->key);
        }
    }
    if (!anyRunning && m_stallTimer != 0) {
        KillElementTimer(m_stallTimer);
        m_stallTimer = 0;
    }
    Invalidate();
}

CXDevInfo::Item* CXDevInfo::ItemAt(int x, int y) {
    for (auto& item : m_items) {
        const CHRect& r = item->rect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) {
            return item.get();
        }
    }
    return nullptr;
}

bool CXDevInfo::OnElementLButtonDown(int x, int y) {
    if (m_qrView != nullptr && m_qrView->IsVisible()) {
        m_qrView->Show(false);
        Invalidate();
    }
    Item* item = ItemAt(x, y);
    if (item == nullptr) {
        return false;
    }
    ToggleExpanded(*item);
    return true;
}

void CXDevInfo::ToggleExpanded(Item& item) {
    item.expanded = !item.expanded;
    LayoutItems();
    m_host.RequestRelayout();
    Invalidate();
}

bool CXDevInfo::OnElementRButtonDown(int x, int y) {
    Item* item = ItemAt(x, y);
    if (item == nullptr) {
        return false;
    }
    std::string key = item->key;
    ShowPopupMenu({{"删除设备", item->IsIdle(), [this, key] { DeleteDevice(key); }}});
    return true;
}

bool CXDevInfo::DeleteDevice(const std::string& key) {
    // The menu command arrives later: the item may be gone or busy by now.
    auto found = std::find_if(m_items.begin(), m_items.end(),
                              [&](const auto& item) { return item->key == key; });
    if (found == m_items.end() || !(*found)->IsIdle()) {
        return false;
    }
    if (IDBCenter* db = m_host.Core().Library()) {
        db->RemoveAuth(key);
    }
    RemoveItem(found);
    UpdateItemList();
    return true;
}

bool CXDevInfo::OnElementMouseMove(int x, int y) {
    Item* item = ItemAt(x, y);
    if (item != m_highlight) {
        m_highlight = item;
        Invalidate();
    }
    return false;
}

void CXDevInfo::OnMouseLeave() {
    if (m_highlight != nullptr) {
        m_highlight = nullptr;
        Invalidate();
    }
}

int CXDevInfo::NotifyParent(UIObject* source, int code, int id) {
    if (code == kNotifyCommand && id == kQrButtonId) {
        ShowPairingCode();
        return 1;
    }
    if (code == kNotifyCommand && id == kFolderButtonBase) {
        for (const auto& item : m_items) {
            if (source == item->folder || source == item->link) {
                OpenDeviceFolder(*item);
                return 1;
            }
        }
    }
    return UIObject::NotifyParent(source, code, id);
}

void CXDevInfo::OpenDeviceFolder(const Item& item) {
    CVellumoCore& core = m_host.Core();
    OpenFolderInFileManager(core.GetReposPath() / SanitizeFileName(item.name));
    core.AddCount(1004, 1);
}

std::string CXDevInfo::CurrentPairingPayload() {
    CVellumoCore& core = m_host.Core();
    return BuildPairingPayload(core.GetPairingPassword(), core.GetLocalIP());
}

void CXDevInfo::ShowPairingCode() {
    if (m_qrView == nullptr) {
        m_qrView = Add<CXQRCodeView>();
        m_qrView->ApplySkin(m_skin, "");
        m_qrView->SetLayout(-200, 45, 180, 220);
    } else {
        m_qrView->Show(true);
        BringToFront(m_qrView);
    }
    m_qrView->SetFocus();
    // Rebuilt on every click: the address or password may have changed.
    m_qrView->SetQrText(CurrentPairingPayload());
    Invalidate();
}
