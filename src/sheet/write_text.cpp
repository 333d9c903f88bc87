// The sheet for a person: the catalogue number, the lead-out and whether the
// scan reached it, one row per track (its pregap, its start, its length, its
// ISRC, flags and CRC errors; further indexes in rows below), then a line for
// each thing worth a second look. Rows are 79 characters at most, so 99
// tracks read well in a terminal.
#include "sheet/sheet_writers.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>

#include "sheet/disc_ids.h"
#include <string.h>

#include <string>
#include <vector>

namespace {

const char NOT_EXACT = '*';
// After an ISRC in the table: where a code no frame read carries comes from.
const char FROM_DRIVE = '^', FROM_CD_TEXT = '#';
const int ROW_LIMIT = 79;
const int CELL_SIZE = 40;    // room for an index cell (16 characters) whatever its block
const uint32_t THOUSANDS_FROM = 100000;  // CRC counts from here on are shown in thousands ("123k")

// The table's columns: the track, its index 00 and index 01 cells, length,
// ISRC, flags and CRC errors; `gap` blanks after every column but the two
// index cells, which one blank parts. Flags and CRC errors widen for a disc
// that needs it, and the gaps narrow to keep a row within ROW_LIMIT.
struct layout {
    int track, gap, isrc, flags, crc;
};

// The mark after a code that is not the Q frames' own; 0 for none.
char source_mark(const sheet_code* c) {
    return c == NULL ? 0 : c->source == SOURCE_DRIVE ? FROM_DRIVE : c->source == SOURCE_CD_TEXT ? FROM_CD_TEXT : 0;
}

// A track's CRC errors as the table shows them: from 100,000 on in
// thousands ("123k"), so that the cell never needs more than five places.
void crc_cell(uint32_t errors, char text[16]) {
    if (errors < THOUSANDS_FROM)
        snprintf(text, 16, "%" PRIu32, errors);
    else
        snprintf(text, 16, "%" PRIu32 "k", errors / 1000);
}

layout layout_for(const sheet* s) {
    layout l = {3, 2, 15, 8, 4};
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        const sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        char flags[FLAGS_TEXT_SIZE], crc[16];
        track_flags_text(t, flags);
        crc_cell(t->crc_errors, crc);
        if ((int)strlen(flags) > l.flags)
            l.flags = (int)strlen(flags);
        if ((int)strlen(crc) + 1 > l.crc)
            l.crc = (int)strlen(crc) + 1;
        if (source_mark(track_isrc(t)) != 0)
            l.isrc = 16;
    }
    // Track, gap, two cells of 16 parted by one blank, length (8), ISRC.
    auto width = [&]() { return l.track + 16 + 1 + 16 + 8 + l.isrc + 4 * l.gap + l.flags + l.crc; };
    while (width() > ROW_LIMIT && l.gap > 1)
        --l.gap;
    if (width() > ROW_LIMIT)
        l.track = 2;  // track numbers have two digits at most
    return l;
}

// One row of the table, with no blanks at its end.
void write_row_cells(std::string* out, const layout* l, const char* number, const char* pregap, const char* start,
                     const char* length, const char* isrc, const char* flags, const char* crc_errors) {
    char row[160];
    int n = snprintf(row, sizeof row, "%*s%*s%-16s %-16s%*s%-8s%*s%-*s%*s%-*s%*s", l->track, number, l->gap, "",
                     pregap, start, l->gap, "", length, l->gap, "", l->isrc, isrc, l->gap, "", l->flags, flags, l->crc,
                     crc_errors);
    while (n > 0 && row[n - 1] == ' ')
        --n;
    put(out, "%.*s\n", n, row);
}

// "ZZ-QSC-26-00001", as qscan prints an ISRC.
void grouped_isrc(char text[16], const sheet_code* c) {
    snprintf(text, 16, "%.2s-%.3s-%.2s-%.5s", c->code, c->code + 2, c->code + 5, c->code + 7);
}

// An index start as disc time and block, 16 characters: "00:44.00   3150 ",
// the last a '*' when the start may lie earlier.
void index_cell(char text[CELL_SIZE], const sheet_index* index) {
    if (!index->seen) {
        snprintf(text, CELL_SIZE, "%16s", "");
        return;
    }
    char time[TIME_TEXT_SIZE];
    format_frames(time, (uint64_t)disc_frames_of_block(index->block), '.');
    snprintf(text, CELL_SIZE, "%s %6" PRIu32 "%c", time, index->block, index->exact ? ' ' : NOT_EXACT);
}

void write_row(const sheet* s, const layout* l, int n, std::string* out) {
    const sheet_track* t = &s->track[n];
    char pregap[CELL_SIZE], start[CELL_SIZE], length[TIME_TEXT_SIZE] = "       -", isrc[20] = "-", flags[FLAGS_TEXT_SIZE];
    index_cell(pregap, &t->index[0]);
    index_cell(start, &t->index[1]);
    uint32_t blocks;
    if (track_length(t, &blocks))
        format_frames(length, blocks, '.');
    if (t->isrc >= 0) {
        grouped_isrc(isrc, &t->isrcs.code[t->isrc]);
        char mark = source_mark(&t->isrcs.code[t->isrc]);
        if (mark != 0)
            snprintf(isrc + strlen(isrc), sizeof isrc - strlen(isrc), "%c", mark);
    }
    track_flags_text(t, flags);
    char number[8], crc_errors[16] = "-";
    snprintf(number, sizeof number, "%d", n);
    if (sheet_crc_known(s) && !t->later_session)
        crc_cell(t->crc_errors, crc_errors);
    write_row_cells(out, l, number, pregap, start, length, isrc, flags, crc_errors);
    for (int i = 2; i < SHEET_INDEXES; ++i) {
        if (!t->index[i].seen)
            continue;
        char label[16];
        snprintf(label, sizeof label, "index %02d", i);
        index_cell(start, &t->index[i]);
        write_row_cells(out, l, "", label, start, "", "", "", "");
    }
}

void write_code_list(const char* code, int length, const sheet_code* c, std::string* out) {
    if (c->frames == 1)
        put(out, "%.*s in 1 frame, at block %" PRIu32, length, code, c->first_block);
    else
        put(out, "%.*s in %" PRIu32 " frames, blocks %" PRIu32 " to %" PRIu32, length, code, c->frames,
                c->first_block, c->last_block);
}

// "2, 3 and 4": the items of a list, the last two joined by "and".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (size_t k = 0; k < items.size(); ++k)
        text += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
    return text;
}

// Whether the note for an index that is not exact gives the drive's filled-in
// code frames as the reason: the same reason wherever it holds, so said once.
bool filled_in_note(const sheet* s, int n, int i) {
    const sheet_index* index = &s->track[n].index[i];
    return s->track[n].seen && index->seen && !index->exact && !index->from_toc && index->filled_in &&
           !(n == s->first_track && i == 0 && index->block == 0) && !index->may_not_exist;
}

// Every index the drive's filled-in code frames may have put a block late, in
// one line: "Tracks 2 and 3 index 00 may begin a block earlier (as early as
// blocks 2999 and 6525): ...".
void write_filled_in_note(const sheet* s, std::string* out) {
    std::vector<const sheet_index*> indexes;
    std::vector<int> tracks, numbers;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        for (int i = 0; i < SHEET_INDEXES; ++i)
            if (filled_in_note(s, n, i)) {
                indexes.push_back(&s->track[n].index[i]);
                tracks.push_back(n);
                numbers.push_back(i);
            }
    if (indexes.size() == 1) {
        put(out, "%c Track %d index %02d may begin as early as block %" PRIu32 ": the frame in the block before "
                     "may be a code frame the drive filled in with a position.\n", NOT_EXACT,
                tracks[0], numbers[0], indexes[0]->earliest);
        return;
    }
    bool one_index = true, a_block = true;
    std::vector<std::string> names, earliest;
    for (size_t k = 0; k < indexes.size(); ++k) {
        one_index = one_index && numbers[k] == numbers[0];
        a_block = a_block && indexes[k]->earliest + 1 == indexes[k]->block;
        earliest.push_back(std::to_string(indexes[k]->earliest));
    }
    char number[8];
    for (size_t k = 0; k < indexes.size(); ++k) {
        snprintf(number, sizeof number, "%02d", numbers[k]);
        names.push_back(one_index ? std::to_string(tracks[k])
                                  : (k == 0 ? "Track " : "track ") + std::to_string(tracks[k]) + " index " + number);
    }
    snprintf(number, sizeof number, "%02d", numbers[0]);
    put(out, "%c %s%s%s may begin %s%s%s: the frame in the block before each may be "
                 "a code frame the drive filled in with a position.\n", NOT_EXACT, one_index ? "Tracks " : "",
            listed(names).c_str(), one_index ? (std::string(" index ") + number).c_str() : "",
            a_block ? "a block earlier (as early as blocks " : "as early as blocks ", listed(earliest).c_str(),
            a_block ? ")" : ", in that order");
}

void write_inexact_note(const disc_sheet* d, int n, int i, const sheet_index* index, std::string* out) {
    const sheet* s = &d->s;
    if (filled_in_note(s, n, i)) {
        // Said once, at the first index it holds for.
        bool first = true;
        for (int m = s->first_track; m <= n && first; ++m)
            for (int k = 0; k < (m < n ? SHEET_INDEXES : i) && first; ++k)
                first = !filled_in_note(s, m, k);
        if (first)
            write_filled_in_note(s, out);
    } else if (n == s->first_track && i == 0 && index->block == 0) {
        if ((int64_t)index->seen_at + s->q_offset <= 0)
            put(out, "%c Track %d index 00 is seen from block 0, where the %s starts: a hidden track or a "
                         "long first pregap, which may begin before it.\n", NOT_EXACT, n, read_word(d));
        else
            put(out, "%c Track %d index 00 reaches back to block 0, where the %s starts, though no position "
                         "frame before block %" PRId64 " shows it: nothing on a disc comes before it. A hidden "
                         "track or a long first pregap, which may begin before block 0.\n", NOT_EXACT, n,
                    read_word(d), (int64_t)index->seen_at + s->q_offset);
    } else if (index->may_not_exist) {
        put(out, "%c Track %d may have a pregap from as early as block %" PRIu32 " to block %" PRIu32 ", where "
                     "no good position frame shows what the disc holds; it may not exist", NOT_EXACT, n,
                index->earliest, index->block);
        // The row of the track before runs to index 01, the most the evidence allows it.
        int before = n - 1;
        while (before >= s->first_track && !s->track[before].seen)
            --before;
        uint32_t most;
        if (before >= s->first_track && track_length(&s->track[before], &most) &&
            s->track[before].index[1].block <= index->earliest) {
            char shortest[TIME_TEXT_SIZE], longest[TIME_TEXT_SIZE];
            format_frames(shortest, index->earliest - s->track[before].index[1].block, '.');
            format_frames(longest, most, '.');
            put(out, ", so track %d's length is %s at least and %s (its row) at most", before, shortest, longest);
        }
        put(out, ".\n");
    } else if (index->earliest < index->block) {
        put(out, "%c Track %d index %02d may begin as early as block %" PRIu32 ": the block%s before block %" PRIu32
                     " show%s no good position frame.\n", NOT_EXACT, n, i, index->earliest,
                index->block - index->earliest > 1 ? "s" : "", index->block,
                index->block - index->earliest > 1 ? "" : "s");
    } else {
        put(out, "%c Track %d index %02d may lie a block or so off: the frames at its start are out of "
                     "place or out of order.\n", NOT_EXACT, n, i);
    }
}

// Whether any frame of a track carried an ISRC.
bool any_isrc_frame(const sheet* s) {
    for (int n = 1; n <= DISC_TRACKS; ++n)
        for (unsigned i = 0; i < s->track[n].isrcs.count; ++i)
            if (s->track[n].isrcs.code[i].frames > 0)
                return true;
    return s->isrc_outside > 0;
}

// Whether a saved scan has position frames and not one code frame: said in
// one line, which the lines for tracks without an ISRC would only repeat.
bool no_code_frame(const disc_sheet* d) {
    const sheet* s = &d->s;
    return !s->codes_filled_in && d->reading.method == SHEET_FROM_REPORT && s->good_frames > 0 &&
           s->mcns.count == 0 && !any_isrc_frame(s);
}

// Whether a track's ISRC is a fact of the disc or only of the blocks read:
// a last track the scan or read ends in, before the lead-out.
bool cut_off(const disc_sheet* d, int n) {
    const sheet* s = &d->s;
    return n == s->last_track && !s->lead_out_seen && !s->lead_out_from_toc;
}

// Whether a track is expected to carry an ISRC and was seen without one.
bool lacks_isrc(const disc_sheet* d, int n) {
    const sheet* s = &d->s;
    const sheet_track* t = &s->track[n];
    return t->seen && t->isrc < 0 && !(t->control & CONTROL_DATA) && !t->later_session && !cut_off(d, n);
}

// The tracks without an ISRC, in one line: "No ISRC: tracks 1 to 3, 5."
void write_no_isrc_line(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    std::string numbers;
    int count = 0, audio = 0;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        const sheet_track* t = &s->track[n];
        audio += t->seen && !(t->control & CONTROL_DATA) && !t->later_session;
        if (!lacks_isrc(d, n) || (n > s->first_track && lacks_isrc(d, n - 1)))
            continue;  // has one, or inside a run already written
        int last = n;
        while (last + 1 <= s->last_track && lacks_isrc(d, last + 1))
            ++last;
        numbers += (count ? ", " : "") + std::to_string(n) + (last > n ? " to " + std::to_string(last) : "");
        count += last - n + 1;
    }
    if (count > 0 && count == audio)
        put(out, "No track carries an ISRC.\n");
    else if (count > 0)
        put(out, "No ISRC: track%s %s.\n", count > 1 ? "s" : "", numbers.c_str());
}

// Whether track n's code i is one the line of the ISRC n shares with other
// tracks names as the one that may be meant: a code of n's own in frames,
// other than its ISRC and no other track's.
bool said_with_shared_isrc(const sheet* s, int n, unsigned i) {
    const sheet_track* t = &s->track[n];
    int elsewhere;
    const sheet_code* c = track_isrc(t);
    return c != NULL && tracks_carrying(s, c->code, n, &elsewhere, 1) > 0 && (int)i != t->isrc &&
           t->isrcs.code[i].frames > 0 && tracks_carrying(s, t->isrcs.code[i].code, n, &elsewhere, 1) == 0;
}

// "Tracks 3 and 4 carry the same ISRC ...", once for each code more than one
// track has, said at its first track; with a code each of them also carries
// in a run of its own, the one that may be meant.
void write_shared_isrc(const sheet* s, int n, std::string* out) {
    const sheet_code* c = track_isrc(&s->track[n]);
    int others[DISC_TRACKS];
    unsigned count = c != NULL ? tracks_carrying(s, c->code, n, others, DISC_TRACKS) : 0;
    if (count == 0 || others[0] < n)
        return;
    char isrc[16];
    grouped_isrc(isrc, c);
    std::string tracks = std::to_string(n);
    for (unsigned i = 0; i < count; ++i)
        tracks += (i + 1 == count ? " and " : ", ") + std::to_string(others[i]);
    put(out, "Tracks %s carry the same ISRC %s", tracks.c_str(), isrc);
    std::vector<int> group(1, n);
    group.insert(group.end(), others, others + count);
    for (int m : group) {
        const sheet_track* t = &s->track[m];
        for (unsigned i = 0; i < t->isrcs.count; ++i) {
            if (!said_with_shared_isrc(s, m, i))
                continue;
            char own[16];
            grouped_isrc(own, &t->isrcs.code[i]);
            put(out, "; track %d also carries ", m);
            write_code_list(own, 15, &t->isrcs.code[i], out);
            put(out, ", which may be the one meant");
        }
    }
    put(out, ".\n");
}

void write_track_notes(const disc_sheet* d, int n, std::string* out) {
    const sheet* s = &d->s;
    const sheet_track* t = &s->track[n];
    const sheet_code* isrc = track_isrc(t);
    if (isrc == NULL && cut_off(d, n) && !(t->control & CONTROL_DATA) && !no_code_frame(d)) {
        put(out, "Track %d: no ISRC in the blocks read (the %s ends in it).\n", n,
                read_word(d));
    } else if (isrc != NULL && code_is_zero(isrc, ISRC_LENGTH)) {
        put(out, "Track %d: its ISRC is twelve zeros, which is no code, and the cue sheet leaves it out.\n", n);
    } else if (isrc != NULL && !isrc_well_formed(isrc)) {
        put(out, "Track %d: its ISRC is not a well-formed code (a country of two letters, a registrant of three "
                     "letters or digits, a year of two digits, a designation of five), and the cue sheet leaves it "
                     "out.\n", n);
    }
    write_shared_isrc(s, n, out);
    for (unsigned i = 0; i < t->isrcs.count; ++i) {
        if ((int)i == t->isrc || said_with_shared_isrc(s, n, i))
            continue;  // the track's ISRC, or said in the line of the ISRC it shares
        char other[16];
        grouped_isrc(other, &t->isrcs.code[i]);
        put(out, "Track %d also carries ", n);
        write_code_list(other, 15, &t->isrcs.code[i], out);
        int elsewhere;
        if (tracks_carrying(s, t->isrcs.code[i].code, n, &elsewhere, 1) > 0)
            put(out, " (track %d's code)", elsewhere);
        put(out, ".\n");
    }
    if (t->isrcs.uncounted)
        put(out, "Track %d carries more than %d ISRCs: %" PRIu32 " frames of the others are not counted one by one.\n",
                n, SHEET_CODES, t->isrcs.uncounted);
    if (!t->index[1].seen)
        put(out, "Track %d: index 01 was not seen.\n", n);
    for (int i = 0; i < SHEET_INDEXES; ++i)
        if (t->index[i].seen && !t->index[i].exact && !t->index[i].from_toc)
            write_inexact_note(d, n, i, &t->index[i], out);
    if (t->later_session)
        put(out, "Track %d is in a later session: as the table of contents gives it, not read.\n", n);
    else if ((t->control & CONTROL_DATA) && t->mode == 0)
        put(out, "Track %d is a data track whose sector mode no sector read shows (the cue sheet says "
                     "MODE1/2352).\n", n);
}

// What the marks after a code and the table of contents' index points mean.
void write_source_notes(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    bool drive = false, cd_text = false;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        char mark = s->track[n].seen ? source_mark(track_isrc(&s->track[n])) : 0;
        drive = drive || mark == FROM_DRIVE;
        cd_text = cd_text || mark == FROM_CD_TEXT;
    }
    // One footnote for the mark, whichever codes carry it.
    bool drive_mcn = s->mcn >= 0 && s->mcns.code[s->mcn].source == SOURCE_DRIVE;
    if (drive && drive_mcn)
        put(out, "%c The drive's own report of the catalogue number and of the ISRCs marked so (READ "
                     "SUB-CHANNEL): no Q frame read carries them.\n", FROM_DRIVE);
    else if (drive)
        put(out, "%c The drive's own report of the track's ISRC (READ SUB-CHANNEL): no Q frame read carries "
                     "it.\n", FROM_DRIVE);
    else if (drive_mcn)
        put(out, "%c The catalogue number is the drive's own report (READ SUB-CHANNEL): no Q frame read carries "
                     "it.\n", FROM_DRIVE);
    if (cd_text)
        put(out, "%c The track's ISRC as its CD-Text gives it: no Q frame read carries it, and the cue sheet "
                     "leaves it out.\n", FROM_CD_TEXT);
    if (s->no_frames)
        put(out, "Every index point is the table of contents' (this drive returns no subchannel): pregaps and "
                     "index 02 and above cannot be seen, and each start may lie up to a second off.\n");
    if (s->codes_filled_in)
        put(out, "This drive fills code frames in with positions of its own: each code is its own report, one a "
                     "track, so a second code in a track cannot be seen.\n");
    else if (no_code_frame(d))
        put(out, "No frame of the scan carries a catalogue number or an ISRC: the disc carries none, or the drive "
                     "filled its code frames in with positions of its own (then each start may lie a block earlier, "
                     "and qscan-sheet D: asks such a drive for its codes).\n");
}

bool all_digits_text(const char* text, int n) {
    for (int i = 0; i < n; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

void write_mcn_notes(const sheet* s, std::string* out) {
    if (s->mcn < 0)
        return;
    if (code_is_zero(&s->mcns.code[s->mcn], MCN_LENGTH))
        put(out, "The catalogue number is thirteen zeros: the disc carries no real number.\n");
    else if (!all_digits_text(s->mcns.code[s->mcn].code, MCN_LENGTH))
        put(out, "The catalogue number is not thirteen digits, and the cue sheet leaves it out.\n");
    else if (!mcn_well_formed(&s->mcns.code[s->mcn]))
        put(out, "The catalogue number's check digit is wrong for an EAN-13: the disc carries it so, and the cue "
                     "sheet leaves it out.\n");
    for (unsigned i = 0; i < s->mcns.count; ++i) {
        if ((int)i == s->mcn)
            continue;
        put(out, "The disc also carries catalogue number ");
        write_code_list(s->mcns.code[i].code, MCN_LENGTH, &s->mcns.code[i], out);
        put(out, ".\n");
    }
    if (s->mcns.uncounted)
        put(out, "The disc carries more than %d catalogue numbers: %" PRIu32 " frames of the others are not "
                     "counted one by one.\n", SHEET_CODES, s->mcns.uncounted);
}


// The stretches of a list, "blocks 3100 to 3101, block 5000", each with
// the line before it for lines a saved scan lost.
void write_stretches(const sheet_stretch* list, uint32_t count, bool lines, std::string* out) {
    for (uint32_t i = 0; i < count && i < SHEET_STRETCHES; ++i) {
        const sheet_stretch* u = &list[i];
        put(out, u->first == u->last ? "%sblock %" PRIu32 : "%sblocks %" PRIu32 " to %" PRIu32, i ? ", " : "",
                u->first, u->last);
        if (lines && u->after_line > 0)
            put(out, " (after line %" PRIu64 ")", u->after_line);
        else if (lines)
            put(out, " (before its first line)");
    }
    put(out, "%s", count > SHEET_STRETCHES ? ", ..." : "");
}

void write_reading(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    const disc_reading* r = &d->reading;
    if (r->method == SHEET_FROM_REPORT) {
        put(out, "Sectors read: %" PRIu32 "\n", s->sectors);
        if (s->missing_count > 0) {
            put(out, "Missing from the scan: ");
            write_stretches(s->missing, s->missing_count, true, out);
            put(out, "; lines were lost there, and the sheet lacks what they held.\n");
        }
        if (r->repeated_lines > 0)
            put(out, "%s.\n", repeated_lines_text(r).c_str());
        return;
    }
    if (r->subchannel == SHEET_Q_NONE)
        put(out, "Read: no block, since the drive returns no subchannel with READ CD\n");
    else if (r->method == SHEET_TARGETED)
        put(out, "Read: targeted, %s of %s blocks%s in %s commands\n",
                with_commas(s->sectors - r->lead_out_blocks).c_str(), with_commas(r->disc_blocks).c_str(),
                r->lead_out_blocks > 0 ? (", and " + with_commas(r->lead_out_blocks) + " of the lead-out").c_str() : "",
                with_commas(r->commands).c_str());
    else
        put(out, "Read: whole disc, %s blocks in %s commands\n", with_commas(s->sectors).c_str(),
                with_commas(r->commands).c_str());
    if (s->unreadable_count == 0)
        return;
    put(out, "Unreadable: %s block%s: ", with_commas(s->unreadable_blocks).c_str(),
            s->unreadable_blocks == 1 ? "" : "s");
    write_stretches(s->unreadable, s->unreadable_count, false, out);
    put(out, "; the sheet lacks what they hold.\n");
}

void write_toc_notes(const sheet* s, std::string* out) {
    toc_disagreement d[DISC_TRACKS + 1];
    unsigned n = sheet_toc_disagreements(s, d, DISC_TRACKS + 1);
    for (unsigned i = 0; i < n; ++i) {
        if (d[i].track == 0)
            put(out, "The table of contents puts the lead-out at block %" PRId64 ", its frames at block %" PRId64
                         ": the frames win.\n", d[i].toc_block, d[i].q_block);
        else if (d[i].q_block < 0 && d[i].toc_block >= 0)
            put(out, "The table of contents lists track %d at block %" PRId64 ", which no Q frame shows.\n",
                    d[i].track, d[i].toc_block);
        else if (d[i].toc_block < 0)
            put(out, "Track %d is in the Q frames but not in the table of contents.\n", d[i].track);
        else
            put(out, "The table of contents puts track %d at block %" PRId64 ", its Q frames at block %" PRId64
                         ": the Q frames win.\n", d[i].track, d[i].toc_block, d[i].q_block);
    }
}

void write_evidence_notes(const sheet* s, std::string* out) {
    if (s->stray > 0) {
        put(out, "%" PRIu32 " position frame%s showed a track, an index or the lead-out that the next one did "
                     "not confirm, and %s not used: block%s", s->stray, s->stray == 1 ? "" : "s",
                s->stray == 1 ? "is" : "are", s->stray == 1 ? "" : "s");
        uint32_t listed = s->stray < SHEET_STRAYS_LISTED ? s->stray : (uint32_t)SHEET_STRAYS_LISTED;
        for (uint32_t i = 0; i < listed; ++i)
            put(out, "%s %" PRIu32, i == 0 ? "" : ",", s->stray_block[i]);
        put(out, "%s.\n", s->stray > listed ? ", ..." : "");
    }
    if (s->malformed > 0)
        put(out, "%" PRIu32 " position frame%s a track, an index or a time that is no BCD number, and %s not "
                     "used.\n", s->malformed, s->malformed == 1 ? " carries" : "s carry", s->malformed == 1 ? "is" : "are");
    if (s->isrc_outside)
        put(out, "%" PRIu32 " ISRC frames lie in no track (the lead-out, or before any track).\n", s->isrc_outside);
    if (s->first_track != 0 && s->crc_errors_before > 0)
        put(out, "%" PRIu32 " CRC errors lie before track %d begins.\n", s->crc_errors_before, s->first_track);
}

}  // namespace

void put(std::string* to, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n >= (int)sizeof line) {  // a long text: once more, with room for it all
        std::vector<char> longer((size_t)n + 1);
        va_start(args, format);
        vsnprintf(longer.data(), longer.size(), format, args);
        va_end(args);
        to->append(longer.data(), (size_t)n);
    } else if (n > 0) {
        to->append(line, (size_t)n);
    }
}

std::string with_commas(uint64_t n) {
    std::string digits = std::to_string(n);
    for (int at = (int)digits.size() - 3; at > 0; at -= 3)
        digits.insert((size_t)at, ",");
    return digits;
}

const cd_text_block* first_readable_block(const cd_text* text) {
    for (const cd_text_block& b : text->blocks)
        if (!b.double_byte)
            return &b;
    return NULL;
}

std::string printable(const std::string& text, char quote) {
    std::string safe;
    for (char c : text)
        safe += (unsigned char)c < ' ' || c == 0x7F ? '?' : quote != 0 && c == quote ? '\'' : c;
    return safe;
}

void format_frames(char text[TIME_TEXT_SIZE], uint64_t frames, char separator) {
    snprintf(text, TIME_TEXT_SIZE, "%02" PRIu64 ":%02u%c%02u", frames / FRAMES_PER_MINUTE,
             (unsigned)(frames / FRAMES_PER_SECOND % 60), separator, (unsigned)(frames % FRAMES_PER_SECOND));
}

void track_flags_text(const sheet_track* t, char text[FLAGS_TEXT_SIZE]) {
    const char* words[3];
    int count = track_flags(t, words);
    text[0] = '\0';
    if ((t->control & CONTROL_DATA) && t->mode != 0)
        snprintf(text, FLAGS_TEXT_SIZE, "data, mode %u", t->mode);
    else if (t->control & CONTROL_DATA)
        strcat(text, "data");
    for (int i = 0; i < count; ++i) {
        if (text[0] != '\0')
            strcat(text, " ");
        strcat(text, words[i]);
    }
}

std::string missing_tracks_text(const sheet* s) {
    std::string numbers;
    int runs = 0, count = 0;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        if (s->track[n].seen || (n > s->first_track && !s->track[n - 1].seen))
            continue;  // seen, or inside a run already written
        int last = n;
        while (last + 1 <= s->last_track && !s->track[last + 1].seen)
            ++last;
        numbers += (runs++ ? ", " : "") + std::to_string(n) + (last > n ? " to " + std::to_string(last) : "");
        count += last - n + 1;
    }
    if (count == 0)
        return "";
    return (count == 1 ? "Track " : "Tracks ") + numbers + (count == 1 ? " was" : " were") + " not seen.";
}

std::string repeated_lines_text(const disc_reading* r) {
    if (r->repeated_lines == 0)
        return "";
    char time[TIME_TEXT_SIZE];
    format_frames(time, (uint64_t)(r->repeated_first_at < 0 ? 0 : r->repeated_first_at), '.');
    std::string text = with_commas(r->repeated_lines);
    if (r->repeated_lines == 1)
        return text + " line repeats a block the scan holds already, line " + std::to_string(r->repeated_first_line) +
               " (disc time " + time + "): left out";
    return text + " lines repeat blocks the scan holds already, the first at line " +
           std::to_string(r->repeated_first_line) + " (disc time " + time + "): left out";
}

std::string text_shown(const cd_text_block* b, unsigned track, int kind, bool quoted) {
    static const char* const NAMES[CD_TEXT_KINDS] = {"title",   "performer", "songwriter", "composer", "arranger",
                                                     "message", "disc ID",   "genre",      "code"};
    if (b->lost[track][kind])
        return "(" + std::string(NAMES[kind]) + " lost: a damaged pack)";
    std::string text = printable(b->text[track][kind]);
    return quoted ? "\"" + text + "\"" : text;
}

// A block's disc title and performer: "\"Album\" by The Band".
std::string title_and_performer(const cd_text_block* b) {
    bool performer = !b->text[0][TEXT_PERFORMER].empty() || b->lost[0][TEXT_PERFORMER];
    return text_shown(b, 0, TEXT_TITLE, true) + (performer ? " by " + text_shown(b, 0, TEXT_PERFORMER, false) : "");
}

// The disc's CD-Text, in a line: its title and performer, or why there is none.
void write_cd_text_line(const cd_text* text, bool have, const char* why, std::string* out) {
    if (!have) {
        put(out, "CD-Text: none, since %s\n", why);
        return;
    }
    const cd_text_block* b = first_readable_block(text);
    if (b == NULL) {
        put(out, "CD-Text: in double-byte characters only (kept as hex in the JSON)\n");
        return;
    }
    const char* language = cd_text_language(b->language);
    put(out, "CD-Text: %s (%s)\n", title_and_performer(b).c_str(), language ? language : "language unknown");
}

// Each track's title and performer from the first readable block, a line for
// each further block, and how the CD-Text's codes compare with the Q frames'.
void write_cd_text_notes(const sheet* s, const cd_text* text, std::string* out) {
    const cd_text_block* first = first_readable_block(text);
    for (const cd_text_block& b : text->blocks) {
        const char* language = cd_text_language(b.language);
        if (b.double_byte) {
            put(out, "CD-Text block %u (%s) is in double-byte characters (%s): kept as hex in the JSON, not "
                         "shown here.\n", b.number, language ? language : "language unknown",
                    cd_text_characters(b.character_code) ? cd_text_characters(b.character_code) : "a code not named");
        } else if (&b != first) {
            put(out, "CD-Text block %u (%s): %s.\n", b.number, language ? language : "language unknown",
                    title_and_performer(&b).c_str());
        }
    }
    if (first != NULL) {
        put(out, "CD-Text titles and performers, block %u:\n", first->number);
        for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
            if (!s->track[n].seen)
                continue;
            bool performer = !first->text[n][TEXT_PERFORMER].empty() || first->lost[n][TEXT_PERFORMER];
            put(out, "%4d  %s%s%s\n", n, text_shown(first, (unsigned)n, TEXT_TITLE, false).c_str(),
                    performer ? " / " : "", performer ? text_shown(first, (unsigned)n, TEXT_PERFORMER, false).c_str() : "");
        }
    }
    bool codes = false;
    for (const cd_text_block& b : text->blocks)
        for (unsigned t = 0; t <= DISC_TRACKS; ++t)
            codes = codes || !b.text[t][TEXT_CODE].empty();
    std::vector<code_difference> differences = cd_text_against_q(s, text);
    bool only_lost = true;
    for (const code_difference& d : differences)
        only_lost = only_lost && d.lost;
    if (codes && differences.empty())
        put(out, "CD-Text's UPC/EAN and ISRCs agree with the Q frames' codes.\n");
    else if (codes && only_lost)
        put(out, "CD-Text's other codes agree with the Q frames'.\n");
    for (const code_difference& d : differences) {
        // A code the table shows as CD-Text's ('#'), whose footnote says no Q frame carries it.
        const sheet_code* shown = d.track > 0 ? track_isrc(&s->track[d.track]) : NULL;
        char as_q[ISRC_LENGTH];
        if (!d.lost && d.q.empty() && shown != NULL && shown->source == SOURCE_CD_TEXT &&
            cd_text_code_as_q(d.cd_text, ISRC_LENGTH, as_q) && memcmp(as_q, shown->code, ISRC_LENGTH) == 0)
            continue;
        std::string whose = d.track == 0 ? "The disc" : "Track " + std::to_string(d.track);
        const char* kind = d.track == 0 ? "UPC/EAN" : "ISRC";
        if (d.lost)
            put(out, "%s: CD-Text's %s is lost (a damaged pack), so it is not set against the Q frames' %s.\n",
                    whose.c_str(), kind, d.track == 0 ? "catalogue number" : "code");
        else if (d.cd_text.empty())  // CD-Text gives codes for other tracks, none for this one
            put(out, "%s: CD-Text gives no %s, the Q frames \"%s\".\n", whose.c_str(), kind, d.q.c_str());
        else
            put(out, "%s: CD-Text gives %s \"%s\", the Q frames %s%s%s.\n", whose.c_str(), kind,
                    printable(d.cd_text).c_str(), d.q.empty() ? "none" : "\"", d.q.c_str(), d.q.empty() ? "" : "\"");
    }
    if (text->bad_packs > 0)
        put(out, "CD-Text: %u of %u packs failed their CRC and are not used.\n", text->bad_packs, text->packs);
}

// The databases' identifiers, one line each; from a saved scan, which sees
// one session only, the two that count every session say so.
void write_ids(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    disc_ids ids;
    std::string why;
    if (!sheet_ids(d, &ids, &why)) {
        put(out, "Disc IDs: none, since %s\n", why.c_str());
        return;
    }
    std::string one_session = s->toc_known ? ""
                              : std::string(" (as for a disc of one session: a ") + read_word(d) +
                                    " without a table of contents sees no other)";
    put(out, "MusicBrainz disc ID: %s (%s)\n", ids.musicbrainz.c_str(), ids.musicbrainz_url.c_str());
    put(out, "freedb disc ID: %s%s\n", ids.freedb.c_str(), one_session.c_str());
    put(out, "AccurateRip: %s%s\n", ids.accuraterip_file.c_str(), one_session.c_str());
}

// The drive by its own name, and what it gives of the Q subchannel.
void write_drive(const disc_sheet* d, std::string* out) {
    const disc_reading* r = &d->reading;
    if (!r->drive_asked)
        return;
    if (r->drive_known)
        put(out, "Drive: %s %s %s\n", r->drive.vendor, r->drive.product, r->drive.revision);
    else
        put(out, "Drive: unknown\n");
    static const char* const Q_WORDS[] = {
        "raw P-W subchannel", "formatted by the drive (CRCs checked)",
        "formatted by the drive, no CRC (three agreeing frames for everything)",
        "none (this drive returns no subchannel with READ CD)"};
    put(out, "Q: %s\n", Q_WORDS[r->subchannel]);
}

void write_text(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    write_drive(d, out);
    if (s->mcn >= 0) {
        char mark = source_mark(&s->mcns.code[s->mcn]);
        put(out, "Catalogue number: %.13s%.*s\n", s->mcns.code[s->mcn].code, mark != 0 ? 1 : 0, &mark);
    }
    else
        put(out, "Catalogue number: none\n");
    write_ids(d, out);
    cd_text text;
    std::string why;
    bool have_text = sheet_cd_text(d, &text, &why);
    write_cd_text_line(&text, have_text, why.c_str(), out);
    char time[TIME_TEXT_SIZE];
    format_frames(time, (uint64_t)disc_frames_of_block(s->lead_out), '.');
    if (s->lead_out_seen) {
        put(out, "Lead-out: %s, block %" PRIu32 "\n", time, s->lead_out);
        put(out, "The %s reached the lead-out: the last track is whole.\n", read_word(d));
    } else if (s->lead_out_from_toc) {
        put(out, "Lead-out: %s, block %" PRIu32 ", from the table of contents (its frames were not read)\n", time,
                s->lead_out);
    } else {
        // The disc's block, as the rows' lengths count it: the scan's end moved by the Q offset.
        uint32_t last = s->lead_out > 0 ? s->lead_out - 1 : 0;
        format_frames(time, (uint64_t)disc_frames_of_block(last), '.');
        put(out, "Lead-out: not seen; the last track ends where the %s did, after block %" PRIu32 " (%s)\n",
                read_word(d), last, time);
        if (d->reading.method == SHEET_FROM_REPORT)
            put(out, "The scan did not reach the lead-out: the last track may be cut short. A read error, an\n"
                         "interrupted scan and a drive that refuses the lead-out look the same in a saved scan.\n");
        else
            put(out, "The read did not reach the lead-out: the last track may be cut short, and the drive gave\n"
                         "%s.\n", s->toc_known ? "a table of contents that cannot be right, so none says where the disc ends"
                                                        : "no table of contents to say where the disc ends");
    }
    write_reading(d, out);
    put(out, "\n");

    if (s->first_track == 0) {
        put(out, "No track: no good position frame carries a track number that the next one confirms.\n");
    } else {
        layout l = layout_for(s);
        write_row_cells(out, &l, "", "Pregap, index 00", "Start, index 01", "", "", "", "");
        write_row_cells(out, &l, l.track < 3 ? "Tr" : "Trk", "time      block", "time      block", "Length", "ISRC", "Flags", "CRC");
        for (int n = s->first_track; n <= s->last_track; ++n)
            if (s->track[n].seen)
                write_row(s, &l, n, out);
        put(out, "\n");
    }

    // A scan whose first lines are lost starts ahead of its lines just as a
    // drive whose Q leads does: a saved scan cannot tell the two apart.
    const disc_reading* r = &d->reading;
    bool or_lost = r->method == SHEET_FROM_REPORT && s->q_offset > 0 && r->start_offset_known &&
                   r->start_offset == s->q_offset;
    if (s->q_offset != 0)
        put(out, "This drive's Q %s the block by %d%s%s%s: index points and counts are placed on the disc's own "
                     "time.\n", s->q_offset < 0 ? "lags" : "leads", s->q_offset < 0 ? -s->q_offset : s->q_offset,
                or_lost ? " (or the scan's first " : "", or_lost ? std::to_string(s->q_offset).c_str() : "",
                or_lost ? (s->q_offset == 1 ? " line is lost)" : " lines are lost)") : "");
    std::string missing = missing_tracks_text(s);
    if (!missing.empty())
        put(out, "%s\n", missing.c_str());
    if (have_text)
        write_cd_text_notes(s, &text, out);
    write_source_notes(d, out);
    if (!no_code_frame(d))
        write_no_isrc_line(d, out);
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (s->track[n].seen)
            write_track_notes(d, n, out);
    write_mcn_notes(s, out);
    write_toc_notes(s, out);
    write_evidence_notes(s, out);
    if (s->disagreeing > 0 || s->codes_unconfirmed > 0)
        put(out, "Unchecked frames not used: %" PRIu32 " whose disc time is not near their block's, %" PRIu32
                     " of codes fewer than %u frames carry.\n", s->disagreeing, s->codes_unconfirmed, s->agreeing);
    if (s->no_frames)
        return;  // no frame to count anything in
    if (s->unchecked)
        put(out, "CRC errors: not known, since the drive gives its Q frames without their CRC.");
    else if (d->reading.method == SHEET_FROM_REPORT)
        put(out, "CRC errors: %" PRIu32 " in all.", s->crc_errors);
    else
        put(out, "CRC errors: %" PRIu32 " in the %s blocks read.", s->crc_errors, with_commas(s->sectors).c_str());
    put(out, " Frames out of place (disc time not their block's): %" PRIu32 ".\n", s->out_of_place);
}
