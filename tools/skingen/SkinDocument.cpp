#include "tools/skingen/SkinDocument.h"

#include "media/Base64.h"
#include "tools/skingen/SkinCanvas.h"
#include "ui/framework/UISkinPaths.h"

#include <array>

namespace skingen {
namespace {

// Text colours as COLORREF values (red in the low byte).
constexpr int Ref(uint32_t rgb) {
    return int(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
}
constexpr int kRefText = Ref(kText);
constexpr int kRefOrange = Ref(kOrange);
constexpr int kRefWhite = Ref(kWhite);
constexpr int kRefGrey = Ref(0x808080);
constexpr int kRefDisabled = Ref(0xB5B5B5);
constexpr int kRefLink = 4356065;
// Text format flags: single line and vertically centred, optionally centred across.
constexpr int kAlignLine = 36;
constexpr int kAlignCentred = 37;
// Foreground alignment: left edge, vertically centred.
constexpr int kFgLeftMiddle = 8;
// System command ids of the frame buttons.
constexpr int kCloseId = 0xF060;
constexpr int kMinimizeId = 0xF020;
constexpr int kMaximizeId = 0xF030;

using Quad = std::array<int, 4>;

Json::Value Array(std::initializer_list<int> values) {
    Json::Value out(Json::arrayValue);
    for (int v : values) {
        out.append(v);
    }
    return out;
}

class Builder {
public:
    Builder(const SheetRef& controls, const SheetRef& pictures, std::string& missing)
        : m_controls(controls), m_pictures(pictures), m_missing(missing) {}

    // A background picture, nine-sliced by margins.
    Json::Value Bg(const std::string& name, Quad margins = {0, 0, 0, 0}) {
        Json::Value style(Json::objectValue);
        int id = 0;
        const SpriteRect* r = Find(name, id);
        style["bi"] = id;
        style["bg"] = Array({r->x, r->y, r->w, r->h});
        style["mg"] = Array({margins[0], margins[1], margins[2], margins[3]});
        return style;
    }
    // A foreground picture drawn 1:1 at an alignment, optionally over a background.
    Json::Value Fg(const std::string& name, int align,
                   Json::Value style = Json::Value(Json::objectValue)) {
        int id = 0;
        const SpriteRect* r = Find(name, id);
        style["fi"] = id;
        style["fg"] = Array({r->x, r->y, r->w, r->h});
        style["al"] = align;
        return style;
    }

private:
    const SpriteRect* Find(const std::string& name, int& id) {
        static const SpriteRect kNone{};
        for (const SheetRef* ref : {&m_controls, &m_pictures}) {
            if (const SpriteRect* r = ref->sheet->Find(name)) {
                id = ref->blobId;
                return r;
            }
        }
        if (m_missing.empty()) {
            m_missing = name;
        }
        return &kNone;
    }

    SheetRef m_controls;
    SheetRef m_pictures;
    std::string& m_missing;
};

Json::Value Text(int font, int color, int align) {
    Json::Value style(Json::objectValue);
    style["ft"] = font;
    style["cr"] = color;
    style["al"] = align;
    return style;
}

struct ButtonLook {
    Json::Value normal, grayed, lighted, pressed;
    Json::Value textNormal, textGrayed, textLighted, textPressed;
    Quad textMargin{0, 0, 0, 0};
};

Json::Value Button(const ButtonLook& look, int id = 0, Quad size = {0, 0, 0, 0}) {
    Json::Value node(Json::objectValue);
    node["id"] = id;
    node["size"] = Array({size[0], size[1], size[2], size[3]});
    // States without a picture (a text-only link) are empty styles.
    auto state = [](const Json::Value& style) {
        return style.isNull() ? Json::Value(Json::objectValue) : style;
    };
    node["normal"] = state(look.normal);
    node["grayed"] = state(look.grayed);
    node["lighted"] = state(look.lighted);
    node["pressed"] = state(look.pressed);
    node["focused"] = state(look.normal);
    Json::Value& text = node["Text"];
    text["margin"] =
        Array({look.textMargin[0], look.textMargin[1], look.textMargin[2], look.textMargin[3]});
    text["normal"] = look.textNormal;
    text["grayed"] = look.textGrayed;
    text["lighted"] = look.textLighted;
    text["pressed"] = look.textPressed;
    text["focused"] = look.textNormal;
    return node;
}

ButtonLook SecondaryButton(Builder& b) {
    const Quad m{5, 5, 5, 5};
    int font = SkinPaths::kFontRegular14;
    return {b.Bg("btn_normal", m),
            b.Bg("btn_disabled", m),
            b.Bg("btn_hover", m),
            b.Bg("btn_press", m),
            Text(font, kRefText, kAlignCentred),
            Text(font, kRefDisabled, kAlignCentred),
            Text(font, kRefOrange, kAlignCentred),
            Text(font, kRefOrange, kAlignCentred)};
}

ButtonLook PrimaryButton(Builder& b) {
    const Quad m{5, 5, 5, 5};
    int font = SkinPaths::kFontRegular14;
    return {b.Bg("btn_primary", m),
            b.Bg("btn_disabled", m),
            b.Bg("btn_primary_hover", m),
            b.Bg("btn_primary_press", m),
            Text(font, kRefWhite, kAlignCentred),
            Text(font, kRefDisabled, kAlignCentred),
            Text(font, kRefWhite, kAlignCentred),
            Text(font, kRefWhite, kAlignCentred)};
}

// A frame button: a glyph, on a rounded highlight while hovered or pressed.
Json::Value SystemButton(Builder& b, const std::string& glyph, bool close, int id, Quad size) {
    const Quad m{4, 4, 4, 4};
    ButtonLook look;
    look.normal = b.Fg("glyph_" + glyph + "_grey", 0);
    look.grayed = b.Fg("glyph_" + glyph + "_light", 0);
    look.lighted = b.Fg("glyph_" + glyph + (close ? "_white" : "_dark"), 0,
                        b.Bg(close ? "sys_close_hover" : "sys_hover", m));
    look.pressed = b.Fg("glyph_" + glyph + (close ? "_white" : "_dark"), 0,
                        b.Bg(close ? "sys_close_press" : "sys_press", m));
    Json::Value none = Text(0, kRefText, kAlignCentred);
    look.textNormal = look.textGrayed = look.textLighted = look.textPressed = none;
    return Button(look, id, size);
}

// Client background, the four bands in both states and the title pane of a framed window.
Json::Value Frame(Builder& b, Quad titleSize, const std::string& titlePicture) {
    Json::Value node(Json::objectValue);
    node["Client"]["bkgnd"] = b.Bg("client");
    for (const char* state : {"normal", "grayed"}) {
        std::string s = state;
        node["Frames"]["Top"][s] = b.Bg("frame_top_" + s, {8, 44, 8, 0});
        node["Frames"]["Left"][s] = b.Bg("frame_left_" + s);
        node["Frames"]["Right"][s] = b.Bg("frame_right_" + s);
        node["Frames"]["Bottom"][s] = b.Bg("frame_bottom_" + s, {8, 8, 8, 0});
    }
    node["SysBtns"]["Close"] = SystemButton(b, "close", true, kCloseId, {-49, 7, 40, 36});
    node["Title"]["size"] = Array({titleSize[0], titleSize[1], titleSize[2], titleSize[3]});
    node["Title"]["bkgnd"] = b.Bg(titlePicture);
    return node;
}

Json::Value Label(int font, int color, int align, Quad size = {0, 0, 0, 0}) {
    Json::Value node(Json::objectValue);
    node["size"] = Array({size[0], size[1], size[2], size[3]});
    node["text"] = Text(font, color, align);
    return node;
}

Json::Value MainWindow(Builder& b) {
    Json::Value node = Frame(b, {13, 6, 94, 34}, "wordmark");
    node["SysBtns"]["Minimize"] = SystemButton(b, "min", false, kMinimizeId, {-89, 7, 40, 36});
    // On the main window this button opens the settings.
    node["SysBtns"]["Maximize"] = SystemButton(b, "gear", false, kMaximizeId, {-129, 7, 40, 36});
    node["ComputerIcon"] = b.Bg("computer");
    ButtonLook check;
    check.normal = b.Fg("cb_off", kFgLeftMiddle);
    check.grayed = b.Fg("cb_disabled", kFgLeftMiddle);
    check.lighted = b.Fg("cb_off_hover", kFgLeftMiddle);
    check.pressed = b.Fg("cb_on", kFgLeftMiddle);
    int font = SkinPaths::kFontRegular14;
    check.textNormal = check.textLighted = check.textPressed = Text(font, kRefText, kAlignLine);
    check.textGrayed = Text(font, kRefDisabled, kAlignLine);
    check.textMargin = {24, 0, 0, 0};
    node["Checkbox"] = Button(check);
    node["Checkbox"]["focused"] = b.Fg("cb_on_hover", kFgLeftMiddle);
    return node;
}

Json::Value DevicePanel(Builder& b) {
    Json::Value node(Json::objectValue);
    node["ItemBkgrd"] = b.Bg("item_bg", {2, 2, 2, 2});
    node["ItemBkgrdHL"] = b.Bg("item_bg_hl", {6, 6, 6, 6});
    node["DeviceBackup"] = b.Bg("dev_backup");
    node["DeviceDownload"] = b.Bg("dev_download");
    node["DeviceSmallIcon"] = b.Bg("phone_small");
    node["DeviceSmallIconHL"] = b.Bg("phone_small_hl");
    node["DeviceNormal"] = b.Bg("phone");
    node["DeviceNormalHL"] = b.Bg("phone_hl");
    node["ProgressFG"] = b.Bg("prog_fg", {4, 0, 4, 0});
    node["ProgressBG"] = b.Bg("prog_bg", {4, 0, 4, 0});
    node["ArrowDown"] = b.Bg("chevron_down");
    node["ArrowUp"] = b.Bg("chevron_up");
    node["BackupAnimate"] = b.Bg("sync");
    for (int i = 1; i <= 3; ++i) {
        node["index" + std::to_string(i)] = b.Bg("mark");
        node["indexHL" + std::to_string(i)] = b.Bg("mark_hl");
        node["IntroduceAnimate"][std::to_string(i)] = b.Bg("slide_" + std::to_string(i));
    }
    for (int i = 1; i <= 6; ++i) {
        node["Animate"][std::to_string(i)] = b.Bg("spin_" + std::to_string(i));
    }
    node["QRCode"] = b.Bg("qr_icon");
    return node;
}

Json::Value ConfigNode(Builder& b) {
    Json::Value node(Json::objectValue);
    node["ConfigWindow"] = Frame(b, {12, 12, 22, 22}, "title_icon");
    Json::Value& edit = node["Edit"];
    edit["size"] = Array({0, 0, 0, 0});
    edit["normal"] = b.Bg("edit_normal", {4, 4, 4, 4});
    edit["grayed"] = b.Bg("edit_disabled", {4, 4, 4, 4});
    edit["bkgnd"] = b.Bg("edit_focus", {4, 4, 4, 4});
    edit["Text"] = Text(SkinPaths::kFontRegular14, kRefText, kAlignLine);
    edit["margin"] = Array({8, 0, 8, 0});
    node["Label"] = Label(SkinPaths::kFontBold16, kRefText, kAlignLine);
    Json::Value& tab = node["Tab"];
    tab["bkgnd"] = b.Bg("tab_bg", {0, 0, 1, 0});
    tab["Item"]["normal"] = b.Bg("tab_item");
    tab["Item"]["pressed"] = b.Bg("tab_item_on", {3, 0, 0, 0});
    tab["Text"]["normal"] = Text(SkinPaths::kFontRegular14, kRefText, kAlignCentred);
    tab["Text"]["pressed"] = Text(SkinPaths::kFontBold14, kRefOrange, kAlignCentred);
    return node;
}

Json::Value Welcome(Builder& b) {
    Json::Value node(Json::objectValue);
    node["Label1"] = Label(SkinPaths::kFontHeading22, kRefText, kAlignLine);
    node["LabelSH"] = Label(SkinPaths::kFontSmall13, kRefGrey, kAlignLine);
    node["DiskNormal"] = b.Bg("disk");
    node["DiskSelected"] = b.Bg("disk_hl");
    node["DiskBGNormal"] = b.Bg("tile");
    node["DiskBGSelected"] = b.Bg("tile_hl");
    node["PasswdPic"] = b.Bg("password");
    ButtonLook store;
    store.normal = store.grayed = b.Bg("store_normal");
    store.lighted = b.Bg("store_hover");
    store.pressed = b.Bg("store_press");
    store.textNormal = store.textGrayed = store.textLighted = store.textPressed =
        Text(SkinPaths::kFontRegular14, kRefWhite, kAlignCentred);
    node["GetiOSAppButton"] = Button(store);
    return node;
}

Json::Value About(Builder& b) {
    Json::Value node = Frame(b, {12, 12, 22, 22}, "title_icon");
    node["LabelNormal"] = Label(SkinPaths::kFontSmall13, kRefGrey, kAlignCentred);
    node["LabelTitle"] = Label(SkinPaths::kFontHeading22, kRefText, kAlignCentred);
    ButtonLook link;
    int font = SkinPaths::kFontRegular14;
    link.textNormal = Text(font, kRefLink, kAlignCentred);
    link.textGrayed = Text(font, kRefDisabled, kAlignCentred);
    link.textLighted = link.textPressed = Text(font, kRefOrange, kAlignCentred);
    node["LinkButton"] = Button(link);
    node["Logo"] = b.Bg("logo");
    return node;
}

} // namespace

Json::Value BuildSkinConfig(const SheetRef& controls, const SheetRef& pictures,
                            std::string& missing) {
    missing.clear();
    Builder b(controls, pictures, missing);
    Json::Value cfg(Json::objectValue);
    cfg["MainWindow"] = MainWindow(b);
    ButtonLook secondary = SecondaryButton(b);
    ButtonLook primary = PrimaryButton(b);
    cfg["Buttons"]["Button"] = Button(secondary);
    cfg["Buttons"]["ButtonOpenFolder"] = Button(secondary);
    cfg["Buttons"]["ButtonNext"] = Button(primary);
    cfg["Buttons"]["ButtonHL"] = Button(primary);
    cfg["Buttons"]["ButtonFinish"] = Button(primary);
    cfg["DeviceInfoPanel"] = DevicePanel(b);
    cfg["ScrollBar"]["Vertical"]["thumb"] = b.Bg("sb_thumb", {0, 6, 0, 6});
    cfg["ScrollBar"]["Vertical"]["trackbar"] = b.Bg("sb_track", {0, 6, 0, 6});
    cfg["Config"] = ConfigNode(b);
    cfg["Welcome"] = Welcome(b);
    cfg["About"] = About(b);
    cfg["IntroduceWindow"] = Frame(b, {12, 12, 22, 22}, "title_icon");
    cfg["QRCodeView"]["bkgnd"] = b.Bg("bubble", {8, 8, 8, 8});
    cfg["QRCodeView"]["UpArrow"] = b.Bg("bubble_up");
    cfg["QRCodeView"]["DownArrow"] = b.Bg("bubble_down");
    for (int i = 11; i <= 18; ++i) {
        cfg["PcInfoPanel"]["LoadAnimate"][std::to_string(i)] =
            b.Bg("dots_" + std::to_string(i - 10));
    }
    return cfg;
}

} // namespace skingen
