// What the emulated drive itself makes of a disc's Q frames, as a drive's
// firmware does: the codes READ SUB-CHANNEL reports, and the position of a
// block whose own frame is no position frame.
#ifndef QSCAN_EMULATED_Q_REPORTS_H
#define QSCAN_EMULATED_Q_REPORTS_H

#include <stdint.h>

#include <functional>
#include <map>
#include <string>

#include "subchannel.h"

// A disc's catalogue number and ISRCs, each the code most of its good
// frames carry (on a tie, the one seen first); empty where no frame
// carries one.
struct disc_codes {
    std::string mcn;                       // 13 digits, from the first session's mode-2 frames
    std::map<unsigned, std::string> isrc;  // by track (1-99): 12 characters, from the track's mode-3 frames
    std::map<unsigned, uint8_t> control;   // by track: the CONTROL nibble of its first good position frame
};

// Reads every block below sector_count but those of the gap between the
// sessions, [gap_first, gap_first + gap_count), once. A frame is in the
// track of the last good position frame before it; a frame before the
// first, or in a lead-out, is in no track. The first session ends where
// the gap begins (with no gap, at the disc's end).
disc_codes codes_from_frames(uint32_t sector_count, uint32_t gap_first, uint32_t gap_count,
                             const std::function<bool(uint32_t, uint8_t*)>& fetch);

// Whether 12 Q bytes are a good position frame: its CRC holds, ADR 1, and
// a track, index and times a position can have.
bool is_position_frame(const uint8_t q[Q_SIZE]);

// How far back a drive looks for a position frame to count on from.
enum { POSITION_REACH = 75 };

// The position frame of block lba, as a drive that fills positions in
// gives it: `own` (its frame) when that is a good position frame; else the
// nearest good one of the POSITION_REACH blocks before it, which q_of gives
// (false for a block it cannot read), moved on by the blocks between: the
// disc time counting up, the track time counting down in index 00 (to
// 00:00.00, no further) and up elsewhere, track, index and CONTROL as they
// were, with a CRC of its own. False, *position untouched, when none is
// that near.
bool position_of_block(uint32_t lba, const uint8_t own[Q_SIZE],
                       const std::function<bool(uint32_t, uint8_t*)>& q_of, uint8_t position[Q_SIZE]);

// A BCD byte's value (high nibble x 10 + low nibble, whatever the nibbles).
inline unsigned bcd_value_of(uint8_t b) {
    return (unsigned)(b >> 4) * 10 + (b & 0x0F);
}

// Three BCD bytes, minutes, seconds and frames, as a count of frames; and a
// count of frames into them (minutes modulo 100).
uint32_t bcd_frames(const uint8_t msf[3]);
void bcd_put_frames(uint8_t msf[3], uint32_t frames);

#endif
