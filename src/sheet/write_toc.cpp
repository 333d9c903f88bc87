// The sheet as a TOC file, for burning a 1:1 copy of the disc from the
// image a cue sheet describes; what it cannot say goes to the notes.
#include "sheet/sheet_writers.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "drive/drive.h"  // SECTOR_MAIN_SIZE

namespace {

const image_form TOC_FILE = {"TOC file", "the TOC file numbers its tracks one after another from 1, as every TOC "
                                         "file does",
                             "START", {"AUDIO", "MODE1_RAW", "MODE2_RAW"}};

// A string of the TOC file, quoted: a quote as \", a backslash and every
// byte that is not printable ASCII as an octal escape ("Caf\351",
// "C:\134disc.bin"). The format has no escape for a backslash of its own:
// one before a quote or a digit begins an escape.
std::string quoted(const std::string& bytes) {
    std::string q = "\"";
    for (unsigned char c : bytes) {
        char escape[8];
        snprintf(escape, sizeof escape, "\\%03o", c);
        q += c == '"' ? "\\\"" : c == '\\' || c < ' ' || c >= 0x7F ? std::string(escape) : std::string(1, (char)c);
    }
    return q + "\"";
}

// Blocks as the format's time, "mm:ss:ff".
std::string toc_time(uint32_t blocks) {
    char time[TIME_TEXT_SIZE];
    format_frames(time, blocks, ':');
    return time;
}

// The CD-Text items in the order of their pack types; the disc's UPC/EAN
// and a track's ISRC share a type.
const struct {
    int kind;
    const char* item;
} TEXT_ITEMS[] = {{TEXT_TITLE, "TITLE"},       {TEXT_PERFORMER, "PERFORMER"}, {TEXT_SONGWRITER, "SONGWRITER"},
                  {TEXT_COMPOSER, "COMPOSER"}, {TEXT_ARRANGER, "ARRANGER"},   {TEXT_MESSAGE, "MESSAGE"},
                  {TEXT_DISC_ID, "DISC_ID"},   {TEXT_GENRE, "GENRE"},         {TEXT_CODE, "UPC_EAN"}};

// A CD-Text block as the TOC file writes it. A TOC file that gives one of
// the titles, performers, songwriters, composers, arrangers or codes for
// the disc or a track must give it for the disc and every track (an empty
// text where there is none), and the codes too wherever the disc has an ID.
struct text_block {
    const cd_text_block* b;
    bool everywhere[CD_TEXT_KINDS];
};

bool given_everywhere(int kind) {
    return kind <= TEXT_ARRANGER || kind == TEXT_CODE;
}

// The blocks a TOC file can hold, of the texts of the disc and `tracks`;
// on `notes` a line for each left out.
std::vector<text_block> text_blocks(const cd_text* text, const std::vector<image_track>& tracks, std::string* notes) {
    std::vector<text_block> blocks;
    for (const cd_text_block& b : text->blocks) {
        if (b.double_byte) {  // the format has no way to say a block's character code
            const char* name = cd_text_language(b.language);
            std::string language = name != NULL ? name : "language code " + std::to_string(b.language);
            put(notes, "CD-Text block %u (%s) left out of the TOC file: it is in double-byte characters, which a "
                       "TOC file cannot declare\n", b.number, language.c_str());
            continue;
        }
        text_block w = {&b, {}};
        for (int k = 0; k < CD_TEXT_KINDS; ++k) {
            bool any = !b.text[0][k].empty() || (k == TEXT_CODE && !b.text[0][TEXT_DISC_ID].empty());
            for (const image_track& t : tracks)
                any = any || !b.text[t.number][k].empty();
            w.everywhere[k] = any && given_everywhere(k);
        }
        blocks.push_back(w);
    }
    return blocks;
}

// A block's items for track n (0: the disc), one line each.
std::string text_items(const text_block& w, unsigned n) {
    std::string items;
    for (const auto& i : TEXT_ITEMS) {
        const std::string& text = w.b->text[n][i.kind];
        const char* item = i.kind == TEXT_CODE && n > 0 ? "ISRC" : i.item;
        if (i.kind == TEXT_GENRE) {
            // The genre code's two bytes, then its text, as the pack holds them.
            if (n > 0 || (w.b->genre == 0 && text.empty()))
                continue;
            put(&items, "    GENRE { %u, %u", (unsigned)(w.b->genre >> 8), (unsigned)(w.b->genre & 0xFF));
            for (char c : cd_text_bytes(text))
                put(&items, ", %u", (unsigned)(unsigned char)c);
            put(&items, ", 0 }\n");
        } else if (!text.empty() || w.everywhere[i.kind]) {
            put(&items, "    %s %s\n", item, quoted(cd_text_bytes(text)).c_str());
        }
    }
    return items;
}

// The disc's CD-Text (n 0), with the map of its blocks to their languages,
// or a track's.
void write_cd_text(const std::vector<text_block>& blocks, unsigned n, std::string* out) {
    std::string languages;
    for (const text_block& w : blocks) {
        std::string items = text_items(w, n);
        if (!items.empty() || n == 0)  // every language mapped has its block
            put(&languages, "  LANGUAGE %u {\n%s  }\n", w.b->number, items.c_str());
    }
    if (languages.empty())
        return;
    put(out, "CD_TEXT {\n");
    if (n == 0) {
        put(out, "  LANGUAGE_MAP {\n");
        for (const text_block& w : blocks)
            put(out, "    %u : %u\n", w.b->number, (unsigned)w.b->language);
        put(out, "  }\n");
    }
    put(out, "%s}\n", languages.c_str());
}

// The flags a TOC file sets, by the names track_flags gives them.
const struct {
    const char* flag;
    const char* statement;
} FLAG_STATEMENTS[] = {{"DCP", "COPY"}, {"4CH", "FOUR_CHANNEL_AUDIO"}, {"PRE", "PRE_EMPHASIS"}};

}  // namespace

int write_toc_file(const disc_sheet* d, const char* image_name, std::string* out, std::string* notes,
                   std::string* why) {
    const sheet* s = &d->s;
    std::string said;
    std::vector<image_track> tracks = image_tracks(s, &TOC_FILE, &said);
    if (tracks.empty())
        return IMAGE_FORM_NO_TRACK;
    if (!image_holds(tracks, image_name, why))
        return IMAGE_FORM_UNFIT;
    bool wave = image_is_wave(image_name), data = false, mode_2 = false;
    for (const image_track& t : tracks)
        if (t.t->control & CONTROL_DATA) {
            data = true;
            mode_2 = mode_2 || t.t->mode == 2;
        }
    *notes += said;
    put(out, "%s\n", !data ? "CD_DA" : mode_2 ? "CD_ROM_XA" : "CD_ROM");
    const sheet_code* mcn = image_mcn(s, notes);
    if (mcn != NULL)
        put(out, "CATALOG \"%.13s\"\n", mcn->code);
    cd_text text;
    std::string none;
    std::vector<text_block> blocks;
    if (sheet_cd_text(d, &text, &none))
        blocks = text_blocks(&text, tracks, notes);
    write_cd_text(blocks, 0, out);
    std::string file = quoted(image_name);
    for (size_t k = 0; k < tracks.size(); ++k) {
        const image_track& track = tracks[k];
        const sheet_track* t = track.t;
        // The track's stretch of the image: from its first point to the next
        // track's, the last to the end of the session (the lead-out).
        uint32_t start = track.points.front().block, one = start;
        for (const image_point& p : track.points)
            if (p.index == 1)
                one = p.block;
        uint32_t end = k + 1 < tracks.size() ? tracks[k + 1].points.front().block : s->lead_out;
        if (end <= track.points.back().block)  // a lead-out the frames contradict: the points are kept
            end = track.points.back().block + 1;
        put(out, "\n// Track %d\nTRACK %s\n", track.number, image_track_mode(&TOC_FILE, t));
        const char* flags[3];
        int count = track_flags(t, flags);
        for (int i = 0; i < count; ++i)
            for (const auto& f : FLAG_STATEMENTS)
                if (strcmp(flags[i], f.flag) == 0)
                    put(out, "%s\n", f.statement);
        const sheet_code* isrc = image_isrc(s, track.number, notes);
        if (isrc != NULL && !(t->control & CONTROL_DATA))  // a data track has none
            put(out, "ISRC \"%.12s\"\n", isrc->code);
        write_cd_text(blocks, (unsigned)track.number, out);
        uint64_t offset = (uint64_t)start * SECTOR_MAIN_SIZE;
        if (t->control & CONTROL_DATA)
            put(out, "DATAFILE %s #%" PRIu64 " %s\n", file.c_str(), offset, toc_time(end - start).c_str());
        else if (wave)  // a WAVE file's audio is counted from its first sample, after its header
            put(out, "FILE %s %s %s\n", file.c_str(), toc_time(start).c_str(), toc_time(end - start).c_str());
        else  // the drive's samples are little-endian, where a raw audio file's are read as big-endian
            put(out, "FILE %s SWAP #%" PRIu64 " 0 %s\n", file.c_str(), offset, toc_time(end - start).c_str());
        if (one > start)
            put(out, "START %s\n", toc_time(one - start).c_str());
        for (const image_point& p : track.points)
            if (p.index >= 2)  // counted from index 01
                put(out, "INDEX %s\n", toc_time(p.block - one).c_str());
    }
    return IMAGE_FORM_WRITTEN;
}
