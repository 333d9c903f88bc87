// READ TOC's answers from a disc_toc, and disc_tocs from a disc's Q frames or
// a CloneCD control file.
#include "emulated/toc_answers.h"

#include <stdlib.h>
#include <string.h>

#include <map>

#include "drive/drive.h"
#include "subchannel.h"

namespace {

typedef msf msf_t;  // the name msf is a parameter here

const uint8_t ADR_POSITION = 0x10;  // ADR 1 in the high nibble
const uint8_t POINT_FIRST_TRACK = 0xA0, POINT_LAST_TRACK = 0xA1, POINT_LEAD_OUT = 0xA2;

void put_address(uint8_t* p, int32_t lba, bool msf) {
    if (msf) {
        msf_t t = msf_of_frames(disc_frames_of_block(lba));
        p[0] = 0;
        p[1] = t.m;
        p[2] = t.s;
        p[3] = t.f;
        return;
    }
    p[0] = (uint8_t)((uint32_t)lba >> 24);
    p[1] = (uint8_t)((uint32_t)lba >> 16);
    p[2] = (uint8_t)((uint32_t)lba >> 8);
    p[3] = (uint8_t)lba;
}

void track_descriptor(std::vector<uint8_t>* a, uint8_t control, uint8_t number, int32_t start, bool msf) {
    uint8_t d[8] = {0, (uint8_t)(ADR_POSITION | control), number, 0};
    put_address(d + 4, start, msf);
    a->insert(a->end(), d, d + 8);
}

void full_descriptor(std::vector<uint8_t>* a, uint8_t session, uint8_t control, uint8_t point, uint8_t pmin,
                     uint8_t psec, uint8_t pframe) {
    uint8_t d[11] = {session, (uint8_t)(ADR_POSITION | control), 0, point, 0, 0, 0, 0, pmin, psec, pframe};
    a->insert(a->end(), d, d + 11);
}

void full_address(std::vector<uint8_t>* a, uint8_t session, uint8_t control, uint8_t point, int32_t lba) {
    msf_t t = msf_of_frames(disc_frames_of_block(lba));
    full_descriptor(a, session, control, point, t.m, t.s, t.f);
}

// Where a session's lead-out begins.
int32_t session_end(const disc_toc& toc, unsigned session) {
    if (session == 1)
        return toc.first_session_end;
    if (session == toc.sessions)
        return toc.lead_out;
    for (unsigned i = 0; i < toc.track_count; ++i)
        if (toc.track[i].session == session + 1)
            return toc.track[i].start - SESSION_GAP_BLOCKS;
    return toc.lead_out;
}

// What the first good position frame at or after block b says, looking at
// no more than a few blocks.
struct sighting {
    bool found;
    unsigned order;  // track * 100 + index, the lead-out as track 100
    uint8_t track, control;
    int64_t start;   // disc time minus track time, as a block
};

sighting look(uint32_t count, const std::function<bool(uint32_t, uint8_t*)>& fetch, uint32_t b) {
    static uint8_t sector[SECTOR_BUFFER_SIZE];
    for (uint32_t x = b; x < count && x < b + 32; ++x) {
        uint8_t q[Q_SIZE];
        q_position p;
        if (!fetch(x, sector))
            continue;
        extract_q(sector + SECTOR_MAIN_SIZE, q);
        if (!q_position_of(q, &p))
            continue;
        return {true, p.order, (uint8_t)(p.track == 0 ? Q_ORDER_LEAD_OUT : p.track), p.control, p.start};
    }
    return {false, 0, 0, 0, 0};
}

// The first block in [lo, count) whose frames show an order of `order` or
// more, by halving; count for none.
uint32_t first_at_or_after(uint32_t count, const std::function<bool(uint32_t, uint8_t*)>& fetch, uint32_t lo,
                           unsigned order) {
    uint32_t hi = count;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        sighting s = look(count, fetch, mid);
        if (s.found && s.order >= order)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

long number_of(const std::string& value) {
    return strtol(value.c_str(), NULL, 0);  // decimal, or hex written 0xa0
}

}  // namespace

bool toc_answer(const disc_toc& toc, uint8_t format, bool msf, uint8_t number, std::vector<uint8_t>* a) {
    a->assign(4, 0);
    a->at(2) = toc.first_track;
    a->at(3) = toc.last_track;
    if (format == 0) {
        if (number > toc.last_track && number != TOC_LEAD_OUT)
            return false;
        for (unsigned i = 0; i < toc.track_count && number != TOC_LEAD_OUT; ++i)
            if (toc.track[i].number >= number)
                track_descriptor(a, toc.track[i].control, toc.track[i].number, toc.track[i].start, msf);
        track_descriptor(a, toc.track[toc.track_count - 1].control, TOC_LEAD_OUT, toc.lead_out, msf);
    } else if (format == 1) {
        a->at(2) = 1;
        a->at(3) = toc.sessions;
        const toc_track* first_of_last = &toc.track[0];
        for (unsigned i = toc.track_count; i-- > 0;)
            if (toc.track[i].session == toc.sessions)
                first_of_last = &toc.track[i];
        track_descriptor(a, first_of_last->control, first_of_last->number, first_of_last->start, msf);
    } else if (format == 2) {
        a->at(2) = 1;
        a->at(3) = toc.sessions;
        for (unsigned session = 1; session <= toc.sessions; ++session) {
            const toc_track *first = NULL, *last = NULL;
            for (unsigned i = 0; i < toc.track_count; ++i) {
                if (toc.track[i].session != session)
                    continue;
                first = first ? first : &toc.track[i];
                last = &toc.track[i];
            }
            if (first == NULL || session < number)
                continue;
            full_descriptor(a, (uint8_t)session, first->control, POINT_FIRST_TRACK, first->number, 0, 0);
            full_descriptor(a, (uint8_t)session, last->control, POINT_LAST_TRACK, last->number, 0, 0);
            full_address(a, (uint8_t)session, last->control, POINT_LEAD_OUT, session_end(toc, session));
            for (const toc_track* t = first; t <= last; ++t)
                full_address(a, (uint8_t)session, t->control, t->number, t->start);
        }
    } else {
        return false;
    }
    size_t length = a->size() - 2;
    a->at(0) = (uint8_t)(length >> 8);
    a->at(1) = (uint8_t)length;
    return true;
}

bool toc_from_frames(uint32_t count, const std::function<bool(uint32_t, uint8_t*)>& fetch, disc_toc* toc) {
    memset(toc, 0, sizeof *toc);
    uint32_t from = 0;
    sighting s = look(count, fetch, 0);
    while (s.found && s.track >= 1 && s.track <= DISC_TRACKS && toc->track_count < DISC_TRACKS) {
        unsigned track = s.track;
        // Index 01 and above know where index 01 began, from their own times.
        uint32_t at = first_at_or_after(count, fetch, from, track * 100 + 1);
        sighting one = look(count, fetch, at);
        if (one.found && one.track == track && one.start >= 0)
            toc->track[toc->track_count++] = {(uint8_t)track, one.control, 1, (int32_t)one.start};
        from = first_at_or_after(count, fetch, at, (track + 1) * 100);
        s = look(count, fetch, from);
    }
    if (toc->track_count == 0)
        return false;
    toc->first_track = toc->track[0].number;
    toc->last_track = toc->track[toc->track_count - 1].number;
    toc->sessions = 1;
    toc->lead_out = (int32_t)count;
    if (s.found && s.track == Q_ORDER_LEAD_OUT && s.start >= 0 && s.start <= (int64_t)count)
        toc->lead_out = (int32_t)s.start;
    toc->first_session_end = toc->lead_out;
    return true;
}

bool toc_from_clonecd(const std::string& text, disc_toc* toc, std::string* error) {
    memset(toc, 0, sizeof *toc);
    std::map<unsigned, int32_t> lead_outs;  // by session
    std::map<std::string, std::string> entry;
    bool in_entry = false;
    auto take_entry = [&]() {
        if (!in_entry || !entry.count("Point"))
            return;
        long point = number_of(entry["Point"]);
        unsigned session = (unsigned)number_of(entry["Session"]);
        int32_t plba = (int32_t)number_of(entry["PLBA"]);
        if (point == POINT_LEAD_OUT)
            lead_outs[session] = plba;
        if (point >= 1 && point <= DISC_TRACKS && number_of(entry["ADR"]) == 1 && toc->track_count < DISC_TRACKS)
            toc->track[toc->track_count++] = {(uint8_t)point, (uint8_t)(number_of(entry["Control"]) & 0x0F),
                                              (uint8_t)session, plba};
    };
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            take_entry();
            entry.clear();
            in_entry = line.compare(0, 7, "[Entry ") == 0;
        } else if (in_entry && line.find('=') != std::string::npos) {
            entry[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    take_entry();
    if (toc->track_count == 0 || !lead_outs.count(1)) {
        *error = toc->track_count == 0 ? "it lists no track" : "it lists no lead-out of the first session";
        return false;
    }
    for (unsigned i = 1; i < toc->track_count; ++i)
        if (toc->track[i].number <= toc->track[i - 1].number) {
            *error = "its tracks are not in order";
            return false;
        }
    toc->first_track = toc->track[0].number;
    toc->last_track = toc->track[toc->track_count - 1].number;
    toc->sessions = (uint8_t)lead_outs.rbegin()->first;
    toc->first_session_end = lead_outs[1];
    toc->lead_out = lead_outs.rbegin()->second;
    return true;
}

bool cd_text_from_clonecd(const std::string& text, std::vector<std::array<uint8_t, 16>>* packs,
                          std::string* error) {
    packs->clear();
    size_t section = text.find("[CDText]");
    if (section == std::string::npos)
        return true;
    long entries = -1;
    size_t at = text.find('\n', section);
    while (at != std::string::npos && at + 1 < text.size() && text[at + 1] != '[') {
        size_t end = text.find('\n', at + 1);
        std::string line = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        at = end;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.compare(0, 8, "Entries=") == 0) {
            entries = number_of(line.substr(8));
        } else if (line.compare(0, 6, "Entry ") == 0 && line.find('=') != std::string::npos) {
            std::array<uint8_t, 16> pack{};
            const char* p = line.c_str() + line.find('=') + 1;
            for (int i = 0; i < 16; ++i) {
                char* next = NULL;
                unsigned long byte = strtoul(p, &next, 16);
                if (next == p || byte > 0xFF) {
                    *error = "its CD-Text entry '" + line + "' is not sixteen hex bytes";
                    return false;
                }
                pack[(size_t)i] = (uint8_t)byte;
                p = next;
            }
            packs->push_back(pack);
        }
    }
    if (entries >= 0 && (size_t)entries != packs->size()) {
        *error = "its CD-Text says Entries=" + std::to_string(entries) + " but lists " + std::to_string(packs->size());
        return false;
    }
    return true;
}
