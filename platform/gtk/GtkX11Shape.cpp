#include "platform/gtk/GtkX11Shape.h"

#include <gdk/gdkx.h>

#include <X11/extensions/shape.h>

bool ApplyX11WindowShape(GdkWindow* window, const std::vector<NativeRect>& keep) {
    if (window == nullptr || !GDK_IS_X11_WINDOW(window)) {
        return false;
    }
    GdkDisplay* display = gdk_window_get_display(window);
    Display* xdisplay = GDK_WINDOW_XDISPLAY(window);
    Window xid = GDK_WINDOW_XID(window);
    int scale = gdk_window_get_scale_factor(window);
    // A window destroyed meanwhile answers with an error, which is no reason to stop.
    gdk_x11_display_error_trap_push(display);
    if (keep.empty()) {
        XShapeCombineMask(xdisplay, xid, ShapeBounding, 0, 0, None, ShapeSet);
    } else {
        std::vector<XRectangle> rects;
        rects.reserve(keep.size());
        for (const NativeRect& r : keep) {
            rects.push_back({static_cast<short>(r.x * scale), static_cast<short>(r.y * scale),
                             static_cast<unsigned short>(r.width * scale),
                             static_cast<unsigned short>(r.height * scale)});
        }
        XShapeCombineRectangles(xdisplay, xid, ShapeBounding, 0, 0, rects.data(),
                                static_cast<int>(rects.size()), ShapeSet, Unsorted);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
    return true;
}
