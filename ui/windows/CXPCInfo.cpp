#include "ui/windows/CXPCInfo.h"

#include "library/IDBCenter.h"
#include "media/TextFormat.h"
#include "pairing/PairingPayload.h"
#include "platform/Dialogs.h"
#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinPaths.h"
#include "ui/framework/UISkinText.h"
#include "ui/windows/FolderOpener.h"
#include "ui/windows/IPanelHost.h"
#include "ui/windows/PanelText.h"

#include <cairo.h>

#include <cstdio>

namespace {

constexpr SkinColor kNameColor = 3828717;
constexpr SkinColor kLineColor = 10724259;
constexpr const char* kLocalDevice = "localhost";

UIButton* MakeButton(UIObject& parent, IResource* skin, const char* text, int id, int x, int y) {
    auto* button = parent.Add<UIButton>();
    button->ApplySkin(skin, "Buttons/Button");
    button->SetText(text);
    button->SetId(id);
    button->SetAnchorTopLeft(true);
    button->SetLayout(x, y, 115, 35);
    return button;
}

void GreyLine(cairo_t* cr, int left, int right, int y, double grey) {
    cairo_set_source_rgb(cr, grey / 255, grey / 255, grey / 255);
    cairo_rectangle(cr, left, y, right - left, 1);
    cairo_fill(cr);
}

} // namespace

CXPCInfo::CXPCInfo(IPanelHost& host) : m_host(host) {}

CXPCInfo::~CXPCInfo() {
    if (m_hub != nullptr) {
        m_hub->Unsubscribe(this, NOTIFY_DEVICE_STATS);
    }
}

bool CXPCInfo::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    UIObject::ApplySkin(resource, path, start);
    CVellumoCore& core = m_host.Core();
    if (IDBCenter* db = core.Library()) {
        m_name = db->GetConfig("info_hostname");
        if (m_name.empty()) {
            m_name = GetHostNameText();
            if (!m_name.empty()) {
                db->SetConfig("info_hostname", m_name);
            }
        }
    }
    m_address = "IP: " + core.GetLocalIP();
    m_computer = resource->GetImageStyle("MainWindow/ComputerIcon", nullptr);
    m_nameFont = resource->GetFont(SkinPaths::kFontBold16);
    m_openFolder = MakeButton(*this, resource, "打开文件夹", kOpenFolderId, 440, 35);
    m_addPhotos = MakeButton(*this, resource, "添加照片", kAddPhotosId, 440, 82);
    m_busy = Add<UIAnimate>();
    std::vector<SkinImageStyle> frames;
    for (int i = 11; i <= 18; ++i) {
        frames.push_back(
            resource->GetImageStyle("PcInfoPanel/LoadAnimate/" + std::to_string(i), nullptr));
    }
    m_busy->SetFrames(std::move(frames));
    m_busy->SetPeriod(80);
    m_busy->SetAnchorTopLeft(true);
    m_busy->SetLayout(560, 90, 18, 18);
    m_busy->Show(false);
    m_hub = &core.Hub();
    m_hub->Subscribe(this, NOTIFY_DEVICE_STATS);
    RefreshStatistics(true);
    return true;
}

void CXPCInfo::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    DrawImageStyleAt(cr, rect.left + 40, rect.top + 25, m_computer);
    int left = rect.left + 160;
    DrawSkinText(cr, m_name, {left, rect.top + 30, rect.right, rect.top + 65},
                 m_nameFont ? m_nameFont : DefaultUiFont(), kNameColor, 0);
    DrawSkinText(cr, m_address, {left, rect.top + 55, rect.left + 610, rect.top + 85},
                 DefaultUiFont(), kLineColor, 0);
    DrawSkinText(cr, m_library, {left, rect.top + 75, rect.left + 430, rect.top + 105},
                 DefaultUiFont(), kLineColor, 0);
    DrawSkinText(cr, "将照片添加至此文件夹，以便移动设备下载浏览",
                 {left, rect.top + 95, rect.left + 430, rect.top + 125}, DefaultUiFont(),
                 kLineColor, 0);
    GreyLine(cr, rect.left + 40, rect.right - 40, rect.bottom - 3, 246);
    GreyLine(cr, rect.left + 40, rect.right - 40, rect.bottom - 2, 213);
    GreyLine(cr, rect.left + 40, rect.right - 40, rect.bottom - 1, 246);
}

int CXPCInfo::NotifyParent(UIObject* source, int code, int id) {
    if (code == kNotifyCommand && id == kOpenFolderId) {
        OpenFolder();
        return 1;
    }
    if (code == kNotifyCommand && id == kAddPhotosId) {
        AddPhotos();
        return 1;
    }
    return UIObject::NotifyParent(source, code, id);
}

void CXPCInfo::OnNotify(int code, const std::shared_ptr<const void>& data) {
    if (code != NOTIFY_DEVICE_STATS) {
        return;
    }
    bool local = data && *static_cast<const std::string*>(data.get()) == kLocalDevice;
    // Worker thread: only a copy of the key travels to the UI thread.
    m_host.Dispatcher().Post([this, local] { RequestStatistics(local); });
}

void CXPCInfo::RequestStatistics(bool local) {
    m_pendingLocal = m_pendingLocal || local;
    if (m_refreshTimer != 0) {
        return; // the reading at the end of the gap takes this request along
    }
    auto now = std::chrono::steady_clock::now();
    if (now - m_lastRefresh < std::chrono::milliseconds(kRefreshGapMs)) {
        m_refreshTimer = SetElementTimer(kRefreshGapMs);
        if (m_refreshTimer != 0) {
            return;
        }
    }
    m_lastRefresh = now;
    bool pendingLocal = m_pendingLocal;
    m_pendingLocal = false;
    RefreshStatistics(pendingLocal);
}

void CXPCInfo::OnElementTimer(int timerId) {
    if (timerId != m_refreshTimer) {
        return;
    }
    KillElementTimer(m_refreshTimer);
    m_refreshTimer = 0;
    m_lastRefresh = {};
    RequestStatistics(false);
}

void CXPCInfo::RefreshStatistics(bool local) {
    IDBCenter* db = m_host.Core().Library();
    if (db == nullptr) {
        return;
    }
    int count = 0;
    int64_t bytes = 0;
    if (local || m_library.empty()) {
        std::string key = kLocalDevice;
        db->GetStatistics(count, bytes, &key);
        char line[160];
        std::snprintf(line, sizeof line, "电脑相册共 %d 张照片, 占用空间 %s", count,
                      FormatSize(bytes).c_str());
        m_library = line;
    }
    db->GetStatistics(count, bytes, nullptr);
    m_host.Core().SetTrayTip(LibraryTrayTip(count, bytes));
    Invalidate();
}

void CXPCInfo::SetBusy(bool busy) {
    if (m_busy == nullptr) {
        return;
    }
    m_busy->Show(busy);
    if (busy && !m_busy->IsRunning()) {
        m_busy->Start();
    } else if (!busy) {
        m_busy->Stop();
    }
}

bool CXPCInfo::IsBusy() const {
    return m_busy != nullptr && m_busy->IsRunning();
}

void CXPCInfo::OpenFolder() {
    CVellumoCore& core = m_host.Core();
    core.AddCount(1004, 1);
    std::string name = core.Library() ? core.Library()->GetDeviceName(kLocalDevice) : "";
    OpenFolderInFileManager(core.GetReposPath() / (name.empty() ? kLocalDevice : name));
}

void CXPCInfo::AddPhotos() {
    std::vector<fs::path> files;
    if (ChooseFiles(nullptr, {{"图片", "*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tiff"}}, files) > 0) {
        m_host.Core().ImportLocalFiles(files);
    }
}
