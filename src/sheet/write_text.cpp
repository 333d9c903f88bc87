// The sheet for a person: the catalogue number, one row per track (its
// pregap, its start, its length, its ISRC, flags and CRC errors; further
// indexes in rows below), then a line for each thing worth a second look.
// Rows are 79 characters at most, so 99 tracks read well in a terminal.
#include "sheet/sheet_writers.h"

#include <inttypes.h>
#include <string.h>

namespace {

const char NOT_EXACT = '*';
const int CELL_SIZE = 40;  // room for an index cell (16 characters) whatever its block
// One row of the table: track, index 00 and index 01 cells, length, ISRC,
// flags, CRC errors.
const char ROW[] = "%3s  %-16s %-16s  %-8s  %-15s  %-8s%4s";

// One row of the table, with no blanks at its end.
void write_row_cells(FILE* out, const char* number, const char* pregap, const char* start, const char* length,
                     const char* isrc, const char* flags, const char* crc_errors) {
    char row[160];
    int n = snprintf(row, sizeof row, ROW, number, pregap, start, length, isrc, flags, crc_errors);
    while (n > 0 && row[n - 1] == ' ')
        --n;
    fprintf(out, "%.*s\n", n, row);
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
    format_frames(time, (uint64_t)index->block + BLOCK_0_FRAMES, '.');
    snprintf(text, CELL_SIZE, "%s %6" PRIu32 "%c", time, index->block, index->exact ? ' ' : NOT_EXACT);
}

void write_row(const sheet* s, int n, FILE* out) {
    const sheet_track* t = &s->track[n];
    char pregap[CELL_SIZE], start[CELL_SIZE], length[TIME_TEXT_SIZE] = "       -", isrc[16] = "-", flags[16] = "";
    index_cell(pregap, &t->index[0]);
    index_cell(start, &t->index[1]);
    if (t->index[1].seen && t->end >= t->index[1].block)
        format_frames(length, t->end - t->index[1].block, '.');
    if (t->isrc >= 0)
        grouped_isrc(isrc, &t->isrcs.code[t->isrc]);
    const char* words[3];
    int count = track_flags(t, words);
    if (t->control & CONTROL_DATA)
        strcat(flags, "data");
    for (int i = 0; i < count; ++i) {
        if (flags[0] != '\0')
            strcat(flags, " ");
        strcat(flags, words[i]);
    }
    char number[8], crc_errors[16];
    snprintf(number, sizeof number, "%d", n);
    snprintf(crc_errors, sizeof crc_errors, "%" PRIu32, t->crc_errors);
    write_row_cells(out, number, pregap, start, length, isrc, flags, crc_errors);
    for (int i = 2; i < SHEET_INDEXES; ++i) {
        if (!t->index[i].seen)
            continue;
        char label[16];
        snprintf(label, sizeof label, "index %02d", i);
        index_cell(start, &t->index[i]);
        write_row_cells(out, "", label, start, "", "", "", "");
    }
}

void write_code_list(const char* code, int length, const sheet_code* c, FILE* out) {
    if (c->frames == 1)
        fprintf(out, "%.*s in 1 frame, at block %" PRIu32, length, code, c->first_block);
    else
        fprintf(out, "%.*s in %" PRIu32 " frames, blocks %" PRIu32 " to %" PRIu32, length, code, c->frames,
                c->first_block, c->last_block);
}

void write_track_notes(const sheet* s, int n, FILE* out) {
    const sheet_track* t = &s->track[n];
    if (t->isrc < 0) {
        fprintf(out, "Track %d has no ISRC.\n", n);
    } else if (!isrc_well_formed(&t->isrcs.code[t->isrc])) {
        fprintf(out, "Track %d: its ISRC is not a well-formed code, and the cue sheet leaves it out.\n", n);
    }
    for (unsigned i = 0; i < t->isrcs.count; ++i) {
        if ((int)i == t->isrc)
            continue;
        char isrc[16];
        grouped_isrc(isrc, &t->isrcs.code[i]);
        fprintf(out, "Track %d also carries ", n);
        write_code_list(isrc, 15, &t->isrcs.code[i], out);
        fprintf(out, ".\n");
    }
    if (t->isrcs.uncounted)
        fprintf(out, "Track %d carries more than %d ISRCs: %" PRIu32 " frames of the others are not counted one by one.\n",
                n, SHEET_CODES, t->isrcs.uncounted);
    if (!t->index[1].seen)
        fprintf(out, "Track %d: index 01 was not seen.\n", n);
    for (int i = 0; i < SHEET_INDEXES; ++i) {
        const sheet_index* index = &t->index[i];
        if (!index->seen || index->exact)
            continue;
        if (n == s->first_track && i == 0)
            fprintf(out, "%c Track %d index 00 is seen from block 0, where the scan starts: a hidden track or a "
                         "long first pregap, which may begin before it.\n", NOT_EXACT, n);
        else if (index->earliest < index->block)
            fprintf(out, "%c Track %d index %02d may begin as early as block %" PRIu32 ": the block%s before block %" PRIu32
                         " carr%s no position frame.\n", NOT_EXACT, n, i, index->earliest,
                    index->block - index->earliest > 1 ? "s" : "", index->block,
                    index->block - index->earliest > 1 ? "y" : "ies");
        else
            fprintf(out, "%c Track %d index %02d may lie a block or so off: the frames at its start are out of "
                         "place or out of order.\n", NOT_EXACT, n, i);
    }
    if (t->control & CONTROL_DATA)
        fprintf(out, "Track %d is a data track: the Q subchannel does not tell its sector mode (the cue sheet says "
                     "MODE1/2352).\n", n);
}

void write_mcn_notes(const sheet* s, FILE* out) {
    if (s->mcn < 0)
        return;
    if (mcn_is_zero(&s->mcns.code[s->mcn]))
        fprintf(out, "The catalogue number is thirteen zeros: the disc carries no real number.\n");
    else if (!mcn_well_formed(&s->mcns.code[s->mcn]))
        fprintf(out, "The catalogue number is not thirteen digits, and the cue sheet leaves it out.\n");
    for (unsigned i = 0; i < s->mcns.count; ++i) {
        if ((int)i == s->mcn)
            continue;
        fprintf(out, "The disc also carries catalogue number ");
        write_code_list(s->mcns.code[i].code, MCN_LENGTH, &s->mcns.code[i], out);
        fprintf(out, ".\n");
    }
    if (s->mcns.uncounted)
        fprintf(out, "The disc carries more than %d catalogue numbers: %" PRIu32 " frames of the others are not "
                     "counted one by one.\n", SHEET_CODES, s->mcns.uncounted);
}

}  // namespace

void format_frames(char text[TIME_TEXT_SIZE], uint64_t frames, char separator) {
    snprintf(text, TIME_TEXT_SIZE, "%02" PRIu64 ":%02u%c%02u", frames / FRAMES_PER_MINUTE,
             (unsigned)(frames / FRAMES_PER_SECOND % 60), separator, (unsigned)(frames % FRAMES_PER_SECOND));
}

void write_text(const sheet* s, FILE* out) {
    if (s->mcn >= 0)
        fprintf(out, "Catalogue number: %.13s\n", s->mcns.code[s->mcn].code);
    else
        fprintf(out, "Catalogue number: none\n");
    char time[TIME_TEXT_SIZE];
    if (s->lead_out_seen) {
        format_frames(time, (uint64_t)s->lead_out + BLOCK_0_FRAMES, '.');
        fprintf(out, "Lead-out: %s, block %" PRIu32 "\n", time, s->lead_out);
    } else {
        format_frames(time, (uint64_t)s->sectors - 1 + BLOCK_0_FRAMES, '.');
        fprintf(out, "Lead-out: not seen; the last track ends where the scan did, after block %" PRIu32 " (%s)\n",
                s->sectors - 1, time);
    }
    fprintf(out, "Sectors read: %" PRIu32 "\n\n", s->sectors);

    if (s->first_track == 0) {
        fprintf(out, "No track: no good position frame carries a track number.\n");
    } else {
        write_row_cells(out, "", "Pregap, index 00", "Start, index 01", "", "", "", "");
        write_row_cells(out, "Trk", "time      block", "time      block", "Length", "ISRC", "Flags", "CRC");
        for (int n = s->first_track; n <= s->last_track; ++n)
            if (s->track[n].seen)
                write_row(s, n, out);
        fprintf(out, "\n");
    }

    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (s->track[n].seen)
            write_track_notes(s, n, out);
    write_mcn_notes(s, out);
    if (s->isrc_outside)
        fprintf(out, "%" PRIu32 " ISRC frames lie in no track (the lead-out, or before any track).\n", s->isrc_outside);
    fprintf(out, "CRC errors: %" PRIu32 " in all. Frames out of place (disc time not their block's): %" PRIu32 ".\n",
            s->crc_errors, s->out_of_place);
}
