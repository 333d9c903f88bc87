// Finishing the sheet once every block is in: the drive's Q offset, index
// points placed on the disc's own time, majorities, track ends, the tracks
// and codes no frame shows.
#include "sheet/sheet_internal.h"

#include <string.h>

namespace {

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

}  // namespace

void sheet_finish(sheet* s) {
    resolve_at_end(s);
    release_held(s, s->after_gap ? 0 : s->running_track);
    s->q_offset = measure_q_offset(s);
    s->codes_filled_in = !s->no_frames && codes_filled_in(s);  // no frame at all fills nothing in

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
