// Q frames as drives give them: a data sector's mode from its header, and
// formatted Q whose times a drive turned into binary turned back into BCD.
#include "sheet/drive_q.h"

#include <string.h>

namespace {

const uint8_t SYNC[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
const unsigned SECTOR_MODE_AT = 15;  // a data sector's mode byte, after the sync and the address

uint8_t to_bcd(unsigned v) {
    return (uint8_t)(v / 10 << 4 | v % 10);
}

bool near(int64_t a, int64_t b) {
    return a - b >= -SHEET_OFFSET_RANGE && a - b <= SHEET_OFFSET_RANGE;
}

bool frame_number_near(unsigned f, uint32_t b) {
    return frame_number_within(f, b, SHEET_OFFSET_RANGE);
}

// Whether the times of a position frame, read as binary by `value`, agree
// with block b: a position a disc can carry, its disc time near b's.
bool agrees(const uint8_t q[Q_SIZE], uint32_t b, unsigned (*value)(uint8_t)) {
    unsigned track = value(q[1]), index = value(q[2]);
    unsigned rel_s = value(q[4]), rel_f = value(q[5]), m = value(q[7]), sec = value(q[8]), f = value(q[9]);
    bool track_ok = q[1] == Q_LEAD_OUT_TRACK || (track >= 1 && track <= 99);
    if (!track_ok || index > 99 || rel_s > 59 || rel_f > 74 || value(q[3]) > 99 || m > 99 || sec > 59 || f > 74)
        return false;
    int64_t disc = (int64_t)m * FRAMES_PER_MINUTE + sec * FRAMES_PER_SECOND + f;
    return near(block_of_disc_frames(disc), b);
}

unsigned as_bcd(uint8_t byte) {
    unsigned high = byte >> 4, low = byte & 0x0F;
    return high > 9 || low > 9 ? 1000 : high * 10 + low;
}
unsigned as_binary(uint8_t byte) {
    return byte;
}

}  // namespace

bool position_agrees(const uint8_t q[Q_SIZE], uint32_t b, bool binary) {
    return agrees(q, b, binary ? as_binary : as_bcd);
}

uint8_t sector_mode(const uint8_t* main_channel) {
    if (memcmp(main_channel, SYNC, sizeof SYNC) != 0)
        return 0;
    uint8_t mode = main_channel[SECTOR_MODE_AT];
    return mode == 1 || mode == 2 ? mode : 0;
}

bool unconvert_binary(uint8_t q[Q_SIZE], uint32_t b) {
    unsigned adr = q[0] & 0x0F;
    if (adr == 1) {
        if (agrees(q, b, as_bcd) || !agrees(q, b, as_binary))
            return false;
        for (int i = 1; i <= 9; ++i)
            if (i != 6 && !(i == 1 && q[1] == Q_LEAD_OUT_TRACK))
                q[i] = to_bcd(q[i]);
        return true;
    }
    if (adr == 2 || adr == 3) {
        if (frame_number_near(as_bcd(q[9]), b) || !frame_number_near(q[9], b))
            return false;
        q[9] = to_bcd(q[9]);
        return true;
    }
    return false;
}

