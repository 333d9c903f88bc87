// What the writers ask of a finished sheet: majorities, whether a code is
// one, a track's flags and length, where the table of contents disagrees.
#include "sheet/sheet_internal.h"

#include <string.h>

namespace {

bool all_digits(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

}  // namespace

const sheet_code* track_isrc(const sheet_track* t) {
    return t->isrc >= 0 ? &t->isrcs.code[t->isrc] : NULL;
}

int majority(const uint32_t* frames, unsigned count, size_t stride) {
    int best = -1;
    uint32_t most = 0;
    for (unsigned i = 0; i < count; ++i) {
        uint32_t f = *(const uint32_t*)((const char*)frames + i * stride);
        if (best < 0 || f > most) {
            best = (int)i;
            most = f;
        }
    }
    return best;
}

int64_t sheet_majority(const sheet_votes* v) {
    int best = majority(&v->vote[0].frames, v->count, sizeof v->vote[0]);
    return best < 0 ? -1 : v->vote[best].block;
}

bool code_is_zero(const sheet_code* c, int length) {
    for (int i = 0; i < length; ++i)
        if (c->code[i] != '0')
            return false;
    return true;
}

bool isrc_well_formed(const sheet_code* c) {
    const char* code = c->code;
    auto letter = [](char x) { return x >= 'A' && x <= 'Z'; };
    for (int i = 0; i < 2; ++i)  // the country: two letters
        if (!letter(code[i]))
            return false;
    for (int i = 2; i < 5; ++i)  // the registrant: three letters or digits
        if (!letter(code[i]) && !all_digits(code + i, 1))
            return false;
    return all_digits(code + 5, ISRC_LENGTH - 5) && !code_is_zero(c, ISRC_LENGTH);  // year and designation
}

bool ean_check_digit_right(const char digits[MCN_LENGTH]) {
    // Worked example: 1234567890128: 1+2*3+3+4*3+5+6*3+7+8*3+9+0*3+1+2*3 = 92, and 92 + 8 ends in 0.
    int sum = 0;
    for (int i = 0; i < MCN_LENGTH - 1; ++i)
        sum += (digits[i] - '0') * (i % 2 ? 3 : 1);
    return (sum + digits[MCN_LENGTH - 1] - '0') % 10 == 0;
}

bool mcn_well_formed(const sheet_code* c) {
    return all_digits(c->code, MCN_LENGTH) && !code_is_zero(c, MCN_LENGTH) && ean_check_digit_right(c->code);
}

unsigned tracks_carrying(const sheet* s, const char* code, int except, int* out, unsigned room) {
    unsigned n = 0;
    for (int t = s->first_track; t <= s->last_track && t > 0; ++t) {
        const sheet_code* c = t != except && s->track[t].seen ? track_isrc(&s->track[t]) : NULL;
        if (c != NULL && memcmp(c->code, code, ISRC_LENGTH) == 0 && n < room)
            out[n++] = t;
    }
    return n;
}

int track_flags(const sheet_track* t, const char* flags[3]) {
    bool data = t->control & CONTROL_DATA;
    int n = 0;
    if (t->control & CONTROL_COPY_PERMITTED)
        flags[n++] = "DCP";
    if (!data && (t->control & CONTROL_FOUR_CHANNELS))
        flags[n++] = "4CH";
    if (!data && (t->control & CONTROL_PRE_EMPHASIS))
        flags[n++] = "PRE";
    return n;
}

const sheet_index* first_index(const sheet_track* t) {
    for (int i = 0; i < SHEET_INDEXES; ++i)
        if (t->index[i].seen)
            return &t->index[i];
    return NULL;
}

bool track_length(const sheet_track* t, uint32_t* blocks) {
    if (!t->index[1].seen || t->end < t->index[1].block)
        return false;
    *blocks = t->end - t->index[1].block;
    return true;
}

unsigned sheet_toc_disagreements(const sheet* s, toc_disagreement* out, unsigned room) {
    unsigned n = 0;
    auto add = [&](int track, int64_t toc_block, int64_t q_block) {
        if (toc_block != q_block && n < room)
            out[n++] = {track, toc_block, q_block};
    };
    if (!s->toc_known)
        return 0;
    const disc_toc* toc = &s->toc;
    for (int number = 1; number <= DISC_TRACKS; ++number) {
        const toc_track* entry = toc_find(toc, (unsigned)number);
        const sheet_track* t = &s->track[number];
        if (t->later_session || (entry != NULL && entry->session > 1))
            continue;
        int64_t q_block = t->seen ? (t->index[1].seen ? (int64_t)t->index[1].block : -1) : -1;
        if (entry != NULL || t->seen)
            add(number, entry != NULL ? entry->start : -1, q_block);
    }
    if (s->lead_out_seen)
        add(0, toc->first_session_end, s->lead_out);
    return n;
}
