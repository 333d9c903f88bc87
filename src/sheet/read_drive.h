// The sheet straight from a drive: its name and table of contents, then the
// blocks the sheet needs (around each track's start, a stretch of each
// track's codes, wherever an index changes), or every block with --full,
// several sectors a command, with the subchannel the drive can give; the
// codes its frames lack from the drive's own report.
#ifndef QSCAN_SHEET_READ_DRIVE_H
#define QSCAN_SHEET_READ_DRIVE_H

#include <stdint.h>

#include "drive/drive.h"
#include "sheet/disc_sheet.h"
#include "sheet/qscan.h"  // QSCAN_READING_WHOLE_DISC: what a whole-disc read tells the listener it reads

enum read_outcome {
    READ_WHOLE,        // the sheet has every block it needed
    READ_GAPS,         // blocks it needed could not be read: the sheet says which
    READ_NOTHING,      // nothing could be read, *failure says why; no sheet
    READ_DISC_CHANGED, // the drive says the disc may have changed: no sheet, *failure and the block say where
    READ_DISC_GONE,    // the drive says its disc is gone or not ready after reading began: no sheet, as above
    READ_STOPPED       // the listener asked to stop: no sheet
};

// Who hears what a read of a drive does. Any of the functions may be NULL.
struct read_listener {
    void* context;
    // A line a person should read about the read: an answer of the drive that
    // cannot be used, a read that cannot be done as asked; no line end.
    void (*say)(void* context, const char* line);
    // What is read now ("reading track 3's codes") and how far: `done`
    // blocks read of some `total`, which grows where the read needs more than
    // it planned; the last call has done equal to total. Returns true to stop
    // the read at once.
    bool (*progress)(void* context, const char* what, uint64_t done, uint64_t total);
    // The drive is becoming ready, and is waited for.
    void (*waiting)(void* context);
};

// Reads the disc in the drive into d (its sheet sheet_start'ed, its reading
// zeroed; the caller finishes the sheet): targeted, or every block from 0 to
// the end of the first session (`full`, and always when the drive gives no
// table of contents one can trust, which the listener is told). The first
// READ CDs find what subchannel the drive gives: raw P-W, else formatted Q
// (its CRCs checked, or else unchecked), else none (the sheet then comes
// from the table of contents). Whatever the drive answers wrong is said, a
// line each, and the read goes on without it. Returns a read_outcome.
int sheet_read_drive(drive_handle handle, bool full, disc_sheet* d, const read_listener* listener,
                     read_failure* failure, uint32_t* failed_block);

#endif
