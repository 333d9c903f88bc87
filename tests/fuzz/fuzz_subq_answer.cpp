// Fuzz target: any bytes as a drive's READ SUB-CHANNEL answer, through both
// reports' parsers (the catalogue number, format 02h, and the ISRC, 03h).
// Checks that a used answer arrived whole and is of its own format, that a
// valid code holds only the characters such a code is made of, and that a
// refused answer says why.
#include <stdint.h>
#include <string.h>

#include "drive/answers.h"
#include "drive/drive.h"

namespace {

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000)
        return 0;
    uint32_t n = (uint32_t)size;
    char why[ANSWER_WHY_SIZE] = "";
    bool valid = true;
    char mcn[MCN_LENGTH], isrc[ISRC_LENGTH];
    if (subq_parse_catalogue_number(data, n, &valid, mcn, why)) {
        check(n >= SUBQ_ANSWER_SIZE && data[4] == SUBQ_CATALOGUE_NUMBER && valid == ((data[8] & 0x80) != 0));
        for (unsigned i = 0; valid && i < MCN_LENGTH; ++i)
            check(digit(mcn[i]) && mcn[i] == (char)data[9 + i]);
    } else {
        check(why[0] != '\0' && !valid);
    }
    why[0] = '\0';
    valid = true;
    if (subq_parse_isrc(data, n, &valid, isrc, why)) {
        check(n >= SUBQ_ANSWER_SIZE && data[4] == SUBQ_ISRC && valid == ((data[8] & 0x80) != 0));
        for (unsigned i = 0; valid && i < ISRC_LENGTH; ++i)
            check((digit(isrc[i]) || (isrc[i] >= 'A' && isrc[i] <= 'Z')) && isrc[i] == (char)data[9 + i]);
    } else {
        check(why[0] != '\0' && !valid);
    }
    check(strnlen(why, ANSWER_WHY_SIZE) < ANSWER_WHY_SIZE);
    return 0;
}
