// The forms of a finished sheet: text for a person, a cue sheet for an image
// of the disc from block 0, JSON for scripts, and a picture of the disc.
#ifndef QSCAN_SHEET_SHEET_WRITERS_H
#define QSCAN_SHEET_SHEET_WRITERS_H

#include <string>

#include "disc/cd_text.h"
#include "sheet/disc_sheet.h"

// A table of the tracks and their index points, then one line for each
// thing a person must not miss.
void write_text(const disc_sheet* d, std::string* out);

// Whether a cue sheet can hold the track: every TRACK needs its INDEX 01,
// which a scan that ends in a track's pregap has not seen.
bool cue_can_hold(const sheet_track* t);

// A cue sheet for the image `image_name` holding the disc from block 0, of
// the tracks it can hold, and on `notes` a line for each thing the cue sheet
// cannot say: a track left out, track numbers not seen, an index point that
// is not exact. Returns false, writing nothing, when there are none.
bool write_cue(const disc_sheet* d, const char* image_name, std::string* out, std::string* notes);

// Whether a name can stand for the image in a cue sheet, between quotes:
// not empty, no quote, no control character.
bool usable_image_name(const char* name);

// One JSON object.
void write_json(const disc_sheet* d, std::string* out);

// An SVG picture of the disc, 1200 pixels wide.
void write_svg(const disc_sheet* d, std::string* out);

// The track numbers between the first track and the last that were not
// seen, as a sentence ("Tracks 3 to 9 were not seen."); empty for none.
std::string missing_tracks_text(const sheet* s);

// A saved scan's repeated lines, as a sentence without its full stop:
// "3 lines repeat blocks the scan holds already, the first at line 5001
// (disc time 01:08.49): left out"; empty for none.
std::string repeated_lines_text(const disc_reading* r);

// The CD-Text block the cue sheet and the picture take their texts from:
// the first one not in double-byte characters; NULL for none.
const cd_text_block* first_readable_block(const cd_text* text);

// Appends printf's text to *to, however long.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void put(std::string* to, const char* format, ...);

// 359850 as "359,850".
std::string with_commas(uint64_t n);

// A text with what a line or a quoted cue field cannot hold made safe:
// control characters as '?', and `quote` (when not 0) as a single quote.
std::string printable(const std::string& text, char quote = 0);

// A track's flags as the text shows them: "data" (with its mode when
// known: "data, mode 2"), then DCP, 4CH, PRE.
enum { FLAGS_TEXT_SIZE = 24 };  // "data, mode 2 DCP", "DCP 4CH PRE" and their terminator
void track_flags_text(const sheet_track* t, char text[FLAGS_TEXT_SIZE]);

// Frames as minutes, seconds and frames: "03:58.12" (separator '.') or
// "03:58:12" (':').
enum { TIME_TEXT_SIZE = 24 };
void format_frames(char text[TIME_TEXT_SIZE], uint64_t frames, char separator);


// Where the CD-Text's UPC/EAN (track 0) and ISRCs differ from the codes the
// Q frames carry (empty where one of them has none), or cannot be set
// against them: the CD-Text's code was lost with a damaged pack.
struct code_difference {
    unsigned track;
    std::string cd_text, q;
    bool lost;  // cd_text is not known, not empty
};
std::vector<code_difference> cd_text_against_q(const sheet* s, const cd_text* text);

#endif
