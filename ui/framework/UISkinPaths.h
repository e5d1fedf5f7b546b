#pragma once
// Every skin node the program's windows look up, in one place: the windows use these paths,
// and a test checks that the built-in skin holds each one, so no window can draw blank.

#include <cstddef>

enum class SkinNodeKind {
    Image,    // an image style: a background or foreground picture
    Text,     // a label element: "text" is a text style with a font
    Button,   // an element with the five state styles and "Text" styles
    CheckBox, // a button whose states carry the box as foreground
    Edit,     // "normal", "grayed", "bkgnd" image styles and a "Text" style
    Frame,    // "Client/bkgnd" and the four bands in "normal" and "grayed"
    Pane,     // "size" and a "bkgnd" image style
    ScrollBar,
    Tab,
};

struct SkinNodeUse {
    const char* path;
    SkinNodeKind kind;
};

namespace SkinPaths {

inline constexpr SkinNodeUse kUsed[] = {
    // Main window frame, title and system buttons.
    {"MainWindow", SkinNodeKind::Frame},
    {"MainWindow/Title", SkinNodeKind::Pane},
    {"MainWindow/SysBtns/Close", SkinNodeKind::Button},
    {"MainWindow/SysBtns/Minimize", SkinNodeKind::Button},
    {"MainWindow/SysBtns/Maximize", SkinNodeKind::Button},
    {"MainWindow/ComputerIcon", SkinNodeKind::Image},
    {"MainWindow/Checkbox", SkinNodeKind::CheckBox},
    // Shared buttons.
    {"Buttons/Button", SkinNodeKind::Button},
    {"Buttons/ButtonOpenFolder", SkinNodeKind::Button},
    {"Buttons/ButtonNext", SkinNodeKind::Button},
    {"Buttons/ButtonHL", SkinNodeKind::Button},
    {"Buttons/ButtonFinish", SkinNodeKind::Button},
    // Device panel.
    {"DeviceInfoPanel/ItemBkgrd", SkinNodeKind::Image},
    {"DeviceInfoPanel/ItemBkgrdHL", SkinNodeKind::Image},
    {"DeviceInfoPanel/DeviceBackup", SkinNodeKind::Image},
    {"DeviceInfoPanel/DeviceDownload", SkinNodeKind::Image},
    {"DeviceInfoPanel/DeviceSmallIcon", SkinNodeKind::Image},
    {"DeviceInfoPanel/DeviceSmallIconHL", SkinNodeKind::Image},
    {"DeviceInfoPanel/DeviceNormal", SkinNodeKind::Image},
    {"DeviceInfoPanel/DeviceNormalHL", SkinNodeKind::Image},
    {"DeviceInfoPanel/ProgressFG", SkinNodeKind::Image},
    {"DeviceInfoPanel/ProgressBG", SkinNodeKind::Image},
    {"DeviceInfoPanel/ArrowDown", SkinNodeKind::Image},
    {"DeviceInfoPanel/ArrowUp", SkinNodeKind::Image},
    {"DeviceInfoPanel/BackupAnimate", SkinNodeKind::Image},
    {"DeviceInfoPanel/index1", SkinNodeKind::Image},
    {"DeviceInfoPanel/index2", SkinNodeKind::Image},
    {"DeviceInfoPanel/index3", SkinNodeKind::Image},
    {"DeviceInfoPanel/indexHL1", SkinNodeKind::Image},
    {"DeviceInfoPanel/indexHL2", SkinNodeKind::Image},
    {"DeviceInfoPanel/indexHL3", SkinNodeKind::Image},
    {"DeviceInfoPanel/IntroduceAnimate/1", SkinNodeKind::Image},
    {"DeviceInfoPanel/IntroduceAnimate/2", SkinNodeKind::Image},
    {"DeviceInfoPanel/IntroduceAnimate/3", SkinNodeKind::Image},
    {"DeviceInfoPanel/Animate/1", SkinNodeKind::Image},
    {"DeviceInfoPanel/Animate/2", SkinNodeKind::Image},
    {"DeviceInfoPanel/Animate/3", SkinNodeKind::Image},
    {"DeviceInfoPanel/Animate/4", SkinNodeKind::Image},
    {"DeviceInfoPanel/Animate/5", SkinNodeKind::Image},
    {"DeviceInfoPanel/Animate/6", SkinNodeKind::Image},
    {"DeviceInfoPanel/QRCode", SkinNodeKind::Image},
    // Content scroll bar.
    {"ScrollBar/Vertical", SkinNodeKind::ScrollBar},
    // Settings window.
    {"Config/ConfigWindow", SkinNodeKind::Frame},
    {"Config/ConfigWindow/SysBtns/Close", SkinNodeKind::Button},
    {"Config/ConfigWindow/Title", SkinNodeKind::Pane},
    {"Config/Edit", SkinNodeKind::Edit},
    {"Config/Label", SkinNodeKind::Text},
    {"Config/Tab", SkinNodeKind::Tab},
    // First-run wizard.
    {"IntroduceWindow", SkinNodeKind::Frame},
    {"IntroduceWindow/Title", SkinNodeKind::Pane},
    {"IntroduceWindow/SysBtns/Close", SkinNodeKind::Button},
    {"Welcome/Label1", SkinNodeKind::Text},
    {"Welcome/LabelSH", SkinNodeKind::Text},
    {"Welcome/DiskNormal", SkinNodeKind::Image},
    {"Welcome/DiskSelected", SkinNodeKind::Image},
    {"Welcome/DiskBGNormal", SkinNodeKind::Image},
    {"Welcome/DiskBGSelected", SkinNodeKind::Image},
    {"Welcome/PasswdPic", SkinNodeKind::Image},
    {"Welcome/GetiOSAppButton", SkinNodeKind::Button},
    // About page and its frame.
    {"About", SkinNodeKind::Frame},
    {"About/SysBtns/Close", SkinNodeKind::Button},
    {"About/Title", SkinNodeKind::Pane},
    {"About/LabelNormal", SkinNodeKind::Text},
    {"About/LabelTitle", SkinNodeKind::Text},
    {"About/LinkButton", SkinNodeKind::Button},
    {"About/Logo", SkinNodeKind::Image},
    // QR bubble.
    {"QRCodeView/bkgnd", SkinNodeKind::Image},
    {"QRCodeView/UpArrow", SkinNodeKind::Image},
    {"QRCodeView/DownArrow", SkinNodeKind::Image},
    // PC panel busy animation.
    {"PcInfoPanel/LoadAnimate/11", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/12", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/13", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/14", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/15", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/16", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/17", SkinNodeKind::Image},
    {"PcInfoPanel/LoadAnimate/18", SkinNodeKind::Image},
};

// The wizard's second step shows this package picture directly (not through a node).
inline constexpr int kStepPictureId = 1008;
// Font ids of the skin's font records.
inline constexpr int kFontDefault = 1006; // the system's interface font
inline constexpr int kFontBold16 = 1007;
inline constexpr int kFontRegular14 = 1009;
inline constexpr int kFontHeading22 = 1010;
inline constexpr int kFontSmall13 = 1011;
inline constexpr int kFontBold14 = 1013;
// Program icons compiled in beside the skin: resource type, and ids equal to the pixel size.
inline constexpr const char* kIconResourceType = "ICON";
inline constexpr const char* kTrayIconResourceType = "TRAYICON";
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
inline constexpr int kTrayIconSizes[] = {16, 22, 24, 32, 48};

} // namespace SkinPaths
