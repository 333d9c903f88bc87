// The forms of a finished sheet: text for a person, a cue sheet for an image
// of the disc from block 0 and a TOC file for burning it, JSON for
// scripts, and a picture of the disc.
#ifndef QSCAN_SHEET_SHEET_WRITERS_H
#define QSCAN_SHEET_SHEET_WRITERS_H

#include <string>
#include <vector>

#include "disc/cd_text.h"
#include "sheet/disc_sheet.h"

// A table of the tracks and their index points, then one line for each
// thing a person must not miss.
void write_text(const disc_sheet* d, std::string* out);

// What writing a form of an image of the disc gives: IMAGE_FORM_WRITTEN;
// IMAGE_FORM_NO_TRACK, writing nothing, when it can hold no track; or
// IMAGE_FORM_UNFIT, writing nothing, with *why, when the image cannot hold
// the disc (a WAVE file, audio alone, for a disc with a data track).
enum { IMAGE_FORM_WRITTEN, IMAGE_FORM_NO_TRACK, IMAGE_FORM_UNFIT };

// A cue sheet for the image `image_name` (raw sectors from block 0; audio
// alone in a WAVE file) holding the disc from block 0, of the tracks it can
// hold, and on `notes` a line for each thing the cue sheet cannot say: a
// track left out, track numbers not seen, an index point that is not exact.
int write_cue(const disc_sheet* d, const char* image_name, std::string* out, std::string* notes, std::string* why);

// A TOC file for burning a copy of the disc from the image the cue sheet
// describes, of the tracks it can hold; on `notes` a line for each thing it
// cannot say (as the cue sheet's, and CD-Text blocks left out).
int write_toc_file(const disc_sheet* d, const char* image_name, std::string* out, std::string* notes,
                   std::string* why);

// What the forms for an image of the disc from block 0 (the cue sheet, the
// TOC file) share.

// Whether a name can stand for the image in a cue sheet, between quotes:
// not empty, no quote, no control character.
bool usable_image_name(const char* name);

// Whether the image is audio in a WAVE file, by its name: "NAME.wav", in
// any case.
bool image_is_wave(const char* name);

// Whether such a form can hold the track: it needs the track's index 01,
// which a scan that ends in a track's pregap has not seen, and the track
// in the image's session.
bool image_can_hold(const sheet_track* t);

// How a form names itself and what it writes, in its notes and lines.
struct image_form {
    const char* name;       // "cue sheet"
    const char* numbering;  // how it numbers its tracks, for a note
    const char* pregap;     // what it writes for an index 00: "INDEX 00"
    const char* modes[3];   // a track's mode: audio, data of mode 1 (or not known), of mode 2
};

// An index point as the form writes it: in the image, block 0 its first sector.
struct image_point {
    int index;
    uint32_t block;
};

// A track as the form writes it: its points in rising order, index 01 among them.
struct image_track {
    int number;
    const sheet_track* t;
    std::vector<image_point> points;
};

// The tracks the form holds, each index point where the evidence puts it
// but the first, which is written at block 0 where the image begins; and on
// `notes` a line for each thing the form cannot say, in the order of the
// tracks: track numbers not seen, a track left out, a data track's mode not
// known, a pregap no frame shows, an index point not exact or moved. Empty,
// with no notes, when it can hold no track.
std::vector<image_track> image_tracks(const sheet* s, const image_form* form, std::string* notes);

// Whether an image named `image_name` can hold the tracks: a WAVE file holds
// no data track (*why says so).
bool image_holds(const std::vector<image_track>& tracks, const char* image_name, std::string* why);

// A track's mode as the form names it.
const char* image_track_mode(const image_form* form, const sheet_track* t);

// The catalogue number and a track's ISRC as a copy burnt from the image
// would carry them: the Q frames' (or the drive's report of them), well
// formed; NULL for none.
const sheet_code* image_mcn(const sheet* s, std::string* notes);
const sheet_code* image_isrc(const sheet* s, int n, std::string* notes);

// A point on the disc as the notes name it, in one unit: "disc time
// 01:29.01 (block 6526)".
std::string disc_point(uint32_t block);

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

// A CD-Text text of a track (0: the disc) as the text and the picture show
// it, `quoted` or not; one a damaged pack lost as lost, never as empty.
std::string text_shown(const cd_text_block* b, unsigned track, int kind, bool quoted);

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
