// What the databases call a disc: the MusicBrainz disc ID (and its TOC
// string and attach address), the freedb (CDDB) ID and the AccurateRip IDs,
// all computed from the tracks' index 01 starts and the lead-out.
#ifndef QSCAN_SHEET_DISC_IDS_H
#define QSCAN_SHEET_DISC_IDS_H

#include <stdint.h>

#include <string>

#include "sheet/disc_sheet.h"

// A disc's layout as the identifiers see it, in blocks (block 0 at 00:02.00).
struct id_layout {
    int first, last;               // track numbers
    int32_t start[DISC_TRACKS + 1];  // index 01 of each track from first to last
    bool data[DISC_TRACKS + 1];   // a data track
    int32_t lead_out;              // the disc's real lead-out: that of its last session
    bool enhanced;                 // its last session is data, after an audio session
};

struct disc_ids {
    std::string musicbrainz;      // 28 characters
    std::string musicbrainz_toc;  // "first last lead-out offsets...", joined by '+'
    std::string musicbrainz_url;  // where a user attaches the disc to a release
    std::string freedb;           // 8 hex digits
    uint32_t accuraterip_id1, accuraterip_id2;
    std::string accuraterip_file; // "dBAR-NNN-id1-id2-freedb.bin"
};

// The identifiers of a layout. False when SHA-1 cannot be had.
bool compute_disc_ids(const id_layout* layout, disc_ids* ids);

// The layout of a finished sheet: from the drive's table of contents when it
// was read, else from the scan when it saw every track's index 01 and the
// lead-out. False, with the reason in *why, when neither can give it.
bool sheet_layout(const disc_sheet* d, id_layout* layout, std::string* why);

// The identifiers of a finished sheet; false, with the reason in *why,
// when they cannot be had.
bool sheet_ids(const disc_sheet* d, disc_ids* ids, std::string* why);

#endif
