#pragma once
// The bounding shape of a top-level window, sent straight to the X server.

#include "platform/NativeWindow.h"

#include <gdk/gdk.h>

#include <vector>

// GDK (3.24, X11) hands a top-level window's shape to the X server only when the window is
// mapped: a shape set while it is on screen stays in GDK's bookkeeping until the next map. The
// frame's shape is known only after its first paint, so it is set here directly as well. An
// empty keep removes the shape. False when the window is not an X11 window (nothing is done).
bool ApplyX11WindowShape(GdkWindow* window, const std::vector<NativeRect>& keep);
