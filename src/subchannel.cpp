// Q subchannel decoding: Q bit gathering, CRC-16 check, the position,
// catalogue-number and ISRC modes, and minutes-seconds-frames arithmetic.
#include "subchannel.h"

namespace {

// CRC-16 over the generator x^16 + x^12 + x^5 + 1 (0x1021), MSB first:
// entry i is i << 8 run through eight shift-and-xor steps.
const uint16_t crc_table[256] = {
    0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7,
    0x8108, 0x9129, 0xA14A, 0xB16B, 0xC18C, 0xD1AD, 0xE1CE, 0xF1EF,
    0x1231, 0x0210, 0x3273, 0x2252, 0x52B5, 0x4294, 0x72F7, 0x62D6,
    0x9339, 0x8318, 0xB37B, 0xA35A, 0xD3BD, 0xC39C, 0xF3FF, 0xE3DE,
    0x2462, 0x3443, 0x0420, 0x1401, 0x64E6, 0x74C7, 0x44A4, 0x5485,
    0xA56A, 0xB54B, 0x8528, 0x9509, 0xE5EE, 0xF5CF, 0xC5AC, 0xD58D,
    0x3653, 0x2672, 0x1611, 0x0630, 0x76D7, 0x66F6, 0x5695, 0x46B4,
    0xB75B, 0xA77A, 0x9719, 0x8738, 0xF7DF, 0xE7FE, 0xD79D, 0xC7BC,
    0x48C4, 0x58E5, 0x6886, 0x78A7, 0x0840, 0x1861, 0x2802, 0x3823,
    0xC9CC, 0xD9ED, 0xE98E, 0xF9AF, 0x8948, 0x9969, 0xA90A, 0xB92B,
    0x5AF5, 0x4AD4, 0x7AB7, 0x6A96, 0x1A71, 0x0A50, 0x3A33, 0x2A12,
    0xDBFD, 0xCBDC, 0xFBBF, 0xEB9E, 0x9B79, 0x8B58, 0xBB3B, 0xAB1A,
    0x6CA6, 0x7C87, 0x4CE4, 0x5CC5, 0x2C22, 0x3C03, 0x0C60, 0x1C41,
    0xEDAE, 0xFD8F, 0xCDEC, 0xDDCD, 0xAD2A, 0xBD0B, 0x8D68, 0x9D49,
    0x7E97, 0x6EB6, 0x5ED5, 0x4EF4, 0x3E13, 0x2E32, 0x1E51, 0x0E70,
    0xFF9F, 0xEFBE, 0xDFDD, 0xCFFC, 0xBF1B, 0xAF3A, 0x9F59, 0x8F78,
    0x9188, 0x81A9, 0xB1CA, 0xA1EB, 0xD10C, 0xC12D, 0xF14E, 0xE16F,
    0x1080, 0x00A1, 0x30C2, 0x20E3, 0x5004, 0x4025, 0x7046, 0x6067,
    0x83B9, 0x9398, 0xA3FB, 0xB3DA, 0xC33D, 0xD31C, 0xE37F, 0xF35E,
    0x02B1, 0x1290, 0x22F3, 0x32D2, 0x4235, 0x5214, 0x6277, 0x7256,
    0xB5EA, 0xA5CB, 0x95A8, 0x8589, 0xF56E, 0xE54F, 0xD52C, 0xC50D,
    0x34E2, 0x24C3, 0x14A0, 0x0481, 0x7466, 0x6447, 0x5424, 0x4405,
    0xA7DB, 0xB7FA, 0x8799, 0x97B8, 0xE75F, 0xF77E, 0xC71D, 0xD73C,
    0x26D3, 0x36F2, 0x0691, 0x16B0, 0x6657, 0x7676, 0x4615, 0x5634,
    0xD94C, 0xC96D, 0xF90E, 0xE92F, 0x99C8, 0x89E9, 0xB98A, 0xA9AB,
    0x5844, 0x4865, 0x7806, 0x6827, 0x18C0, 0x08E1, 0x3882, 0x28A3,
    0xCB7D, 0xDB5C, 0xEB3F, 0xFB1E, 0x8BF9, 0x9BD8, 0xABBB, 0xBB9A,
    0x4A75, 0x5A54, 0x6A37, 0x7A16, 0x0AF1, 0x1AD0, 0x2AB3, 0x3A92,
    0xFD2E, 0xED0F, 0xDD6C, 0xCD4D, 0xBDAA, 0xAD8B, 0x9DE8, 0x8DC9,
    0x7C26, 0x6C07, 0x5C64, 0x4C45, 0x3CA2, 0x2C83, 0x1CE0, 0x0CC1,
    0xEF1F, 0xFF3E, 0xCF5D, 0xDF7C, 0xAF9B, 0xBFBA, 0x8FD9, 0x9FF8,
    0x6E17, 0x7E36, 0x4E55, 0x5E74, 0x2E93, 0x3EB2, 0x0ED1, 0x1EF0,
};

// CRC over n bytes, table-driven, from 0. Inline, so that the Q frame's ten
// bytes, which every sector checks, make an unrolled loop.
inline uint16_t crc_of(const uint8_t* data, unsigned n) {
    uint16_t crc = 0;
    for (unsigned i = 0; i < n; ++i)
        crc = (uint16_t)((crc << 8) ^ crc_table[(crc >> 8) ^ data[i]]);
    return crc;
}

// Whether a byte is two BCD digits of at most `limit` (0x99 and below).
bool is_bcd(uint8_t b, unsigned limit) {
    return (b >> 4) <= 9 && (b & 0x0F) <= 9 && (unsigned)((b >> 4) * 10 + (b & 0x0F)) <= limit;
}

// Value of a BCD byte, unchecked: 0x99 is 99, 0xAA is 110, 0xFF is 165.
uint8_t bcd_value(uint8_t b) {
    return (uint8_t)((b >> 4) * 10 + (b & 0x0F));
}

char digit_char(unsigned nibble) {
    return (char)('0' + nibble);
}

void decode_position(const uint8_t q[Q_SIZE], timing* p) {
    p->track = bcd_value(q[1]);
    p->index = bcd_value(q[2]);
    p->rel.m = bcd_value(q[3]);
    p->rel.s = bcd_value(q[4]);
    p->rel.f = bcd_value(q[5]);
    // q[6] is the zero byte between the two times.
    p->abs.m = bcd_value(q[7]);
    p->abs.s = bcd_value(q[8]);
    p->abs.f = bcd_value(q[9]);
}

// 13 digits, one per nibble from the high nibble of byte 1 to the high
// nibble of byte 7.
void decode_mcn(const uint8_t q[Q_SIZE], q_mcn_body* mcn) {
    for (int i = 0; i < MCN_LENGTH; ++i) {
        uint8_t b = q[1 + i / 2];
        mcn->mcn_digits[i] = digit_char((i % 2 == 0) ? (b >> 4) : (b & 0x0F));
    }
    mcn->abs_f = bcd_value(q[9]);
}

// Five 6-bit codes in the top 30 bits of bytes 1-4 (code + 0x30: 0-9 give
// '0'-'9', 17-42 give 'A'-'Z'), then seven BCD digits from the high nibble
// of byte 5 to the high nibble of byte 8.
void decode_isrc(const uint8_t q[Q_SIZE], q_isrc_body* isrc) {
    uint32_t bits = (uint32_t)q[1] << 24 | (uint32_t)q[2] << 16 | (uint32_t)q[3] << 8 | q[4];
    for (int i = 0; i < 5; ++i)
        isrc->isrc_chars[i] = (char)(0x30 + ((bits >> (26 - 6 * i)) & 0x3F));
    for (int i = 0; i < ISRC_LENGTH - 5; ++i) {
        uint8_t b = q[5 + i / 2];
        isrc->isrc_chars[5 + i] = digit_char((i % 2 == 0) ? (b >> 4) : (b & 0x0F));
    }
    isrc->abs_f = bcd_value(q[9]);
}

}  // namespace

// Eight subchannel bytes make one Q byte. They are read as one 64-bit word
// with byte i in bits 8i to 8i+7 (the compiler turns the shifts into a
// single load), and bit 6 of each is moved to bit 8i. Multiplying by
// 0x8040201008040201 (bit 9j set for j = 0..7) copies bit 8i to every bit
// 8i + 9j; only i + j = 7 lands in the top byte, at bit 63 - i, so the top
// byte is the eight Q bits with byte 0's first. No two copies share a bit,
// so nothing carries.
void extract_q(const uint8_t subchannel[SUBCHANNEL_SIZE], uint8_t q[Q_SIZE]) {
    for (int k = 0; k < Q_SIZE; ++k) {
        const uint8_t* s = subchannel + 8 * k;
        uint64_t word = (uint64_t)s[0] | (uint64_t)s[1] << 8 | (uint64_t)s[2] << 16 |
                        (uint64_t)s[3] << 24 | (uint64_t)s[4] << 32 | (uint64_t)s[5] << 40 |
                        (uint64_t)s[6] << 48 | (uint64_t)s[7] << 56;
        uint64_t q_bits = (word >> 6) & 0x0101010101010101u;
        q[k] = (uint8_t)((q_bits * 0x8040201008040201u) >> 56);
    }
}

uint16_t cd_crc16(const uint8_t* data, unsigned n) {
    return crc_of(data, n);
}

bool q_position_valid(const uint8_t q[Q_SIZE]) {
    bool track = q[1] == Q_LEAD_OUT_TRACK || (is_bcd(q[1], 99) && q[1] != 0);
    return track && is_bcd(q[2], 99) && is_bcd(q[3], 99) && is_bcd(q[4], 59) && is_bcd(q[5], 74) &&
           is_bcd(q[7], 99) && is_bcd(q[8], 59) && is_bcd(q[9], 74);
}

int decode_q(const uint8_t q[Q_SIZE], q_frame* frame) {
    // The disc stores the complement of the CRC of bytes 0-9.
    uint16_t stored = (uint16_t)(q[10] << 8 | q[11]);
    if ((uint16_t)~crc_of(q, 10) != stored)
        return Q_CRC_ERROR;

    frame->adr_control = (uint8_t)(q[0] << 4 | q[0] >> 4);
    switch (q[0] & 0x0F) {
    case 1:
        decode_position(q, &frame->position);
        break;
    case 2:
        decode_mcn(q, &frame->mcn);
        break;
    case 3:
        decode_isrc(q, &frame->isrc);
        break;
    default:
        break;  // no body for other modes
    }
    return 0;
}

// Counts the time as frames, adds n and splits the sum again. For a time in
// range this is the usual carry-by-carry sum with minutes modulo 256. A time
// out of range (a position frame taken over as decoded, with seconds of 60
// or more or frames of 75 or more) is counted for the frames it stands for:
// 00:61.80 is 61 * 75 + 80 = 4655 frames, so 00:61.80 plus 0 is 01:02.05.
// The result is therefore always a valid time, and the arithmetic that
// follows it stays within 0 to 74 frames and 0 to 59 seconds.
bool q_crc_matches(const uint8_t q[Q_SIZE]) {
    return (uint16_t)~cd_crc16(q, 10) == (uint16_t)(q[10] << 8 | q[11]);
}

void q_set_crc(uint8_t q[Q_SIZE]) {
    uint16_t crc = (uint16_t)~cd_crc16(q, 10);
    q[10] = (uint8_t)(crc >> 8);
    q[11] = (uint8_t)crc;
}

bool frame_number_within(unsigned frame, int64_t b, int range) {
    int own = (int)(disc_frames_of_block(b) % FRAMES_PER_SECOND);
    int d = ((int)frame - own + FRAMES_PER_SECOND) % FRAMES_PER_SECOND;
    return frame < FRAMES_PER_SECOND && (d <= range || d >= FRAMES_PER_SECOND - range);
}

bool q_position_of(const uint8_t q[Q_SIZE], q_position* p) {
    q_frame f;
    if (decode_q(q, &f) != 0 || f.adr_control >> 4 != 1 || !q_position_valid(q))
        return false;
    p->track = q[1] == Q_LEAD_OUT_TRACK ? 0 : f.position.track;
    p->index = f.position.index;
    p->order = (p->track == 0 ? (unsigned)Q_ORDER_LEAD_OUT : (unsigned)p->track) * 100 + p->index;
    p->control = (uint8_t)(q[0] >> 4);
    p->disc = block_of_disc_frames(msf_frames(&f.position.abs));
    p->start = p->disc - msf_frames(&f.position.rel);
    return true;
}

void msf_add(msf* t, int n) {
    if (n < 0)
        n = 0;
    uint32_t frames = (uint32_t)t->m * FRAMES_PER_MINUTE + (uint32_t)t->s * FRAMES_PER_SECOND +
                      t->f + (uint32_t)n;
    t->m = (uint8_t)(frames / FRAMES_PER_MINUTE);
    t->s = (uint8_t)(frames / FRAMES_PER_SECOND % 60);
    t->f = (uint8_t)(frames % FRAMES_PER_SECOND);
}

void timing_advance(timing* t, int n) {
    msf_add(&t->rel, n);
    msf_add(&t->abs, n);
}

void timing_resync(timing* t, uint8_t abs_f) {
    // No valid time has disc-time frames of 75 or more (a frame number
    // written with BCD nibbles above 9). Such a frame cannot be matched, so
    // the sector is counted like any other that carries no usable position.
    if (abs_f >= FRAMES_PER_SECOND) {
        timing_advance(t, 1);
        return;
    }
    // Normalise first, so that the distance below lies within 0 to 74 even
    // when the running position came from an out-of-range position frame.
    timing_advance(t, 0);
    int delta = abs_f - t->abs.f;
    if (delta < 0)
        delta += FRAMES_PER_SECOND;
    timing_advance(t, delta);
}

const timing START_POSITION = {1, 1, {0, 0, 0}, {0, 2, 0}};

void timing_follow(timing* running, int result, const q_frame* frame) {
    if (result != 0) {
        timing_advance(running, 1);  // a sector is a frame, whether or not its Q was readable
        return;
    }
    switch (frame->adr_control >> 4) {
    case 1:
        // Taken over exactly as decoded, out-of-range values included, so
        // that reports show what the disc carries; msf_add brings such
        // values back into range as soon as the position moves on.
        *running = frame->position;
        break;
    case 2:
        timing_resync(running, frame->mcn.abs_f);
        break;
    case 3:
        timing_resync(running, frame->isrc.abs_f);
        break;
    default:
        timing_advance(running, 1);
        break;
    }
}
