// Reading the disc's table of contents from the drive, which both programs
// do before the disc itself, and the wait for a drive becoming ready.
#ifndef QSCAN_DRIVE_READ_DISC_TOC_H
#define QSCAN_DRIVE_READ_DISC_TOC_H

#include "disc/toc.h"
#include "drive/drive.h"

enum {
    READY_WAIT_MS = 30000,  // how long a drive becoming ready is waited for
    READY_POLL_MS = 250
};

// Whether a failed command says the drive is still becoming ready: NOT
// READY with 04/01 (becoming ready) or 04/07 (operation in progress).
bool becoming_ready(const read_failure* failure);

// Whether it says there is no disc: NOT READY with 3A/xx (medium not
// present; 3A/01 tray closed, 3A/02 tray open).
bool no_medium(const read_failure* failure);

// What of the table of contents could not be used, a line each ("the
// drive's session information is malformed: its length field says 2
// bytes"), for the caller to say; the read went on without it.
enum { TOC_NOTES = 3 };
struct toc_notes {
    unsigned count;
    char line[TOC_NOTES][ANSWER_WHY_SIZE + 64];
};

// Called once when the drive is found becoming ready and the wait begins.
typedef void (*ready_wait_notice)(void* context);

// Reads the table of contents, each answer whole (read_toc_answer) and
// checked: format 0000b, then 0001b, and 0010b where the disc has more than
// one session (without it, the sessions are taken from 0001b). A drive
// still becoming ready at the first command is waited for, up to
// READY_WAIT_MS, `notice` told once; so is one that answers "no medium"
// after it said "becoming ready". One that answers "no medium" first is
// empty: no wait. Returns 0; EIO for a failed format 0000b, with *failure
// saying why; EINVAL for a malformed one, with its line in *notes. A
// malformed 0001b or 0010b leaves the disc of one session, or the sessions
// 0001b gave, and adds its line to *notes. A table no disc can have is
// returned as the drive gave it: whether to trust it (toc_impossible) is
// the caller's to judge.
int read_disc_toc(drive_handle handle, disc_toc* toc, read_failure* failure, ready_wait_notice notice,
                  void* context, toc_notes* notes);

#endif
