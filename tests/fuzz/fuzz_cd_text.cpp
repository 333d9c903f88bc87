// Fuzz target: any bytes as the CD-Text packs a drive returns, through the
// decoder. Checks that every pack was counted, good or bad, that no block is
// named twice or out of range, and that a block's texts are no longer than
// the packs could hold.
#include <stdint.h>

#include "disc/cd_text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned count = (unsigned)(size / CD_TEXT_PACK);
    if (count > CD_TEXT_PACKS)
        count = CD_TEXT_PACKS;
    cd_text text;
    decode_cd_text(data, count, &text);
    if (text.packs != count || text.bad_packs > count || text.blocks.size() > CD_TEXT_BLOCKS)
        __builtin_trap();
    unsigned seen = 0;
    for (const cd_text_block& b : text.blocks) {
        if (b.number >= CD_TEXT_BLOCKS || (seen & 1u << b.number))
            __builtin_trap();
        seen |= 1u << b.number;
        size_t bytes = 0;
        for (unsigned t = 0; t <= CD_TEXT_TRACKS; ++t)
            for (int k = 0; k < CD_TEXT_KINDS; ++k)
                bytes += b.text[t][k].size();
        // UTF-8 doubles a byte at most, hex makes two bytes five characters;
        // a TAB copies a text, which the packs could make each track's.
        if (bytes > (size_t)count * 12 * 3 * (CD_TEXT_TRACKS + 1))
            __builtin_trap();
    }
    return 0;
}
