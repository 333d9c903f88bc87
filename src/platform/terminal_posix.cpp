// Whether standard error is a terminal, on POSIX systems.
#include "platform/terminal.h"

#include <unistd.h>

bool stderr_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}
