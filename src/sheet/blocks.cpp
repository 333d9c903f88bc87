// The sheet's record of what each block held, four bits a block, and the
// picture's bins of disc time: kept, merged, counted by block range.
#include "sheet/sheet_internal.h"

#include <string.h>

namespace {

// Halves the bins' resolution, for a scan longer than they can hold.
void merge_bins(sheet* s) {
    for (uint32_t i = 0; i < SHEET_BINS / 2; ++i) {
        sheet_bin merged = s->bins[2 * i];
        const sheet_bin* next = &s->bins[2 * i + 1];
        merged.mcns |= next->mcns;
        merged.more_isrcs |= next->more_isrcs;
        for (uint16_t ref : next->isrcs)
            if (ref != 0)
                add_isrc_ref(&merged, ref);
        s->bins[i] = merged;
    }
    memset(&s->bins[SHEET_BINS / 2], 0, sizeof s->bins / 2);
    s->seconds_per_bin *= 2;
}

}  // namespace

void add_isrc_ref(sheet_bin* bin, uint16_t ref) {
    for (uint16_t& slot : bin->isrcs) {
        if (slot == ref)
            return;
        if (slot == 0) {
            slot = ref;
            return;
        }
    }
    bin->more_isrcs = true;
}

// The bin of block b, made room for.
sheet_bin* bin_for(sheet* s, uint32_t b) {
    while (bin_of_block(s, b) >= SHEET_BINS)
        merge_bins(s);
    return &s->bins[bin_of_block(s, b)];
}

uint16_t isrc_ref(int track, unsigned place) {
    return (uint16_t)(track * (SHEET_CODES + 1) + place + 1);
}

uint32_t bin_of_block(const sheet* s, uint32_t b) {
    return (uint32_t)(disc_frames_of_block(b) / FRAMES_PER_SECOND / s->seconds_per_bin);
}

// The counts of CRC errors and position frames out of place in the scan's
// blocks [from, to), those beyond the blocks kept one by one included when
// the range reaches them.
void count_blocks(const sheet* s, int64_t from, int64_t to, uint32_t* crc_errors, uint32_t* out_of_place) {
    *crc_errors = *out_of_place = 0;
    int own = BLOCK_POSITION + offset_class(s->q_offset);
    int64_t last = to < (int64_t)SHEET_BLOCKS ? to : (int64_t)SHEET_BLOCKS;
    for (int64_t b = from < 0 ? 0 : from; b < last; ++b) {
        int state = state_of(s, (uint32_t)b);
        *crc_errors += state == BLOCK_CRC_ERROR;
        *out_of_place += state >= BLOCK_POSITION && state != own;
    }
    if (to > (int64_t)SHEET_BLOCKS) {
        *crc_errors += s->beyond_crc_errors;
        for (int c = 0; c <= FAR_CLASS; ++c)
            *out_of_place += c == own - BLOCK_POSITION ? 0 : s->beyond_offsets[c];
    }
}

// The picture's counts per second, on the disc's own time.
void fill_bins(sheet* s) {
    int own = BLOCK_POSITION + offset_class(s->q_offset);
    uint32_t last = s->end < (uint32_t)SHEET_BLOCKS ? s->end : (uint32_t)SHEET_BLOCKS;
    for (uint32_t b = 0; b < last; ++b) {
        int state = state_of(s, b);
        if (state != BLOCK_CRC_ERROR && (state < BLOCK_POSITION || state == own))
            continue;
        sheet_bin* bin = bin_for(s, clamp_block((int64_t)b + s->q_offset));
        ++(state == BLOCK_CRC_ERROR ? bin->crc_errors : bin->out_of_place);
    }
}

void sheet_count_read(const sheet* s, int64_t first, int64_t end, uint32_t* read, uint32_t* lacking) {
    *read = *lacking = 0;
    // The scan's blocks that carried the disc's [first, end), of those fed in: [0, s->end).
    int64_t from = first - s->q_offset, to = end - s->q_offset;
    from = from < 0 ? 0 : from;
    to = to > (int64_t)s->end ? (int64_t)s->end : to;
    for (int64_t b = from; b < to && b < (int64_t)SHEET_BLOCKS; ++b) {
        int state = state_of(s, (uint32_t)b);
        *read += state >= BLOCK_CRC_ERROR;
        *lacking += state == BLOCK_UNREADABLE;
    }
    int64_t beyond = from > (int64_t)SHEET_BLOCKS ? from : (int64_t)SHEET_BLOCKS;
    if (to > beyond)
        *read += (uint32_t)(to - beyond);
}

// Whether the scan's blocks [from, to) hold one that may hide a frame:
// damaged, unreadable, missing, not read. Blocks beyond those kept one by
// one are not known, and do not count.
bool may_hide(const sheet* s, int64_t from, int64_t to) {
    for (int64_t b = from < 0 ? 0 : from; b < to && b < (int64_t)SHEET_BLOCKS; ++b) {
        int state = state_of(s, (uint32_t)b);
        if (state == BLOCK_CRC_ERROR || state == BLOCK_UNREADABLE || state == BLOCK_NOT_READ)
            return true;
    }
    return false;
}
