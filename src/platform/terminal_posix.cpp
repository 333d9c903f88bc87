// Whether standard error and input are terminals, and the progress line's
// erasure on SIGINT, on POSIX systems.
#include "platform/terminal.h"

#include <signal.h>
#include <unistd.h>

namespace {

const int ERASE_MOST = 120;
volatile sig_atomic_t erase_width = 0;
bool installed = false;

// Async-signal-safe: write(2) alone, on a buffer of its own.
void on_interrupt(int signal_number) {
    char blanks[ERASE_MOST + 2];
    int n = erase_width < ERASE_MOST ? (int)erase_width : ERASE_MOST;
    if (n > 0) {
        blanks[0] = '\r';
        for (int i = 1; i <= n; ++i)
            blanks[i] = ' ';
        blanks[n + 1] = '\r';
        ssize_t written = write(STDERR_FILENO, blanks, (size_t)n + 2);
        (void)written;  // nothing more can be done about a failed write here
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

bool stderr_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool stdin_is_terminal() {
    return isatty(STDIN_FILENO) == 1;
}

void erase_on_interrupt(int width) {
    erase_width = width;
    if (!installed && width > 0) {
        installed = true;
        signal(SIGINT, on_interrupt);
    }
}
