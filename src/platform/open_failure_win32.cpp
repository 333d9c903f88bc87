// Windows: no words of its own beside qscan's message for a drive that
// cannot be opened.
#include "drive/drive.h"

bool open_failure_reason(char*, unsigned) {
    return false;
}
