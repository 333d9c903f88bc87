// Q subchannel decoding: gathering the Q frame out of raw P-W subchannel,
// its CRC check, the three decoded modes, and disc-time arithmetic.
#ifndef QSCAN_SUBCHANNEL_H
#define QSCAN_SUBCHANNEL_H

#include <stdint.h>

// Result of decode_q for a frame whose CRC does not match. Outside the
// errno range so that it cannot be mistaken for a system error.
enum { Q_CRC_ERROR = 0x8000 };

enum {
    SUBCHANNEL_SIZE = 96,  // raw P-W bytes per sector, one per subcode symbol
    Q_SIZE = 12,           // Q bytes 0-9 of data, 10-11 the CRC, MSB first
    FRAMES_PER_SECOND = 75,
    FRAMES_PER_MINUTE = 4500,
    BLOCK_0_FRAMES = 2 * FRAMES_PER_SECOND,  // block 0 lies at disc time 00:02.00
    ISRC_LENGTH = 12,  // characters of an ISRC: country 2, registrant 3, year 2, designation 5
    MCN_LENGTH = 13,   // digits of a catalogue number
    DISC_TRACKS = 99   // track numbers 1-99: a disc's, its table of contents', its CD-Text's
};

// The track number byte of a lead-out position frame, as the disc carries
// it: AA, which is no BCD number. Only this byte says lead-out: 0xB0 decodes
// to 110 as well.
const uint8_t Q_LEAD_OUT_TRACK = 0xAA;

// The disc time of a block, in frames from 00:00.00: block 0 is 00:02.00;
// and the block of a disc time.
inline int64_t disc_frames_of_block(int64_t block) {
    return block + BLOCK_0_FRAMES;
}
inline int64_t block_of_disc_frames(int64_t frames) {
    return frames - BLOCK_0_FRAMES;
}

// A time in minutes, seconds (0-59) and frames (0-74); one frame is one sector.
struct msf {
    uint8_t m;
    uint8_t s;
    uint8_t f;
};

// A position on the disc. The member order matches the body of a mode-1
// Q frame, so a decoded position is copied into the running position as is.
struct timing {
    uint8_t track;
    uint8_t index;
    msf rel;  // time within the track
    msf abs;  // time on the disc
};

// Body of a mode-2 frame: the catalogue number's 13 ASCII digits (not
// terminated) and the disc-time frames the frame carries.
struct q_mcn_body {
    char mcn_digits[MCN_LENGTH];
    uint8_t abs_f;
};

// Body of a mode-3 frame: the ISRC's 12 characters (not terminated): country
// (2), registrant (3), year (2), designation (5); then the disc-time frames.
struct q_isrc_body {
    char isrc_chars[ISRC_LENGTH];
    uint8_t abs_f;
};

// A decoded Q frame. adr_control holds ADR in the high nibble and CONTROL in
// the low nibble (Q byte 0 with its nibbles swapped). Only the body of the
// frame's own mode is written by decode_q and may be read.
struct q_frame {
    uint8_t adr_control;
    union {
        timing position;   // ADR 1
        q_mcn_body mcn;    // ADR 2
        q_isrc_body isrc;  // ADR 3
    };
};

// Gathers the Q frame from one sector's subchannel: Q byte k is built from
// bit 6 of subchannel bytes 8k to 8k+7, the first of them the most
// significant bit. No synchronisation is searched for.
void extract_q(const uint8_t subchannel[SUBCHANNEL_SIZE], uint8_t q[Q_SIZE]);

// Checks the CRC of the 12 Q bytes and decodes them into *frame.
// Returns 0 for every frame whose CRC matches, whatever its mode, and
// Q_CRC_ERROR otherwise; on Q_CRC_ERROR *frame is left untouched.
// BCD nibbles and ISRC codes are not range-checked: nibbles 10-15 decode to
// values up to 165 and to the digit characters ':' to '?'.
int decode_q(const uint8_t q[Q_SIZE], q_frame* frame);

// Whether a good position frame's Q bytes carry what a position can be: a
// track number of 01 to 99 in BCD or the lead-out's AA, an index of 00 to
// 99, and two times in BCD with seconds below 60 and frames below 75. A
// frame whose CRC matches may still fail this: a drive that returns binary
// instead of BCD, or a damaged frame the 16-bit CRC lets through.
bool q_position_valid(const uint8_t q[Q_SIZE]);

// CRC-16 over the polynomial 0x1021, from 0, most significant bit first,
// as the disc's Q frames and CD-Text packs carry it (complemented).
uint16_t cd_crc16(const uint8_t* data, unsigned n);

// Whether Q bytes 10-11 hold the CRC of bytes 0-9; and putting it there.
bool q_crc_matches(const uint8_t q[Q_SIZE]);
void q_set_crc(uint8_t q[Q_SIZE]);

// Whether a disc-time frame number (0-74), as a code frame carries it, lies
// within `range` blocks of block b's own (modulo a second).
bool frame_number_within(unsigned frame, int64_t b, int range);

// A time as a count of frames: 01:02.03 is 4653.
inline int64_t msf_frames(const msf* t) {
    return (int64_t)t->m * FRAMES_PER_MINUTE + (int64_t)t->s * FRAMES_PER_SECOND + t->f;
}

// A count of frames as a time: 4653 is 01:02.03 (0 <= frames < 256 minutes).
inline msf msf_of_frames(int64_t frames) {
    return {(uint8_t)(frames / FRAMES_PER_MINUTE), (uint8_t)(frames / FRAMES_PER_SECOND % 60),
            (uint8_t)(frames % FRAMES_PER_SECOND)};
}

// The order of a place on a disc: track * 100 + index, the lead-out after
// every track as track Q_ORDER_LEAD_OUT; track and index never go back.
enum { Q_ORDER_LEAD_OUT = 100 };

// A good position frame that carries a position, as every reader of a
// disc's frames weighs it.
struct q_position {
    int track;       // 1-99; 0 for the lead-out
    unsigned index;
    unsigned order;  // track * 100 + index, the lead-out as Q_ORDER_LEAD_OUT
    uint8_t control; // the CONTROL nibble
    int64_t disc;    // its disc time, as a block
    int64_t start;   // disc time minus track time, as a block: where index 01 begins, for index 01 and above
};

// Decodes 12 Q bytes into *p: true for a frame whose CRC matches, of mode
// 1, whose position q_position_valid finds one a disc can carry.
bool q_position_of(const uint8_t q[Q_SIZE], q_position* p);

// Moves *t forward by n >= 0 frames. The result always has seconds below 60
// and frames below 75; minutes wrap modulo 256.
void msf_add(msf* t, int n);

// Moves both times of *t forward by n >= 0 frames; track and index stay.
void timing_advance(timing* t, int n);

// Moves *t forward (never back, by 0 to 74 frames) to the first frame,
// counting from *t itself, whose disc-time frames equal abs_f.
void timing_resync(timing* t, uint8_t abs_f);

// The running position of a scan before block 0 is looked at: the true
// position of block 0 itself, 1.01 00:00.00 00:02.00. A catalogue-number or
// ISRC frame in block 0 (frame number 0) then leaves it as it is.
extern const timing START_POSITION;

// Moves the running position of a scan on past one sector, given decode_q's
// result and frame for it: a good position frame replaces it, a good
// catalogue-number or ISRC frame resyncs it to the frame's abs_f, and a
// frame that failed its CRC or is of another mode moves it on by one frame.
// Every program that follows a disc's position from its Q frames calls this.
void timing_follow(timing* running, int result, const q_frame* frame);

#endif
