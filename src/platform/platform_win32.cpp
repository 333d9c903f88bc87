// Windows: the platform hooks. No words of its own beside qscan's message
// for a drive that cannot be opened.
#include "platform/platform.h"

bool open_failure_reason(char*, unsigned) {
    return false;
}
