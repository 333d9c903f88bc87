// The sheet straight from a drive: its name and table of contents, then the
// blocks the sheet needs (around each track's start, a stretch of each
// track's codes, wherever an index changes), or every block with --full,
// several sectors a command, with the subchannel the drive can give; the
// codes its frames lack from the drive's own report.
#ifndef QSCAN_SHEET_READ_DRIVE_H
#define QSCAN_SHEET_READ_DRIVE_H

#include <stdio.h>

#include "drive/drive.h"
#include "progress.h"
#include "sheet/sheet.h"

enum read_outcome {
    READ_WHOLE,        // the sheet has every block it needed
    READ_GAPS,         // blocks it needed could not be read: the sheet says which
    READ_NOTHING,      // nothing could be read, *failure says why; no sheet
    READ_DISC_CHANGED, // the drive says the disc may have changed: no sheet, *failure and the block say where
    READ_DISC_GONE     // the drive says its disc is gone or not ready after reading began: no sheet, as above
};

// Reads the disc in the drive into s (sheet_start'ed; the caller finishes
// it): targeted, or every block from 0 to the end of the first session
// (`full`, and always when the drive gives no table of contents one can
// trust, which `notes` is told). The first READ CDs find what subchannel
// the drive gives: raw P-W, else formatted Q (its CRCs checked, or else
// unchecked), else none (the sheet then comes from the table of contents).
// Whatever the drive answers wrong is said on `notes`, a line each, and the
// read goes on without it. Progress goes to `bar`. Returns a read_outcome.
int sheet_read_drive(drive_handle handle, bool full, sheet* s, progress* bar, FILE* notes, read_failure* failure,
                     uint32_t* failed_block);

#endif
