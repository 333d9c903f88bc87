// The emulated drive's own reading of a disc's Q frames: the codes by
// majority over the whole disc, and positions counted on from the nearest
// position frame.
#include "emulated/q_reports.h"

#include <string.h>

#include <vector>

#include "drive/drive.h"

namespace {

// The codes seen, in the order they were first seen, and how often.
struct tally {
    std::vector<std::pair<std::string, unsigned>> seen;

    void add(const std::string& code) {
        for (auto& s : seen)
            if (s.first == code) {
                ++s.second;
                return;
            }
        seen.push_back({code, 1});
    }
    std::string winner() const {
        const std::pair<std::string, unsigned>* best = nullptr;
        for (const auto& s : seen)
            if (best == nullptr || s.second > best->second)
                best = &s;
        return best ? best->first : std::string();
    }
};

uint8_t bcd_of(unsigned value) {
    return (uint8_t)((value / 10 % 10) << 4 | value % 10);
}

}  // namespace

uint32_t bcd_frames(const uint8_t msf[3]) {
    return bcd_value_of(msf[0]) * FRAMES_PER_MINUTE + bcd_value_of(msf[1]) * FRAMES_PER_SECOND + bcd_value_of(msf[2]);
}

void bcd_put_frames(uint8_t msf[3], uint32_t frames) {
    ::msf t = msf_of_frames(frames);
    msf[0] = bcd_of(t.m);
    msf[1] = bcd_of(t.s);
    msf[2] = bcd_of(t.f);
}

bool is_position_frame(const uint8_t q[Q_SIZE]) {
    q_frame f;
    return decode_q(q, &f) == 0 && (q[0] & 0x0F) == 1 && q_position_valid(q);
}

disc_codes codes_from_frames(uint32_t sector_count, uint32_t gap_first, uint32_t gap_count,
                             const std::function<bool(uint32_t, uint8_t*)>& fetch) {
    disc_codes codes;
    tally mcn;
    std::map<unsigned, tally> isrc;
    const uint32_t first_session_end = gap_count > 0 ? gap_first : sector_count;
    unsigned track = 0;
    std::vector<uint8_t> sector(SECTOR_BUFFER_SIZE);
    for (uint32_t lba = 0; lba < sector_count; ++lba) {
        if (lba - gap_first < gap_count || !fetch(lba, sector.data()))
            continue;
        uint8_t q[Q_SIZE];
        q_frame f;
        extract_q(sector.data() + SECTOR_MAIN_SIZE, q);
        if (decode_q(q, &f) != 0)
            continue;
        switch (q[0] & 0x0F) {
        case 1:
            if (!q_position_valid(q))
                break;
            track = q[1] == Q_LEAD_OUT_TRACK ? 0 : f.position.track;
            if (track != 0 && codes.control.count(track) == 0)
                codes.control[track] = q[0] >> 4;
            break;
        case 2:
            if (lba < first_session_end)
                mcn.add(std::string(f.mcn.mcn_digits, MCN_LENGTH));
            break;
        case 3:
            if (track != 0)
                isrc[track].add(std::string(f.isrc.isrc_chars, ISRC_LENGTH));
            break;
        }
    }
    codes.mcn = mcn.winner();
    for (const auto& t : isrc)
        codes.isrc[t.first] = t.second.winner();
    return codes;
}

bool position_of_block(uint32_t lba, const uint8_t own[Q_SIZE],
                       const std::function<bool(uint32_t, uint8_t*)>& q_of, uint8_t position[Q_SIZE]) {
    if (is_position_frame(own)) {
        memcpy(position, own, Q_SIZE);
        return true;
    }
    for (uint32_t back = 1; back <= POSITION_REACH && back <= lba; ++back) {
        uint8_t q[Q_SIZE];
        if (!q_of(lba - back, q) || !is_position_frame(q))
            continue;
        uint32_t rel = bcd_frames(q + 3);
        rel = q[2] == 0x00 ? (rel > back ? rel - back : 0) : rel + back;
        bcd_put_frames(q + 3, rel);
        bcd_put_frames(q + 7, bcd_frames(q + 7) + back);
        uint16_t crc = (uint16_t)~cd_crc16(q, 10);
        q[10] = (uint8_t)(crc >> 8);
        q[11] = (uint8_t)crc;
        memcpy(position, q, Q_SIZE);
        return true;
    }
    return false;
}
