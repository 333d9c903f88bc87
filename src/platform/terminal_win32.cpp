// Whether standard error and input are consoles, and the progress line's
// erasure on Ctrl-C, on Windows: a console handle is the only kind
// GetConsoleMode accepts (a file, a pipe or a mintty pseudo-terminal is not,
// and gets no progress line).
#include "platform/terminal.h"

#include <windows.h>

namespace {

const int ERASE_MOST = 120;
volatile LONG erase_width = 0;
bool installed = false;

// Runs on a thread of its own when the console sends Ctrl-C or Ctrl-Break;
// FALSE lets the default handler end the process after it.
BOOL WINAPI on_interrupt(DWORD) {
    char blanks[ERASE_MOST + 2];
    int n = erase_width < ERASE_MOST ? (int)erase_width : ERASE_MOST;
    if (n > 0) {
        blanks[0] = '\r';
        for (int i = 1; i <= n; ++i)
            blanks[i] = ' ';
        blanks[n + 1] = '\r';
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), blanks, (DWORD)n + 2, &written, NULL);
    }
    return FALSE;
}

bool is_console(DWORD which) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool stderr_is_terminal() {
    return is_console(STD_ERROR_HANDLE);
}

bool stdin_is_terminal() {
    return is_console(STD_INPUT_HANDLE);
}

void erase_on_interrupt(int width) {
    erase_width = width;
    if (!installed && width > 0) {
        installed = true;
        SetConsoleCtrlHandler(on_interrupt, TRUE);
    }
}
