// The disc's sheet: what a whole scan's Q frames say about the disc (tracks,
// index points, lead-out, ISRCs and catalogue number by majority, flags,
// CRC errors), gathered one decoded sector at a time in fixed-size records.
#ifndef QSCAN_SHEET_SHEET_H
#define QSCAN_SHEET_SHEET_H

#include <stdint.h>

#include "subchannel.h"

enum {
    SHEET_TRACKS = 99,        // track numbers 1-99
    SHEET_INDEXES = 100,      // index numbers 0-99
    SHEET_CODES = 16,         // distinct codes counted per track, and for the disc
    SHEET_VOTES = 8,          // distinct start blocks counted per track, and for the lead-out
    SHEET_BINS = 6000,        // seconds of disc time: 100 minutes; a longer scan merges them in pairs
    BIN_CODES = 2,            // distinct ISRCs a bin tells apart
    ISRC_LENGTH = 12,
    MCN_LENGTH = 13
};

// The CONTROL nibble's bits.
enum {
    CONTROL_PRE_EMPHASIS = 0x1,  // on a data track: recorded incrementally
    CONTROL_COPY_PERMITTED = 0x2,
    CONTROL_DATA = 0x4,
    CONTROL_FOUR_CHANNELS = 0x8  // reserved on a data track
};

// One code (an ISRC's 12 characters or a catalogue number's 13 digits, not
// terminated) and the frames that carried it.
struct sheet_code {
    char code[MCN_LENGTH];
    uint32_t frames;
    uint32_t first_block, last_block;
};

// The codes of one track, or the catalogue numbers of the disc, in the order
// of their first block. A code that comes when SHEET_CODES are counted
// already is counted in `uncounted` only.
struct sheet_codes {
    sheet_code code[SHEET_CODES];
    unsigned count;
    uint32_t uncounted;
};

// Start blocks that frames computed from their own times, and how many gave
// each; the same bound as above.
struct sheet_votes {
    int64_t block[SHEET_VOTES];
    uint32_t frames[SHEET_VOTES];
    unsigned count;
    uint32_t uncounted;
};

struct sheet_index {
    bool seen;
    // The start is known to the block: computed from the frames' times, or
    // the block before carries a good position frame of what came before.
    bool exact;
    uint32_t block;
    // When not exact: the earliest block at which it may begin.
    uint32_t earliest;
};

// What one stretch of disc time (seconds_per_bin seconds) holds, for the
// picture of the disc. An ISRC is named by its track and its place in that
// track's codes (isrc_ref).
struct sheet_bin {
    uint32_t crc_errors;
    uint32_t out_of_place;
    uint16_t isrcs[BIN_CODES];  // 0: none
    bool more_isrcs;            // ... and others beside them
    uint16_t mcns;              // a bit for each place in the disc's catalogue numbers
};

struct sheet_track {
    bool seen;  // good position frames carry its number
    sheet_index index[SHEET_INDEXES];
    sheet_votes index1;               // disc time minus track time, index 1 and above
    uint32_t control_frames[16];      // good frames by CONTROL nibble
    sheet_codes isrcs;
    uint32_t crc_errors;

    // Filled in by sheet_finish:
    uint8_t control;   // the nibble most good frames carry
    int isrc;          // the code in isrcs most frames carry (the first of a tie), or -1
    uint32_t end;      // the block after its last: the next track's first index, the lead-out or the scan's end
};

struct sheet {
    uint32_t sectors;  // sectors fed in: block 0 to sectors - 1
    uint32_t crc_errors;
    uint32_t out_of_place;    // good position frames whose disc time is not their block's
    uint32_t isrc_outside;    // good ISRC frames where the running position is in no track
    sheet_track track[SHEET_TRACKS + 1];  // by number; track[0] is not used
    sheet_votes lead_out_votes;
    sheet_codes mcns;
    sheet_bin bins[SHEET_BINS];
    uint32_t seconds_per_bin;

    // The running position, and what the block before carried.
    timing running;
    bool before_was_position;  // a good position frame
    bool before_in_place;      // ... whose disc time is its block's
    uint8_t before_track, before_index;
    bool any_position;
    uint32_t last_position_block;  // the last block with a good position frame

    // Filled in by sheet_finish:
    int first_track, last_track;  // 0 when no track was seen
    int mcn;                      // index in mcns of the majority, or -1
    bool lead_out_seen;
    uint32_t lead_out;
};

// Starts an empty sheet.
void sheet_start(sheet* s);

// Feeds block s->sectors: decode_q's result and frame for it. The running
// position moves on by the rule qscan's reports follow. Returns false, and
// takes nothing in, when the sheet holds as many blocks as a block number
// can count.
bool sheet_add(sheet* s, int result, const q_frame* frame);

// Works out the majorities, the track ends and the lead-out, once all
// blocks are in.
void sheet_finish(sheet* s);

// The majority among the votes: the value most frames gave, the first of a
// tie; -1 when there are none.
int64_t sheet_majority(const sheet_votes* v);

// An ISRC in a bin: track n's code at `place` in its codes (SHEET_CODES for
// one not counted one by one).
uint16_t isrc_ref(int track, unsigned place);

// The bin of disc time that block b falls in.
uint32_t bin_of_block(const sheet* s, uint32_t b);

// A code of thirteen zeros: carried, but no catalogue number.
bool mcn_is_zero(const sheet_code* c);

// Whether a code is what the standard allows, as cue sheet readers demand:
// an ISRC of five letters or digits and seven digits; thirteen digits.
bool isrc_well_formed(const sheet_code* c);
bool mcn_well_formed(const sheet_code* c);

// The flags of a track as cue sheets name them, in the order DCP 4CH PRE
// (a data track has neither of the last two); returns how many.
int track_flags(const sheet_track* t, const char* flags[3]);

#endif
