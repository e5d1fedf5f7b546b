#pragma once
// LeakSanitizer suppressions for programs and tests that run the desktop libraries: those keep
// process-wide caches (fonts, types, the session bus connection) until exit, which are not
// leaks of this program. A sanitizer build's __lsan_default_suppressions returns this list.

inline constexpr const char kGtkLeakSuppressions[] = "leak:libfontconfig.so\n"
                                                     "leak:libpango-1.0.so\n"
                                                     "leak:libpangoft2-1.0.so\n"
                                                     "leak:libpangocairo-1.0.so\n"
                                                     "leak:libglib-2.0.so\n"
                                                     "leak:libgobject-2.0.so\n"
                                                     "leak:libgio-2.0.so\n"
                                                     "leak:libharfbuzz.so\n"
                                                     "leak:libgtk-3.so\n"
                                                     "leak:libgdk-3.so\n"
                                                     "leak:libdbus-1.so\n"
                                                     "leak:libnotify.so\n"
                                                     "leak:libayatana-appindicator3.so\n"
                                                     "leak:libdbusmenu-glib.so\n"
                                                     "leak:libdbusmenu-gtk3.so\n";
