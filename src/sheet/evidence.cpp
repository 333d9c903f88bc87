// Taking a disc's frames as evidence, one block at a time: a first sighting
// waits for agreeing frames, codes are counted by track, the inputs that
// are no frames (a table of contents, codes a drive or CD-Text gives) kept.
#include "sheet/sheet_internal.h"

#include <string.h>

namespace {

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
    c->source = SOURCE_Q;
    return codes->count++;
}

void vote(sheet_votes* v, int64_t block) {
    if (block < 0 || block > UINT32_MAX)
        return;  // no block: times that cannot be right
    for (unsigned i = 0; i < v->count; ++i) {
        if (v->vote[i].block == block) {
            ++v->vote[i].frames;
            return;
        }
    }
    if (v->count == SHEET_VOTES) {
        ++v->uncounted;
        return;
    }
    v->vote[v->count++] = {block, 1};
}

void count_isrc(sheet* s, int track, uint32_t b, const char* code) {
    if (!is_track(track)) {
        ++s->isrc_outside;
        return;
    }
    unsigned place = count_code(&s->track[track].isrcs, code, ISRC_LENGTH, b);
    add_isrc_ref(bin_for(s, b), isrc_ref(track, place));
}

// Whether the frame shows something the sheet has not believed yet.
bool shows_something_new(const sheet* s, const position* p) {
    if (p->track == 0)
        return !s->lead_out_confirmed;
    const sheet_track* t = &s->track[p->track];
    return !t->seen || (p->index != 1 && !t->index[p->index].seen);
}

// The first sighting of an index, with what the block before it held; placed
// on the disc's time by sheet_finish.
void record_sighting(sheet* s, const position* p) {
    sheet_index* index = &s->track[p->track].index[p->index];
    bool before = s->any_position && s->last_block + 1 == p->block;
    int before_track = (int)(s->last_order / 100);
    index->seen = true;
    index->seen_at = p->block;
    index->offset = small_offset(p->offset);
    index->before_offset = before ? s->last_offset : NO_OFFSET;
    index->before_fits = before && (p->index == 0 ? is_track(before_track) && before_track < p->track
                                                  : before_track == p->track && s->last_order % 100 < p->index);
    index->after = s->any_position ? s->last_block + 1 : 0;
}

// Takes a position frame as evidence: its block, its offset, its vote, and
// the sighting of whatever it shows first.
void accept(sheet* s, const position* p) {
    int cls = offset_class(p->offset);
    set_state(s, p->block, BLOCK_POSITION + cls);
    ++(p->block < SHEET_BLOCKS ? s->offsets : s->beyond_offsets)[cls];
    if (p->track == 0) {
        s->lead_out_confirmed = true;
        vote(&s->lead_out_votes, p->start);
    } else {
        sheet_track* t = &s->track[p->track];
        if (!t->seen)
            t->first_after = s->any_position ? s->last_block + 1 : 0;
        t->seen = true;
        if (p->index != 1 && !t->index[p->index].seen)
            record_sighting(s, p);
        // The track time counts up from index 1 on and does not restart at
        // index 2, so every frame of index 1 and above knows where index 1
        // began, whichever of its blocks were read.
        if (p->index >= 1)
            vote(&t->index1, p->start);
        ++t->control_frames[p->control];
    }
    // Track and index never go back on a disc: a frame that does is taken
    // for its vote and its offset, but the disc is not where it says.
    if (!s->any_position || p->order >= s->order) {
        s->order = p->order;
        s->running_track = p->track;
    }
    s->any_position = true;
    s->last_block = p->block;
    s->last_offset = small_offset(p->offset);
    s->last_order = p->order;
    if (s->held_count > 0)
        release_held(s, p->track);
    s->after_gap = false;
}

// A frame that showed something new and that nothing confirms: counted,
// listed, used for nothing.
void reject(sheet* s, const position* p) {
    if (s->stray < SHEET_STRAYS_LISTED)
        s->stray_block[s->stray] = p->block;
    ++s->stray;
    set_state(s, p->block, BLOCK_OTHER);
    if (!s->after_gap && s->held_count > 0)
        release_held(s, s->running_track);
}

// A waiting frame is confirmed by a later good position frame when that one
// is what may follow it on a disc (the same track and index, a later index,
// a later track) at a disc time that differs as their blocks do.
bool confirms(const position* next, const position* pending) {
    return next->order >= pending->order && next->disc - pending->disc == (int64_t)next->block - pending->block;
}

void consider(sheet* s, const position* p);

// The first frame waiting believed (`agreed`) or stray; the frames that
// waited behind it are then taken again as they come, in their order.
void decide_first(sheet* s, bool agreed) {
    position first = s->pending[0];
    position between[SHEET_AGREEING_UNCHECKED - 2];
    unsigned n = s->waiting - 1;
    for (unsigned i = 0; i < n; ++i)
        between[i] = s->pending[i + 1];
    s->waiting = 0;
    if (agreed)
        accept(s, &first);
    else
        reject(s, &first);
    for (unsigned i = 0; i < n; ++i)
        consider(s, &between[i]);
}

// Takes a good position frame as the evidence rules say: one that shows
// nothing new is believed; one that shows something new waits until
// s->agreeing frames in all (itself included) agree with it, and is then
// believed, or else is stray; the frames that agreed with it so far are
// then taken as they come, in their order.
void consider(sheet* s, const position* p) {
    if (s->waiting > 0) {
        bool agrees = confirms(p, &s->pending[0]) && confirms(p, &s->pending[s->waiting - 1]);
        if (agrees && s->waiting + 1 < s->agreeing) {
            s->pending[s->waiting++] = *p;
            return;
        }
        decide_first(s, agrees);
        consider(s, p);
        return;
    }
    if (!shows_something_new(s, p))
        accept(s, p);
    else if (s->any_position && p->order < s->order)
        reject(s, p);  // something new behind where the disc is: no disc goes back
    else
        s->pending[s->waiting++] = *p;
}

void take_position(sheet* s, uint32_t b, const q_position* frame) {
    position p;
    p.block = b;
    p.track = frame->track;
    p.index = frame->index;
    p.order = frame->order;
    p.control = frame->control;
    p.disc = frame->disc;
    p.start = frame->start;
    p.offset = p.disc - b;
    if (s->unchecked && (p.offset < -SHEET_OFFSET_RANGE || p.offset > SHEET_OFFSET_RANGE)) {
        ++s->disagreeing;  // unchecked, and not where its block is: damage a CRC would have caught
        return;
    }
    consider(s, &p);
}

// Whether an unchecked code frame's disc-time frame number lies near its block's.
bool code_frame_fits(const sheet* s, uint32_t b, uint8_t abs_f) {
    return !s->unchecked || frame_number_within(abs_f, b, SHEET_OFFSET_RANGE);
}

// Every block starts as one that places nothing; a gap in the blocks fed
// means the block before is unknown, and so is the track of what follows
// until a position frame says it.
static bool feed(sheet* s, uint32_t b) {
    if (b == UINT32_MAX || (s->fed && b < s->end))
        return false;
    if (s->fed && b != s->end)
        s->after_gap = true;
    s->fed = true;
    s->end = b + 1;
    return true;
}

}  // namespace

// The held ISRC frames go to a track now known (0: to none).
void release_held(sheet* s, int track) {
    for (unsigned i = 0; i < s->held_count; ++i)
        count_isrc(s, track, s->held[i].block, s->held[i].code);
    s->held_count = 0;
}

// At the end of the blocks nothing more can agree: what waits is stray, and
// the frames that agreed with it are taken as they come.
void resolve_at_end(sheet* s) {
    while (s->waiting > 0)
        decide_first(s, false);
}

void sheet_start(sheet* s) {
    memset(s, 0, sizeof *s);
    s->seconds_per_bin = 1;
    s->agreeing = SHEET_AGREEING;
}

void sheet_take_unchecked(sheet* s) {
    s->unchecked = true;
    s->agreeing = SHEET_AGREEING_UNCHECKED;
}

void sheet_add_mode(sheet* s, uint32_t b, uint8_t mode) {
    sheet_mode_run* last = s->mode_run_count > 0 ? &s->mode_runs[s->mode_run_count - 1] : NULL;
    if (last != NULL && last->mode == mode && last->last + 1 == b) {
        last->last = b;
    } else if (s->mode_run_count < SHEET_MODE_RUNS) {
        s->mode_runs[s->mode_run_count++] = {b, b, mode};
    }
}

void sheet_use_toc(sheet* s, const disc_toc* toc) {
    s->toc = *toc;
    s->toc_known = true;
    if (!toc_impossible(toc, s->toc_impossible))
        s->toc_impossible[0] = '\0';
}

void sheet_no_frames(sheet* s) {
    s->no_frames = true;
}

void sheet_add_cd_text_code(sheet* s, int n, const char code[ISRC_LENGTH]) {
    if (n < 1 || n > DISC_TRACKS)
        return;
    s->cd_text_code_known[n] = true;
    memcpy(s->cd_text_code[n], code, ISRC_LENGTH);
}

void sheet_add_drive_code(sheet* s, int n, const char* code) {
    if (n < 0 || n > DISC_TRACKS)
        return;
    s->drive_code_known[n] = true;
    memset(s->drive_code[n], 0, MCN_LENGTH);
    memcpy(s->drive_code[n], code, n == 0 ? MCN_LENGTH : ISRC_LENGTH);
}

bool sheet_add_missing(sheet* s, uint32_t first, uint32_t last, uint64_t after_line) {
    if (last < first || last == UINT32_MAX || (s->fed && first < s->end))
        return false;
    for (uint32_t b = first; b <= last && b < SHEET_BLOCKS; ++b)
        set_state(s, b, BLOCK_UNREADABLE);
    if (s->missing_count < SHEET_STRETCHES)
        s->missing[s->missing_count] = {first, last, after_line};
    ++s->missing_count;
    s->missing_blocks += last - first + 1;
    s->fed = true;
    s->end = last + 1;
    s->after_gap = true;  // what follows is placed anew
    return true;
}

bool sheet_add_unreadable(sheet* s, uint32_t b) {
    if (!feed(s, b))
        return false;
    ++s->unreadable_blocks;
    set_state(s, b, BLOCK_UNREADABLE);
    // Listed as stretches: a block right after the last one listed lengthens it.
    sheet_stretch* last = s->unreadable_count > 0 && s->unreadable_count <= SHEET_STRETCHES
                              ? &s->unreadable[s->unreadable_count - 1]
                              : NULL;
    if (last != NULL && last->last + 1 == b) {
        last->last = b;
    } else {
        if (s->unreadable_count < SHEET_STRETCHES)
            s->unreadable[s->unreadable_count] = {b, b, 0};
        ++s->unreadable_count;
    }
    return true;
}

bool sheet_add(sheet* s, uint32_t b, const uint8_t q[Q_SIZE]) {
    if (!feed(s, b))
        return false;
    ++s->sectors;
    q_frame frame;
    if (decode_q(q, &frame) != 0) {
        ++s->crc_errors;
        if (b >= SHEET_BLOCKS)
            ++s->beyond_crc_errors;
        set_state(s, b, BLOCK_CRC_ERROR);
        return true;
    }
    set_state(s, b, BLOCK_OTHER);
    ++s->good_frames;
    switch (frame.adr_control >> 4) {
    case 1: {
        ++s->good_positions;
        q_position p;
        if (q_position_of(q, &p))
            take_position(s, b, &p);
        else
            ++(s->unchecked ? s->disagreeing : s->malformed);  // unchecked, a frame that is no position is damage
        break;
    }
    case 2: {
        if (!code_frame_fits(s, b, frame.mcn.abs_f)) {
            ++s->disagreeing;
            break;
        }
        unsigned place = count_code(&s->mcns, frame.mcn.mcn_digits, MCN_LENGTH, b);
        if (place < SHEET_CODES)
            bin_for(s, b)->mcns |= (uint16_t)(1u << place);
        break;
    }
    case 3:
        if (!code_frame_fits(s, b, frame.isrc.abs_f)) {
            ++s->disagreeing;
            break;
        }
        // Its track is the one the position frames before it are in, unless
        // one of them waits for agreement or none was read since a gap.
        if ((s->waiting > 0 || s->after_gap) && s->held_count < SHEET_HELD) {
            sheet_held* h = &s->held[s->held_count++];
            h->block = b;
            memcpy(h->code, frame.isrc.isrc_chars, ISRC_LENGTH);
        } else {
            count_isrc(s, s->running_track, b, frame.isrc.isrc_chars);
        }
        break;
    default:
        break;
    }
    return true;
}
