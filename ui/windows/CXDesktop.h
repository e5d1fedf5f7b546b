#pragma once
// The desktop program around the started controller core: the GTK platform, the skin, the main
// window, the tray icon with its menu, balloons, dialogs, and the ordered shutdown.

#include "shell/CVellumoApp.h"

// Process-wide settings the desktop libraries read at start-up. Call in main() before any
// thread starts.
void PrepareDesktopProcess();

// Runs the desktop until "退出", SIGINT or SIGTERM; the exit status, or
// CVellumoApp::kNoDesktop when no display could be opened.
int RunDesktop(DesktopStart& start);

// The signal that writes the element tree to $VELLUMO_UI_TREE (only when that is set). Block
// it in the main thread before any other thread starts.
inline constexpr int kTreeDumpSignal = 10; // SIGUSR1
