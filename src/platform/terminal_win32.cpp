// Whether standard error is a console, on Windows: a console handle is the
// only kind GetConsoleMode accepts (a file, a pipe or a mintty pseudo-terminal
// is not, and gets no progress line).
#include "platform/terminal.h"

#include <windows.h>

bool stderr_is_terminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
