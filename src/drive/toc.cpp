// The table of contents: READ TOC's three formats read into one record,
// and the wait for a drive that is still becoming ready.
#include "drive/toc.h"

#include <errno.h>
#include <string.h>

#include "platform/win32.h"

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

int read_tracks(drive_handle handle, disc_toc* toc, read_failure* failure) {
    uint8_t answer[TOC_ANSWER_SIZE];
    uint32_t length = 0;
    int rc = read_toc(handle, TOC_FORMAT_TRACKS, 0, answer, sizeof answer, &length, failure);
    if (rc != 0)
        return rc;
    return toc_parse_tracks(answer, length, toc) ? 0 : EINVAL;
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

bool becoming_ready(const read_failure* f) {
    const sense_data* s = &f->sense;
    return f->kind == READ_CHECK_CONDITION && s->has_asc && !s->deferred && s->key == SENSE_KEY_NOT_READY &&
           ((s->asc == 0x04 && (s->ascq == 0x01 || s->ascq == 0x07)) || s->asc == MEDIUM_NOT_PRESENT.asc);
}

int read_disc_toc(drive_handle handle, disc_toc* toc, read_failure* failure, ready_wait_notice notice,
                  void* context) {
    DWORD started = GetTickCount();
    int rc;
    bool told = false;
    while ((rc = read_tracks(handle, toc, failure)) == EIO && becoming_ready(failure) &&
           GetTickCount() - started < READY_WAIT_MS) {
        if (!told && notice != NULL)
            notice(context);
        told = true;
        Sleep(READY_POLL_MS);
    }
    if (rc != 0)
        return rc;
    uint8_t answer[FULL_TOC_ANSWER_SIZE];
    uint32_t length = 0;
    read_failure ignored;
    if (read_toc(handle, TOC_FORMAT_SESSIONS, 0, answer, TOC_ANSWER_SIZE, &length, &ignored) != 0 ||
        !toc_parse_sessions(answer, length, toc) || toc->sessions == 1)
        return 0;  // one session, as far as the drive says
    if (read_toc(handle, TOC_FORMAT_FULL, 1, answer, sizeof answer, &length, &ignored) == 0) {
        disc_toc full = *toc;
        if (toc_parse_full(answer, length, &full))
            *toc = full;
    }
    return 0;
}
