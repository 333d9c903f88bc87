// Fuzz target: any bytes as a drive's READ TOC answer, the first byte
// picking the format (0000b, 0001b or 0010b, the latter two on a fixed
// table the formats before them gave) and whether it came cut. Checks that
// a used answer is no longer than what arrived, that a parsed table has
// rising track numbers in 1-99 and a lead-out, that a table said possible
// is one a disc can have, and that a refused answer leaves the table as it
// was, with its one line of why.
#include <stdint.h>
#include <string.h>

#include "disc/toc.h"

namespace {

const answer_shape TOC_SHAPE = {0, 2, 2, 4, TOC_TRACK_ENTRY, "8-byte descriptors"};
const answer_shape FULL_SHAPE = {0, 2, 2, 4, FULL_TOC_ENTRY, "11-byte descriptors"};

// Three tracks, the third a second session's: 0, 5000, 30000, lead-out 40000.
const uint8_t TRACKS[] = {0, 34, 1, 3, 0, 0x10, 1, 0, 0, 0, 0,    0,    0, 0x10, 2,    0, 0,    0,
                          0x13, 0x88, 0, 0x10, 3, 0, 0, 0, 0x75, 0x30, 0, 0x10, 0xAA, 0, 0, 0, 0x9C, 0x40};
const uint8_t SESSIONS[] = {0, 10, 1, 2, 0, 0x10, 3, 0, 0, 0, 0x75, 0x30};

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// The answer the lengths say, as answer_bytes must read them.
void check_usable(const uint8_t* a, uint32_t n, const answer_shape* shape, bool cut) {
    uint32_t usable = 0;
    char why[ANSWER_WHY_SIZE];
    if (answer_bytes(a, n, shape, cut, &usable, why)) {
        check(usable <= n && usable >= shape->header && (usable - shape->header) % shape->descriptor == 0);
        check(cut || usable == (uint32_t)(a[0] << 8 | a[1]) + 2);
    } else {
        check(usable == 0 && why[0] != '\0');
    }
}

// What every table a disc can have is, said again apart from toc_impossible.
void check_possible(const disc_toc* t) {
    check(t->track_count >= 1 && t->track_count <= DISC_TRACKS && t->sessions >= 1);
    for (unsigned i = 0; i < t->track_count; ++i) {
        const toc_track* k = &t->track[i];
        check(k->start >= 0 && k->session >= 1 && k->session <= t->sessions);
        if (i == 0) {
            check(k->session == 1);
            continue;
        }
        const toc_track* b = &t->track[i - 1];
        check(k->start > b->start && k->session >= b->session);
        check(k->session == b->session || k->start > t->first_session_end);
        check(k->session != 1 || k->start < t->first_session_end);
    }
    check(t->lead_out > t->track[t->track_count - 1].start && t->first_session_end <= t->lead_out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 70000)
        return 0;
    unsigned format = data[0] % 3;
    bool cut = (data[0] & 0x04) != 0;
    const uint8_t* answer = data + 1;
    uint32_t n = (uint32_t)size - 1;
    char why[ANSWER_WHY_SIZE];
    disc_toc toc;
    memset(&toc, 0, sizeof toc);
    if (format != 0) {  // the table the formats before this one gave
        check(toc_parse_tracks(TRACKS, sizeof TRACKS, false, &toc, why));
        if (format == 2)
            check(toc_parse_sessions(SESSIONS, sizeof SESSIONS, false, &toc, why));
    }
    check_usable(answer, n, format == 2 ? &FULL_SHAPE : &TOC_SHAPE, cut);
    disc_toc before = toc;
    why[0] = '\0';
    bool ok = format == 0   ? toc_parse_tracks(answer, n, cut, &toc, why)
              : format == 1 ? toc_parse_sessions(answer, n, cut, &toc, why)
                            : toc_parse_full(answer, n, cut, &toc, why);
    check(strnlen(why, ANSWER_WHY_SIZE) < ANSWER_WHY_SIZE);
    if (!ok) {
        check(why[0] != '\0' && memcmp(&before, &toc, sizeof toc) == 0);
        return 0;
    }
    check(toc.track_count >= 1 && toc.track_count <= DISC_TRACKS);
    for (unsigned i = 0; i < toc.track_count; ++i) {
        check(toc.track[i].number >= 1 && toc.track[i].number <= DISC_TRACKS);
        check(i == 0 || toc.track[i].number > toc.track[i - 1].number);
    }
    check(toc.first_track == toc.track[0].number && toc.last_track == toc.track[toc.track_count - 1].number);
    if (!toc_impossible(&toc, why))
        check_possible(&toc);
    else
        check(why[0] != '\0');
    return 0;
}
