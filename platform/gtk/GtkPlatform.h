#pragma once
// The GTK 3 backend of the native-window seam. This header is free of GTK types so the desktop
// program's start-up can include it without GTK's headers.

#include "platform/NativeWindow.h"

#include <functional>
#include <memory>

// Call in the main thread before any other thread starts (it sets the environment): GDK is
// told to leave OpenGL alone. Everything is drawn with cairo into the program's own buffers;
// otherwise GDK loads the whole GL stack at start-up only to choose visuals.
void PrepareGtkEnvironment();

// Initialises GTK; null when no display can be opened (the caller then runs headless).
std::unique_ptr<INativePlatform> CreateGtkPlatform();

// Called on the UI thread when the connection to the X display breaks (the X server ended, the
// session closed). GDK's own handler would end the process on the spot; this one runs
// lastWords, which must not touch GTK (the display is gone), and then ends the process with the
// status lastWords returns. An empty handler restores the abrupt end. Call after
// CreateGtkPlatform.
void SetGtkDisplayLostHandler(std::function<int()> lastWords);
