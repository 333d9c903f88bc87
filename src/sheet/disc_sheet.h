// What reading a disc gives: its sheet, and how it was read (from a saved
// scan or a drive: the drive's name, what subchannel it gave, the commands
// it took, its CD-Text as it arrived). The writers take this.
#ifndef QSCAN_SHEET_DISC_SHEET_H
#define QSCAN_SHEET_DISC_SHEET_H

#include <stdint.h>
#include <string.h>

#include <string>

#include "disc/answer.h"
#include "disc/cd_text.h"
#include "drive/answers.h"
#include "sheet/sheet.h"

// What the drive gives of the Q subchannel, as the sheet was read.
enum sheet_subchannel {
    SHEET_Q_RAW,                  // raw P-W, or a saved scan of it: every frame's CRC checked
    SHEET_Q_FORMATTED,            // formatted Q from the drive, CRCs checked
    SHEET_Q_FORMATTED_UNCHECKED,  // formatted Q whose CRC field never matches: frames taken unchecked
    SHEET_Q_NONE                  // no subchannel at all: the table of contents alone
};

// How the blocks came to the sheet.
enum sheet_method {
    SHEET_FROM_REPORT,  // a saved scan, qscan -r's report
    SHEET_TARGETED,     // the drive itself, the blocks the sheet needs
    SHEET_FULL          // the drive itself, every block
};

// What reading the disc took.
struct disc_reading {
    int method;             // a sheet_method
    uint32_t disc_blocks;   // the blocks of the disc's first session, by its table of contents
    uint32_t lead_out_blocks;  // of the blocks read, those from its lead-out on
    uint32_t commands;      // READ CD commands sent
    int subchannel;         // a sheet_subchannel
    bool drive_asked;       // the drive was asked its name (INQUIRY)
    bool drive_known;       // ... and gave it
    drive_identity drive;
    bool cd_text_asked;     // the drive was asked for its CD-Text (a saved scan has none: Q does not carry it)
    char cd_text_malformed[ANSWER_WHY_SIZE];  // why the drive's answer could not be used ("" when it could)
    unsigned cd_text_packs;
    uint8_t cd_text[CD_TEXT_PACKS * CD_TEXT_PACK];
    // A saved scan's lines that repeat blocks it holds already, left out:
    // how many, the file's line of the first, the disc time (in frames) of
    // the block it repeats.
    uint64_t repeated_lines;
    uint64_t repeated_first_line;
    int64_t repeated_first_at;
    // The Q offset a saved scan's first agreeing position frames show, which
    // lines lost before them show alike.
    bool start_offset_known;
    int64_t start_offset;
};

struct disc_sheet {
    sheet s;
    disc_reading reading;
};

// The CD-Text a drive gave the sheet, decoded; false, with the reason, for
// a saved scan or a disc without CD-Text.
bool sheet_cd_text(const disc_sheet* d, cd_text* text, std::string* why);

// The ISRCs the drive's CD-Text gives, to the sheet (sheet_add_cd_text_code).
void sheet_use_cd_text_codes(disc_sheet* d);

// Starts an empty sheet, read from nothing yet.
inline void disc_sheet_start(disc_sheet* d) {
    sheet_start(&d->s);
    memset(&d->reading, 0, sizeof d->reading);
}

// What the sheet was made from, as its words name it: "scan" (a saved
// scan) or "read" (a drive).
inline const char* read_word(const disc_sheet* d) {
    return d->reading.method == SHEET_FROM_REPORT ? "scan" : "read";
}

#endif
