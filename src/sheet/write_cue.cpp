// The sheet as a cue sheet for an image of the disc from block 0, in the
// standard commands alone, as the strictest readers accept it; what it
// cannot say goes to the notes.
#include "sheet/sheet_writers.h"

#include <inttypes.h>
#include <string.h>

#include "sheet/disc_ids.h"

bool cue_can_hold(const sheet_track* t) {
    return t->seen && t->index[1].seen && !t->later_session;
}

namespace {

// A point on the disc as the notes name it, in one unit: "disc time
// 01:29.01 (block 6526)".
std::string at(uint32_t block) {
    char time[TIME_TEXT_SIZE];
    format_frames(time, (uint64_t)disc_frames_of_block(block), '.');
    return "disc time " + std::string(time) + " (block " + std::to_string(block) + ")";
}

// The first readable CD-Text block's title, performer and songwriter for a
// track (0: the disc), quoted; a double quote in a text as a single one.
void write_cd_texts(const cd_text_block* b, unsigned track, const char* indent, std::string* out) {
    const struct {
        int kind;
        const char* command;
    } fields[] = {{TEXT_TITLE, "TITLE"}, {TEXT_PERFORMER, "PERFORMER"}, {TEXT_SONGWRITER, "SONGWRITER"}};
    for (const auto& f : fields)
        if (b != NULL && !b->text[track][f.kind].empty())
            put(out, "%s%s \"%s\"\n", indent, f.command, printable(b->text[track][f.kind], '"').c_str());
}

}  // namespace

bool usable_image_name(const char* name) {
    if (name[0] == '\0')
        return false;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '"' || (unsigned char)*p < ' ' || *p == 0x7F)
            return false;
    return true;
}

bool write_cue(const disc_sheet* d, const char* image_name, std::string* out, std::string* notes) {
    const sheet* s = &d->s;
    bool any = false;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        any = any || cue_can_hold(&s->track[n]);
    if (!any)
        return false;
    // A note, as every other, begins in lower case and has no full stop.
    std::string missing = missing_tracks_text(s);
    if (!missing.empty()) {
        missing[0] = (char)(missing[0] - 'A' + 'a');
        missing.pop_back();
        put(notes, "%s; the cue sheet numbers its tracks as the disc does\n", missing.c_str());
    }
    disc_ids ids;
    std::string why;
    if (sheet_ids(d, &ids, &why))
        put(out, "REM DISCID %s\n", ids.freedb.c_str());  // as rippers write it
    if (s->mcn >= 0 && mcn_well_formed(&s->mcns.code[s->mcn]))
        put(out, "CATALOG %.13s\n", s->mcns.code[s->mcn].code);
    else if (s->mcn >= 0)
        put(notes, "no CATALOG written: the catalogue number %.13s is %s\n", s->mcns.code[s->mcn].code,
                code_is_zero(&s->mcns.code[s->mcn], MCN_LENGTH) ? "thirteen zeros, which is no number"
                                                                 : "no EAN-13 (not thirteen digits, or its check digit is wrong)");
    cd_text text;
    std::string none;
    const cd_text_block* texts = sheet_cd_text(d, &text, &none) ? first_readable_block(&text) : NULL;
    write_cd_texts(texts, 0, "", out);
    // A .wav image is audio in a WAVE file, as cue readers take it; anything else raw sectors.
    size_t length = strlen(image_name);
    bool wave = length >= 4 && (strcmp(image_name + length - 4, ".wav") == 0 || strcmp(image_name + length - 4, ".WAV") == 0);
    put(out, "FILE \"%s\" %s\n", image_name, wave ? "WAVE" : "BINARY");
    bool first_point = true;
    for (int n = s->first_track; n <= s->last_track; ++n) {
        const sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        if (!cue_can_hold(t)) {
            put(notes, "track %d left out of the cue sheet: %s\n", n,
                    t->later_session ? "it is in a later session, which an image of the first one does not hold"
                                : "its index 01 was not seen");
            continue;
        }
        bool data = t->control & CONTROL_DATA;
        put(out, "  TRACK %02d %s\n", n, !data ? "AUDIO" : t->mode == 2 ? "MODE2/2352" : "MODE1/2352");
        if (data && t->mode == 0)
            put(notes, "track %d written as MODE1/2352: no sector of it read shows its mode\n", n);
        if (data && wave)
            put(notes, "track %d is a data track, which a WAVE file cannot hold: name an image of raw sectors "
                           "(.bin) for this disc\n", n);
        write_cd_texts(texts, (unsigned)n, "    ", out);
        const char* flags[3];
        int count = track_flags(t, flags);
        if (count > 0) {
            put(out, "    FLAGS");
            for (int i = 0; i < count; ++i)
                put(out, " %s", flags[i]);
            put(out, "\n");
        }
        // Unquoted: a quoted ISRC is taken for CD-TEXT by common readers. The
        // codes are those the Q subchannel carries, which a copy burnt from
        // the cue sheet carries too: not CD-Text's.
        const sheet_code* isrc = track_isrc(t);
        int before;
        if (isrc != NULL && isrc->source != SOURCE_CD_TEXT && isrc_well_formed(isrc)) {
            put(out, "    ISRC %.12s\n", isrc->code);
            if (tracks_carrying(s, isrc->code, n, &before, 1) > 0 && before < n)
                put(notes, "track %d's ISRC %.12s is written for track %d too: the disc carries one code on both\n",
                        before, isrc->code, n);
        } else if (isrc != NULL && isrc->source != SOURCE_CD_TEXT) {
            put(notes, "track %d: no ISRC written: %.12s is %s\n", n, isrc->code,
                    code_is_zero(isrc, ISRC_LENGTH) ? "twelve zeros, which is no code" : "not a well-formed code");
        }
        for (int i = 0; i < SHEET_INDEXES; ++i) {
            const sheet_index* index = &t->index[i];
            if (!index->seen)
                continue;
            if (index->may_not_exist) {  // no INDEX 00 where INDEX 01 is: the offsets rise strictly
                put(notes, "track %d may have a pregap from %s on that no frame shows: no INDEX 00 "
                               "is written\n", n, at(index->earliest).c_str());
                continue;
            }
            // The image begins with the first track: its first index is at 00:00:00.
            uint32_t block = first_point ? 0 : index->block;
            char time[TIME_TEXT_SIZE];
            format_frames(time, block, ':');
            put(out, "    INDEX %02d %s\n", i, time);
            if (block != index->block)
                put(notes, "track %d index %02d written at %s, where the image begins: the sheet "
                               "places it at %s%s\n", n, i, at(0).c_str(), at(index->block).c_str(),
                        index->exact ? "" : ", not exact");
            else if (index->from_toc)
                put(notes, "track %d index %02d at %s is the table of contents' (the drive returns "
                               "no subchannel)\n", n, i, at(block).c_str());
            else if (!index->exact && index->earliest < index->block)
                put(notes, "track %d index %02d at %s is not exact: it may begin as early as %s\n", n,
                        i, at(block).c_str(), at(index->earliest).c_str());
            else if (!index->exact)
                put(notes, "track %d index %02d at %s is not exact: it may begin %s\n", n, i,
                        at(block).c_str(), block == 0 ? "before block 0, where the read of the disc starts" : "a block or so away");
            first_point = false;
        }
    }
    return true;
}
