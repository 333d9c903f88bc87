// What the forms for an image of the disc from block 0 (the cue sheet, the
// TOC file) share: the tracks they hold, where each index point goes, the codes.
#include "sheet/sheet_writers.h"

#include <ctype.h>
#include <string.h>

#include "sheet/disc_ids.h"

bool image_can_hold(const sheet_track* t) {
    return t->seen && t->index[1].seen && !t->later_session;
}

bool usable_image_name(const char* name) {
    if (name[0] == '\0')
        return false;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '"' || (unsigned char)*p < ' ' || *p == 0x7F)
            return false;
    return true;
}

bool image_is_wave(const char* name) {
    // In any case, as burners that take TOC files tell a WAVE file by it.
    const char* end = name + strlen(name);
    if (end - name < 4)
        return false;
    for (int i = 0; i < 4; ++i)
        if (tolower((unsigned char)end[i - 4]) != ".wav"[i])
            return false;
    return true;
}

const char* image_track_mode(const image_form* form, const sheet_track* t) {
    return !(t->control & CONTROL_DATA) ? form->modes[0] : t->mode == 2 ? form->modes[2] : form->modes[1];
}

const sheet_code* image_mcn(const sheet* s, std::string* notes) {
    if (s->mcn < 0)
        return NULL;
    const sheet_code* mcn = &s->mcns.code[s->mcn];
    if (mcn_well_formed(mcn))
        return mcn;
    put(notes, "no catalogue number written: %.13s is %s\n", mcn->code,
        code_is_zero(mcn, MCN_LENGTH) ? "thirteen zeros, which is no number"
                                      : "no EAN-13 (not thirteen digits, or its check digit is wrong)");
    return NULL;
}

const sheet_code* image_isrc(const sheet* s, int n, std::string* notes) {
    // The codes are those the Q subchannel carries, which a copy burnt from
    // the image carries too: not CD-Text's (the sheet shows those apart).
    const sheet_code* isrc = track_isrc(&s->track[n]);
    if (isrc == NULL || isrc->source == SOURCE_CD_TEXT)
        return NULL;
    if (!isrc_well_formed(isrc)) {
        put(notes, "track %d: no ISRC written: %.12s is %s\n", n, isrc->code,
            code_is_zero(isrc, ISRC_LENGTH) ? "twelve zeros, which is no code" : "not a well-formed code");
        return NULL;
    }
    int before;
    if (tracks_carrying(s, isrc->code, n, &before, 1) > 0 && before < n)
        put(notes, "track %d's ISRC %.12s is written for track %d too: the disc carries one code on both\n", before,
            isrc->code, n);
    return isrc;
}

std::string disc_point(uint32_t block) {
    char time[TIME_TEXT_SIZE];
    format_frames(time, (uint64_t)disc_frames_of_block(block), '.');
    return "disc time " + std::string(time) + " (block " + std::to_string(block) + ")";
}

bool image_holds(const std::vector<image_track>& tracks, const char* image_name, std::string* why) {
    if (!image_is_wave(image_name))
        return true;
    for (const image_track& t : tracks)
        if (t.t->control & CONTROL_DATA) {
            *why = "track " + std::to_string(t.number) + " is a data track, which an image of audio in a WAVE file "
                   "cannot hold: name an image of raw 2352-byte sectors";
            return false;
        }
    return true;
}

std::vector<image_track> image_tracks(const sheet* s, const image_form* form, std::string* notes) {
    std::vector<image_track> tracks;
    bool any = false;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        any = any || image_can_hold(&s->track[n]);
    if (!any)
        return tracks;
    // Notes begin in lower case and end without a full stop, as every other.
    std::string missing = missing_tracks_text(s);
    if (!missing.empty()) {
        missing[0] = (char)tolower((unsigned char)missing[0]);
        missing.pop_back();
        put(notes, "%s; %s\n", missing.c_str(), form->numbering);
    }
    bool first_point = true;
    for (int n = s->first_track; n <= s->last_track; ++n) {
        const sheet_track* t = &s->track[n];
        if (!t->seen)
            continue;
        if (!image_can_hold(t)) {
            put(notes, "track %d left out of the %s: %s\n", n, form->name,
                t->later_session ? "it is in a later session, which an image of the first one does not hold"
                                 : "its index 01 was not seen");
            continue;
        }
        if ((t->control & CONTROL_DATA) && t->mode == 0)
            put(notes, "track %d written as %s: no sector of it read shows its mode\n", n, form->modes[1]);
        image_track track = {n, t, {}};
        for (int i = 0; i < SHEET_INDEXES; ++i) {
            const sheet_index* index = &t->index[i];
            if (!index->seen)
                continue;
            if (index->may_not_exist) {  // none where index 01 is: the points rise strictly
                put(notes, "track %d may have a pregap from %s on that no frame shows: no %s is written\n", n,
                    disc_point(index->earliest).c_str(), form->pregap);
                continue;
            }
            // The image begins with the first track: its first index is at block 0.
            uint32_t block = first_point ? 0 : index->block;
            track.points.push_back({i, block});
            if (block != index->block)
                put(notes, "track %d index %02d written at %s, where the image begins: the sheet places it at %s%s\n",
                    n, i, disc_point(0).c_str(), disc_point(index->block).c_str(), index->exact ? "" : ", not exact");
            else if (index->from_toc)
                put(notes, "track %d index %02d at %s is the table of contents' (the drive returns no subchannel)\n",
                    n, i, disc_point(block).c_str());
            else if (!index->exact && index->earliest < index->block)
                put(notes, "track %d index %02d at %s is not exact: it may begin as early as %s\n", n, i,
                    disc_point(block).c_str(), disc_point(index->earliest).c_str());
            else if (!index->exact)
                put(notes, "track %d index %02d at %s is not exact: it may begin %s\n", n, i, disc_point(block).c_str(),
                    block == 0 ? "before block 0, where the read of the disc starts" : "a block or so away");
            first_point = false;
        }
        tracks.push_back(track);
    }
    return tracks;
}
