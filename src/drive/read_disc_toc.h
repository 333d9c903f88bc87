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
// READY with 04/01 (becoming ready), 04/07 (operation in progress) or
// 3A/xx (no medium yet, right after a disc goes in).
bool becoming_ready(const read_failure* failure);

// Called once when the drive is found becoming ready and the wait begins.
typedef void (*ready_wait_notice)(void* context);

// Reads the table of contents: format 0000b, then 0001b, and 0010b where
// the disc has more than one session (without it, the sessions are taken
// from 0001b). A drive still becoming ready at the first command is waited
// for, up to READY_WAIT_MS, `notice` told once. Returns 0, or the failure of
// format 0000b (EIO; EINVAL for an answer that is no table of contents) with
// *failure saying why.
int read_disc_toc(drive_handle handle, disc_toc* toc, read_failure* failure, ready_wait_notice notice,
                  void* context);

#endif
