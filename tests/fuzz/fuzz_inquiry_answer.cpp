// Fuzz target: any bytes as a drive's INQUIRY answer, through inquiry_parse
// whole and as an answer cut at the request's room. Checks that the names
// are printable, without trailing blanks and within their fields, that a
// name comes only from bytes that arrived and that the additional length
// covers (or, cut, from what arrived), and that a refused answer says why.
#include <stdint.h>
#include <string.h>

#include "drive/answers.h"

namespace {

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// A name of at most `most` printable characters, none of them a trailing blank.
void check_name(const char* name, size_t most) {
    size_t n = strnlen(name, most + 1);
    check(n <= most && (n == 0 || name[n - 1] != ' '));
    for (size_t i = 0; i < n; ++i)
        check(name[i] >= 0x20 && name[i] < 0x7F);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000)
        return 0;
    uint32_t n = (uint32_t)size;
    for (int pass = 0; pass < 2; ++pass) {
        bool cut = pass == 1;
        drive_identity id;
        char why[ANSWER_WHY_SIZE] = "";
        if (!inquiry_parse(data, n, cut, &id, why)) {
            check(why[0] != '\0' && id.vendor[0] == '\0' && id.product[0] == '\0' && id.revision[0] == '\0');
            continue;
        }
        uint32_t said = 5 + (uint32_t)data[4];
        uint32_t usable = said < n ? said : n;
        check(usable >= 16 && (cut || said <= n));
        check_name(id.vendor, 8);
        check_name(id.product, 16);
        check_name(id.revision, 4);
        check(usable >= 32 || id.product[0] == '\0');
        check(usable >= 36 || id.revision[0] == '\0');
    }
    return 0;
}
