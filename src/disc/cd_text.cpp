// CD-Text packs decoded: each pack checked against its CRC, the packs of one
// block and type joined in sequence order, cut into one text per track.
#include "disc/cd_text.h"

#include <stdio.h>

#include <algorithm>
#include <map>

#include "subchannel.h"

namespace {

const uint8_t FIRST_TYPE = 0x80, DISC_ID_TYPE = 0x86, GENRE_TYPE = 0x87, CODE_TYPE = 0x8E, SIZE_TYPE = 0x8F;
const unsigned TEXT_BYTES = 12, TEXT_AT = 4, SIZE_BYTES = 36, SIZE_PACKS = 3;
const unsigned SIZE_LANGUAGES_AT = 28;  // in the size information: each block's language

unsigned block_of(const uint8_t* pack) {
    return pack[3] >> 4 & 0x07;
}

bool crc_matches(const uint8_t* pack) {
    return (uint16_t)~cd_crc16(pack, 16) == (uint16_t)(pack[16] << 8 | pack[17]);
}

int kind_of(uint8_t type) {
    if (type >= FIRST_TYPE && type <= GENRE_TYPE)
        return type - FIRST_TYPE;
    return type == CODE_TYPE ? TEXT_CODE : -1;
}

// A text's bytes as UTF-8: ISO 8859-1 as it maps to Unicode, ASCII as it is
// (a byte above 7Fh, which ASCII lacks, as '?').
std::string as_utf8(const std::string& bytes, uint8_t character_code) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            text += (char)c;
        } else if (character_code == CHARACTERS_ASCII) {
            text += '?';
        } else {
            text += (char)(0xC0 | c >> 6);
            text += (char)(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// A double-byte text as hex, a character (two bytes) to a group: "8341 8362".
std::string as_hex(const std::string& bytes) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(pair, sizeof pair, "%02x", (unsigned char)bytes[i]);
        text += (i > 0 && i % 2 == 0 ? " " : "") + std::string(pair);
    }
    return text;
}

// One run of packs of a type, in sequence order with none missing: its
// texts, track after track from the first pack's track. A run that begins
// inside a text (a pack before it failed its CRC) loses that text.
void read_run(const std::vector<const uint8_t*>& run, int kind, cd_text_block* block,
              std::string raw[DISC_TRACKS + 1], bool present[DISC_TRACKS + 1]) {
    std::string bytes;
    for (const uint8_t* pack : run)
        bytes.append((const char*)pack + TEXT_AT, TEXT_BYTES);
    unsigned track = run[0][1] & 0x7F;
    size_t at = 0;
    if (kind == TEXT_GENRE && track == 0 && (run[0][3] & 0x0F) == 0 && bytes.size() >= 2) {
        block->genre = (uint16_t)((unsigned char)bytes[0] << 8 | (unsigned char)bytes[1]);
        at = 2;
    }
    const std::string end = block->double_byte ? std::string(2, '\0') : std::string(1, '\0');
    const std::string same = block->double_byte ? "\t\t" : "\t";
    bool partial = (run[0][3] & 0x0F) != 0;
    while (at < bytes.size() && track <= DISC_TRACKS) {
        size_t stop = bytes.find(end, at);
        while (block->double_byte && stop != std::string::npos && (stop - at) % 2 != 0)
            stop = bytes.find(end, stop + 1);  // a terminator lies on a character's boundary
        if (stop == std::string::npos)
            break;  // the text goes on in a pack that is not here
        std::string text = bytes.substr(at, stop - at);
        if (!partial) {
            raw[track] = text == same && track > 0 ? raw[track - 1] : text;
            present[track] = true;
        }
        partial = false;
        ++track;
        at = stop + end.size();
    }
}

const answer_shape CD_TEXT_SHAPE = {0, 2, 2, 4, CD_TEXT_PACK, "18-byte packs"};

}  // namespace

std::string cd_text_bytes(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = (unsigned char)text[i];
        // as_utf8 makes two bytes, C2h or C3h and a continuation, of each byte from 80h on
        if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() && ((unsigned char)text[i + 1] & 0xC0) == 0x80)
            bytes += (char)((c & 0x03) << 6 | ((unsigned char)text[++i] & 0x3F));
        else
            bytes += (char)c;
    }
    return bytes;
}

bool cd_text_answer_packs(const uint8_t* answer, uint32_t length, bool cut, unsigned* packs,
                          char why[ANSWER_WHY_SIZE]) {
    *packs = 0;
    uint32_t usable = 0;
    if (!answer_bytes(answer, length, &CD_TEXT_SHAPE, cut, &usable, why))
        return false;
    uint32_t count = (usable - CD_TEXT_SHAPE.header) / CD_TEXT_PACK;
    if (count > CD_TEXT_PACKS) {
        snprintf(why, ANSWER_WHY_SIZE, "it holds %lu packs, more than the %u of 8 blocks", (unsigned long)count,
                 (unsigned)CD_TEXT_PACKS);
        return false;
    }
    *packs = count;
    return true;
}

void decode_cd_text(const uint8_t* packs, unsigned count, cd_text* out) {
    out->blocks.clear();
    out->packs = count;
    out->bad_packs = 0;
    // The good packs by block and type, then in sequence order.
    std::map<unsigned, std::map<uint8_t, std::vector<const uint8_t*>>> by_block;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* pack = packs + (size_t)i * CD_TEXT_PACK;
        if (!crc_matches(pack)) {
            ++out->bad_packs;
            continue;
        }
        if (pack[0] >= FIRST_TYPE && pack[0] <= SIZE_TYPE)
            by_block[block_of(pack)][pack[0]].push_back(pack);
    }
    for (auto& b : by_block) {
        cd_text_block block = {};
        block.number = b.first;
        for (auto& type : b.second) {
            std::sort(type.second.begin(), type.second.end(),
                      [](const uint8_t* x, const uint8_t* y) { return x[2] < y[2]; });
            for (const uint8_t* pack : type.second)
                block.double_byte = block.double_byte || (pack[3] & 0x80) != 0;
        }
        const std::vector<const uint8_t*>& size = b.second[SIZE_TYPE];
        if (size.size() == SIZE_PACKS) {
            uint8_t info[SIZE_BYTES];
            for (unsigned i = 0; i < SIZE_PACKS; ++i)
                std::copy(size[i] + TEXT_AT, size[i] + TEXT_AT + TEXT_BYTES, info + i * TEXT_BYTES);
            block.character_code = info[0];
            block.first_track = info[1];
            block.last_track = info[2];
            block.language = info[SIZE_LANGUAGES_AT + block.number];
            block.double_byte = block.double_byte || info[0] >= CHARACTERS_MS_JIS;
        }
        for (auto& type : b.second) {
            int kind = kind_of(type.first);
            if (kind < 0 || type.second.empty())
                continue;
            std::string raw[DISC_TRACKS + 1];
            bool present[DISC_TRACKS + 1] = {};
            size_t first = 0;
            for (size_t i = 1; i <= type.second.size(); ++i) {
                if (i == type.second.size() || type.second[i][2] != type.second[i - 1][2] + 1) {
                    read_run(std::vector<const uint8_t*>(type.second.begin() + (long)first,
                                                         type.second.begin() + (long)i),
                             kind, &block, raw, present);
                    first = i;
                }
            }
            // With packs that failed their CRC, a track of the kind's range
            // whose text is not here lost it: every track has one, if empty.
            unsigned last = kind == TEXT_GENRE || type.first == DISC_ID_TYPE ? 0 : block.last_track;
            for (unsigned t = 0; t <= DISC_TRACKS; ++t)
                if (present[t] && t > last && kind != TEXT_GENRE && type.first != DISC_ID_TYPE)
                    last = t;
            for (unsigned t = 0; out->bad_packs > 0 && t <= last && t <= DISC_TRACKS; ++t)
                block.lost[t][kind] = !present[t];
            // UPC/EAN, ISRCs and the disc ID are ASCII whatever the block's code.
            bool ascii = kind == TEXT_CODE || type.first == DISC_ID_TYPE;
            for (unsigned t = 0; t <= DISC_TRACKS; ++t)
                block.text[t][kind] = block.double_byte && !ascii
                                          ? as_hex(raw[t])
                                          : as_utf8(raw[t], ascii ? (uint8_t)CHARACTERS_ASCII : block.character_code);
        }
        out->blocks.push_back(block);
    }
}

bool cd_text_code_as_q(const std::string& text, unsigned length, char* code) {
    std::string kept;
    for (char c : text) {
        bool letter = c >= 'A' && c <= 'Z', digit = c >= '0' && c <= '9';
        if (letter || digit)
            kept += c;
        else if (c != '-' && c != ' ' && c != '.')
            return false;  // not a separator: no code
    }
    if (length == 13 && kept.size() == 12 && kept.find_first_not_of("0123456789") == std::string::npos)
        kept = "0" + kept;  // UPC-A inside EAN-13
    if (kept.size() != length)
        return false;
    kept.copy(code, length);
    return true;
}

const char* cd_text_language(uint8_t code) {
    switch (code) {
    case 0x08: return "German";
    case 0x09: return "English";
    case 0x0A: return "Spanish";
    case 0x0F: return "French";
    case 0x15: return "Italian";
    case 0x69: return "Japanese";
    default: return NULL;
    }
}

const char* cd_text_characters(uint8_t code) {
    switch (code) {
    case CHARACTERS_ISO_8859_1: return "ISO 8859-1";
    case CHARACTERS_ASCII: return "ASCII";
    case CHARACTERS_MS_JIS: return "MS-JIS";
    default: return NULL;
    }
}

