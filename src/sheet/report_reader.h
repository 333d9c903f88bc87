// Reads qscan's report as a stream: the raw Q lines (-r) one sector each,
// the lines of its other reports passed over, anything else refused.
#ifndef QSCAN_SHEET_REPORT_READER_H
#define QSCAN_SHEET_REPORT_READER_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "subchannel.h"

enum {
    // Longer than any line qscan prints (the longest, an ISRC line with
    // three-digit fields, has 45 characters), line end not counted.
    REPORT_LINE_LIMIT = 64,
    READER_BUFFER_SIZE = 1 << 16,
    REFUSED_LINE_SHOWN = 40  // characters of a refused line quoted in the message
};

enum reader_result {
    READER_SECTOR,      // q holds the next sector's 12 Q bytes
    READER_END,         // the input has ended
    READER_NOT_REPORT,  // line `line` is not a line of qscan's report; its start is in refused
    READER_CUT,         // the input ends in the middle of line `line`: a scan that was interrupted
    READER_FAILED       // the input could not be read; errno says why
};

struct report_reader {
    FILE* in;            // the input, or NULL for bytes in memory:
    const char* bytes;   // ... the bytes not yet taken in
    size_t bytes_left;
    char buffer[READER_BUFFER_SIZE];
    size_t start, end;  // the bytes of buffer not yet looked at
    bool at_end;        // the input has no more bytes
    uint64_t line;      // the number of the line last looked at, from 1
    char refused[REFUSED_LINE_SHOWN + 1];
    bool refused_cut;   // the refused line goes on beyond what refused shows
    uint64_t blank_from;  // the first of the blank lines last read, 0 for none: refused if a line follows them
};

void reader_start(report_reader* r, FILE* in);

// The same for a report in memory, `size` bytes at `bytes`, which stay
// there while the reader reads.
void reader_start_memory(report_reader* r, const void* bytes, size_t size);

// Reads on to the next raw Q line, passing over the lines of qscan's other
// reports. Line ends are LF or CRLF; the last line may lack one, and may be
// the start of a line, as a scan stopped with Ctrl-C leaves it (READER_CUT).
// A raw line may lack its last blank and have upper-case hex, as an editor
// leaves it. Blank lines (empty, or blanks and tabs alone) at the end of the
// input are passed over, as an editor leaves them; anywhere else the first of
// them is refused. After READER_NOT_REPORT, READER_CUT or READER_FAILED the
// reader is done with.
int reader_next(report_reader* r, uint8_t q[Q_SIZE]);

// Whether text (n characters, no line end) is a line that printf prints
// with the format for some values of the kind qscan gives it: %c one of the
// characters a code's nibbles or 6-bit values yield ('0' to 'o'), %d and %u
// an unsigned byte (1 to 3 digits), %llu up to 20 digits, a width padded with
// blanks or, after a 0 flag, zeros; %x lower-case hex. The format's
// closing line end is not matched. With `partial`, whether text is the start
// of such a line.
bool printed_by(const char* text, size_t n, const char* format, bool partial = false);

#endif
