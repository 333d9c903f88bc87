// The table of contents: READ TOC's three formats, each checked against its
// own length field and against what the formats before it said, read into
// one record; and what no disc's table of contents can be.
#include "disc/toc.h"

#include <stdio.h>
#include <string.h>

#include "subchannel.h"

namespace {

const uint8_t FULL_TOC_LEAD_OUT_POINT = 0xA2;  // a session's lead-out start
const uint8_t ADR_POSITION = 1;                // the ADR of the points that give tracks and lead-outs

const answer_shape TRACKS_SHAPE = {0, 2, 2, 4, TOC_TRACK_ENTRY, "8-byte descriptors"};
const answer_shape FULL_SHAPE = {0, 2, 2, 4, FULL_TOC_ENTRY, "11-byte descriptors"};

int32_t be32_signed(const uint8_t* p) {
    return (int32_t)((uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]);
}

toc_track* find_track(disc_toc* toc, unsigned number) {
    return const_cast<toc_track*>(toc_find(toc, number));
}

}  // namespace

bool toc_parse_tracks(const uint8_t* answer, uint32_t length, bool cut, disc_toc* toc, char why[ANSWER_WHY_SIZE]) {
    uint32_t n = 0;
    if (!answer_bytes(answer, length, &TRACKS_SHAPE, cut, &n, why))
        return false;
    disc_toc t;
    memset(&t, 0, sizeof t);
    t.sessions = 1;
    bool lead_out = false;
    for (uint32_t at = 4; at < n; at += TOC_TRACK_ENTRY) {
        const uint8_t* d = answer + at;
        uint8_t number = d[2];
        if (number == TOC_LEAD_OUT) {
            if (at + TOC_TRACK_ENTRY != n) {
                snprintf(why, ANSWER_WHY_SIZE, "its lead-out is not its last descriptor");
                return false;
            }
            t.lead_out = t.first_session_end = be32_signed(d + 4);
            lead_out = true;
            break;
        }
        if (number < 1 || number > DISC_TRACKS) {
            snprintf(why, ANSWER_WHY_SIZE, "it lists track %u, outside 1-99", number);
            return false;
        }
        if (t.track_count > 0 && number <= t.track[t.track_count - 1].number) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u follows track %u", number, t.track[t.track_count - 1].number);
            return false;
        }
        toc_track* track = &t.track[t.track_count++];
        track->number = number;
        track->control = d[1] & 0x0F;
        track->session = 1;
        track->start = be32_signed(d + 4);
    }
    if (t.track_count == 0) {
        snprintf(why, ANSWER_WHY_SIZE, "it lists no track");
        return false;
    }
    if (!lead_out) {
        snprintf(why, ANSWER_WHY_SIZE, "it has no lead-out");
        return false;
    }
    t.first_track = t.track[0].number;
    t.last_track = t.track[t.track_count - 1].number;
    if (answer[2] != t.first_track || answer[3] != t.last_track) {
        snprintf(why, ANSWER_WHY_SIZE, "its header names tracks %u to %u, but it lists tracks %u to %u", answer[2],
                 answer[3], t.first_track, t.last_track);
        return false;
    }
    *toc = t;
    return true;
}

bool toc_parse_sessions(const uint8_t* answer, uint32_t length, bool cut, disc_toc* toc,
                        char why[ANSWER_WHY_SIZE]) {
    uint32_t n = 0;
    if (!answer_bytes(answer, length, &TRACKS_SHAPE, cut, &n, why))
        return false;
    if (n != 4 + TOC_TRACK_ENTRY) {  // one descriptor: the last session's first track
        answer_says_too_little(answer, &TRACKS_SHAPE, why);
        if (n > 4 + TOC_TRACK_ENTRY)
            snprintf(why + strlen(why), ANSWER_WHY_SIZE - strlen(why), ", more than its one descriptor");
        return false;
    }
    uint8_t first_session = answer[2], last_session = answer[3];
    uint8_t first_of_last = answer[4 + 2];
    int32_t start_of_last = be32_signed(answer + 4 + 4);
    if (first_session != 1 || last_session < 1) {
        snprintf(why, ANSWER_WHY_SIZE, "it names sessions %u to %u", first_session, last_session);
        return false;
    }
    const toc_track* track = toc_find(toc, first_of_last);
    if (track == nullptr) {
        snprintf(why, ANSWER_WHY_SIZE, "its last session begins with track %u, which the table of contents does "
                 "not list", first_of_last);
        return false;
    }
    if (track->start != start_of_last) {
        snprintf(why, ANSWER_WHY_SIZE, "it puts track %u at block %ld, the table of contents at block %ld",
                 first_of_last, (long)start_of_last, (long)track->start);
        return false;
    }
    bool first = first_of_last == toc->first_track;
    if (last_session == 1 && !first) {
        snprintf(why, ANSWER_WHY_SIZE, "it names one session, which begins with track %u, not with track %u",
                 first_of_last, toc->first_track);
        return false;
    }
    if (last_session > 1 && first) {
        snprintf(why, ANSWER_WHY_SIZE, "its last session, %u, begins with the disc's first track, %u", last_session,
                 first_of_last);
        return false;
    }
    if (last_session == 1)
        return true;
    toc->sessions = last_session;
    for (unsigned i = 0; i < toc->track_count; ++i)
        toc->track[i].session = toc->track[i].number >= first_of_last ? last_session : 1;
    toc->first_session_end = start_of_last - SESSION_GAP_BLOCKS;
    return true;
}

bool toc_parse_full(const uint8_t* answer, uint32_t length, bool cut, disc_toc* toc, char why[ANSWER_WHY_SIZE]) {
    uint32_t n = 0;
    if (!answer_bytes(answer, length, &FULL_SHAPE, cut, &n, why))
        return false;
    uint8_t first_session = answer[2], last_session = answer[3];
    if (first_session != 1 || last_session != toc->sessions) {
        snprintf(why, ANSWER_WHY_SIZE, "its header names sessions %u to %u, the session information 1 to %u",
                 first_session, last_session, toc->sessions);
        return false;
    }
    disc_toc t = *toc;
    bool seen[DISC_TRACKS + 1] = {};
    bool first_end = false;
    for (uint32_t at = 4; at < n; at += FULL_TOC_ENTRY) {
        const uint8_t* d = answer + at;
        uint8_t session = d[0], point = d[3];
        if ((d[1] >> 4) != ADR_POSITION)
            continue;  // of another kind (ADR 5: recordable discs' pointers), not a track's or a lead-out's
        bool is_track = point >= 1 && point <= DISC_TRACKS;
        if (!is_track && point != FULL_TOC_LEAD_OUT_POINT)
            continue;  // A0h, A1h: the session's first and last track, which format 0000b gave
        if (session < 1 || session > last_session) {
            snprintf(why, ANSWER_WHY_SIZE, "its point %02Xh lies in session %u, outside sessions 1 to %u", point,
                     session, last_session);
            return false;
        }
        uint8_t m = d[8], s = d[9], f = d[10];
        if (s >= 60 || f >= FRAMES_PER_SECOND) {
            snprintf(why, ANSWER_WHY_SIZE, "its point %02Xh of session %u is at %02u:%02u:%02u, no time", point,
                     session, m, s, f);
            return false;
        }
        int32_t start = ((int32_t)m * 60 + s) * FRAMES_PER_SECOND + f - BLOCK_0_FRAMES;
        if (point == FULL_TOC_LEAD_OUT_POINT) {
            if (session == 1) {
                if (first_end) {
                    snprintf(why, ANSWER_WHY_SIZE, "it gives the first session's lead-out twice");
                    return false;
                }
                t.first_session_end = start;
                first_end = true;
            }
            continue;
        }
        toc_track* track = find_track(&t, point);
        if (track == nullptr || seen[point] || track->start != start) {
            if (track == nullptr)
                snprintf(why, ANSWER_WHY_SIZE, "it lists track %u, which the table of contents does not", point);
            else if (seen[point])
                snprintf(why, ANSWER_WHY_SIZE, "it lists track %u twice", point);
            else
                snprintf(why, ANSWER_WHY_SIZE, "it puts track %u at block %ld, the table of contents at block %ld",
                         point, (long)start, (long)track->start);
            return false;
        }
        seen[point] = true;
        track->session = session;
    }
    if (!first_end) {
        snprintf(why, ANSWER_WHY_SIZE, "it has no lead-out for session 1");
        return false;
    }
    *toc = t;
    return true;
}

bool toc_impossible(const disc_toc* toc, char why[ANSWER_WHY_SIZE]) {
    why[0] = '\0';
    if (toc->track_count == 0 || toc->track_count > DISC_TRACKS) {
        snprintf(why, ANSWER_WHY_SIZE, "it lists %u tracks", toc->track_count);
        return true;
    }
    const toc_track* last_of_first = nullptr;  // the first session's last track
    for (unsigned i = 0; i < toc->track_count; ++i) {
        const toc_track* t = &toc->track[i];
        const toc_track* before = i > 0 ? &toc->track[i - 1] : nullptr;
        if (t->start < 0) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u starts at block %ld, before the disc's first block", t->number,
                     (long)t->start);
            return true;
        }
        if (before != nullptr && t->start == before->start) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u starts at block %ld, where track %u does", t->number,
                     (long)t->start, before->number);
            return true;
        }
        if (before != nullptr && t->start < before->start) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u starts at block %ld, before track %u at block %ld", t->number,
                     (long)t->start, before->number, (long)before->start);
            return true;
        }
        if (t->session < 1 || t->session > toc->sessions) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u lies in session %u, of %u", t->number, t->session,
                     toc->sessions);
            return true;
        }
        if (before == nullptr && t->session != 1) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u lies in session %u: the first session has no track",
                     t->number, t->session);
            return true;
        }
        if (before != nullptr && t->session < before->session) {
            snprintf(why, ANSWER_WHY_SIZE, "track %u lies in session %u, after track %u of session %u", t->number,
                     t->session, before->number, before->session);
            return true;
        }
        if (before != nullptr && t->session > before->session && t->start <= toc->first_session_end) {
            snprintf(why, ANSWER_WHY_SIZE, "session %u begins with track %u at block %ld, not after the first "
                     "session's lead-out at block %ld", t->session, t->number, (long)t->start,
                     (long)toc->first_session_end);
            return true;
        }
        if (t->session == 1)
            last_of_first = t;
    }
    const toc_track* last = &toc->track[toc->track_count - 1];
    if (toc->lead_out <= last->start) {
        snprintf(why, ANSWER_WHY_SIZE, "the lead-out starts at block %ld, not after track %u at block %ld",
                 (long)toc->lead_out, last->number, (long)last->start);
        return true;
    }
    if (toc->first_session_end <= last_of_first->start || toc->first_session_end > toc->lead_out) {
        snprintf(why, ANSWER_WHY_SIZE, "the first session's lead-out starts at block %ld, %s at block %ld",
                 (long)toc->first_session_end,
                 toc->first_session_end > toc->lead_out ? "after the disc's lead-out" : "not after its last track",
                 (long)(toc->first_session_end > toc->lead_out ? toc->lead_out : last_of_first->start));
        return true;
    }
    return false;
}
