// The sheet straight from a drive: its table of contents, then the blocks
// the sheet needs (around each track's start, a stretch of each track's
// codes, wherever an index changes), or every block with --full, several
// sectors a command.
#ifndef QSCAN_SHEET_READ_DRIVE_H
#define QSCAN_SHEET_READ_DRIVE_H

#include <stdio.h>

#include "drive/drive.h"
#include "progress.h"
#include "sheet/sheet.h"

enum read_outcome {
    READ_WHOLE,       // the sheet has every block it needed
    READ_GAPS,        // blocks it needed could not be read: the sheet says which
    READ_NOTHING,     // nothing could be read, *failure says why; no sheet
    READ_DISC_CHANGED // the drive says the disc may have changed: no sheet, *failure says where
};

// Reads the disc in the drive into s (sheet_start'ed; the caller finishes
// it): targeted, or every block from 0 to the end of the first session
// (`full`, and always when the drive refuses its table of contents, which
// `notes` is told). Progress goes to `bar`. Returns a read_outcome.
int sheet_read_drive(drive_handle handle, bool full, sheet* s, progress* bar, FILE* notes, read_failure* failure,
                     uint32_t* failed_block);

#endif
