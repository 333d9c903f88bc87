// The picture of the disc: a time axis, the tracks with their pregaps and
// index points, where the ISRC and catalogue-number frames are, and the CRC
// errors and frames out of place per second. Plain SVG 1.1: generic font
// families, no script, nothing referred to outside the file. Marks are drawn
// per pixel column and colour, runs of equal columns as one, so that the
// file stays small however long the disc.
#include "sheet/sheet_writers.h"

#include <inttypes.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int WIDTH = 1200, HEIGHT = 420;
const int PLOT_X = 70, PLOT_WIDTH = 1090;  // 00:00 at PLOT_X, the end of the scan at PLOT_X + PLOT_WIDTH
const int AXIS_Y = 84;
const int TRACKS_Y = 92, TRACKS_HEIGHT = 36;
const int ISRC_Y = 138, MCN_Y = 158, LANE_HEIGHT = 14;
const int CRC_Y = 196, CRC_HEIGHT = 110;
const int OUT_OF_PLACE_Y = 340, OUT_OF_PLACE_HEIGHT = 50;

const char TRACK_SHADES[2][8] = {"#3f6f9f", "#6f9cc8"};
const char PREGAP_FILL[] = "#dce7f2";
const char OWN_ISRC[] = "#2e8b57";
const char OTHER_CODE[] = "#e8412c";  // stands out against everything else
const char MCN_COLOUR[] = "#7b5ea7";
const char CRC_COLOUR[] = "#b0302a";
const char OUT_OF_PLACE_COLOUR[] = "#d98c1f";
const char LEAD_OUT_FILL[] = "#8a8a8a";
const char TEXT_FONT[] = "font-family=\"sans-serif\"";

uint64_t disc_frames(uint32_t block) {
    return (uint64_t)disc_frames_of_block(block);
}

struct picture {
    const sheet* s;
    FILE* out;
    uint64_t end;  // disc time at the right end of the axis, in frames
};

double x_of(const picture* p, uint64_t frames) {
    return PLOT_X + (double)PLOT_WIDTH * (double)frames / (double)p->end;
}

// Text with the characters XML gives a meaning escaped: codes are what the
// disc carries, '<' and '>' among them.
std::string escaped(const char* text, size_t n) {
    std::string e;
    for (size_t i = 0; i < n && text[i] != '\0'; ++i) {
        switch (text[i]) {
        case '<': e += "&lt;"; break;
        case '>': e += "&gt;"; break;
        case '&': e += "&amp;"; break;
        case '"': e += "&quot;"; break;
        default: e += text[i]; break;
        }
    }
    return e;
}

void text(const picture* p, double x, double y, const char* anchor, int size, const char* extra, const std::string& t) {
    fprintf(p->out, "<text x=\"%.1f\" y=\"%.1f\" %s font-size=\"%d\" text-anchor=\"%s\"%s>%s</text>\n", x, y, TEXT_FONT,
            size, anchor, extra, t.c_str());
}

void rect(const picture* p, const char* cls, const char* id, double x, double y, double w, double h, const char* fill) {
    fprintf(p->out, "<rect class=\"%s\"%s%s%s x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"/>\n", cls,
            id ? " id=\"" : "", id ? id : "", id ? "\"" : "", x, y, w, h, fill);
}

// A tick every step, the smallest step that gives no more than 12.
void write_axis(const picture* p) {
    const uint64_t steps[] = {10, 30, 60, 300, 600, 1200, 1800, 3600};
    uint64_t seconds = p->end / FRAMES_PER_SECOND, step = steps[7];
    for (uint64_t s : steps)
        if (seconds / s + 1 <= 12) {
            step = s;
            break;
        }
    fprintf(p->out, "<line class=\"axis\" x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#333\"/>\n", PLOT_X, AXIS_Y + 6,
            PLOT_X + PLOT_WIDTH, AXIS_Y + 6);
    for (uint64_t t = 0; t * FRAMES_PER_SECOND <= p->end; t += step) {
        double x = x_of(p, t * FRAMES_PER_SECOND);
        fprintf(p->out, "<line class=\"tick\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#333\"/>\n", x,
                AXIS_Y + 2, x, AXIS_Y + 6);
        char label[32];
        snprintf(label, sizeof label, "%02" PRIu64 ":%02" PRIu64, t / 60, t % 60);
        text(p, x, AXIS_Y - 2, "middle", 11, " class=\"tick-label\"", label);
    }
}

void write_tracks(const picture* p) {
    const sheet* s = p->s;
    text(p, 8, TRACKS_Y + 22, "start", 12, "", "Tracks");
    int shade = 0;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        const sheet_track* t = &s->track[n];
        const sheet_index* first = first_index(t);
        if (!t->seen || first == NULL || t->end <= first->block)
            continue;
        double x0 = x_of(p, disc_frames(first->block)), x1 = x_of(p, disc_frames(t->end));
        char id[32];
        snprintf(id, sizeof id, "track-%d", n);
        rect(p, "track", id, x0, TRACKS_Y, x1 - x0, TRACKS_HEIGHT, TRACK_SHADES[shade]);
        shade ^= 1;
        if (t->index[0].seen && t->index[1].seen && t->index[1].block > t->index[0].block) {
            double xp = x_of(p, disc_frames(t->index[1].block));
            snprintf(id, sizeof id, "pregap-%d", n);
            rect(p, "pregap", id, x0, TRACKS_Y, xp - x0, TRACKS_HEIGHT, PREGAP_FILL);
            fprintf(p->out, "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"url(#hatch)\"/>\n", x0,
                    TRACKS_Y, xp - x0, TRACKS_HEIGHT);
        }
        for (int i = 2; i < SHEET_INDEXES; ++i) {
            if (!t->index[i].seen)
                continue;
            double xi = x_of(p, disc_frames(t->index[i].block));
            fprintf(p->out,
                    "<line class=\"index\" id=\"index-%d-%02d\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" "
                    "stroke=\"#10202f\" stroke-width=\"1.5\"/>\n",
                    n, i, xi, TRACKS_Y, xi, TRACKS_Y + TRACKS_HEIGHT);
        }
        char label[16];
        snprintf(label, sizeof label, "%d", n);
        double label_x = t->index[1].seen ? x_of(p, disc_frames(t->index[1].block)) : x0;
        if (x1 - label_x >= 16)
            text(p, (label_x + x1) / 2, TRACKS_Y + 23, "middle", 12, " class=\"track-label\" fill=\"#fff\"", label);
    }
    if (s->lead_out_seen) {
        rect(p, "lead-out", NULL, PLOT_X + PLOT_WIDTH + 2, TRACKS_Y, 12, TRACKS_HEIGHT, LEAD_OUT_FILL);
        text(p, WIDTH - 2, TRACKS_Y + TRACKS_HEIGHT + 9, "end", 9, "", "lead-out");
    }
}

// The bins a pixel column covers: [first, last].
void bins_of_column(const picture* p, int column, uint32_t* first, uint32_t* last) {
    uint64_t bin_frames = (uint64_t)p->s->seconds_per_bin * FRAMES_PER_SECOND;
    uint64_t from = p->end * (uint64_t)column / PLOT_WIDTH, to = p->end * (uint64_t)(column + 1) / PLOT_WIDTH;
    *first = (uint32_t)(from / bin_frames);
    *last = (uint32_t)((to > from ? to - 1 : from) / bin_frames);
    if (*last >= SHEET_BINS)
        *last = SHEET_BINS - 1;
}

// Draws runs of columns whose value is the same and not 0, as rectangles:
// lanes (height fixed) or bars (height by value against `top`).
void write_runs(const picture* p, const std::vector<double>& value, const char* cls, double y, double height,
                double top, const char* fill) {
    for (int c = 0; c < PLOT_WIDTH;) {
        int run = c;
        while (run < PLOT_WIDTH && value[run] == value[c])
            ++run;
        if (value[c] > 0) {
            double h = top > 0 ? height * value[c] / top : height;
            rect(p, cls, NULL, PLOT_X + c, y + height - h, run - c, h, fill);
        }
        c = run;
    }
}

void write_codes(const picture* p) {
    const sheet* s = p->s;
    std::vector<double> own(PLOT_WIDTH), other(PLOT_WIDTH), mcn(PLOT_WIDTH), other_mcn(PLOT_WIDTH);
    uint16_t own_mcn = s->mcn >= 0 ? (uint16_t)(1u << s->mcn) : 0;
    for (int c = 0; c < PLOT_WIDTH; ++c) {
        uint32_t first, last;
        bins_of_column(p, c, &first, &last);
        for (uint32_t b = first; b <= last; ++b) {
            const sheet_bin* bin = &s->bins[b];
            for (uint16_t ref : bin->isrcs) {
                if (ref == 0)
                    continue;
                int track = (ref - 1) / (SHEET_CODES + 1), place = (ref - 1) % (SHEET_CODES + 1);
                (place == s->track[track].isrc ? own : other)[c] = 1;
            }
            if (bin->more_isrcs)
                other[c] = 1;
            if (bin->mcns & own_mcn)
                mcn[c] = 1;
            if (bin->mcns & ~own_mcn)
                other_mcn[c] = 1;
        }
    }
    text(p, 8, ISRC_Y + 11, "start", 12, "", "ISRC");
    text(p, 8, MCN_Y + 11, "start", 12, "", "MCN");
    rect(p, "lane", NULL, PLOT_X, ISRC_Y, PLOT_WIDTH, LANE_HEIGHT, "#f2f2f2");
    rect(p, "lane", NULL, PLOT_X, MCN_Y, PLOT_WIDTH, LANE_HEIGHT, "#f2f2f2");
    write_runs(p, own, "isrc-own", ISRC_Y, LANE_HEIGHT, 0, OWN_ISRC);
    write_runs(p, other, "isrc-other", ISRC_Y, LANE_HEIGHT, 0, OTHER_CODE);
    write_runs(p, mcn, "mcn", MCN_Y, LANE_HEIGHT, 0, MCN_COLOUR);
    write_runs(p, other_mcn, "mcn-other", MCN_Y, LANE_HEIGHT, 0, OTHER_CODE);
}

// A bar chart of a count per second, per pixel column the highest second
// it covers, with its scale: an empty chart for a count that is 0 throughout.
void write_chart(const picture* p, uint32_t sheet_bin::*count, const char* title, const char* cls, int y,
                 int height, const char* fill) {
    const sheet* s = p->s;
    std::vector<double> per_second(PLOT_WIDTH);
    double top = 0;
    for (int c = 0; c < PLOT_WIDTH; ++c) {
        uint32_t first, last;
        bins_of_column(p, c, &first, &last);
        for (uint32_t b = first; b <= last; ++b) {
            double v = (double)(s->bins[b].*count) / s->seconds_per_bin;
            if (v > per_second[c])
                per_second[c] = v;
        }
        if (per_second[c] > top)
            top = per_second[c];
    }
    char label[96];
    snprintf(label, sizeof label, "%s per second", title);
    text(p, PLOT_X, y - 6, "start", 12, "", label);
    fprintf(p->out,
            "<rect class=\"chart\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#fafafa\" stroke=\"#999\" "
            "stroke-width=\"0.5\"/>\n",
            PLOT_X, y, PLOT_WIDTH, height);
    double scale = top > 0 ? top : 1;
    snprintf(label, sizeof label, "%g", scale);
    text(p, PLOT_X - 6, y + 10, "end", 10, " class=\"scale-top\"", label);
    text(p, PLOT_X - 6, y + height, "end", 10, " class=\"scale-bottom\"", "0");
    if (top == 0)
        text(p, PLOT_X + PLOT_WIDTH / 2, y + height / 2 + 4, "middle", 11, " fill=\"#777\"", "none");
    write_runs(p, per_second, cls, y, height, scale, fill);
}

void write_legend(const picture* p) {
    const struct {
        const char* fill;
        const char* words;
    } items[] = {
        {TRACK_SHADES[0], "track"},
        {PREGAP_FILL, "pregap (index 00)"},
        {OWN_ISRC, "the track's own ISRC"},
        {OTHER_CODE, "another code"},
        {MCN_COLOUR, "catalogue number"},
        {CRC_COLOUR, "CRC errors"},
        {OUT_OF_PLACE_COLOUR, "frames out of place"},
    };
    double x = PLOT_X;
    for (const auto& item : items) {
        rect(p, "legend", NULL, x, 44, 12, 12, item.fill);
        text(p, x + 16, 54, "start", 11, "", item.words);
        x += 22 + 6.2 * (double)strlen(item.words) + 12;
    }
    fprintf(p->out, "<line x1=\"%.1f\" y1=\"44\" x2=\"%.1f\" y2=\"56\" stroke=\"#10202f\" stroke-width=\"1.5\"/>\n", x,
            x);
    text(p, x + 6, 54, "start", 11, "", "index 02 and above");
}

}  // namespace

void write_svg(const sheet* s, FILE* out) {
    picture p = {s, out, disc_frames(s->lead_out)};
    if (p.end == 0)
        p.end = 1;
    fprintf(out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%d\" height=\"%d\" "
            "viewBox=\"0 0 %d %d\">\n",
            WIDTH, HEIGHT, WIDTH, HEIGHT);
    fprintf(out,
            "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
            "<path d=\"M0,6 L6,0\" stroke=\"#9bb3cc\" stroke-width=\"1\"/></pattern></defs>\n"
            "<rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>\n",
            WIDTH, HEIGHT);

    int tracks = 0;
    for (int n = 1; n <= DISC_TRACKS; ++n)
        tracks += s->track[n].seen;
    char length[TIME_TEXT_SIZE];
    format_frames(length, p.end, '.');
    std::string title;
    cd_text cd;
    std::string none;
    const cd_text_block* b = sheet_cd_text(s, &cd, &none) ? first_readable_block(&cd) : NULL;
    if (b != NULL && !(b->text[0][TEXT_TITLE].empty() && b->text[0][TEXT_PERFORMER].empty())) {
        std::string t = printable(b->text[0][TEXT_TITLE]), p = printable(b->text[0][TEXT_PERFORMER]);
        title += escaped(t.c_str(), t.size()) + (p.empty() ? "" : " \xE2\x80\x94 " + escaped(p.c_str(), p.size())) +
                 " \xC2\xB7 ";
    }
    title += "Catalogue number ";
    title += s->mcn >= 0 ? escaped(s->mcns.code[s->mcn].code, MCN_LENGTH) : std::string("none");
    char figures[160];
    snprintf(figures, sizeof figures, " \xC2\xB7 %d track%s \xC2\xB7 %s \xC2\xB7 %" PRIu32 " CRC error%s", tracks,
             tracks == 1 ? "" : "s", length, s->crc_errors, s->crc_errors == 1 ? "" : "s");
    title += figures;
    text(&p, PLOT_X, 26, "start", 16, " id=\"title\" font-weight=\"bold\"", title);

    write_legend(&p);
    write_axis(&p);
    fprintf(out, "<rect id=\"plot\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#eee\"/>\n", PLOT_X, TRACKS_Y,
            PLOT_WIDTH, TRACKS_HEIGHT);
    write_tracks(&p);
    write_codes(&p);
    write_chart(&p, &sheet_bin::crc_errors, "CRC errors", "crc-bar", CRC_Y, CRC_HEIGHT, CRC_COLOUR);
    write_chart(&p, &sheet_bin::out_of_place, "Frames out of place", "out-of-place-bar", OUT_OF_PLACE_Y,
                OUT_OF_PLACE_HEIGHT, OUT_OF_PLACE_COLOUR);
    fprintf(out, "</svg>\n");
}
