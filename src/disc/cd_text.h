// The disc's CD-Text, as READ TOC format 0101b returns its packs: titles,
// performers and the rest, per block (language) and track, checked pack by
// pack against their CRC.
#ifndef QSCAN_DISC_CD_TEXT_H
#define QSCAN_DISC_CD_TEXT_H

#include <stdint.h>

#include "disc/answer.h"
#include "subchannel.h"

#include <string>
#include <vector>

enum {
    CD_TEXT_PACK = 18,      // bytes a pack: 4 of header, 12 of text, 2 of CRC
    CD_TEXT_PACKS = 8 * 256,  // at most 8 blocks of 256 packs
    CD_TEXT_BLOCKS = 8
};

// The texts a pack type carries, from 80h on; the UPC/EAN of the disc and
// the ISRCs of the tracks share type 8Eh.
enum cd_text_kind {
    TEXT_TITLE,       // 80h
    TEXT_PERFORMER,   // 81h
    TEXT_SONGWRITER,  // 82h
    TEXT_COMPOSER,    // 83h
    TEXT_ARRANGER,    // 84h
    TEXT_MESSAGE,     // 85h
    TEXT_DISC_ID,     // 86h
    TEXT_GENRE,       // 87h: a two-byte genre code, then a text
    TEXT_CODE,        // 8Eh: UPC/EAN (the disc), ISRC (a track)
    CD_TEXT_KINDS
};

enum cd_text_character_code {
    CHARACTERS_ISO_8859_1 = 0x00,
    CHARACTERS_ASCII = 0x01,
    CHARACTERS_MS_JIS = 0x80
};

struct cd_text_block {
    unsigned number;            // 0-7
    uint8_t language;           // 09h English, 08h German, 69h Japanese, ...
    uint8_t character_code;     // a cd_text_character_code, or another the disc gives
    bool double_byte;           // its texts are kept as hex, not read as characters
    unsigned first_track, last_track;
    uint16_t genre;             // the genre code, 0 for none
    // By track (0: the disc) and kind: UTF-8, or hex for a double-byte block.
    std::string text[DISC_TRACKS + 1][CD_TEXT_KINDS];
    // A text the block has for every track of its kind that is not here: its
    // pack failed its CRC. Never an empty text.
    bool lost[DISC_TRACKS + 1][CD_TEXT_KINDS];
};

struct cd_text {
    std::vector<cd_text_block> blocks;  // in block order
    unsigned packs;                     // packs read
    unsigned bad_packs;                 // ... whose CRC failed: not used
};

// The packs of READ TOC format 0101b's answer (`length` bytes arrived,
// `cut` as for the TOC's parsers): *packs of them from answer + 4, after
// the answer is checked with answer_bytes. A header alone (a length field
// of 2) is a disc without CD-Text: true with no packs. False for a
// malformed answer, more than CD_TEXT_PACKS packs included, with why.
bool cd_text_answer_packs(const uint8_t* answer, uint32_t length, bool cut, unsigned* packs,
                          char why[ANSWER_WHY_SIZE]);

// Decodes `count` packs of 18 bytes. Texts are NUL-ended and run from pack
// to pack, each string the next track's; a lone TAB is the previous track's
// text; the size information packs (8Fh) give each block's character code,
// tracks and language.
void decode_cd_text(const uint8_t* packs, unsigned count, cd_text* text);

// A code as CD-Text gives it, in the form the Q frames carry it: its letters
// and digits without separators ("US-RF3-02-00001" is USRF30200001), and a
// UPC-A of 12 digits as the EAN-13 it is inside, a 0 before it
// (036000291452 is 0036000291452). Writes `length` characters (12 for an
// ISRC, 13 for a UPC/EAN) and returns true; false where what remains is no
// such code.
bool cd_text_code_as_q(const std::string& text, unsigned length, char* code);

// A text of a block as the block's own bytes again, for writing CD-Text
// back: what decode_cd_text made UTF-8 of ISO 8859-1 as those bytes
// ("Caf\xC3\xA9" is "Caf\xE9"), ASCII as it is, a double-byte block's hex
// as it is.
std::string cd_text_bytes(const std::string& text);

// A language code's name ("English"), or NULL for one not named here.
const char* cd_text_language(uint8_t code);

// The name of a character code ("ISO 8859-1"), or NULL.
const char* cd_text_characters(uint8_t code);

#endif
