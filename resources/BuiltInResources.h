#pragma once
// Data compiled into the program: the skin package (type "UIR", id 131) and the program icons
// (types "ICON" and "TRAYICON", id = pixel size). Call once at start-up, before the skin is
// loaded; calling again is harmless.

void RegisterBuiltInResources();
