// The disc's sheet, gathered one decoded sector at a time: counters and
// first sightings in fixed-size records, majorities worked out at the end.
#include "sheet/sheet.h"

#include <string.h>

namespace {

int64_t frames_of(const msf* t) {
    return (int64_t)t->m * FRAMES_PER_MINUTE + (int64_t)t->s * FRAMES_PER_SECOND + t->f;
}

bool is_track(unsigned number) {
    return number >= 1 && number <= SHEET_TRACKS;
}

// Counts a frame of the code; returns its place in codes, SHEET_CODES for
// one that comes when all places are taken.
unsigned count_code(sheet_codes* codes, const char* code, size_t length, uint32_t block) {
    for (unsigned i = 0; i < codes->count; ++i) {
        sheet_code* c = &codes->code[i];
        if (memcmp(c->code, code, length) == 0) {
            ++c->frames;
            c->last_block = block;
            return i;
        }
    }
    if (codes->count == SHEET_CODES) {
        ++codes->uncounted;
        return SHEET_CODES;
    }
    sheet_code* c = &codes->code[codes->count];
    memset(c->code, 0, sizeof c->code);
    memcpy(c->code, code, length);
    c->frames = 1;
    c->first_block = c->last_block = block;
    return codes->count++;
}

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

// Halves the bins' resolution, for a scan longer than they can hold.
void merge_bins(sheet* s) {
    for (uint32_t i = 0; i < SHEET_BINS / 2; ++i) {
        sheet_bin merged = s->bins[2 * i];
        const sheet_bin* next = &s->bins[2 * i + 1];
        merged.crc_errors += next->crc_errors;
        merged.out_of_place += next->out_of_place;
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

// The bin of block b, made room for.
sheet_bin* bin_for(sheet* s, uint32_t b) {
    while (bin_of_block(s, b) >= SHEET_BINS)
        merge_bins(s);
    return &s->bins[bin_of_block(s, b)];
}

void vote(sheet_votes* v, int64_t block) {
    if (block < 0 || block > UINT32_MAX)
        return;  // no block: times that cannot be right
    for (unsigned i = 0; i < v->count; ++i) {
        if (v->block[i] == block) {
            ++v->frames[i];
            return;
        }
    }
    if (v->count == SHEET_VOTES) {
        ++v->uncounted;
        return;
    }
    v->block[v->count] = block;
    v->frames[v->count++] = 1;
}

int code_majority(const sheet_codes* codes) {
    int best = -1;
    for (unsigned i = 0; i < codes->count; ++i)
        if (best < 0 || codes->code[i].frames > codes->code[best].frames)
            best = (int)i;
    return best;
}

// The first sighting of index `number` of track t at block b, from a good
// position frame that is in place or not. Pinned to the block when the block
// before carries a good position frame, both in place, of what comes before
// it: an earlier index of the same track, or for index 0 an earlier track.
void first_sighting(sheet* s, unsigned t, unsigned number, uint32_t b, bool in_place) {
    sheet_index* index = &s->track[t].index[number];
    bool before_fits = number == 0 ? is_track(s->before_track) && s->before_track < t
                                   : s->before_track == t && s->before_index < number;
    index->seen = true;
    index->block = b;
    index->exact = s->before_was_position && s->before_in_place && in_place && before_fits;
    index->earliest = index->exact ? b : s->any_position ? s->last_position_block + 1 : 0;
}

void take_position(sheet* s, uint32_t b, const timing* p) {
    int64_t disc = frames_of(&p->abs), start = disc - frames_of(&p->rel) - BLOCK_0_FRAMES;
    bool in_place = disc == (int64_t)b + BLOCK_0_FRAMES;
    if (!in_place) {
        ++s->out_of_place;
        ++bin_for(s, b)->out_of_place;
    }
    if (p->track == LEAD_OUT_TRACK) {
        vote(&s->lead_out_votes, start);
    } else if (is_track(p->track) && p->index < SHEET_INDEXES) {
        sheet_track* t = &s->track[p->track];
        t->seen = true;
        // The track time counts up from index 1 on and does not restart at
        // index 2, so every frame of index 1 and above knows where index 1
        // began, whichever of its blocks were read.
        if (p->index >= 1)
            vote(&t->index1, start);
        if (p->index != 1 && !t->index[p->index].seen)
            first_sighting(s, p->track, p->index, b, in_place);
    }
    s->before_was_position = true;
    s->before_in_place = in_place;
    s->before_track = p->track;
    s->before_index = p->index;
    s->any_position = true;
    s->last_position_block = b;
}

}  // namespace

void sheet_start(sheet* s) {
    memset(s, 0, sizeof *s);
    s->running = START_POSITION;
    s->seconds_per_bin = 1;
}

uint16_t isrc_ref(int track, unsigned place) {
    return (uint16_t)(track * (SHEET_CODES + 1) + place + 1);
}

uint32_t bin_of_block(const sheet* s, uint32_t b) {
    return (uint32_t)(((uint64_t)b + BLOCK_0_FRAMES) / FRAMES_PER_SECOND / s->seconds_per_bin);
}

bool sheet_add(sheet* s, int result, const q_frame* frame) {
    if (s->sectors == UINT32_MAX)
        return false;
    uint32_t b = s->sectors++;
    timing_follow(&s->running, result, frame);
    unsigned running_track = s->running.track;
    sheet_track* t = is_track(running_track) ? &s->track[running_track] : NULL;
    if (result != 0) {
        ++s->crc_errors;
        ++bin_for(s, b)->crc_errors;
        if (t)
            ++t->crc_errors;
        s->before_was_position = false;
        return true;
    }
    if (t)
        ++t->control_frames[frame->adr_control & 0x0F];
    switch (frame->adr_control >> 4) {
    case 1:
        take_position(s, b, &frame->position);
        return true;
    case 2: {
        unsigned place = count_code(&s->mcns, frame->mcn.mcn_digits, MCN_LENGTH, b);
        if (place < SHEET_CODES)
            bin_for(s, b)->mcns |= (uint16_t)(1u << place);
        break;
    }
    case 3:
        if (t)
            add_isrc_ref(bin_for(s, b), isrc_ref((int)running_track,
                                                 count_code(&t->isrcs, frame->isrc.isrc_chars, ISRC_LENGTH, b)));
        else
            ++s->isrc_outside;
        break;
    default:
        break;
    }
    s->before_was_position = false;
    return true;
}

int64_t sheet_majority(const sheet_votes* v) {
    int best = -1;
    for (unsigned i = 0; i < v->count; ++i)
        if (best < 0 || v->frames[i] > v->frames[best])
            best = (int)i;
    return best < 0 ? -1 : v->block[best];
}

bool mcn_is_zero(const sheet_code* c) {
    return memcmp(c->code, "0000000000000", MCN_LENGTH) == 0;
}

namespace {

bool all_digits(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

}  // namespace

bool isrc_well_formed(const sheet_code* c) {
    for (int i = 0; i < 5; ++i)
        if (!all_digits(c->code + i, 1) && (c->code[i] < 'A' || c->code[i] > 'Z'))
            return false;
    return all_digits(c->code + 5, 7);
}

bool mcn_well_formed(const sheet_code* c) {
    return all_digits(c->code, MCN_LENGTH);
}

int track_flags(const sheet_track* t, const char* flags[3]) {
    bool data = t->control & CONTROL_DATA;
    int n = 0;
    if (t->control & CONTROL_COPY_PERMITTED)
        flags[n++] = "DCP";
    if (!data && (t->control & CONTROL_FOUR_CHANNELS))
        flags[n++] = "4CH";
    if (!data && (t->control & CONTROL_PRE_EMPHASIS))
        flags[n++] = "PRE";
    return n;
}

void sheet_finish(sheet* s) {
    s->first_track = s->last_track = 0;
    for (int n = 1; n <= SHEET_TRACKS; ++n) {
        sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        if (s->first_track == 0)
            s->first_track = n;
        s->last_track = n;
        int64_t start = sheet_majority(&t->index1);
        if (start >= 0)
            t->index[1] = {true, true, (uint32_t)start, (uint32_t)start};
        t->control = 0;
        for (uint8_t c = 1; c < 16; ++c)
            if (t->control_frames[c] > t->control_frames[t->control])
                t->control = c;
        t->isrc = code_majority(&t->isrcs);
    }
    // The scan starts at block 0: a first track seen in its pregap there
    // may have begun at block 0 or before, for all that Q can tell.
    if (s->first_track != 0 && s->track[s->first_track].index[0].seen)
        s->track[s->first_track].index[0] = {true, false, 0, 0};

    int64_t lead_out = sheet_majority(&s->lead_out_votes);
    s->lead_out_seen = lead_out >= 0;
    s->lead_out = s->lead_out_seen ? (uint32_t)lead_out : s->sectors;
    uint32_t end = s->lead_out;
    for (int n = s->last_track; n >= s->first_track && n > 0; --n) {
        sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        t->end = end;
        for (int i = SHEET_INDEXES - 1; i >= 0; --i)
            if (t->index[i].seen && t->index[i].block < end)
                end = t->index[i].block;
    }
    s->mcn = code_majority(&s->mcns);
}
