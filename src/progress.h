// The progress line a person watching a terminal sees while a disc is
// scanned: the disc time reached and the read speed, rewritten in place
// ("27:28  9.8x"). The clock is passed in, so that its timing rules can be
// tried without waiting.
#ifndef QSCAN_PROGRESS_H
#define QSCAN_PROGRESS_H

#include <stdint.h>
#include <stdio.h>

#include "subchannel.h"

enum {
    // Never more than this many characters: one fewer than the shortest
    // report line ("0 unknown mode"), so that a report line printed after
    // it covers it whole. A note, which comes before any report line, may
    // be longer; the line after it covers it.
    PROGRESS_WIDTH = 13
};

// A monotonic clock in nanoseconds.
typedef uint64_t (*progress_clock)(void);

// The system's steady clock.
uint64_t steady_clock_ns(void);

struct progress {
    bool enabled;           // the line goes to a terminal
    bool shown;             // a line is on the screen now
    progress_clock clock;
    FILE* out;
    uint32_t mask;          // the clock is looked at every (mask + 1) sectors
    uint64_t checked;       // the last look at the clock
    uint64_t printed;       // the last line, or the scan's start
    uint32_t printed_lba;   // the block at that time
    int width;              // characters of what is on the screen
};

// Starts the line's timing; nothing is written unless `enabled`.
void progress_start(progress* p, bool enabled, progress_clock clock, FILE* out);

// Called once per sector with the next block to read and the running
// position. Looks at the clock every (mask + 1) sectors, the mask adapting
// so that looks lie 30 to 120 ms apart whatever the drive's speed, and
// writes the line at most four times a second. Report lines already
// formatted on standard output go out first, so that the line starts at the
// beginning of a line of its own.
void progress_update(progress* p, uint32_t lba, const timing* running);

// Shows a few words instead of the line ("waiting for the drive"), at
// once; the next line covers them whole.
void progress_note(progress* p, const char* text);

// Leaves nothing of the line on the screen, not even a blank line.
void progress_end(progress* p);

#endif
