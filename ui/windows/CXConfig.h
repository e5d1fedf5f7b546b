#pragma once
// The settings page: storage folder, pairing password and start with the session. "确定" moves
// the library when the folder changed (on a worker: the page stays responsive with its
// controls disabled and the busy animation running), offers to use a library already at the
// chosen folder, and then stores the password and the autostart choice. A refusal or failure
// is told in a message box and leaves the page open with what the user typed.

#include "ui/framework/UIObject.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class CXRootChange;

class IPanelHost;
class UIAnimate;
class UIButton;
class UICheckBox;
class UILabel;
class UIXEdit;

class CXConfig : public UIObject {
public:
    static constexpr int kStorageBoxId = 4101;
    static constexpr int kChangeFolderId = 4102;
    static constexpr int kPasswordBoxId = 4103;
    static constexpr int kAutoStartId = 4104;
    static constexpr int kOkId = 4105;
    static constexpr int kCancelId = 4106;
    static constexpr const char* kAutoStartKey = "autoStartup";
    static constexpr int kAutoStartUseCounter = 1003;

    explicit CXConfig(IPanelHost& host);
    ~CXConfig() override;

    bool ApplySkin(IResource* resource, std::string_view path,
                   const Json::Value* start = nullptr) override;
    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    int NotifyParent(UIObject* source, int code, int id) override;

    // Called when the page is done ("确定" succeeded, or "取消"): the window hides.
    void SetCloseHandler(std::function<void()> close) { m_close = std::move(close); }
    // The stored values into the controls (each time the window is shown). Ignored while a
    // change is still running, so its outcome is not lost.
    void Reload();
    // "确定" and "取消".
    void Confirm();
    void Cancel();
    // A root change is under way (running, or asking whether to use a library found there).
    bool IsBusy() const { return m_busy || m_changing; }

    UIXEdit* StorageBox() const { return m_storage; }
    UIXEdit* PasswordBox() const { return m_password; }
    UICheckBox* AutoStartBox() const { return m_autoStart; }
    UILabel* HintLabel() const { return m_hint; }
    UIButton* OkButton() const { return m_ok; }
    UIButton* CancelButton() const { return m_cancel; }
    UIAnimate* BusyAnimation() const { return m_busyAnimation; }

private:
    void BuildControls(IResource* resource);
    void UpdatePasswordHint();
    void ChooseStorageFolder();
    void SetBusy(bool busy);
    // The steps after the storage root is settled; false keeps the page open.
    bool ApplyPassword();
    bool ApplyAutoStart();
    void Complete();
    void Fail(const std::string& text);

    IPanelHost& m_host;
    std::function<void()> m_close;
    UIXEdit* m_storage = nullptr;
    UIButton* m_changeFolder = nullptr;
    UIXEdit* m_password = nullptr;
    UILabel* m_hint = nullptr;
    UICheckBox* m_autoStart = nullptr;
    UIButton* m_ok = nullptr;
    UIButton* m_cancel = nullptr;
    UIAnimate* m_busyAnimation = nullptr;
    std::unique_ptr<CXRootChange> m_rootChange;
    std::string m_loadedPassword;
    bool m_busy = false;     // controls disabled, busy animation on
    bool m_changing = false; // from "确定" until the change's final result
};
