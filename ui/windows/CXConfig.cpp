#include "ui/windows/CXConfig.h"

#include "ui/windows/PasswordHint.h"

#include "library/IDBCenter.h"
#include "platform/Dialogs.h"
#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "shell/StoragePaths.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UICheckBox.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UISkinText.h"
#include "ui/framework/UIXEdit.h"
#include "ui/windows/CXRootChange.h"
#include "ui/windows/IPanelHost.h"

#include <cairo.h>

#include <map>

namespace {

constexpr const char* kTitle = "Vellumo";
constexpr int kRuleInset = 30;
constexpr SkinColor kHeadingColor = 0x4C4F52;

UIButton* MakeButton(UIObject& parent, IResource* skin, const char* style, const char* text, int id,
                     int x, int y, int w, int h) {
    auto* button = parent.Add<UIButton>();
    button->ApplySkin(skin, style);
    button->SetText(text);
    button->SetId(id);
    button->SetLayout(x, y, w, h);
    return button;
}

UIXEdit* MakeEdit(UIObject& parent, IResource* skin, int id, int x, int y, int w, int maxLength) {
    auto* edit = parent.Add<UIXEdit>();
    edit->ApplySkin(skin, "Config/Edit");
    edit->SetId(id);
    edit->SetMaxLength(maxLength);
    edit->SetLayout(x, y, w, 30);
    return edit;
}

// A heading with the three-pixel rule under it, inset from both edges.
void DrawSection(cairo_t* cr, const CHRect& rect, const char* text, int top) {
    DrawSkinText(cr, text, {rect.left + kRuleInset, top, rect.right - kRuleInset, top + 24},
                 DefaultUiFont(), kHeadingColor, kTextVCenter | kTextSingleLine);
    const double greys[] = {0xF6, 0xD5, 0xF6};
    for (int i = 0; i < 3; ++i) {
        cairo_set_source_rgb(cr, greys[i] / 255, greys[i] / 255, greys[i] / 255);
        cairo_rectangle(cr, rect.left + kRuleInset, top + 24 + i,
                        rect.right - rect.left - 2 * kRuleInset, 1);
        cairo_fill(cr);
    }
}

bool SameRoot(const std::string& typed, const fs::path& current) {
    return !typed.empty() && NormalizeRoot(typed) == NormalizeRoot(current);
}

} // namespace

CXConfig::CXConfig(IPanelHost& host)
    : m_host(host), m_rootChange(std::make_unique<CXRootChange>(host.Core(), host.Dispatcher())) {
    m_rootChange->SetBusyHandler([this](bool busy) { SetBusy(busy); });
}

CXConfig::~CXConfig() = default;

bool CXConfig::ApplySkin(IResource* resource, std::string_view path, const Json::Value* start) {
    UIObject::ApplySkin(resource, path, start);
    BuildControls(resource);
    return true;
}

void CXConfig::BuildControls(IResource* resource) {
    m_storage = MakeEdit(*this, resource, kStorageBoxId, 30, 27, 315, UIXEdit::kUnlimited);
    m_storage->SetAccepted(UIXEdit::Accepted::AnyText); // any folder name, in any script
    m_changeFolder = MakeButton(*this, resource, "Buttons/ButtonOpenFolder", "更换目录",
                                kChangeFolderId, 340, 27, 70, 30);
    m_password = MakeEdit(*this, resource, kPasswordBoxId, 30, 105, 380, kPasswordMaxLength);
    m_hint = Add<UILabel>();
    m_hint->ApplySkin(resource, "Welcome/LabelSH");
    m_hint->SetLayout(30, 140, 160, 30);
    m_autoStart = Add<UICheckBox>();
    m_autoStart->ApplySkin(resource, "MainWindow/Checkbox");
    m_autoStart->SetText("开机时自动运行");
    m_autoStart->SetId(kAutoStartId);
    m_autoStart->SetLayout(30, 170, 130, 28);
    m_ok = MakeButton(*this, resource, "Buttons/ButtonHL", "确定", kOkId, 100, 215, 95, 35);
    m_cancel = MakeButton(*this, resource, "Buttons/Button", "取消", kCancelId, 250, 215, 95, 35);
    m_busyAnimation = Add<UIAnimate>();
    std::vector<SkinImageStyle> frames;
    for (int i = 11; i <= 18; ++i) {
        frames.push_back(
            resource->GetImageStyle("PcInfoPanel/LoadAnimate/" + std::to_string(i), nullptr));
    }
    m_busyAnimation->SetFrames(std::move(frames));
    m_busyAnimation->SetLayout(355, 223, 18, 18);
    m_busyAnimation->Show(false);
    UpdatePasswordHint();
}

void CXConfig::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIObject::Draw(cr, rect, dirty);
    DrawSection(cr, rect, "存储目录", rect.top);
    DrawSection(cr, rect, "配对密码", rect.top + 75);
}

void CXConfig::Reload() {
    if (IsBusy() || m_storage == nullptr) {
        return;
    }
    CVellumoCore& core = m_host.Core();
    m_storage->SetEditText(core.GetRootPath().string());
    m_loadedPassword = core.GetPairingPassword();
    m_password->SetEditText(m_loadedPassword);
    IDBCenter* db = core.Library();
    m_autoStart->SetChecked(db != nullptr && !db->GetConfig(kAutoStartKey).empty());
    UpdatePasswordHint();
}

void CXConfig::UpdatePasswordHint() {
    if (m_password == nullptr || m_hint == nullptr) {
        return;
    }
    bool storable = ShowPasswordHint(*m_hint, m_password->Text());
    m_ok->Enable(storable && !m_busy);
}

int CXConfig::NotifyParent(UIObject* source, int code, int id) {
    if (code == kNotifyTextChanged && source == m_password) {
        UpdatePasswordHint();
        return 1;
    }
    if (code == kNotifyCommand) {
        switch (id) {
        case kChangeFolderId:
            ChooseStorageFolder();
            return 1;
        case kOkId:
            Confirm();
            return 1;
        case kCancelId:
            Cancel();
            return 1;
        case kAutoStartId:
            return 1; // the box only records the choice; "确定" applies it
        default:
            break;
        }
    }
    return UIObject::NotifyParent(source, code, id);
}

void CXConfig::ChooseStorageFolder() {
    if (IsBusy()) {
        return;
    }
    fs::path chosen;
    if (ChooseFolder(nullptr, chosen) && !chosen.empty()) {
        m_storage->SetEditText(chosen.string());
    }
}

void CXConfig::Cancel() {
    if (IsBusy()) {
        return; // the change runs on; its outcome still needs this page
    }
    if (m_close) {
        m_close();
    }
}

void CXConfig::Confirm() {
    if (IsBusy() || m_storage == nullptr) {
        return;
    }
    if (m_password->Text().empty()) {
        // Nothing is stored: an empty password would lock every phone out.
        UpdatePasswordHint();
        m_password->SetFocus();
        return;
    }
    const std::string& typed = m_storage->Text();
    if (SameRoot(typed, m_host.Core().GetRootPath())) {
        Complete();
        return;
    }
    // Refusals, failures and the offer to use a library found there are told by the change
    // itself; the page goes on only once the new root is in use.
    m_changing = m_rootChange->Start(typed, [this](const CXRootChange::Result& result) {
        m_changing = false;
        if (result.change == CVellumoCore::RootChange::Done) {
            Complete();
        }
    });
}

void CXConfig::SetBusy(bool busy) {
    m_busy = busy;
    if (m_storage == nullptr) {
        return;
    }
    for (UIObject* control :
         {static_cast<UIObject*>(m_storage), static_cast<UIObject*>(m_changeFolder),
          static_cast<UIObject*>(m_password), static_cast<UIObject*>(m_autoStart),
          static_cast<UIObject*>(m_cancel)}) {
        control->Enable(!busy);
    }
    UpdatePasswordHint(); // enables "确定" again only with a password
    m_busyAnimation->Show(busy);
    if (busy) {
        m_busyAnimation->Start();
    } else {
        m_busyAnimation->Stop();
    }
}

bool CXConfig::ApplyPassword() {
    CVellumoCore& core = m_host.Core();
    const std::string& typed = m_password->Text();
    std::string stored = core.GetPairingPassword();
    if (typed == stored) {
        return true;
    }
    // A library taken over as it is keeps its own password unless the user typed another.
    if (typed == m_loadedPassword && !stored.empty()) {
        return true;
    }
    if (!core.SetPairingPassword(typed)) {
        Fail("无法保存配对密码。");
        return false;
    }
    return true;
}

bool CXConfig::ApplyAutoStart() {
    CVellumoCore& core = m_host.Core();
    IDBCenter* db = core.Library();
    if (db == nullptr) {
        Fail("照片库没有打开, 设置无法保存。");
        return false;
    }
    bool wasOn = db->GetConfig(kAutoStartKey) == "True";
    if (m_autoStart->IsChecked()) {
        if (!core.SetAutoStart(true)) {
            db->SetConfig(kAutoStartKey, "");
            m_autoStart->SetChecked(false);
            Fail("无法设置开机时自动运行: 启动项无法写入。");
            return false;
        }
        if (!wasOn) {
            core.AddCount(kAutoStartUseCounter, 1);
        }
        db->SetConfig(kAutoStartKey, "True");
        return true;
    }
    if (!core.SetAutoStart(false)) {
        m_autoStart->SetChecked(true);
        Fail("无法取消开机时自动运行: 启动项无法删除。");
        return false;
    }
    db->SetConfig(kAutoStartKey, "");
    return true;
}

void CXConfig::Complete() {
    if (!ApplyPassword() || !ApplyAutoStart()) {
        return;
    }
    if (m_close) {
        m_close();
    }
}

void CXConfig::Fail(const std::string& text) {
    ShowMessage(kTitle, text);
}
