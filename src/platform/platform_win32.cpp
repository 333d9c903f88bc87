// Windows: the platform hooks. Drives are named by letters alone, and the
// system has no words of its own beside qscan's message for a drive that
// cannot be opened.
#include "platform/platform.h"

bool open_failure_reason(char*, unsigned) {
    return false;
}

bool platform_open_path(const char*, void**) {
    return false;
}

bool platform_is_device(const char*) {
    return false;
}
