#include "ui/framework/UIFrameWindow.h"

#include "ui/framework/UIButton.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinDraw.h"

#include <cairo.h>

namespace {
enum BandIndex { kBandTop = 0, kBandLeft = 1, kBandRight = 2, kBandBottom = 3 };
constexpr const char* kBandNames[4] = {"Top", "Left", "Right", "Bottom"};
constexpr const char* kButtonNames[4] = {"Close", "Restore", "Maximize", "Minimize"};
constexpr int kButtonCommands[4] = {kSysCommandClose, kSysCommandRestore, kSysCommandMaximize,
                                    kSysCommandMinimize};
} // namespace

bool UIFrameWindow::Create(int width, int height, bool translucent, bool taskbar) {
    NativeWindowOptions options;
    options.width = width;
    options.height = height;
    options.translucent = translucent;
    options.taskbar = taskbar;
    if (!CreateWindowed(options))
        return false;
    CenterOnScreen();
    return true;
}

void UIFrameWindow::CenterOnScreen() {
    INativePlatform* platform = NativePlatform();
    if (!platform || !HasNative())
        return;
    NativeRect screen = platform->ScreenArea();
    Native()->Move(screen.x + (screen.width - RectWidth(Rect())) / 2,
                   screen.y + (screen.height - RectHeight(Rect())) / 2);
}

UIButton* UIFrameWindow::MakeSystemButton(IResource* resource, const Json::Value* node,
                                          const char* name, int command) {
    std::string path = std::string("SysBtns/") + name;
    if (!resource->FindNode(path, node))
        return nullptr;
    auto* button = Add<UIButton>();
    button->ApplySkin(resource, path, node);
    if (button->Id() == 0)
        button->SetId(command);
    return button;
}

bool UIFrameWindow::ApplySkin(IResource* resource, std::string_view path,
                              const Json::Value* start) {
    if (!resource)
        return false;
    const Json::Value* node = resource->FindNode(path, start);
    if (!node)
        return false;
    m_clientStyle = resource->GetImageStyle("Client/bkgnd", node);
    for (int i = 0; i < 4; ++i) {
        std::string band = std::string("Frames/") + kBandNames[i];
        m_bands[i].normal = resource->GetImageStyle(band + "/normal", node);
        m_bands[i].grayed = resource->GetImageStyle(band + "/grayed", node);
    }
    for (int i = 0; i < 4; ++i) {
        if (m_sysButtons[i])
            DestroyChild(m_sysButtons[i]);
        m_sysButtons[i] = MakeSystemButton(resource, node, kButtonNames[i], kButtonCommands[i]);
    }
    if (m_sysButtons[1])
        m_sysButtons[1]->Show(false); // restore shows only while maximised
    ComputeBands();
    m_shapeDirty = true;
    Invalidate();
    return true;
}

void UIFrameWindow::ComputeBands() {
    const CHRect& r = Rect();
    int topHeight = m_bands[kBandTop].normal.bgH;
    int bottomHeight = m_bands[kBandBottom].normal.bgH;
    int leftWidth = m_bands[kBandLeft].normal.bgW;
    int rightWidth = m_bands[kBandRight].normal.bgW;
    m_top = {r.left, r.top, r.right, r.top + topHeight};
    m_bottom = {r.left, r.bottom - bottomHeight, r.right, r.bottom};
    m_left = {r.left, m_top.bottom, r.left + leftWidth, m_bottom.top};
    m_right = {r.right - rightWidth, m_top.bottom, r.right, m_bottom.top};
    m_client = {m_left.right, m_top.bottom, m_right.left, m_bottom.top};
}

void UIFrameWindow::AfterLayout() {
    ComputeBands();
    m_shapeDirty = true;
}

UIButton* UIFrameWindow::SystemButton(int command) const {
    for (int i = 0; i < 4; ++i)
        if (kButtonCommands[i] == command)
            return m_sysButtons[i];
    return nullptr;
}

void UIFrameWindow::Draw(cairo_t* cr, const CHRect&, const CHRect&) {
    DrawImageStyle(cr, m_client, m_clientStyle);
    const CHRect* rects[4] = {&m_top, &m_left, &m_right, &m_bottom};
    for (int i = 0; i < 4; ++i)
        DrawImageStyle(cr, *rects[i], m_active ? m_bands[i].normal : m_bands[i].grayed);
}

int UIFrameWindow::HitTest(int x, int y) {
    if (!RectContains(Rect(), x, y))
        return kHitNowhere;
    if (!m_sizable) {
        if (RectContains(m_top, x, y) && ChildAt(x, y) == nullptr)
            return kHitCaption;
        return kHitClient;
    }
    if (RectContains(m_top, x, y)) {
        if (x < m_top.left + kCornerGrip && y < m_top.top + kCornerGrip)
            return kHitTopLeft;
        if (x >= m_top.right - kCornerGrip && y < m_top.top + kCornerGrip)
            return kHitTopRight;
        if (y < m_top.top + kTopGrip)
            return kHitTop;
        return ChildAt(x, y) ? kHitClient : kHitCaption;
    }
    if (RectContains(m_left, x, y))
        return y >= m_left.bottom - kCornerGrip ? kHitBottomLeft : kHitLeft;
    if (RectContains(m_right, x, y))
        return y >= m_right.bottom - kCornerGrip ? kHitBottomRight : kHitRight;
    if (RectContains(m_bottom, x, y)) {
        if (x < m_bottom.left + kCornerGrip)
            return kHitBottomLeft;
        if (x >= m_bottom.right - kCornerGrip)
            return kHitBottomRight;
        return kHitBottom;
    }
    return kHitClient;
}

bool UIFrameWindow::OnFramePress(const NativeEvent& press) {
    if (!HasNative())
        return false;
    int hit = HitTest(press.x, press.y);
    static const std::pair<int, NativeEdge> kEdges[] = {
        {kHitLeft, NativeEdge::Left},
        {kHitRight, NativeEdge::Right},
        {kHitTop, NativeEdge::Top},
        {kHitTopLeft, NativeEdge::TopLeft},
        {kHitTopRight, NativeEdge::TopRight},
        {kHitBottom, NativeEdge::Bottom},
        {kHitBottomLeft, NativeEdge::BottomLeft},
        {kHitBottomRight, NativeEdge::BottomRight},
    };
    if (hit == kHitCaption) {
        Native()->BeginMoveDrag(press);
        return true;
    }
    for (const auto& [code, edge] : kEdges) {
        if (hit == code) {
            Native()->BeginResizeDrag(edge, press);
            return true;
        }
    }
    return false;
}

int UIFrameWindow::NotifyParent(UIObject* source, int code, int id) {
    if (code == kNotifyCommand) {
        for (int i = 0; i < 4; ++i) {
            if (source && source == m_sysButtons[i]) {
                OnSystemCommand(kButtonCommands[i]);
                return 1;
            }
        }
    }
    return UIObject::NotifyParent(source, code, id);
}

void UIFrameWindow::OnSystemCommand(int command) {
    if (!HasNative())
        return;
    switch (command) {
    case kSysCommandClose:
        Show(false);
        break;
    case kSysCommandMinimize:
        Native()->Iconify();
        break;
    case kSysCommandMaximize:
        Native()->Maximize(true);
        break;
    case kSysCommandRestore:
        Native()->Maximize(false);
        break;
    default:
        break;
    }
}

void UIFrameWindow::SwapMaximizeButtons(bool maximized) {
    if (m_sysButtons[1] && m_sysButtons[2]) {
        m_sysButtons[1]->Show(maximized);
        m_sysButtons[2]->Show(!maximized);
    }
}

void UIFrameWindow::OnFocusChange(bool focused) {
    if (m_active == focused)
        return;
    m_active = focused;
    Invalidate(m_top);
    Invalidate(m_left);
    Invalidate(m_right);
    Invalidate(m_bottom);
}

void UIFrameWindow::OnStateChange(const NativeEvent& event) {
    SwapMaximizeButtons(event.maximized);
}

std::vector<NativeRect> UIFrameWindow::ComputeShape() const {
    std::vector<NativeRect> keep;
    cairo_surface_t* buffer = BackBuffer();
    int width = RectWidth(Rect()), height = RectHeight(Rect());
    if (!buffer || cairo_image_surface_get_width(buffer) != width ||
        cairo_image_surface_get_height(buffer) != height)
        return keep;
    const SkinImageStyle& top = m_bands[kBandTop].normal;
    const SkinImageStyle& bottom = m_bands[kBandBottom].normal;
    const CHRect corners[4] = {
        {0, 0, top.marginLeft, top.marginTop},
        {width - top.marginRight, 0, width, top.marginTop},
        {0, height - bottom.marginBottom, bottom.marginLeft, height},
        {width - bottom.marginRight, height - bottom.marginBottom, width, height},
    };
    cairo_surface_flush(buffer);
    const unsigned char* data = cairo_image_surface_get_data(buffer);
    int stride = cairo_image_surface_get_stride(buffer);
    auto cut = [&](int x, int y) {
        for (const CHRect& corner : corners)
            if (RectContains(corner, x, y))
                return (reinterpret_cast<const uint32_t*>(data + y * stride)[x] >> 24) < 128;
        return false;
    };
    bool anyCut = false;
    for (int y = 0; y < height; ++y) {
        int runStart = -1;
        for (int x = 0; x <= width; ++x) {
            bool kept = x < width && !cut(x, y);
            if (x < width && !kept)
                anyCut = true;
            if (kept && runStart < 0)
                runStart = x;
            if (!kept && runStart >= 0) {
                keep.push_back({runStart, y, x - runStart, 1});
                runStart = -1;
            }
        }
    }
    if (!anyCut)
        keep.clear(); // nothing to cut: no shape at all
    return keep;
}

NativePixels UIFrameWindow::OnPaint(const NativeRect& dirty) {
    if (!m_shapeDirty || !HasNative() || Native()->IsTranslucent())
        return UIObject::OnPaint(dirty);
    // The shape needs the whole frame painted once.
    m_shapeDirty = false;
    NativePixels pixels = RenderBuffer(Rect());
    Native()->SetShape(ComputeShape());
    return pixels;
}
