// The disc's sheet, gathered one block at a time: counters, first sightings
// waiting for agreement, and what each block held, in fixed-size records;
// the drive's Q offset, majorities and counts by block range at the end.
#include "sheet/sheet.h"

#include <string.h>

namespace {

// What a block held, kept four bits a block.
enum block_state {
    BLOCK_NOT_READ = 0,
    BLOCK_UNREADABLE,
    BLOCK_CRC_ERROR,
    BLOCK_OTHER,     // a good frame that places nothing: codes, other modes, malformed and stray position frames
    BLOCK_POSITION   // ... and up: a position frame, by offset_class
};
const int FAR_CLASS = 2 * SHEET_OFFSET_RANGE + 1;  // a Q offset beyond the range told apart

bool is_track(int number) {
    return number >= 1 && number <= DISC_TRACKS;
}

int offset_class(int64_t offset) {
    return offset >= -SHEET_OFFSET_RANGE && offset <= SHEET_OFFSET_RANGE ? (int)offset + SHEET_OFFSET_RANGE
                                                                          : FAR_CLASS;
}

int8_t small_offset(int64_t offset) {
    return offset < -127 ? -127 : offset > 127 ? 127 : (int8_t)offset;
}

void set_state(sheet* s, uint32_t b, int state) {
    if (b >= SHEET_BLOCKS)
        return;
    uint8_t* byte = &s->blocks[b / 2];
    *byte = b % 2 ? (uint8_t)((*byte & 0x0F) | state << 4) : (uint8_t)((*byte & 0xF0) | state);
}

int state_of(const sheet* s, uint32_t b) {
    return b % 2 ? s->blocks[b / 2] >> 4 : s->blocks[b / 2] & 0x0F;
}

typedef sheet_position position;

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

// The held ISRC frames go to a track now known (0: to none).
void release_held(sheet* s, int track) {
    for (unsigned i = 0; i < s->held_count; ++i)
        count_isrc(s, track, s->held[i].block, s->held[i].code);
    s->held_count = 0;
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
        position first = s->pending[0];
        position between[SHEET_AGREEING_UNCHECKED - 2];
        unsigned n = s->waiting - 1;
        for (unsigned i = 0; i < n; ++i)
            between[i] = s->pending[i + 1];
        s->waiting = 0;
        if (agrees)
            accept(s, &first);
        else
            reject(s, &first);
        for (unsigned i = 0; i < n; ++i)
            consider(s, &between[i]);
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

// At the end of the blocks nothing more can agree: what waits is stray, and
// the frames that agreed with it are taken as they come.
void resolve_at_end(sheet* s) {
    while (s->waiting > 0) {
        position first = s->pending[0];
        position between[SHEET_AGREEING_UNCHECKED - 2];
        unsigned n = s->waiting - 1;
        for (unsigned i = 0; i < n; ++i)
            between[i] = s->pending[i + 1];
        s->waiting = 0;
        reject(s, &first);
        for (unsigned i = 0; i < n; ++i)
            consider(s, &between[i]);
    }
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
    if (!s->unchecked)
        return true;
    int d = ((int)abs_f - (int)(disc_frames_of_block(b) % FRAMES_PER_SECOND) + 3 * FRAMES_PER_SECOND) %
            FRAMES_PER_SECOND;
    return abs_f < FRAMES_PER_SECOND && (d <= SHEET_OFFSET_RANGE || d >= FRAMES_PER_SECOND - SHEET_OFFSET_RANGE);
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

// The Q offset most position frames show; a tie goes to the one nearer 0.
int measure_q_offset(const sheet* s) {
    int best = 0;
    uint32_t most = 0;
    for (int d = 0; d <= SHEET_OFFSET_RANGE; ++d) {
        for (int offset = -d; offset <= d; offset += d > 0 ? 2 * d : 1) {
            int c = offset + SHEET_OFFSET_RANGE;
            uint32_t frames = s->offsets[c] + s->beyond_offsets[c];
            if (frames > most) {
                most = frames;
                best = offset;
            }
        }
    }
    return best;
}

uint32_t clamp_block(int64_t block) {
    return block < 0 ? 0 : block > UINT32_MAX ? UINT32_MAX : (uint32_t)block;
}

// An index point known to the block: computed from the frames' times
// (exact), or as the table of contents gives it (not exact: no frame says).
sheet_index point_at(uint32_t block, bool from_toc) {
    sheet_index index = {};
    index.seen = true;
    index.from_toc = from_toc;
    index.exact = !from_toc;
    index.block = index.earliest = block;
    index.before_offset = NO_OFFSET;
    return index;
}

// An index 00 that reaches back to block 0 (not exact), its first frame at
// the scan's block seen_at with that frame's offset.
sheet_index pregap_from_block_0(uint32_t seen_at, int8_t offset) {
    sheet_index index = point_at(0, false);
    index.exact = false;
    index.seen_at = seen_at;
    index.offset = offset;
    return index;
}

// A first sighting on the disc's own time: exact when the frame and the one
// in the block before are both in place and that one shows what comes before.
// From a drive that fills code frames in with positions of its own, the
// frame before may be one of those: the start may then lie a block earlier
// (a disc carries position frames in at least 9 of every 10 blocks, so
// never two code frames in a row).
void place_sighting(sheet_index* index, int q_offset, bool filled_in) {
    bool shown = index->before_offset != NO_OFFSET && index->before_offset == q_offset && index->offset == q_offset &&
                 index->before_fits;
    index->exact = shown && !filled_in;
    index->filled_in = shown && filled_in;
    index->block = clamp_block((int64_t)index->seen_at + q_offset);
    index->earliest = shown ? index->block - (filled_in && index->block > 0)
                      : index->after == 0 ? 0
                                          : clamp_block((int64_t)index->after + q_offset);
    if (index->earliest > index->block)
        index->earliest = index->block;
}

// Whether the drive reports codes while no frame read carries any.
bool codes_filled_in(const sheet* s) {
    bool reported = false, framed = s->mcns.count > 0 || s->isrc_outside > 0 || s->held_count > 0;
    for (int n = 0; n <= DISC_TRACKS; ++n) {
        reported = reported || s->drive_code_known[n];
        framed = framed || (n > 0 && s->track[n].isrcs.count > 0);
    }
    return reported && !framed;
}

// Nothing on a disc comes before track 1's index 00: when the first track
// is track 1 and nothing before its first index was read, or its index 01
// begins after block 0, its index 00 reaches back to block 0 at least (a
// hidden track, or a long first pregap), however far before it began.
void place_first_track(sheet* s) {
    sheet_track* t = &s->track[s->first_track];
    sheet_index* pregap = &t->index[0];
    bool from_block_0 = pregap->seen && (pregap->block == 0 || (s->first_track == 1 && pregap->after == 0));
    bool before_index_1 = !t->index[1].seen || t->index[1].block > 0;
    if (from_block_0 && before_index_1)
        *pregap = pregap_from_block_0(pregap->seen_at, pregap->offset);
    else if (s->first_track == 1 && !pregap->seen && t->index[1].seen && t->index[1].block > 0)
        *pregap = pregap_from_block_0(clamp_block((int64_t)t->index[1].block - s->q_offset),
                                      (int8_t)s->q_offset);  // seen_at: where the first frame that places anything of it lies
}

// Index points rise through the disc. One that does not lie after the point
// before it is dropped: an index 00 at or after its own index 01 (a drive
// whose Q lags shows track 1's index 00 at block 0 and index 01 there too),
// or an index that frames placed against the rest.
void keep_points_rising(sheet* s) {
    int64_t last = -1;
    for (int n = 1; n <= DISC_TRACKS; ++n) {
        sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        int64_t track_start = last;
        for (int i = 0; i < SHEET_INDEXES; ++i) {
            sheet_index* index = &t->index[i];
            if (!index->seen)
                continue;
            if (i == 1 && index->block <= last && t->index[0].seen && t->index[0].block >= index->block &&
                (int64_t)index->block > track_start) {
                t->index[0].seen = false;  // the pregap is not before its own index 01
                last = track_start;
            }
            if ((int64_t)index->block <= last)
                index->seen = false;
            else
                last = index->block;
        }
    }
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

// A track first seen in index 01 or above, after a stretch without a good
// position frame that holds a damaged, unreadable or missing block: its
// whole pregap may lie in that stretch, unseen. Its index 00 is listed, not
// exact, from the stretch's first block at the earliest to index 01, and
// may not exist; the track before does not silently take the stretch.
// (A stretch of good code frames alone is the disc's own Q layout.)
void place_pregaps_no_frame_shows(sheet* s) {
    for (int n = s->first_track + 1; n <= s->last_track && s->first_track > 0; ++n) {
        sheet_track* t = &s->track[n];
        if (!t->seen || t->later_session || t->index[0].seen || !t->index[1].seen || t->index[1].from_toc)
            continue;
        int64_t earliest = (int64_t)t->first_after + s->q_offset;
        for (int m = n - 1; m >= s->first_track; --m)  // never before the last point of the tracks before
            for (int i = SHEET_INDEXES - 1; i >= 0 && s->track[m].seen; --i)
                if (s->track[m].index[i].seen && (int64_t)s->track[m].index[i].block >= earliest) {
                    earliest = s->track[m].index[i].block + 1;
                    m = 0;
                    break;
                }
        if (earliest >= (int64_t)t->index[1].block ||
            !may_hide(s, earliest - s->q_offset, (int64_t)t->index[1].block - s->q_offset))
            continue;
        sheet_index pregap = point_at(t->index[1].block, false);
        pregap.exact = false;
        pregap.earliest = clamp_block(earliest);
        pregap.may_not_exist = true;
        t->index[0] = pregap;
    }
}

// Each track's end, and its counts by block range: from its first index to
// the next track's (a pregap belongs to its own track; the blocks where an
// inexact start may lie to the track before, as the rows show it). A track
// of a later session ends at the next or at the disc's last lead-out, the
// first session's last track at the first session's lead-out.
void place_track_ends(sheet* s) {
    uint32_t end = s->lead_out;
    for (int n = s->last_track; n >= s->first_track && n > 0; --n) {
        sheet_track* t = &s->track[n];
        const sheet_index* first = first_index(t);
        if (!t->seen || first == NULL)
            continue;
        if (t->later_session) {
            t->end = n == s->last_track ? clamp_block(s->toc.lead_out) : end;
            end = first->block;
            if (n > 1 && !s->track[n - 1].later_session)
                end = s->lead_out;
            continue;
        }
        t->end = end;
        count_blocks(s, (int64_t)first->block - s->q_offset, (int64_t)end - s->q_offset, &t->crc_errors,
                     &t->out_of_place);
        end = first->block;
    }
    uint32_t out_of_place;
    count_blocks(s, 0, (int64_t)end - s->q_offset, &s->crc_errors_before, &out_of_place);
}

void place_codes(sheet_codes* codes, int q_offset) {
    for (unsigned i = 0; i < codes->count; ++i) {
        codes->code[i].first_block = clamp_block((int64_t)codes->code[i].first_block + q_offset);
        codes->code[i].last_block = clamp_block((int64_t)codes->code[i].last_block + q_offset);
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

bool all_digits(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

}  // namespace

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

const sheet_code* track_isrc(const sheet_track* t) {
    return t->isrc >= 0 ? &t->isrcs.code[t->isrc] : NULL;
}

uint16_t isrc_ref(int track, unsigned place) {
    return (uint16_t)(track * (SHEET_CODES + 1) + place + 1);
}

uint32_t bin_of_block(const sheet* s, uint32_t b) {
    return (uint32_t)(disc_frames_of_block(b) / FRAMES_PER_SECOND / s->seconds_per_bin);
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

int majority(const uint32_t* frames, unsigned count, size_t stride) {
    int best = -1;
    uint32_t most = 0;
    for (unsigned i = 0; i < count; ++i) {
        uint32_t f = *(const uint32_t*)((const char*)frames + i * stride);
        if (best < 0 || f > most) {
            best = (int)i;
            most = f;
        }
    }
    return best;
}

int64_t sheet_majority(const sheet_votes* v) {
    int best = majority(&v->vote[0].frames, v->count, sizeof v->vote[0]);
    return best < 0 ? -1 : v->vote[best].block;
}

bool code_is_zero(const sheet_code* c, int length) {
    for (int i = 0; i < length; ++i)
        if (c->code[i] != '0')
            return false;
    return true;
}

bool isrc_well_formed(const sheet_code* c) {
    const char* code = c->code;
    auto letter = [](char x) { return x >= 'A' && x <= 'Z'; };
    for (int i = 0; i < 2; ++i)  // the country: two letters
        if (!letter(code[i]))
            return false;
    for (int i = 2; i < 5; ++i)  // the registrant: three letters or digits
        if (!letter(code[i]) && !all_digits(code + i, 1))
            return false;
    return all_digits(code + 5, ISRC_LENGTH - 5) && !code_is_zero(c, ISRC_LENGTH);  // year and designation
}

bool ean_check_digit_right(const char digits[MCN_LENGTH]) {
    // Worked example: 1234567890128: 1+2*3+3+4*3+5+6*3+7+8*3+9+0*3+1+2*3 = 92, and 92 + 8 ends in 0.
    int sum = 0;
    for (int i = 0; i < MCN_LENGTH - 1; ++i)
        sum += (digits[i] - '0') * (i % 2 ? 3 : 1);
    return (sum + digits[MCN_LENGTH - 1] - '0') % 10 == 0;
}

bool mcn_well_formed(const sheet_code* c) {
    return all_digits(c->code, MCN_LENGTH) && !code_is_zero(c, MCN_LENGTH) && ean_check_digit_right(c->code);
}

unsigned tracks_carrying(const sheet* s, const char* code, int except, int* out, unsigned room) {
    unsigned n = 0;
    for (int t = s->first_track; t <= s->last_track && t > 0; ++t) {
        const sheet_code* c = t != except && s->track[t].seen ? track_isrc(&s->track[t]) : NULL;
        if (c != NULL && memcmp(c->code, code, ISRC_LENGTH) == 0 && n < room)
            out[n++] = t;
    }
    return n;
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

const sheet_index* first_index(const sheet_track* t) {
    for (int i = 0; i < SHEET_INDEXES; ++i)
        if (t->index[i].seen)
            return &t->index[i];
    return NULL;
}

// The tracks of the table of contents that no frame shows: those of later
// sessions, which are not read, and every track when the drive gives no
// subchannel; each as the table of contents gives it. Without frames an
// audio track's start may lie up to TOC_LEEWAY blocks earlier than the
// table says (drives may give it so far off), and track 1's index 01 after
// block 0 has audio before it: its index 00 reaches back to block 0.
void add_toc_tracks(sheet* s) {
    const disc_toc* toc = &s->toc;
    bool no_frames = s->no_frames;
    for (unsigned i = 0; sheet_toc_trusted(s) && i < toc->track_count; ++i) {
        const toc_track* entry = &toc->track[i];
        sheet_track* t = &s->track[entry->number];
        bool later = entry->session > 1;
        if ((!later && !no_frames) || t->seen || entry->start < 0)
            continue;
        t->seen = true;
        t->later_session = later;
        t->control = entry->control;
        t->isrc = -1;
        t->index[1] = point_at((uint32_t)entry->start, true);
        if (!later && !(entry->control & CONTROL_DATA))
            t->index[1].earliest = entry->start > TOC_LEEWAY ? (uint32_t)(entry->start - TOC_LEEWAY) : 0;
        if (!later && entry->number == 1 && entry->start > 0) {
            t->index[0] = point_at(0, true);
            t->index[1].earliest = t->index[1].earliest > 0 ? t->index[1].earliest : 1;
        }
        if (s->first_track == 0 || entry->number < s->first_track)
            s->first_track = entry->number;
        if (entry->number > s->last_track)
            s->last_track = entry->number;
    }
}

// A data track's sector mode: that of its first sector read from index 01 on.
uint8_t data_mode(const sheet* s, const sheet_track* t) {
    if (!(t->control & CONTROL_DATA) || !t->index[1].seen)
        return 0;
    for (unsigned i = 0; i < s->mode_run_count; ++i) {
        const sheet_mode_run* r = &s->mode_runs[i];
        if (r->last >= t->index[1].block && r->first < t->end)
            if (r->mode != 0)
                return r->mode;
    }
    return 0;
}

// Unchecked frames: a code fewer than s->agreeing frames carry counts for
// nothing. Its place goes, and the picture's references to the places after
// it move up.
void drop_rare_codes(sheet* s, sheet_codes* codes, int track) {
    unsigned kept = 0;
    uint16_t moved[SHEET_CODES];
    for (unsigned i = 0; i < codes->count; ++i) {
        if (codes->code[i].frames < s->agreeing) {
            s->codes_unconfirmed += codes->code[i].frames;
            moved[i] = 0;
            continue;
        }
        moved[i] = (uint16_t)(kept + 1);
        codes->code[kept++] = codes->code[i];
    }
    if (kept == codes->count)
        return;
    codes->count = kept;
    for (sheet_bin& bin : s->bins) {
        if (track == 0) {
            uint16_t mcns = 0;
            for (unsigned i = 0; i < SHEET_CODES; ++i)
                if (bin.mcns & (1u << i) && moved[i] != 0)
                    mcns |= (uint16_t)(1u << (moved[i] - 1));
            bin.mcns = mcns;
            continue;
        }
        for (uint16_t& ref : bin.isrcs)
            for (unsigned i = 0; i < SHEET_CODES; ++i)
                if (ref != 0 && ref == isrc_ref(track, i)) {
                    ref = moved[i] != 0 ? isrc_ref(track, moved[i] - 1u) : 0;
                    break;
                }
    }
}

// Where neither the frames nor the drive give a track's ISRC, the one its
// CD-Text gives, if any.
void add_cd_text_codes(sheet* s) {
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        sheet_track* t = &s->track[n];
        if (!s->cd_text_code_known[n] || !t->seen || t->isrcs.count > 0 || (t->control & CONTROL_DATA) ||
            t->later_session)
            continue;
        sheet_code* c = &t->isrcs.code[t->isrcs.count++];
        memset(c->code, 0, sizeof c->code);
        memcpy(c->code, s->cd_text_code[n], ISRC_LENGTH);
        c->frames = c->first_block = c->last_block = 0;
        c->source = SOURCE_CD_TEXT;
    }
}

// Where no frame gives a code, the drive's own report of it, if any.
void add_drive_code(sheet* s, sheet_codes* codes, int n) {
    if (!s->drive_code_known[n] || codes->count == SHEET_CODES)
        return;
    sheet_code* c = &codes->code[codes->count++];
    memcpy(c->code, s->drive_code[n], MCN_LENGTH);
    c->frames = c->first_block = c->last_block = 0;
    c->source = SOURCE_DRIVE;
}

bool track_length(const sheet_track* t, uint32_t* blocks) {
    if (!t->index[1].seen || t->end < t->index[1].block)
        return false;
    *blocks = t->end - t->index[1].block;
    return true;
}

void sheet_finish(sheet* s) {
    resolve_at_end(s);
    release_held(s, s->after_gap ? 0 : s->running_track);
    s->q_offset = measure_q_offset(s);
    s->codes_filled_in = codes_filled_in(s);

    s->first_track = s->last_track = 0;
    for (int n = 1; n <= DISC_TRACKS; ++n) {
        sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        if (s->first_track == 0)
            s->first_track = n;
        s->last_track = n;
        for (int i = 0; i < SHEET_INDEXES; ++i)
            if (i != 1 && t->index[i].seen)
                place_sighting(&t->index[i], s->q_offset, s->codes_filled_in);
        // Index 01 comes from the frames' own times, whatever the drive's offset.
        int64_t start = sheet_majority(&t->index1);
        if (start >= 0)
            t->index[1] = point_at((uint32_t)start, false);
        t->control = (uint8_t)majority(t->control_frames, 16, sizeof t->control_frames[0]);
        if (s->unchecked)
            drop_rare_codes(s, &t->isrcs, n);
        place_codes(&t->isrcs, s->q_offset);
    }
    if (s->first_track != 0)
        place_first_track(s);
    keep_points_rising(s);
    place_pregaps_no_frame_shows(s);

    int64_t lead_out = s->lead_out_confirmed ? sheet_majority(&s->lead_out_votes) : -1;
    const sheet_index* last = NULL;
    for (int i = 0; s->last_track > 0 && i < SHEET_INDEXES; ++i)
        if (s->track[s->last_track].index[i].seen)
            last = &s->track[s->last_track].index[i];
    if (last != NULL && lead_out >= 0 && lead_out <= (int64_t)last->block)
        lead_out = -1;  // a lead-out before the last track's points: the frames contradict each other
    s->lead_out_seen = lead_out >= 0;
    s->lead_out_from_toc = !s->lead_out_seen && sheet_toc_trusted(s);
    s->lead_out = s->lead_out_seen       ? (uint32_t)lead_out
                  : s->lead_out_from_toc ? clamp_block(s->toc.first_session_end)
                                         : clamp_block((int64_t)s->end + s->q_offset);
    s->complete = s->lead_out_seen || (s->lead_out_from_toc && s->unreadable_count == 0);
    add_toc_tracks(s);
    place_track_ends(s);
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        t->mode = data_mode(s, t);
        if (t->isrcs.count == 0 && !(t->control & CONTROL_DATA))
            add_drive_code(s, &t->isrcs, n);
    }
    add_cd_text_codes(s);
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        s->track[n].isrc = majority(&s->track[n].isrcs.code[0].frames, s->track[n].isrcs.count, sizeof(sheet_code));

    s->out_of_place = 0;
    for (int c = 0; c <= FAR_CLASS; ++c)
        if (c != offset_class(s->q_offset))
            s->out_of_place += s->offsets[c] + s->beyond_offsets[c];
    if (s->unchecked)
        drop_rare_codes(s, &s->mcns, 0);
    place_codes(&s->mcns, s->q_offset);
    if (s->mcns.count == 0)
        add_drive_code(s, &s->mcns, 0);
    s->mcn = majority(&s->mcns.code[0].frames, s->mcns.count, sizeof(sheet_code));
    fill_bins(s);
}

unsigned sheet_toc_disagreements(const sheet* s, toc_disagreement* out, unsigned room) {
    unsigned n = 0;
    auto add = [&](int track, int64_t toc_block, int64_t q_block) {
        if (toc_block != q_block && n < room)
            out[n++] = {track, toc_block, q_block};
    };
    if (!s->toc_known)
        return 0;
    const disc_toc* toc = &s->toc;
    for (int number = 1; number <= DISC_TRACKS; ++number) {
        const toc_track* entry = toc_find(toc, (unsigned)number);
        const sheet_track* t = &s->track[number];
        if (t->later_session || (entry != NULL && entry->session > 1))
            continue;
        int64_t q_block = t->seen ? (t->index[1].seen ? (int64_t)t->index[1].block : -1) : -1;
        if (entry != NULL || t->seen)
            add(number, entry != NULL ? entry->start : -1, q_block);
    }
    if (s->lead_out_seen)
        add(0, toc->first_session_end, s->lead_out);
    return n;
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
