// The table of contents: READ TOC's three formats read into one record.
#include "disc/toc.h"

#include <string.h>

#include "subchannel.h"

namespace {

const uint8_t FULL_TOC_LEAD_OUT_POINT = 0xA2;  // a session's lead-out start

uint32_t be16(const uint8_t* p) {
    return (uint32_t)p[0] << 8 | p[1];
}

int32_t be32_signed(const uint8_t* p) {
    return (int32_t)((uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]);
}

// The bytes an answer holds by its own length field, within what arrived.
uint32_t answer_length(const uint8_t* answer, uint32_t length) {
    if (length < 4)
        return 0;
    uint32_t said = be16(answer) + 2;
    return said < length ? said : length;
}


}  // namespace

bool toc_parse_tracks(const uint8_t* answer, uint32_t length, disc_toc* toc) {
    memset(toc, 0, sizeof *toc);
    uint32_t n = answer_length(answer, length);
    if (n < 4 + TOC_TRACK_ENTRY || (n - 4) % TOC_TRACK_ENTRY != 0)
        return false;
    toc->first_track = answer[2];
    toc->last_track = answer[3];
    toc->sessions = 1;
    for (uint32_t at = 4; at < n; at += TOC_TRACK_ENTRY) {
        const uint8_t* d = answer + at;
        uint8_t number = d[2];
        int32_t start = be32_signed(d + 4);
        if (number == TOC_LEAD_OUT) {
            if (at + TOC_TRACK_ENTRY != n)
                return false;  // the lead-out comes last
            toc->lead_out = toc->first_session_end = start;
            return toc->track_count > 0;
        }
        bool in_order = toc->track_count == 0 || number > toc->track[toc->track_count - 1].number;
        if (number < 1 || number > TOC_TRACKS || !in_order)
            return false;
        toc_track* t = &toc->track[toc->track_count++];
        t->number = number;
        t->control = d[1] & 0x0F;
        t->session = 1;
        t->start = start;
    }
    return false;  // no lead-out
}

bool toc_parse_sessions(const uint8_t* answer, uint32_t length, disc_toc* toc) {
    if (answer_length(answer, length) < 4 + TOC_TRACK_ENTRY)
        return false;
    uint8_t last_session = answer[3];
    uint8_t first_of_last = answer[4 + 2];
    int32_t start_of_last = be32_signed(answer + 4 + 4);
    if (last_session <= 1)
        return true;
    toc->sessions = last_session;
    for (unsigned i = 0; i < toc->track_count; ++i)
        toc->track[i].session = toc->track[i].number >= first_of_last ? last_session : 1;
    toc->first_session_end = start_of_last - SESSION_GAP_BLOCKS;
    return true;
}

bool toc_parse_full(const uint8_t* answer, uint32_t length, disc_toc* toc) {
    uint32_t n = answer_length(answer, length);
    bool first_end = false;
    for (uint32_t at = 4; at + FULL_TOC_ENTRY <= n; at += FULL_TOC_ENTRY) {
        const uint8_t* d = answer + at;
        uint8_t session = d[0], point = d[3];
        int32_t start = ((int32_t)d[8] * 60 + d[9]) * FRAMES_PER_SECOND + d[10] - BLOCK_0_FRAMES;
        if (point == FULL_TOC_LEAD_OUT_POINT && session == 1) {
            toc->first_session_end = start;
            first_end = true;
        }
        for (unsigned i = 0; i < toc->track_count; ++i)
            if (point == toc->track[i].number && (d[1] >> 4) == 1)
                toc->track[i].session = session;
    }
    return first_end;
}

