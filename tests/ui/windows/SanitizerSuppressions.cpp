// The desktop libraries' process-wide caches are not leaks of ours.

#include "platform/gtk/GtkLeakSuppressions.h"

extern "C" const char* __lsan_default_suppressions() {
    return kGtkLeakSuppressions;
}
