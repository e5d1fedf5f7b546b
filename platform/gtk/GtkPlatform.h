#pragma once
// The GTK 3 backend of the native-window seam. This header is free of GTK types so the desktop
// program's start-up can include it without GTK's headers.

#include "platform/NativeWindow.h"

#include <memory>

// Initialises GTK; null when no display can be opened (the caller then runs headless).
std::unique_ptr<INativePlatform> CreateGtkPlatform();
