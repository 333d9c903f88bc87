// The sheet as a cue sheet for an image of the disc from block 0, in the
// standard commands alone, as the strictest readers accept it; what it
// cannot say goes to the notes.
#include "sheet/sheet_writers.h"

#include "sheet/disc_ids.h"

namespace {

// The first readable CD-Text block's title, performer and songwriter for a
// track (0: the disc), quoted; a double quote in a text as a single one.
void write_cd_texts(const cd_text_block* b, unsigned track, const char* indent, std::string* out, std::string* notes) {
    const struct {
        int kind;
        const char* command;
    } fields[] = {{TEXT_TITLE, "TITLE"}, {TEXT_PERFORMER, "PERFORMER"}, {TEXT_SONGWRITER, "SONGWRITER"}};
    for (const auto& f : fields) {
        if (b == NULL || b->text[track][f.kind].empty())
            continue;
        const std::string& text = b->text[track][f.kind];
        put(out, "%s%s \"%s\"\n", indent, f.command, printable(text, '"').c_str());
        if (text.find('"') != std::string::npos)  // a cue field has no way to hold one
            put(notes, "%s%s's CD-Text %s holds a double quote, written as a single one\n", track == 0 ? "the disc" : "track ",
                track == 0 ? "" : std::to_string(track).c_str(), f.command);
    }
}

const image_form CUE_SHEET = {"cue sheet", "the cue sheet numbers its tracks as the disc does", "INDEX 00",
                              {"AUDIO", "MODE1/2352", "MODE2/2352"}};

}  // namespace

int write_cue(const disc_sheet* d, const char* image_name, std::string* out, std::string* notes, std::string* why) {
    const sheet* s = &d->s;
    std::string said;
    std::vector<image_track> tracks = image_tracks(s, &CUE_SHEET, &said);
    if (tracks.empty())
        return IMAGE_FORM_NO_TRACK;
    if (!image_holds(tracks, image_name, why))
        return IMAGE_FORM_UNFIT;
    *notes += said;
    disc_ids ids;
    std::string no_ids;
    if (sheet_ids(d, &ids, &no_ids))
        put(out, "REM DISCID %s\n", ids.freedb.c_str());  // as rippers write it
    const sheet_code* mcn = image_mcn(s, notes);
    if (mcn != NULL)
        put(out, "CATALOG %.13s\n", mcn->code);
    cd_text text;
    std::string none;
    const cd_text_block* texts = sheet_cd_text(d, &text, &none) ? first_readable_block(&text) : NULL;
    write_cd_texts(texts, 0, "", out, notes);
    put(out, "FILE \"%s\" %s\n", image_name, image_is_wave(image_name) ? "WAVE" : "BINARY");
    for (const image_track& track : tracks) {
        const sheet_track* t = track.t;
        put(out, "  TRACK %02d %s\n", track.number, image_track_mode(&CUE_SHEET, t));
        write_cd_texts(texts, (unsigned)track.number, "    ", out, notes);
        const char* flags[3];
        int count = track_flags(t, flags);
        if (count > 0) {
            put(out, "    FLAGS");
            for (int i = 0; i < count; ++i)
                put(out, " %s", flags[i]);
            put(out, "\n");
        }
        // Unquoted: a quoted ISRC is taken for CD-TEXT by common readers.
        const sheet_code* isrc = image_isrc(s, track.number, notes);
        if (isrc != NULL)
            put(out, "    ISRC %.12s\n", isrc->code);
        for (const image_point& p : track.points) {
            char time[TIME_TEXT_SIZE];
            format_frames(time, p.block, ':');
            put(out, "    INDEX %02d %s\n", p.index, time);
        }
    }
    return IMAGE_FORM_WRITTEN;
}
