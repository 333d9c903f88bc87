// The picture of the disc: a time axis, which blocks were read, the tracks
// with their pregaps and index points, where the ISRC and catalogue-number
// frames are, and the CRC errors and frames out of place per second, under a
// title and a legend of exactly the marks drawn. Plain SVG 1.1: generic font
// families, no script, nothing referred to outside the file. Marks are drawn
// per pixel column, runs of equal columns as one, so that the file stays
// small however long the disc.
#include "sheet/sheet_writers.h"

#include <inttypes.h>
#include <stdarg.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int WIDTH = 1200;
const int PLOT_X = 70, PLOT_WIDTH = 1090;  // 00:00 at PLOT_X, the end of the scan at PLOT_X + PLOT_WIDTH
const int TEXT_RIGHT = WIDTH - 10;          // where the title and the legend must end

// The plot, in its own coordinates: y 0 is the tick labels' baseline. The
// title and the legend above it take the lines they need.
const int AXIS_Y = 6;
const int READ_Y = 11, READ_HEIGHT = 10;
const int TRACKS_Y = 26, TRACKS_HEIGHT = 36;
const int ISRC_Y = 70, MCN_Y = 88, LANE_HEIGHT = 14;
const int CRC_Y = 124, CRC_HEIGHT = 110;
const int OUT_OF_PLACE_Y = 262, OUT_OF_PLACE_HEIGHT = 50;
const int PLOT_BOTTOM = 330;
const int LEAD_OUT_X = PLOT_X + PLOT_WIDTH + 2, LEAD_OUT_WIDTH = 12;
const int INEXACT_WIDTH = 3;  // an index start's range narrower than this is drawn this wide, ending at its block

// Above the plot, a line each: the CD-Text title and performer (at most
// HEADING_LINES, the last cut short with an ellipsis), the figures, the
// legend's rows.
const int TOP_MARGIN = 8;
const int HEADING_SIZE = 16, HEADING_LINE = 21, HEADING_LINES = 2;
const int FIGURES_SIZE = 13, FIGURES_LINE = 19;
const int LEGEND_SIZE = 11, LEGEND_LINE = 19, SWATCH = 12;
const int LEGEND_GAP = 12;       // between one entry's words and the next swatch
const int PLOT_LABEL_ROOM = 22;  // from the legend's last baseline to the tick labels'
const int NOTE_SIZE = 11;        // the words in an empty chart

const char TRACK_SHADES[2][8] = {"#3f6f9f", "#6f9cc8"};
const char DATA_SHADES[2][8] = {"#8a5a2b", "#b98a55"};  // brown beside audio's blue
const char PREGAP_FILL[] = "#dce7f2";
const char HATCH[] = "url(#hatch)";
const char INDEX_LOOK[] = "fill=\"none\" stroke=\"#10202f\" stroke-width=\"1.5\"";
const char INEXACT_LOOK[] =
    "fill=\"#f5b82e\" fill-opacity=\"0.45\" stroke=\"#f5b82e\" stroke-width=\"1.5\" stroke-dasharray=\"3,2\"";
const char FROM_TOC_LOOK[] = "fill=\"#fff\" stroke=\"#10202f\" stroke-width=\"1\"";
const char LEAD_OUT_FILL[] = "#8a8a8a";
const char OWN_ISRC[] = "#2e8b57";
const char OTHER_CODE[] = "#e8412c";  // stands out against everything else
const char MCN_COLOUR[] = "#7b5ea7";
const char CRC_COLOUR[] = "#b0302a";
const char OUT_OF_PLACE_COLOUR[] = "#d98c1f";
const char NOT_READ_FILL[] = "url(#not-read)";
const char UNREADABLE_COLOUR[] = "#262626";
const char MISSING_COLOUR[] = "#d6589f";
// Unreadable and missing over the code lanes and the charts: faint enough
// that the lanes' and charts' edges show through.
const char OVER_LANES[] = " fill-opacity=\"0.4\"";
const char LANE_FILL[] = "#f2f2f2";
const char TEXT_FONT[] = "font-family=\"sans-serif\"";
const char ELLIPSIS[] = "\xE2\x80\xA6";
const char SEPARATOR[] = " \xC2\xB7 ";

// The kinds of mark, each with its class in the picture and its words in
// the legend, which lists those drawn in this order.
enum mark {
    MARK_TRACK,
    MARK_DATA_TRACK,
    MARK_PREGAP,
    MARK_INDEX,
    MARK_INEXACT,
    MARK_FROM_TOC,
    MARK_LEAD_OUT,
    MARK_OWN_ISRC,
    MARK_OTHER_CODE,
    MARK_MCN,
    MARK_CRC,
    MARK_OUT_OF_PLACE,
    MARK_NOT_READ,
    MARK_UNREADABLE,
    MARK_MISSING,
    MARKS
};
const struct {
    const char* cls;
    const char* words;
} MARK_NAMES[MARKS] = {
    {"track", "audio track"},
    {"data-track", "data track"},
    {"pregap", "pregap (index 00), hatched"},
    {"index", "index 02 and above"},
    {"inexact", "start not exact: within the dashed range"},
    {"from-toc", "point from the table of contents"},
    {"lead-out", "lead-out"},
    {"isrc-own", "the track's own ISRC"},
    {"other-code", "another code"},
    {"mcn", "catalogue number"},
    {"crc-bar", "CRC errors"},
    {"out-of-place-bar", "frames out of place"},
    {"not-read", "not read"},
    {"unreadable", "unreadable"},
    {"missing", "missing from the scan"},
};

std::string fill(const char* colour) {
    return std::string("fill=\"") + colour + "\"";
}

uint64_t disc_frames(uint32_t block) {
    return (uint64_t)disc_frames_of_block(block);
}

struct picture {
    const sheet* s;
    uint64_t end;       // disc time at the right end of the axis, in frames
    std::string body;   // the plot, drawn before the legend knows what it holds
    bool drawn[MARKS];  // ... and the kinds of mark in it
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

std::string escaped(const std::string& text) {
    return escaped(text.c_str(), text.size());
}


// The width of a UTF-8 text in sans-serif at `size` pixels, estimated high
// enough for the common faces (in DejaVu Sans, bold capitals average 0.75 em,
// bold "m" and "W" 1.1 em): 0.6 em a character (0.68 bold), 0.72 (0.8) for
// capitals, digits and letters beyond ASCII, 1 em (1.12) for the widest and
// for scripts of wide characters. "Catalogue number" at 13 pixels: 131.6.
double text_width(const std::string& text, int size, bool bold) {
    double ems = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        uint32_t code = c;
        size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (length > 1) {
            code = c & (0x7F >> length);
            for (size_t k = 1; k < length && i + k < text.size(); ++k)
                code = code << 6 | ((unsigned char)text[i + k] & 0x3F);
        }
        i += length;
        bool widest = (code < 0x80 && strchr("mwMW@%", (int)code) != NULL) || code == 0x2014 || code >= 0x1100;
        bool wide = (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9') || code >= 0x80;
        ems += widest ? (bold ? 1.12 : 1.0) : wide ? (bold ? 0.8 : 0.72) : (bold ? 0.68 : 0.6);
    }
    return ems * size;
}

// The bytes of the first `count` characters of a UTF-8 text.
size_t characters(const std::string& text, size_t count) {
    size_t at = 0;
    for (; at < text.size() && count > 0; --count)
        for (++at; at < text.size() && ((unsigned char)text[at] & 0xC0) == 0x80;)
            ++at;
    return at;
}

// The longest start of `text` that fits `room`: whole words where one fits,
// else as many characters as fit (at least one, so that every line takes
// something).
size_t line_end(const std::string& text, int size, bool bold, double room) {
    size_t fit = 0, words = 0;
    for (size_t n = 1; characters(text, n) > fit; ++n) {
        size_t end = characters(text, n);
        if (text_width(text.substr(0, end), size, bold) > room)
            break;
        fit = end;
        if (end == text.size() || text[end] == ' ')
            words = end;
    }
    return words > 0 ? words : fit > 0 ? fit : characters(text, 1);
}

// A text in lines that fit `room`, broken between words; past `most` lines
// (0: no limit) the last ends in an ellipsis.
std::vector<std::string> wrapped(std::string text, int size, bool bold, double room, int most) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        if (most > 0 && (int)lines.size() == most - 1 && text_width(text, size, bold) > room) {
            size_t end = line_end(text, size, bold, room - text_width(ELLIPSIS, size, bold));
            lines.push_back(text.substr(0, end) + ELLIPSIS);
            break;
        }
        size_t end = line_end(text, size, bold, room);
        lines.push_back(text.substr(0, end));
        text.erase(0, end);
        while (!text.empty() && text[0] == ' ')
            text.erase(0, 1);
    }
    return lines;
}

void text(std::string* to, double x, double y, const char* anchor, int size, const char* extra, const std::string& t) {
    put(to, "<text x=\"%.1f\" y=\"%.1f\" %s font-size=\"%d\" text-anchor=\"%s\"%s>%s</text>\n", x, y, TEXT_FONT, size,
        anchor, extra, t.c_str());
}

void rect(std::string* to, const char* cls, const char* id, double x, double y, double w, double h,
          const std::string& look) {
    put(to, "<rect%s%s%s%s%s%s x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" %s/>\n", cls ? " class=\"" : "",
        cls ? cls : "", cls ? "\"" : "", id ? " id=\"" : "", id ? id : "", id ? "\"" : "", x, y, w, h, look.c_str());
}

// A mark of a kind, noted for the legend.
void mark_rect(picture* p, int kind, const char* id, double x, double y, double w, double h, const std::string& look) {
    rect(&p->body, MARK_NAMES[kind].cls, id, x, y, w, h, look);
    p->drawn[kind] = true;
}

// A triangle pointing down at x from y: a point the table of contents gives.
void toc_triangle(std::string* to, const char* id, double x, double y) {
    put(to, "<path class=\"%s\"%s%s%s d=\"M%.1f,%.1f L%.1f,%.1f L%.1f,%.1f Z\" %s/>\n", MARK_NAMES[MARK_FROM_TOC].cls,
        id ? " id=\"" : "", id ? id : "", id ? "\"" : "", x - 5, y, x + 5, y, x, y + 8, FROM_TOC_LOOK);
}

void index_line(std::string* to, const char* id, double x, double y, double h) {
    put(to, "<line class=\"%s\"%s%s%s x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" %s/>\n", MARK_NAMES[MARK_INDEX].cls,
        id ? " id=\"" : "", id ? id : "", id ? "\"" : "", x, y, x, y + h, INDEX_LOOK);
}

// A tick every step, the smallest step that gives no more than 12.
void write_axis(picture* p) {
    const uint64_t steps[] = {10, 30, 60, 300, 600, 1200, 1800, 3600};
    uint64_t seconds = p->end / FRAMES_PER_SECOND, step = steps[7];
    for (uint64_t s : steps)
        if (seconds / s + 1 <= 12) {
            step = s;
            break;
        }
    put(&p->body, "<line class=\"axis\" x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#333\"/>\n", PLOT_X, AXIS_Y,
        PLOT_X + PLOT_WIDTH, AXIS_Y);
    for (uint64_t t = 0; t * FRAMES_PER_SECOND <= p->end; t += step) {
        double x = x_of(p, t * FRAMES_PER_SECOND);
        put(&p->body, "<line class=\"tick\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#333\"/>\n", x,
            AXIS_Y - 4, x, AXIS_Y);
        char label[32];
        snprintf(label, sizeof label, "%02" PRIu64 ":%02" PRIu64, t / 60, t % 60);
        text(&p->body, x, 0, "middle", 11, " class=\"tick-label\"", label);
    }
}

// The range of an index start that is not known to the block: from the
// earliest block it may begin at to the block the sheet gives.
void write_inexact(picture* p, int n, int i, const sheet_index* index) {
    double x0 = x_of(p, disc_frames(index->earliest < index->block ? index->earliest : index->block));
    double x1 = x_of(p, disc_frames(index->block));
    if (x1 - x0 < INEXACT_WIDTH)
        x0 = x1 - INEXACT_WIDTH;
    char id[32];
    snprintf(id, sizeof id, "inexact-%d-%02d", n, i);
    mark_rect(p, MARK_INEXACT, id, x0, TRACKS_Y + 1, x1 - x0, TRACKS_HEIGHT - 2, INEXACT_LOOK);
}

void write_tracks(picture* p) {
    const sheet* s = p->s;
    text(&p->body, 8, TRACKS_Y + 22, "start", 12, "", "Tracks");
    double right = PLOT_X + PLOT_WIDTH;
    int shade = 0;
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n) {
        const sheet_track* t = &s->track[n];
        const sheet_index* first = first_index(t);
        // A later session's tracks lie past the axis, which ends at the first session's lead-out.
        if (!t->seen || first == NULL || t->end <= first->block || disc_frames(first->block) >= p->end)
            continue;
        double x0 = x_of(p, disc_frames(first->block));
        double x1 = disc_frames(t->end) < p->end ? x_of(p, disc_frames(t->end)) : right;
        bool data = (t->control & CONTROL_DATA) != 0;
        char id[32];
        snprintf(id, sizeof id, "track-%d", n);
        mark_rect(p, data ? MARK_DATA_TRACK : MARK_TRACK, id, x0, TRACKS_Y, x1 - x0, TRACKS_HEIGHT,
                  fill((data ? DATA_SHADES : TRACK_SHADES)[shade]));
        shade ^= 1;
        if (t->index[0].seen && t->index[1].seen && t->index[1].block > t->index[0].block) {
            double xp = x_of(p, disc_frames(t->index[1].block));
            snprintf(id, sizeof id, "pregap-%d", n);
            mark_rect(p, MARK_PREGAP, id, x0, TRACKS_Y, xp - x0, TRACKS_HEIGHT, fill(PREGAP_FILL));
            mark_rect(p, MARK_PREGAP, NULL, x0, TRACKS_Y, xp - x0, TRACKS_HEIGHT, fill(HATCH));
        }
        for (int i = 2; i < SHEET_INDEXES; ++i) {
            if (!t->index[i].seen || disc_frames(t->index[i].block) >= p->end)
                continue;
            snprintf(id, sizeof id, "index-%d-%02d", n, i);
            index_line(&p->body, id, x_of(p, disc_frames(t->index[i].block)), TRACKS_Y, TRACKS_HEIGHT);
            p->drawn[MARK_INDEX] = true;
        }
        for (int i = 0; i < SHEET_INDEXES; ++i) {
            const sheet_index* index = &t->index[i];
            if (!index->seen || disc_frames(index->block) >= p->end)
                continue;
            if (index->from_toc) {
                snprintf(id, sizeof id, "toc-%d-%02d", n, i);
                toc_triangle(&p->body, id, x_of(p, disc_frames(index->block)), TRACKS_Y);
                p->drawn[MARK_FROM_TOC] = true;
            } else if (!index->exact) {
                write_inexact(p, n, i, index);
            }
        }
        char label[16];
        snprintf(label, sizeof label, "%d", n);
        double label_x = t->index[1].seen ? x_of(p, disc_frames(t->index[1].block)) : x0;
        if (x1 - label_x >= 16)
            text(&p->body, (label_x + x1) / 2, TRACKS_Y + 23, "middle", 12, " class=\"track-label\" fill=\"#fff\"",
                 label);
    }
    if (s->lead_out_seen || s->lead_out_from_toc) {
        mark_rect(p, MARK_LEAD_OUT, "lead-out", LEAD_OUT_X, TRACKS_Y, LEAD_OUT_WIDTH, TRACKS_HEIGHT,
                  fill(LEAD_OUT_FILL));
        if (s->lead_out_from_toc) {
            toc_triangle(&p->body, "toc-lead-out", LEAD_OUT_X + LEAD_OUT_WIDTH / 2.0, TRACKS_Y);
            p->drawn[MARK_FROM_TOC] = true;
        }
    }
}

// The disc frames a pixel column covers: [*from, *to), never empty.
void frames_of_column(const picture* p, int column, uint64_t* from, uint64_t* to) {
    *from = p->end * (uint64_t)column / PLOT_WIDTH;
    *to = p->end * (uint64_t)(column + 1) / PLOT_WIDTH;
    if (*to <= *from)
        *to = *from + 1;
}

// The bins a pixel column covers: [first, last].
void bins_of_column(const picture* p, int column, uint32_t* first, uint32_t* last) {
    uint64_t bin_frames = (uint64_t)p->s->seconds_per_bin * FRAMES_PER_SECOND, from, to;
    frames_of_column(p, column, &from, &to);
    *first = (uint32_t)(from / bin_frames);
    *last = (uint32_t)((to - 1) / bin_frames);
    if (*last >= SHEET_BINS)
        *last = SHEET_BINS - 1;
}

// Draws runs of columns whose value is the same and not 0, as rectangles:
// lanes (height fixed) or bars (height by value against `top`).
void write_runs(picture* p, const std::vector<double>& value, int kind, double y, double height, double top,
                const std::string& look) {
    for (int c = 0; c < PLOT_WIDTH;) {
        int run = c;
        while (run < PLOT_WIDTH && value[run] == value[c])
            ++run;
        if (value[c] > 0) {
            double h = top > 0 ? height * value[c] / top : height;
            mark_rect(p, kind, NULL, PLOT_X + c, y + height - h, run - c, h, look);
        }
        c = run;
    }
}

// A run of pixel columns [first, end) that lack the same: a mark kind.
struct lack_run {
    int first, end, kind;
};

// What the pixel columns lack, in runs: in the lane of blocks read, a column
// with a block that has no frame shows it, and one with no block read is
// not read; over the codes and the charts only a column without a block
// read is marked, for what is drawn there counts the blocks read.
struct lacks {
    std::vector<lack_run> lane, over;
};

void add_column(std::vector<lack_run>* runs, int column, int kind) {
    if (kind == MARKS)
        return;
    if (!runs->empty() && runs->back().end == column && runs->back().kind == kind)
        ++runs->back().end;
    else
        runs->push_back({column, column + 1, kind});
}

lacks lacks_of_columns(const picture* p) {
    const sheet* s = p->s;
    // A saved scan can only lose lines, a drive only fail to read blocks.
    int lacking_kind = s->missing_count > 0 ? MARK_MISSING : MARK_UNREADABLE;  // a saved scan lacks lines, a drive blocks
    lacks l;
    for (int c = 0; c < PLOT_WIDTH; ++c) {
        uint64_t from, to;
        frames_of_column(p, c, &from, &to);
        uint32_t read, lacking;
        sheet_count_read(s, (int64_t)from - BLOCK_0_FRAMES, (int64_t)to - BLOCK_0_FRAMES, &read, &lacking);
        add_column(&l.lane, c, lacking > 0 ? lacking_kind : read == 0 ? MARK_NOT_READ : MARKS);
        add_column(&l.over, c, read > 0 ? MARKS : lacking > 0 ? lacking_kind : MARK_NOT_READ);
    }
    return l;
}

// Marks of what columns lack, in a lane or over one; `faint` over one.
void write_lacks(picture* p, const std::vector<lack_run>& runs, double y, double height, bool faint) {
    for (const lack_run& r : runs) {
        std::string look = r.kind == MARK_NOT_READ ? fill(NOT_READ_FILL)
                           : fill(r.kind == MARK_MISSING ? MISSING_COLOUR : UNREADABLE_COLOUR) + (faint ? OVER_LANES : "");
        mark_rect(p, r.kind, NULL, PLOT_X + r.first, y, r.end - r.first, height, look);
    }
}

void write_read_lane(picture* p, const lacks& l) {
    text(&p->body, 8, READ_Y + 9, "start", 12, "", "Read");
    rect(&p->body, "lane", "read-lane", PLOT_X, READ_Y, PLOT_WIDTH, READ_HEIGHT, fill(LANE_FILL));
    write_lacks(p, l.lane, READ_Y, READ_HEIGHT, false);
}

void write_codes(picture* p, const lacks& l) {
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
    text(&p->body, 8, ISRC_Y + 11, "start", 12, "", "ISRC");
    text(&p->body, 8, MCN_Y + 11, "start", 12, "", "MCN");
    rect(&p->body, "lane", "isrc-lane", PLOT_X, ISRC_Y, PLOT_WIDTH, LANE_HEIGHT, fill(LANE_FILL));
    rect(&p->body, "lane", "mcn-lane", PLOT_X, MCN_Y, PLOT_WIDTH, LANE_HEIGHT, fill(LANE_FILL));
    write_lacks(p, l.over, ISRC_Y, LANE_HEIGHT, true);
    write_lacks(p, l.over, MCN_Y, LANE_HEIGHT, true);
    write_runs(p, own, MARK_OWN_ISRC, ISRC_Y, LANE_HEIGHT, 0, fill(OWN_ISRC));
    write_runs(p, other, MARK_OTHER_CODE, ISRC_Y, LANE_HEIGHT, 0, fill(OTHER_CODE));
    write_runs(p, mcn, MARK_MCN, MCN_Y, LANE_HEIGHT, 0, fill(MCN_COLOUR));
    write_runs(p, other_mcn, MARK_OTHER_CODE, MCN_Y, LANE_HEIGHT, 0, fill(OTHER_CODE));
    // A lane without a frame of codes the sheet has all the same says where
    // they came from, so that an empty lane is not read as a disc without codes.
    int isrc_source = -1;
    for (int n = 1; n <= DISC_TRACKS; ++n) {
        const sheet_track* t = &s->track[n];
        if (t->seen && t->isrc >= 0 && t->isrcs.code[t->isrc].source != SOURCE_Q)
            isrc_source = t->isrcs.code[t->isrc].source;
    }
    auto marked = [](const std::vector<double>& columns) {
        return std::find(columns.begin(), columns.end(), 1.0) != columns.end();
    };
    bool isrc_frames = marked(own) || marked(other), mcn_frames = marked(mcn) || marked(other_mcn);
    int mcn_source = s->mcn >= 0 && s->mcns.code[s->mcn].source != SOURCE_Q ? s->mcns.code[s->mcn].source : -1;
    const struct {
        int source;
        bool frames;
        int y;
        const char* what;
    } lanes[] = {{isrc_source, isrc_frames, ISRC_Y, "ISRCs"}, {mcn_source, mcn_frames, MCN_Y, "catalogue number"}};
    for (const auto& lane : lanes) {
        if (lane.source < 0 || lane.frames)
            continue;
        std::string words = std::string(lane.source == SOURCE_DRIVE ? "the drive's own report" : "CD-Text") +
                            " gives the " + lane.what + ": no frame read carries " +
                            (lane.what[0] == 'I' ? "them" : "it");
        text(&p->body, PLOT_X + 6, lane.y + LANE_HEIGHT / 2.0 + 4, "start", NOTE_SIZE, " fill=\"#555\"", words);
    }
}

// A bar chart of a count per second, per pixel column the highest second
// it covers, with its scale: an empty chart for a count that is 0 in every
// block read, or one that cannot be counted (`unknown`, which says why).
void write_chart(picture* p, const lacks& l, uint32_t sheet_bin::*count, const char* title, const char* id, int kind,
                 int y, int height, const char* colour, const char* unknown) {
    const sheet* s = p->s;
    std::vector<double> per_second(PLOT_WIDTH);
    double top = 0;
    for (int c = 0; c < PLOT_WIDTH && unknown == NULL; ++c) {
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
    text(&p->body, PLOT_X, y - 6, "start", 12, "", label);
    put(&p->body,
        "<rect class=\"chart\" id=\"%s-chart\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#fafafa\" "
        "stroke=\"#999\" stroke-width=\"0.5\"/>\n",
        id, PLOT_X, y, PLOT_WIDTH, height);
    write_lacks(p, l.over, y, height, true);
    double scale = top > 0 ? top : 1;
    snprintf(label, sizeof label, "%g", scale);
    text(&p->body, PLOT_X - 6, y + 10, "end", 10, " class=\"scale-top\"", label);
    text(&p->body, PLOT_X - 6, y + height, "end", 10, " class=\"scale-bottom\"", "0");
    if (top == 0) {
        const char* words = unknown != NULL ? unknown : s->sectors == 0 ? "no block read" : "none in the blocks read";
        double w = text_width(words, NOTE_SIZE, false) + 8, middle = PLOT_X + PLOT_WIDTH / 2.0;
        rect(&p->body, NULL, NULL, middle - w / 2, y + height / 2.0 - NOTE_SIZE + 2, w, NOTE_SIZE + 6,
             "fill=\"#fff\"");  // the words stay legible over what columns lack
        text(&p->body, middle, y + height / 2.0 + 4, "middle", NOTE_SIZE, " fill=\"#555\"", words);
    }
    write_runs(p, per_second, kind, y, height, scale, fill(colour));
}

// A kind's swatch in the legend, 12 pixels square from (x, y): the same
// fills and strokes as its marks.
void write_swatch(std::string* to, int kind, double x, double y) {
    double half = SWATCH / 2.0;
    switch (kind) {
    case MARK_TRACK:
    case MARK_DATA_TRACK: {
        const char(*shades)[8] = kind == MARK_TRACK ? TRACK_SHADES : DATA_SHADES;
        rect(to, NULL, NULL, x, y, half, SWATCH, fill(shades[0]));
        rect(to, NULL, NULL, x + half, y, half, SWATCH, fill(shades[1]));
        break;
    }
    case MARK_PREGAP:
        rect(to, NULL, NULL, x, y, SWATCH, SWATCH, fill(PREGAP_FILL));
        rect(to, NULL, NULL, x, y, SWATCH, SWATCH, fill(HATCH));
        break;
    case MARK_INDEX:
        index_line(to, NULL, x + half, y, SWATCH);
        break;
    case MARK_INEXACT:
        rect(to, NULL, NULL, x + 1, y + 1, SWATCH - 2, SWATCH - 2, INEXACT_LOOK);
        break;
    case MARK_FROM_TOC:
        toc_triangle(to, NULL, x + half, y + 2);
        break;
    case MARK_NOT_READ:
        rect(to, NULL, NULL, x, y, SWATCH, SWATCH, fill(LANE_FILL));
        rect(to, NULL, NULL, x, y, SWATCH, SWATCH, fill(NOT_READ_FILL));
        break;
    default: {
        const char* colours[MARKS] = {};
        colours[MARK_LEAD_OUT] = LEAD_OUT_FILL;
        colours[MARK_OWN_ISRC] = OWN_ISRC;
        colours[MARK_OTHER_CODE] = OTHER_CODE;
        colours[MARK_MCN] = MCN_COLOUR;
        colours[MARK_CRC] = CRC_COLOUR;
        colours[MARK_OUT_OF_PLACE] = OUT_OF_PLACE_COLOUR;
        colours[MARK_UNREADABLE] = UNREADABLE_COLOUR;
        colours[MARK_MISSING] = MISSING_COLOUR;
        rect(to, NULL, NULL, x, y, SWATCH, SWATCH, fill(colours[kind]));
    }
    }
}

// The legend of the kinds drawn, in rows from baseline y on; returns the
// last row's baseline.
int write_legend(const picture* p, std::string* to, int y) {
    double x = PLOT_X;
    to->append("<g id=\"legend\">\n");
    for (int kind = 0; kind < MARKS; ++kind) {
        if (!p->drawn[kind])
            continue;
        double width = SWATCH + 4 + text_width(MARK_NAMES[kind].words, LEGEND_SIZE, false);
        if (x > PLOT_X && x + width > TEXT_RIGHT) {
            x = PLOT_X;
            y += LEGEND_LINE;
        }
        put(to, "<g class=\"%s\">\n", MARK_NAMES[kind].cls);
        write_swatch(to, kind, x, y - 10);
        text(to, x + SWATCH + 4, y, "start", LEGEND_SIZE, "", MARK_NAMES[kind].words);
        to->append("</g>\n");
        x += width + LEGEND_GAP;
    }
    to->append("</g>\n");
    return y;
}

std::string mcn_words(const sheet* s) {
    return std::string("Catalogue number ") +
           (s->mcn >= 0 ? std::string(s->mcns.code[s->mcn].code, MCN_LENGTH) : std::string("none"));
}

// The title's figures: the catalogue number (unless the heading has it),
// the tracks, the length and the CRC errors in the blocks read.
std::string figures(const sheet* s, uint64_t end, bool with_mcn) {
    int tracks = 0;
    for (int n = 1; n <= DISC_TRACKS; ++n)
        tracks += s->track[n].seen;
    std::string f;
    if (with_mcn)
        f = mcn_words(s) + SEPARATOR;
    char length[TIME_TEXT_SIZE];
    format_frames(length, end, '.');
    f += std::to_string(tracks) + (tracks == 1 ? " track" : " tracks") + SEPARATOR + length + SEPARATOR;
    if (s->no_frames)
        f += "CRC errors not known: the drive gives no Q frames";
    else if (!sheet_crc_known(s))
        f += "CRC errors not known: the drive gives Q frames without their CRC";
    else
        f += with_commas(s->crc_errors) + (s->crc_errors == 1 ? " CRC error" : " CRC errors") + " in the " +
             with_commas(s->sectors) + (s->sectors == 1 ? " block read" : " blocks read");
    if (!s->lead_out_seen && !s->lead_out_from_toc)
        f += SEPARATOR + std::string("no lead-out read: the last track may be cut short");
    return f;
}

}  // namespace

void write_svg(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    picture p = {s, disc_frames(s->lead_out), std::string(), {}};
    if (p.end == 0)
        p.end = 1;

    write_axis(&p);
    put(&p.body, "<rect id=\"plot\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#eee\"/>\n", PLOT_X, TRACKS_Y,
        PLOT_WIDTH, TRACKS_HEIGHT);
    lacks l = lacks_of_columns(&p);
    write_read_lane(&p, l);
    write_tracks(&p);
    write_codes(&p, l);
    write_chart(&p, l, &sheet_bin::crc_errors, "CRC errors", "crc", MARK_CRC, CRC_Y, CRC_HEIGHT, CRC_COLOUR,
                s->no_frames ? "not known: no Q frames"
                : !sheet_crc_known(s)                 ? "not known: Q frames without their CRC"
                                                      : NULL);
    write_chart(&p, l, &sheet_bin::out_of_place, "Frames out of place", "out-of-place", MARK_OUT_OF_PLACE, OUT_OF_PLACE_Y,
                OUT_OF_PLACE_HEIGHT, OUT_OF_PLACE_COLOUR, NULL);

    // The heading: the CD-Text title and performer, else the catalogue number.
    std::string heading;
    cd_text cd;
    std::string none;
    const cd_text_block* b = sheet_cd_text(d, &cd, &none) ? first_readable_block(&cd) : NULL;
    std::string disc_title, performer;
    if (b != NULL) {
        bool has_title = !b->text[0][TEXT_TITLE].empty() || b->lost[0][TEXT_TITLE];
        bool has_performer = !b->text[0][TEXT_PERFORMER].empty() || b->lost[0][TEXT_PERFORMER];
        disc_title = has_title ? text_shown(b, 0, TEXT_TITLE, false) : "";
        performer = has_performer ? text_shown(b, 0, TEXT_PERFORMER, false) : "";
        heading = disc_title + (disc_title.empty() || performer.empty() ? "" : " \xE2\x80\x94 ") + performer;
    }
    bool mcn_in_heading = heading.empty();
    if (mcn_in_heading)
        heading = mcn_words(s);
    const double room = TEXT_RIGHT - PLOT_X;
    std::vector<std::string> heading_lines = wrapped(heading, HEADING_SIZE, true, room, 0);
    if ((int)heading_lines.size() > HEADING_LINES && !disc_title.empty() && !performer.empty()) {
        // Too long for its lines: a line each, so that the performer is not the part cut off.
        heading_lines = {wrapped(disc_title, HEADING_SIZE, true, room, 1)[0],
                         wrapped(performer, HEADING_SIZE, true, room, 1)[0]};
    } else {
        heading_lines = wrapped(heading, HEADING_SIZE, true, room, HEADING_LINES);
    }
    std::string title = "<text id=\"title\" " + std::string(TEXT_FONT) + ">";
    int y = TOP_MARGIN;
    for (const std::string& line : heading_lines) {
        y += HEADING_LINE;
        put(&title, "<tspan x=\"%d\" y=\"%d\" font-size=\"%d\" font-weight=\"bold\">%s</tspan>", PLOT_X, y,
            HEADING_SIZE, escaped(line).c_str());
    }
    for (const std::string& line :
         wrapped(figures(s, p.end, !mcn_in_heading), FIGURES_SIZE, false, TEXT_RIGHT - PLOT_X, 0)) {
        y += FIGURES_LINE;
        put(&title, "<tspan x=\"%d\" y=\"%d\" font-size=\"%d\">%s</tspan>", PLOT_X, y, FIGURES_SIZE,
            escaped(line).c_str());
    }
    title += "</text>\n";
    std::string legend;
    int top = write_legend(&p, &legend, y + LEGEND_LINE + 2) + PLOT_LABEL_ROOM;

    put(out,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"%d\" height=\"%d\" "
            "viewBox=\"0 0 %d %d\">\n",
            WIDTH, top + PLOT_BOTTOM, WIDTH, top + PLOT_BOTTOM);
    put(out,
        "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
            "<path d=\"M0,6 L6,0\" stroke=\"#9bb3cc\" stroke-width=\"1\"/></pattern>"
            "<pattern id=\"not-read\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
            "<path d=\"M0,0 L6,6\" stroke=\"#9a9a9a\" stroke-width=\"1\"/></pattern></defs>\n"
            "<rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>\n",
            WIDTH, top + PLOT_BOTTOM);
    *out += title + legend;
    put(out, "<g transform=\"translate(0,%d)\">\n", top);
    *out += p.body + "</g>\n</svg>\n";
}
