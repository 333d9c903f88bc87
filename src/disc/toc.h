// The disc's table of contents as data: each track's start, CONTROL and
// session, the lead-out, and where the first session's program area ends;
// and READ TOC/PMA/ATIP's answers read into it.
#ifndef QSCAN_DISC_TOC_H
#define QSCAN_DISC_TOC_H

#include <stdint.h>

#include "disc/answer.h"
#include "subchannel.h"

enum {
    TOC_TRACK_ENTRY = 8,             // format 0000b and 0001b: bytes per descriptor
    FULL_TOC_ENTRY = 11,             // format 0010b
    TOC_ANSWER_SIZE = 4 + (DISC_TRACKS + 1) * TOC_TRACK_ENTRY,
    FULL_TOC_ANSWER_SIZE = 4 + 600 * FULL_TOC_ENTRY,  // room for 99 tracks and every session's points
    TOC_FORMAT_TRACKS = 0x0,         // format 0000b
    TOC_FORMAT_SESSIONS = 0x1,       // format 0001b
    TOC_FORMAT_FULL = 0x2,           // format 0010b
    TOC_FORMAT_CD_TEXT = 0x5,        // format 0101b
    TOC_LEAD_OUT = Q_LEAD_OUT_TRACK, // the lead-out's track number in a descriptor, as in its Q frames
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
    toc_track track[DISC_TRACKS];
    int32_t lead_out;           // the last session's lead-out, as format 0000b gives it
    uint8_t sessions;           // complete sessions: 1 unless format 0001b says more
    int32_t first_session_end;  // the first session's lead-out: where its readable blocks end
};

// The parsers of READ TOC's answers, `length` bytes of which arrived (`cut`:
// on purpose fewer than the header names, see read_toc_answer). Each checks
// the answer with answer_bytes first and returns false for one it cannot
// use, with why in `why`, words that follow "the drive's table of contents
// is malformed: " (or "session information", "full table of contents").
// *toc changes only when the answer is used.

// Format 0000b into *toc, as one session. Also false for an answer that is
// no table of contents: no track, track numbers out of order or outside
// 1-99, a lead-out that is not last or missing, a header whose first and
// last track are not those listed.
bool toc_parse_tracks(const uint8_t* answer, uint32_t length, bool cut, disc_toc* toc, char why[ANSWER_WHY_SIZE]);

// Format 0001b, on a *toc that format 0000b gave: the number of sessions
// and the first track of the last; a track from that one on is in the last
// session, the first session ends SESSION_GAP_BLOCKS before it. Also false
// for an answer of other than one descriptor, sessions that do not begin at
// 1, or a last session's first track that the table does not list where it
// lists it (the first track itself where there are several sessions).
bool toc_parse_sessions(const uint8_t* answer, uint32_t length, bool cut, disc_toc* toc,
                        char why[ANSWER_WHY_SIZE]);

// Format 0010b (binary values), on a *toc that formats 0000b and 0001b
// gave: each track's session and the first session's lead-out (its point
// A2). Only descriptors of ADR 1 are read. Also false for an answer without
// the first session's lead-out, a session outside its header's, a time
// that is none (seconds above 59, frames above 74), a track the table does
// not list or lists elsewhere, a point given twice.
bool toc_parse_full(const uint8_t* answer, uint32_t length, bool cut, disc_toc* toc, char why[ANSWER_WHY_SIZE]);

// Whether a table of contents is one no disc can have: no track, track
// starts that do not rise, a lead-out at or before the last track's start,
// a negative address, sessions out of order, a session that begins before
// the previous session's lead-out (the first session's lead-out is
// first_session_end; a later session's first track must lie after it).
// True with what is impossible in `why` ("track 3 starts at block 2000,
// before track 2 at block 4000").
bool toc_impossible(const disc_toc* toc, char why[ANSWER_WHY_SIZE]);

// The track of that number in the table of contents, or NULL.
inline const toc_track* toc_find(const disc_toc* toc, unsigned number) {
    for (unsigned i = 0; i < toc->track_count; ++i)
        if (toc->track[i].number == number)
            return &toc->track[i];
    return nullptr;
}

#endif
