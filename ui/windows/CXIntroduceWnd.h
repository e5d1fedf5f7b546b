#pragma once
// The first-run wizard: where the photos go (a drive tile or a chosen folder), where to get the
// phone app, and the pairing password. It runs modally before the main window is first shown.
// The storage folder is applied through CXRootChange, so the window stays responsive while the
// library moves, and a refusal keeps the wizard on its step with the folder text unchanged.

#include "platform/DriveList.h"
#include "shell/IResource.h"
#include "ui/framework/UIDialog.h"

#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;

class CHUiDispatcher;
class CVellumoCore;
class CXAppstoreQR;
class CXRootChange;
class UIAnimate;
class UIButton;
class UILabel;
class UIXEdit;

// The folder proposed on a drive: the default storage root on the drive holding home, else
// the drive's mount point + "Vellumo".
fs::path ProposedFolder(const DriveTile& drive, const fs::path& defaultRoot);
// The path box text after choosing drive to while from was chosen (null: none). An untouched
// proposal becomes the new drive's proposal; a path on the old drive keeps its folders below
// the new mount point; an empty text stays empty.
std::string RetargetPath(const std::string& text, const DriveTile* from, const DriveTile& to,
                         const fs::path& defaultRoot);

class CXIntroduceWnd : public UIDialog {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 505;
    static constexpr SkinColor kTextColor = 0x4C4F52;

    CXIntroduceWnd(CVellumoCore& core, IResource& skin, CHUiDispatcher& ui, DriveList drives);
    ~CXIntroduceWnd() override;

    // Builds the elements of step 0 (no native window is needed for that).
    void Build();
    // Runs the wizard modally over owner until it ends; false when a quit of the whole program
    // ended it.
    bool Run(UIObject* owner);

    // --- What the user does (the clicks call these) ---
    void SelectDrive(int index);
    void ChangeFolder(); // "更换目录": the folder chooser
    void Next();         // "下一步", "已经下载App, 下一步", "开始体验"
    void OpenStore();    // the download button of step 1
    void OnSystemCommand(int command) override;

    // --- State ---
    int Step() const { return m_step; }
    bool IsBusy() const;
    bool IsFinished() const { return m_finished; }
    const DriveList& Drives() const { return m_drives; }
    int SelectedDrive() const { return m_selected; }
    std::string PathText() const;
    void SetPathText(const std::string& text); // as if the user had put it there
    UIXEdit* PasswordBox() const { return m_password; }
    UILabel* HintLabel() const { return m_hint; }
    UIButton* NextButton() const { return m_next; }
    CXAppstoreQR* StoreCode() const { return m_storeCode; }
    // Tile rectangles in window coordinates.
    CHRect TileRect(int index) const;
    // The y of the folder row: below the tiles and clear of the next button.
    int FolderRowY() const;

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementLButtonUp(int x, int y) override;
    NativeCursor CursorAt(int x, int y) override;
    int NotifyParent(UIObject* source, int code, int id) override;

private:
    void BuildTitle();
    void BuildStepZero();
    UILabel* AddLabel(const char* skinPath, const std::string& text, int x, int y, int w, int h);
    UIButton* AddButton(const char* skinPath, const std::string& text, int id);
    void DrawTile(cairo_t* cr, int index);
    // The tile under (x, y) while tiles can be chosen; -1 for none.
    int TileAt(int x, int y) const;
    void ApplyFolder(bool closing);
    void OnRootChanged(bool done, bool closing);
    void EnterAppStep();
    void EnterPasswordStep();
    void Finish();
    void CloseEarly();
    void End();
    void SetBusy(bool busy);
    void UpdateHint();

    CVellumoCore& m_core;
    IResource& m_skin;
    DriveList m_drives;
    std::unique_ptr<CXRootChange> m_rootChange;
    fs::path m_defaultRoot;
    int m_step = 0;
    int m_selected = -1;
    bool m_finished = false;
    bool m_closeRequested = false;

    SkinImageStyle m_diskNormal{}, m_diskSelected{}, m_tileNormal{}, m_tileSelected{};
    SkinImageStyle m_passwordPicture{};
    const PangoFontDescription* m_boldFont = nullptr;

    UILabel* m_heading = nullptr;
    UILabel* m_subHeading = nullptr;
    UILabel* m_folderLabel = nullptr;
    UIXEdit* m_path = nullptr; // any text, through the input method
    UIButton* m_change = nullptr;
    UIButton* m_next = nullptr;
    UIButton* m_store = nullptr;
    CXAppstoreQR* m_storeCode = nullptr;
    UIAnimate* m_busy = nullptr;
    UIXEdit* m_password = nullptr;
    UILabel* m_hint = nullptr;
};
