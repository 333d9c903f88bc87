// Whether standard error and standard input are terminals a person watches,
// and the progress line's erasure when the person stops the program: one
// implementation per platform, chosen when the program is built.
#ifndef QSCAN_PLATFORM_TERMINAL_H
#define QSCAN_PLATFORM_TERMINAL_H

// True when standard error is a terminal (a console on Windows), where a
// progress line rewritten in place is read; false for files, pipes, a closed
// stream and everything else, which must see no such line.
bool stderr_is_terminal();

// True when standard input is a terminal: nothing is piped in.
bool stdin_is_terminal();

// From now on, Ctrl-C (SIGINT, or the console's Ctrl-C or Ctrl-Break) first
// writes `width` blanks between two carriage returns on standard error, so
// that a progress line `width` wide is gone, then ends the program as it
// would have ended. 0: nothing to erase. Safe to call often: it only sets
// the width, after installing the handler once.
void erase_on_interrupt(int width);

#endif
