// The disc's table of contents as data: each track's start, CONTROL and
// session, the lead-out, and where the first session's program area ends;
// and READ TOC/PMA/ATIP's answers read into it.
#ifndef QSCAN_DISC_TOC_H
#define QSCAN_DISC_TOC_H

#include <stdint.h>

enum {
    TOC_TRACKS = 99,
    TOC_TRACK_ENTRY = 8,             // format 0000b and 0001b: bytes per descriptor
    FULL_TOC_ENTRY = 11,             // format 0010b
    TOC_ANSWER_SIZE = 4 + (TOC_TRACKS + 1) * TOC_TRACK_ENTRY,
    FULL_TOC_ANSWER_SIZE = 4 + 600 * FULL_TOC_ENTRY,  // room for 99 tracks and every session's points
    TOC_FORMAT_TRACKS = 0x0,         // format 0000b
    TOC_FORMAT_SESSIONS = 0x1,       // format 0001b
    TOC_FORMAT_FULL = 0x2,           // format 0010b
    TOC_FORMAT_CD_TEXT = 0x5,        // format 0101b
    TOC_LEAD_OUT = 0xAA,             // the lead-out's track number in a descriptor
    SESSION_GAP_BLOCKS = 11400       // from a session's lead-out to the next session's first track
};

struct toc_track {
    uint8_t number;   // 1-99
    uint8_t control;  // the CONTROL nibble: 4 is a data track
    uint8_t session;  // 1 for a disc of one session
    int32_t start;    // its index 01, as a block
};

struct disc_toc {
    uint8_t first_track, last_track;
    unsigned track_count;
    toc_track track[TOC_TRACKS];
    int32_t lead_out;           // the last session's lead-out, as format 0000b gives it
    uint8_t sessions;           // complete sessions: 1 unless format 0001b says more
    int32_t first_session_end;  // the first session's lead-out: where its readable blocks end
};

// Reads format 0000b's answer (length bytes) into *toc, as one session.
// False for an answer that is not a table of contents: too short, a length
// that disagrees, track numbers out of order, no lead-out last.
bool toc_parse_tracks(const uint8_t* answer, uint32_t length, disc_toc* toc);

// Format 0001b: the number of sessions and the first track of the last;
// a track from that one on is in the last session, the first session ends
// SESSION_GAP_BLOCKS before it. False for an answer too short.
bool toc_parse_sessions(const uint8_t* answer, uint32_t length, disc_toc* toc);

// Format 0010b (binary values): each track's session and the first
// session's lead-out (its point A2). False for an answer too short or one
// without the first session's lead-out.
bool toc_parse_full(const uint8_t* answer, uint32_t length, disc_toc* toc);

// The track of that number in the table of contents, or NULL.
inline const toc_track* toc_find(const disc_toc* toc, unsigned number) {
    for (unsigned i = 0; i < toc->track_count; ++i)
        if (toc->track[i].number == number)
            return &toc->track[i];
    return nullptr;
}

#endif
