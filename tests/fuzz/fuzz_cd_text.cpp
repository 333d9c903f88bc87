// Fuzz target: any bytes as a drive's CD-Text answer (READ TOC format
// 0101b: header and packs), through cd_text_answer_packs, whole and as a cut
// answer, then the packs it gives through the decoder. Checks that no pack
// lies beyond what arrived or beyond what the length field says, that
// every pack was counted, good or bad, that no block is named twice or out
// of range, and that a block's texts are no longer than the packs could hold.
#include <stdint.h>
#include <string.h>

#include "disc/cd_text.h"

namespace {

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000)
        return 0;
    uint32_t n = (uint32_t)size;
    unsigned whole = 0, cut = 0;
    char why[ANSWER_WHY_SIZE] = "";
    bool whole_ok = cd_text_answer_packs(data, n, false, &whole, why);
    if (!whole_ok)
        check(why[0] != '\0' && whole == 0);
    else  // exactly the packs the length field names
        check(4 + whole * CD_TEXT_PACK == (uint32_t)(data[0] << 8 | data[1]) + 2 && 4 + whole * CD_TEXT_PACK <= n);
    bool cut_ok = cd_text_answer_packs(data, n, true, &cut, why);
    if (cut_ok)
        check(4 + cut * CD_TEXT_PACK <= n && (!whole_ok || cut == whole));
    else
        check(!whole_ok && cut == 0);
    unsigned count = cut_ok ? cut : 0;
    check(count <= CD_TEXT_PACKS);
    cd_text text;
    decode_cd_text(count > 0 ? data + 4 : data, count, &text);
    if (text.packs != count || text.bad_packs > count || text.blocks.size() > CD_TEXT_BLOCKS)
        __builtin_trap();
    unsigned seen = 0;
    for (const cd_text_block& b : text.blocks) {
        if (b.number >= CD_TEXT_BLOCKS || (seen & 1u << b.number))
            __builtin_trap();
        seen |= 1u << b.number;
        size_t bytes = 0;
        for (unsigned t = 0; t <= DISC_TRACKS; ++t)
            for (int k = 0; k < CD_TEXT_KINDS; ++k)
                bytes += b.text[t][k].size();
        // UTF-8 doubles a byte at most, hex makes two bytes five characters;
        // a TAB copies a text, which the packs could make each track's.
        if (bytes > (size_t)count * 12 * 3 * (DISC_TRACKS + 1))
            __builtin_trap();
    }
    return 0;
}
