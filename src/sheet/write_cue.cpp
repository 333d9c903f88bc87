// The sheet as a cue sheet for an image of the disc from block 0, in the
// standard commands alone, as the strictest readers accept it.
#include "sheet/sheet_writers.h"

bool cue_can_hold(const sheet_track* t) {
    return t->seen && t->index[1].seen;
}

bool write_cue(const sheet* s, const char* image_name, FILE* out) {
    bool any = false;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        any = any || cue_can_hold(&s->track[n]);
    if (!any)
        return false;
    if (s->mcn >= 0) {
        const sheet_code* mcn = &s->mcns.code[s->mcn];
        if (mcn_well_formed(mcn) && !mcn_is_zero(mcn))
            fprintf(out, "CATALOG %.13s\n", mcn->code);
    }
    fprintf(out, "FILE \"%s\" BINARY\n", image_name);
    for (int n = s->first_track; n <= s->last_track; ++n) {
        const sheet_track* t = &s->track[n];
        if (!cue_can_hold(t))
            continue;
        fprintf(out, "  TRACK %02d %s\n", n, (t->control & CONTROL_DATA) ? "MODE1/2352" : "AUDIO");
        const char* flags[3];
        int count = track_flags(t, flags);
        if (count > 0) {
            fprintf(out, "    FLAGS");
            for (int i = 0; i < count; ++i)
                fprintf(out, " %s", flags[i]);
            fprintf(out, "\n");
        }
        // Unquoted: a quoted ISRC is taken for CD-TEXT by common readers.
        if (t->isrc >= 0 && isrc_well_formed(&t->isrcs.code[t->isrc]))
            fprintf(out, "    ISRC %.12s\n", t->isrcs.code[t->isrc].code);
        for (int i = 0; i < SHEET_INDEXES; ++i) {
            if (!t->index[i].seen)
                continue;
            char time[TIME_TEXT_SIZE];
            format_frames(time, t->index[i].block, ':');
            fprintf(out, "    INDEX %02d %s\n", i, time);
        }
    }
    return true;
}
