// Whether standard error is a terminal a person watches: one implementation
// per platform, chosen when the program is built.
#ifndef QSCAN_PLATFORM_TERMINAL_H
#define QSCAN_PLATFORM_TERMINAL_H

// True when standard error is a terminal (a console on Windows), where a
// progress line rewritten in place is read; false for files, pipes, a closed
// stream and everything else, which must see no such line.
bool stderr_is_terminal();

#endif
