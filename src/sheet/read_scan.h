// The sheet from a saved scan: qscan -r's raw lines, each a block while
// the frames agree that it is; where agreeing position frames show lines
// lost, the blocks they held are missing, where they show lines repeated,
// the repeats are left out, and where they show the disc start again, the
// input is two scans and makes no sheet.
#ifndef QSCAN_SHEET_READ_SCAN_H
#define QSCAN_SHEET_READ_SCAN_H

#include <stdint.h>
#include <stdio.h>

#include "sheet/report_reader.h"
#include "sheet/sheet.h"

enum scan_outcome {
    SCAN_READ,         // every line is in the sheet
    SCAN_CUT,          // the last line was cut short (an interrupted scan): the lines before it are in the sheet
    SCAN_EMPTY,        // no raw line at all
    SCAN_NOT_REPORT,   // a line that is not one of qscan's report (refused, refused_cut)
    SCAN_FAILED,       // the input could not be read; errno says why
    SCAN_TOO_LONG,     // more lines than a disc has blocks
    SCAN_STARTS_AGAIN  // the disc starts again: two scans (again_at, again_after, in disc-time frames)
};

struct scan_result {
    int outcome;               // a scan_outcome
    uint64_t line;             // the file's line the outcome is about
    char refused[REFUSED_LINE_SHOWN + 1];
    bool refused_cut;
    int64_t again_at, again_after;  // SCAN_STARTS_AGAIN: the disc time there, and the last one before it
    uint64_t repeated_lines;        // lines left out as repeats of blocks placed already
    uint64_t repeated_first_line;   // ... the file's line of the first
    int64_t repeated_first_at;      // ... and the disc time, in frames, of the block it repeats
    bool start_offset_known;        // two agreeing position frames set the scan's Q offset:
    int64_t start_offset;           // ... the offset they showed
};

// Reads the report on `in` into s (sheet_start'ed; the caller finishes it).
// Returns the outcome, also in r->outcome.
int sheet_read_scan(FILE* in, sheet* s, scan_result* r);

// The same for a report in memory.
int sheet_read_scan_memory(const void* bytes, size_t size, sheet* s, scan_result* r);

#endif
