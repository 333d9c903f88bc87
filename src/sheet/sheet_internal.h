// What the files of the sheet's model share among themselves: the state
// each block is kept in, the evidence's record of a position frame, and the
// passes one file runs of another's.
#ifndef QSCAN_SHEET_SHEET_INTERNAL_H
#define QSCAN_SHEET_SHEET_INTERNAL_H

#include "sheet/sheet.h"

// What a block held, kept four bits a block.
enum block_state {
    BLOCK_NOT_READ = 0,
    BLOCK_UNREADABLE,
    BLOCK_CRC_ERROR,
    BLOCK_OTHER,     // a good frame that places nothing: codes, other modes, malformed and stray position frames
    BLOCK_POSITION   // ... and up: a position frame, by offset_class
};
const int FAR_CLASS = 2 * SHEET_OFFSET_RANGE + 1;  // a Q offset beyond the range told apart

typedef sheet_position position;

inline bool is_track(int number) {
    return number >= 1 && number <= DISC_TRACKS;
}

inline int offset_class(int64_t offset) {
    return offset >= -SHEET_OFFSET_RANGE && offset <= SHEET_OFFSET_RANGE ? (int)offset + SHEET_OFFSET_RANGE
                                                                          : FAR_CLASS;
}

inline int8_t small_offset(int64_t offset) {
    return offset < -127 ? -127 : offset > 127 ? 127 : (int8_t)offset;
}

inline void set_state(sheet* s, uint32_t b, int state) {
    if (b >= SHEET_BLOCKS)
        return;
    uint8_t* byte = &s->blocks[b / 2];
    *byte = b % 2 ? (uint8_t)((*byte & 0x0F) | state << 4) : (uint8_t)((*byte & 0xF0) | state);
}

inline int state_of(const sheet* s, uint32_t b) {
    return b % 2 ? s->blocks[b / 2] >> 4 : s->blocks[b / 2] & 0x0F;
}

inline uint32_t clamp_block(int64_t block) {
    return block < 0 ? 0 : block > UINT32_MAX ? UINT32_MAX : (uint32_t)block;
}

// The held ISRC frames go to a track now known (0: to none).
void release_held(sheet* s, int track);

// At the end of the blocks nothing more can agree: what waits is stray.
void resolve_at_end(sheet* s);

// Adds an ISRC to a bin's, or marks it as one of more than it tells apart.
void add_isrc_ref(sheet_bin* bin, uint16_t ref);

// The bin of the disc's block b, made room for.
sheet_bin* bin_for(sheet* s, uint32_t b);

// The CRC errors and position frames out of place in the scan's blocks [from, to).
void count_blocks(const sheet* s, int64_t from, int64_t to, uint32_t* crc_errors, uint32_t* out_of_place);

// The picture's counts per second, on the disc's own time.
void fill_bins(sheet* s);

// Whether the scan's blocks [from, to) hold one that may hide a frame.
bool may_hide(const sheet* s, int64_t from, int64_t to);

#endif
