#include "ui/windows/CXIntroduceWnd.h"

#include "ui/windows/PasswordHint.h"

#include "media/TextFormat.h"
#include "platform/Dialogs.h"
#include "platform/Spawn.h"
#include "shell/CVellumoCore.h"
#include "shell/StoragePaths.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIPane.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinPaths.h"
#include "ui/framework/UISkinText.h"
#include "ui/framework/UIXEdit.h"
#include "ui/windows/CXAppstoreQR.h"
#include "ui/windows/CXRootChange.h"

#include <algorithm>

namespace {

constexpr int kNextId = 1;
constexpr int kChangeId = 2;
constexpr int kStoreId = 3;
constexpr int kPasswordId = 4;

// Tiles: four to a row from (85, 140), 125 apart, rows 120 apart.
constexpr int kTileLeft = 85;
constexpr int kTileTop = 140;
constexpr int kTileSide = 105;
constexpr int kTileStepX = 125;
constexpr int kTileStepY = 120;
constexpr int kTilesPerRow = 4;
constexpr int kTileTextBand = 25;
constexpr SkinColor kWhite = 0xFFFFFF;

// The folder row, and the next button it must stay clear of.
constexpr int kRowHeight = 30;
constexpr int kRowOneRow = 285;
constexpr int kRowTwoRows = 390;
constexpr int kNextFromBottom = 90;
constexpr int kRowGap = 5;

bool IsSameOrBelow(const fs::path& path, const fs::path& folder) {
    auto [f, p] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return f == folder.end();
}

// The drive whose mount point lies deepest above path; -1 when none does.
int DriveHolding(const DriveList& drives, const fs::path& path) {
    int best = -1;
    size_t depth = 0;
    for (size_t i = 0; i < drives.drives.size(); ++i) {
        const fs::path& point = drives.drives[i].mountPoint;
        size_t length = static_cast<size_t>(std::distance(point.begin(), point.end()));
        if (IsSameOrBelow(path, point) && (best < 0 || length > depth)) {
            best = static_cast<int>(i);
            depth = length;
        }
    }
    return best;
}

// Without "." and ".." steps and without a trailing separator.
fs::path Normal(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

} // namespace

fs::path ProposedFolder(const DriveTile& drive, const fs::path& defaultRoot) {
    if (drive.holdsHome && !defaultRoot.empty()) {
        return defaultRoot;
    }
    return drive.mountPoint / "Vellumo";
}

std::string RetargetPath(const std::string& text, const DriveTile* from, const DriveTile& to,
                         const fs::path& defaultRoot) {
    if (text.empty()) {
        return text;
    }
    fs::path current = Normal(text);
    if (from == nullptr || current == Normal(ProposedFolder(*from, defaultRoot)) ||
        !IsSameOrBelow(current, from->mountPoint)) {
        return ProposedFolder(to, defaultRoot).string();
    }
    fs::path below = current.lexically_relative(from->mountPoint);
    if (below.empty() || below == ".") {
        return to.mountPoint.string();
    }
    return (to.mountPoint / below).string();
}

CXIntroduceWnd::CXIntroduceWnd(CVellumoCore& core, IResource& skin, CHUiDispatcher& ui,
                               DriveList drives)
    : m_core(core), m_skin(skin), m_drives(std::move(drives)),
      m_rootChange(std::make_unique<CXRootChange>(core, ui)), m_defaultRoot(DefaultStorageRoot()) {
    m_rootChange->SetBusyHandler([this](bool busy) { SetBusy(busy); });
}

CXIntroduceWnd::~CXIntroduceWnd() {
    // A change still running is waited for before the elements it reports to go.
    m_rootChange.reset();
}

void CXIntroduceWnd::Build() {
    MoveTo({0, 0, kWidth, kHeight});
    ApplySkin(&m_skin, "IntroduceWindow");
    m_diskNormal = m_skin.GetImageStyle("Welcome/DiskNormal", nullptr);
    m_diskSelected = m_skin.GetImageStyle("Welcome/DiskSelected", nullptr);
    m_tileNormal = m_skin.GetImageStyle("Welcome/DiskBGNormal", nullptr);
    m_tileSelected = m_skin.GetImageStyle("Welcome/DiskBGSelected", nullptr);
    m_passwordPicture = m_skin.GetImageStyle("Welcome/PasswdPic", nullptr);
    m_boldFont = m_skin.GetDefaultBoldFont();
    BuildTitle();
    BuildStepZero();
}

bool CXIntroduceWnd::Run(UIObject* owner) {
    DoModal(owner, kWidth, kHeight);
    return !QuitRequested();
}

UILabel* CXIntroduceWnd::AddLabel(const char* skinPath, const std::string& text, int x, int y,
                                  int w, int h) {
    auto* label = Add<UILabel>();
    label->ApplySkin(&m_skin, skinPath);
    label->SetText(text);
    label->SetAnchorTopLeft(true);
    label->SetLayout(x, y, w, h);
    return label;
}

UIButton* CXIntroduceWnd::AddButton(const char* skinPath, const std::string& text, int id) {
    auto* button = Add<UIButton>();
    button->ApplySkin(&m_skin, skinPath);
    button->SetText(text);
    button->SetId(id);
    return button;
}

void CXIntroduceWnd::BuildTitle() {
    auto* title = Add<UIPane>();
    title->ApplySkin(&m_skin, "IntroduceWindow/Title");
    AddLabel("Config/Label", "Vellumo", 40, 6, 100, 37);
}

void CXIntroduceWnd::BuildStepZero() {
    m_heading =
        AddLabel("Welcome/Label1", "欢迎使用Vellumo，请选择照片的存放位置", 85, 65, 500, 50);
    m_subHeading =
        AddLabel("Welcome/LabelSH", "根据您本地磁盘的用量, 我们推荐您使用:", 85, 110, 500, 28);
    int rowY = FolderRowY();
    m_folderLabel = AddLabel("Welcome/LabelSH", "存储目录", 85, rowY, 90, kRowHeight);
    m_path = Add<UIXEdit>();
    m_path->ApplySkin(&m_skin, "Config/Edit");
    m_path->SetAccepted(UIXEdit::Accepted::AnyText);
    m_path->SetAnchorTopLeft(true);
    m_path->SetLayout(150, rowY, 340, kRowHeight);
    m_change = AddButton("Buttons/ButtonOpenFolder", "更换目录", kChangeId);
    m_change->SetAnchorTopLeft(true);
    m_change->SetLayout(495, rowY, 70, kRowHeight);
    m_next = AddButton("Buttons/ButtonNext", "下一步", kNextId);
    m_next->SetLayout(-190, -kNextFromBottom, 115, 36);

    m_store = AddButton("Welcome/GetiOSAppButton", "", kStoreId);
    m_store->SetLayout(-210, 300, 135, 40);
    m_store->Show(false);
    m_storeCode = Add<CXAppstoreQR>();
    m_storeCode->SetLayout(-150, 195, 80, 90);
    m_storeCode->SetTooltip("用手机扫一扫二维码, 即可下载Vellumo App");
    m_storeCode->Show(false);

    m_busy = Add<UIAnimate>();
    std::vector<SkinImageStyle> frames;
    for (int i = 11; i <= 18; ++i) {
        frames.push_back(
            m_skin.GetImageStyle("PcInfoPanel/LoadAnimate/" + std::to_string(i), nullptr));
    }
    m_busy->SetFrames(std::move(frames));
    m_busy->SetLayout(-215, -81, 18, 18);
    m_busy->Show(false);

    m_selected = m_drives.recommended;
    // Without any drive the box still holds a full path: the default storage root.
    m_path->SetEditText(
        m_selected >= 0
            ? ProposedFolder(m_drives.drives[static_cast<size_t>(m_selected)], m_defaultRoot)
                  .string()
            : m_defaultRoot.string());
}

int CXIntroduceWnd::FolderRowY() const {
    int y = m_drives.drives.size() > static_cast<size_t>(kTilesPerRow) ? kRowTwoRows : kRowOneRow;
    return std::min(y, kHeight - kNextFromBottom - kRowGap - kRowHeight);
}

CHRect CXIntroduceWnd::TileRect(int index) const {
    int x = Rect().left + kTileLeft + (index % kTilesPerRow) * kTileStepX;
    int y = Rect().top + kTileTop + (index / kTilesPerRow) * kTileStepY;
    return {x, y, x + kTileSide, y + kTileSide};
}

std::string CXIntroduceWnd::PathText() const {
    return m_path != nullptr ? m_path->Text() : std::string();
}

void CXIntroduceWnd::SetPathText(const std::string& text) {
    if (m_path != nullptr) {
        m_path->SetEditText(text);
    }
}

bool CXIntroduceWnd::IsBusy() const {
    return m_rootChange && m_rootChange->IsRunning();
}

void CXIntroduceWnd::SelectDrive(int index) {
    if (m_step != 0 || IsBusy() || index < 0 || index >= static_cast<int>(m_drives.drives.size()) ||
        index == m_selected) {
        return;
    }
    const DriveTile* from =
        m_selected >= 0 ? &m_drives.drives[static_cast<size_t>(m_selected)] : nullptr;
    const DriveTile& to = m_drives.drives[static_cast<size_t>(index)];
    m_path->SetEditText(RetargetPath(m_path->Text(), from, to, m_defaultRoot));
    m_selected = index;
    Invalidate();
}

void CXIntroduceWnd::ChangeFolder() {
    if (m_step != 0 || IsBusy()) {
        return;
    }
    fs::path chosen;
    if (!ChooseFolder(nullptr, chosen) || chosen.empty()) {
        return; // cancelled: nothing changes
    }
    m_path->SetEditText(chosen.string());
    int drive = DriveHolding(m_drives, chosen);
    if (drive >= 0) {
        m_selected = drive;
    }
    Invalidate();
}

void CXIntroduceWnd::Next() {
    if (IsBusy() || m_finished) {
        return;
    }
    switch (m_step) {
    case 0:
        ApplyFolder(false);
        break;
    case 1:
        EnterPasswordStep();
        break;
    default:
        Finish();
        break;
    }
}

void CXIntroduceWnd::ApplyFolder(bool closing) {
    m_rootChange->Start(PathText(), [this, closing](const CXRootChange::Result& result) {
        OnRootChanged(result.change == CVellumoCore::RootChange::Done, closing);
    });
}

void CXIntroduceWnd::OnRootChanged(bool done, bool closing) {
    if (closing || m_closeRequested) {
        if (!done) {
            // The user was told why; leaving anyway keeps the folder in use now, recorded so
            // the next start finds it.
            m_core.MoveRoot(m_core.GetRootPath());
        }
        CloseEarly();
        return;
    }
    if (done) {
        EnterAppStep();
    }
    // Otherwise the wizard stays on this step with the folder text as it was.
}

void CXIntroduceWnd::EnterAppStep() {
    m_step = 1;
    m_folderLabel->Show(false);
    m_path->Show(false);
    m_change->Show(false);
    m_heading->SetText("下载Vellumo App");
    m_subHeading->SetText("打开Vellumo App，并确保手机和电脑在同一个WiFi下即可备份照片到电脑中。");
    m_next->SetText("已经下载App, 下一步");
    m_next->SetLayout(-280, -kNextFromBottom, 205, 36);
    // Made now, so it carries the address the PC has at this moment.
    m_storeCode->SetAddress(m_core.SiteAddressNow(SiteLink::AppStoreWizard));
    m_store->Show(true);
    m_storeCode->Show(true);
    Invalidate();
}

void CXIntroduceWnd::EnterPasswordStep() {
    m_step = 2;
    m_store->Show(false);
    m_storeCode->Show(false);
    m_heading->SetText("请设置手机访问密码");
    m_subHeading->SetText(
        "在手机App上输入此密码，即可访问电脑中的照片库。访问密码可以在设置中修改。");
    m_password = Add<UIXEdit>();
    m_password->ApplySkin(&m_skin, "Config/Edit");
    m_password->SetId(kPasswordId);
    m_password->SetMaxLength(kPasswordMaxLength);
    m_password->SetAnchorTopLeft(true);
    m_password->SetLayout(140, 350, 285, 30);
    AddLabel("Welcome/LabelSH", "设置密码", 85, 357, 60, 30);
    m_hint = AddLabel("Welcome/LabelSH", kPasswordHint, 140, 390, 160, 30);
    m_hint->SetTextColor(kTextColor);
    m_next->ApplySkin(&m_skin, "Buttons/ButtonFinish");
    m_next->SetText("开始体验");
    m_next->SetLayout(-190, -kNextFromBottom, 125, 36);
    m_password->SetFocus();
    Invalidate();
}

void CXIntroduceWnd::Finish() {
    std::string password = m_password != nullptr ? m_password->Text() : std::string();
    if (password.empty()) {
        // Nothing is stored: a phone could never pair with an empty password.
        UpdateHint();
        m_password->SetFocus();
        return;
    }
    if (!m_core.SetPairingPassword(password)) {
        ShowMessage(CXRootChange::kTitle, "无法保存访问密码，请换一个密码再试。");
        m_password->SetFocus();
        return;
    }
    End();
}

void CXIntroduceWnd::CloseEarly() {
    // Left before the password step: phones still need a password nobody can guess.
    m_core.SetPairingPassword(CVellumoCore::RandomPairingPassword());
    End();
}

void CXIntroduceWnd::End() {
    m_finished = true;
    if (IsModal()) {
        EndDialog(1);
    }
}

void CXIntroduceWnd::OnSystemCommand(int command) {
    if (command != kSysCommandClose) {
        UIDialog::OnSystemCommand(command);
        return;
    }
    if (m_finished) {
        return;
    }
    if (IsBusy()) {
        m_closeRequested = true; // handled when the change reports back
        return;
    }
    switch (m_step) {
    case 0:
        ApplyFolder(true);
        break;
    case 1:
        CloseEarly();
        break;
    default:
        Finish();
        break;
    }
}

void CXIntroduceWnd::OpenStore() {
    std::string address = m_core.SiteAddressNow(SiteLink::AppStoreWizard);
    if (!OpenWebAddress(address)) {
        ShowMessage(CXRootChange::kTitle,
                    "无法打开下载页面。" + (address.empty() ? std::string() : "\n" + address));
    }
}

void CXIntroduceWnd::SetBusy(bool busy) {
    m_next->Enable(!busy);
    m_change->Enable(!busy);
    m_path->Enable(!busy);
    m_busy->Show(busy);
    if (busy) {
        m_busy->Start();
    } else {
        m_busy->Stop();
    }
    Invalidate();
}

void CXIntroduceWnd::UpdateHint() {
    if (m_hint == nullptr || m_password == nullptr) {
        return;
    }
    ShowPasswordHint(*m_hint, m_password->Text());
}

int CXIntroduceWnd::NotifyParent(UIObject* source, int code, int id) {
    if (code == kNotifyCommand && id == kNextId) {
        Next();
        return 1;
    }
    if (code == kNotifyCommand && id == kChangeId) {
        ChangeFolder();
        return 1;
    }
    if (code == kNotifyCommand && id == kStoreId) {
        OpenStore();
        return 1;
    }
    if (code == kNotifyTextChanged && id == kPasswordId) {
        UpdateHint();
        return 1;
    }
    return UIDialog::NotifyParent(source, code, id);
}

int CXIntroduceWnd::TileAt(int x, int y) const {
    if (m_step != 0 || IsBusy()) {
        return -1;
    }
    int shown = static_cast<int>(std::min(m_drives.drives.size(), kMaxDriveTiles));
    for (int i = 0; i < shown; ++i) {
        if (RectContains(TileRect(i), x, y)) {
            return i;
        }
    }
    return -1;
}

bool CXIntroduceWnd::OnElementLButtonUp(int x, int y) {
    int tile = TileAt(x, y);
    if (tile < 0) {
        return false;
    }
    SelectDrive(tile);
    return true;
}

NativeCursor CXIntroduceWnd::CursorAt(int x, int y) {
    return TileAt(x, y) >= 0 ? NativeCursor::Hand : UIDialog::CursorAt(x, y);
}

void CXIntroduceWnd::DrawTile(cairo_t* cr, int index) {
    const DriveTile& drive = m_drives.drives[static_cast<size_t>(index)];
    bool selected = index == m_selected;
    CHRect tile = TileRect(index);
    DrawImageStyle(cr, tile, selected ? m_tileSelected : m_tileNormal);
    DrawImageStyleAt(cr, tile.left + 32, tile.top + 35, selected ? m_diskSelected : m_diskNormal);
    const uint32_t flags = kTextCenter | kTextVCenter | kTextSingleLine | kTextWordEllipsis;
    DrawSkinText(cr, "本地磁盘 " + drive.name,
                 {tile.left + 4, tile.top, tile.right - 4, tile.top + kTileTextBand}, m_boldFont,
                 kTextColor, flags);
    DrawSkinText(cr, FormatSize(static_cast<int64_t>(drive.freeBytes)) + " 可用",
                 {tile.left + 2, tile.bottom - kTileTextBand, tile.right - 2, tile.bottom},
                 m_boldFont, selected ? kWhite : kTextColor, flags);
}

void CXIntroduceWnd::Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) {
    UIDialog::Draw(cr, rect, dirty);
    if (m_step == 0) {
        int shown = static_cast<int>(std::min(m_drives.drives.size(), kMaxDriveTiles));
        for (int i = 0; i < shown; ++i) {
            DrawTile(cr, i);
        }
    } else if (m_step == 1) {
        if (CHBitmap* picture = m_skin.GetImage(SkinPaths::kStepPictureId, false)) {
            CHRect source{0, 0, picture->Width(), picture->Height()};
            DrawBitmap(*picture, cr,
                       {rect.left + 85, rect.top + 170, rect.left + 85 + picture->Width(),
                        rect.top + 170 + picture->Height()},
                       source);
        }
    } else {
        DrawImageStyleAt(cr, rect.left + 145, rect.top + 85, m_passwordPicture);
    }
}
