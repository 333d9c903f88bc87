// INQUIRY's standard answer and READ SUB-CHANNEL's catalogue-number and ISRC
// reports, each read only as far as its own length field and what arrived allow.
#include "drive/answers.h"

#include <stdio.h>
#include <string.h>

#include "drive/drive.h"

namespace {

enum {
    INQUIRY_VENDOR_AT = 8,
    INQUIRY_PRODUCT_AT = 16,
    INQUIRY_REVISION_AT = 32,  // to INQUIRY_SIZE
    SUBQ_FORMAT_AT = 4,        // the format code, repeated in the answer
    SUBQ_VALID_AT = 8,         // bit 7: MCVAL or TCVAL
    SUBQ_CODE_AT = 9           // the code's first character
};

const answer_shape INQUIRY_SHAPE = {4, 1, 5, INQUIRY_PRODUCT_AT, 0, NULL};
const answer_shape SUBQ_SHAPE = {2, 2, 4, SUBQ_ANSWER_SIZE, 0, NULL};

// Bytes [from, to) of the answer as a name: printable ASCII, anything else
// '?', trailing blanks removed; empty when the answer ends before `to`.
void name_of(const uint8_t* answer, uint32_t usable, unsigned from, unsigned to, char* name) {
    name[0] = '\0';
    if (usable < to)
        return;
    unsigned n = 0;
    for (unsigned i = from; i < to; ++i)
        name[n++] = answer[i] >= 0x20 && answer[i] < 0x7F ? (char)answer[i] : '?';
    while (n > 0 && name[n - 1] == ' ')
        --n;
    name[n] = '\0';
}

// A READ SUB-CHANNEL report of `format` whose code is `size` characters, each
// one `allowed` says may be there.
bool parse_code(const uint8_t* answer, uint32_t length, uint8_t format, unsigned size, bool (*allowed)(uint8_t),
                bool* valid, char* code, char why[ANSWER_WHY_SIZE]) {
    *valid = false;
    uint32_t usable = 0;
    if (!answer_bytes(answer, length, &SUBQ_SHAPE, false, &usable, why))
        return false;
    if (answer[SUBQ_FORMAT_AT] != format) {
        snprintf(why, ANSWER_WHY_SIZE, "it is of format %02Xh, not %02Xh", answer[SUBQ_FORMAT_AT], format);
        return false;
    }
    if ((answer[SUBQ_VALID_AT] & 0x80) == 0)
        return true;  // the drive found no code: what follows means nothing
    for (unsigned i = 0; i < size; ++i) {
        uint8_t c = answer[SUBQ_CODE_AT + i];
        if (!allowed(c)) {
            snprintf(why, ANSWER_WHY_SIZE, "its character %u is %02Xh, which no such code holds", i + 1, c);
            return false;
        }
    }
    memcpy(code, answer + SUBQ_CODE_AT, size);
    *valid = true;
    return true;
}

bool is_digit(uint8_t c) {
    return c >= '0' && c <= '9';
}

bool is_isrc_character(uint8_t c) {
    return is_digit(c) || (c >= 'A' && c <= 'Z');
}

}  // namespace

bool inquiry_parse(const uint8_t* answer, uint32_t length, bool cut, drive_identity* id,
                   char why[ANSWER_WHY_SIZE]) {
    memset(id, 0, sizeof *id);
    uint32_t usable = 0;
    if (!answer_bytes(answer, length, &INQUIRY_SHAPE, cut, &usable, why))
        return false;
    name_of(answer, usable, INQUIRY_VENDOR_AT, INQUIRY_PRODUCT_AT, id->vendor);
    name_of(answer, usable, INQUIRY_PRODUCT_AT, INQUIRY_REVISION_AT, id->product);
    name_of(answer, usable, INQUIRY_REVISION_AT, INQUIRY_SIZE, id->revision);
    return true;
}

bool subq_parse_catalogue_number(const uint8_t* answer, uint32_t length, bool* valid, char mcn[MCN_LENGTH],
                                 char why[ANSWER_WHY_SIZE]) {
    return parse_code(answer, length, SUBQ_CATALOGUE_NUMBER, MCN_LENGTH, is_digit, valid, mcn, why);
}

bool subq_parse_isrc(const uint8_t* answer, uint32_t length, bool* valid, char isrc[ISRC_LENGTH],
                     char why[ANSWER_WHY_SIZE]) {
    return parse_code(answer, length, SUBQ_ISRC, ISRC_LENGTH, is_isrc_character, valid, isrc, why);
}
