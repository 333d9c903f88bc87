// Disc synthesizer: lays down the sectors of a compact disc (main channel and
// raw P-W subchannel) from a short description, for the emulated drive and
// the tests. Its Q encoder shares no code with the decoder it is tested against.
#ifndef QSCAN_EMULATED_DISC_SYNTH_H
#define QSCAN_EMULATED_DISC_SYNTH_H

#include <stdint.h>

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "disc/toc.h"


struct synth_track {
    synth_track(uint32_t pregap_frames = 0, uint32_t length_frames = 0, uint8_t control_nibble = 0,
                std::string code = "", uint8_t sector_mode = 1)
        : pregap(pregap_frames), length(length_frames), control(control_nibble), isrc(code), mode(sector_mode) {}

    uint32_t pregap = 0;   // frames of index 0 before the track; on the first track, from block 0
    uint32_t length = 0;   // frames of index 1 and above
    uint8_t control = 0;   // CONTROL nibble: 0 two-channel audio, 1 pre-emphasis, 2 copy permitted, 4 data, 8 four channels
    std::string isrc;      // 12 characters (country, registrant, year, designation), or empty
    // A data track's sector mode, 1 or 2: byte 15 of each of its sectors'
    // headers (a mode-2 sector has the same sync and address as a mode-1 one).
    uint8_t mode = 1;
    // Where index 2, 3, ... begin, in frames after the start of index 1, ascending.
    std::vector<uint32_t> indexes;
    // From this frame of index 1 on, the track's ISRC frames carry a second
    // code (a mastering error); empty for none.
    std::string second_isrc;
    uint32_t second_isrc_from = 0;
};

// One block (language) of CD-Text: the disc's title and performer, and each
// track's (as many as given, the rest empty), as bytes in the block's
// character code: ISO 8859-1, or with a code of 80h and up two bytes a
// character.
struct synth_text {
    uint8_t language = 0x09;  // English
    uint8_t character_code = 0x00;
    std::string title, performer;
    std::vector<std::string> titles, performers;
    // UPC/EAN and ISRCs (pack type 8Eh, ASCII), as the disc gives them: any
    // text, hyphens included; none when both are empty.
    std::string upc;
    std::vector<std::string> isrcs;
    // Texts of further pack types, 82h (songwriter) to 87h (genre, whose
    // disc text begins with the genre's two-byte code), by type: the disc's,
    // then each track's.
    std::map<uint8_t, std::pair<std::string, std::vector<std::string>>> more;
};

struct synth_disc {
    std::vector<synth_track> tracks;
    std::vector<synth_text> text;  // CD-Text, a block each; none when empty
    std::string mcn;  // 13 digits, or empty for a disc without a catalogue number
    // Blocks of lead-out after the last track: position frames of track AA,
    // index 01, the track time counting up from 00:00.00.
    uint32_t lead_out = 0;
    // Blocks of a second session's one data track, which begins
    // SESSION_GAP_BLOCKS after the first session's lead-out does, as on an
    // enhanced CD; 0 for a disc of one session. Nothing between the first
    // session's readable lead-out blocks and that track can be read.
    uint32_t second_session = 0;

    // One catalogue-number frame in every mcn_period frames, at the blocks
    // whose number modulo the period is mcn_phase; the same for ISRC frames,
    // which appear only in index 1 and above of a track that has an ISRC. A
    // block that both would claim carries the catalogue number.
    uint32_t mcn_period = 100, mcn_phase = 25;
    uint32_t isrc_period = 100, isrc_phase = 75;
    // ISRC frames in the first isrc_latch frames of a track's index 1 still
    // carry the previous track's code, as some drives and discs give them.
    uint32_t isrc_latch = 0;
    // The pregap's track time counts down to 00:00.00 at its last block, or
    // with countdown_to_one to 00:00.01 (pressings do both).
    bool countdown_to_one = false;

    std::set<uint32_t> damaged;  // blocks whose Q frame has one bit flipped, so its CRC fails
    // Blocks whose Q bytes 0-9 are laid down as given (any mode, any values),
    // with a matching CRC unless the block is also damaged.
    std::map<uint32_t, std::array<uint8_t, 10>> raw_q;
    // shift_count blocks from shift_first carry the Q frame of the block
    // before each, as a drive that loses its place in the subchannel returns it.
    uint32_t shift_first = 0, shift_count = 0;

    uint32_t noise_seed = 1;  // for the main channel and the P, R-W bits
    bool noise = true;        // false: non-Q subchannel bits are all set instead
};

enum synth_kind { SYNTH_POSITION, SYNTH_MCN, SYNTH_ISRC, SYNTH_RAW };

// What the description says about one block.
struct synth_sector_info {
    synth_kind kind = SYNTH_POSITION;
    bool damaged = false;
    unsigned track = 0, index = 0;  // where the block lies; Q_LEAD_OUT_TRACK in the lead-out
    uint8_t control = 0;
    uint8_t mode = 1;         // the sector mode of a data track's blocks (the second session's: 1)
    uint32_t rel_frames = 0;  // track time as carried: counts down in index 0 (see countdown_to_one)
    uint32_t abs_frames = 0;  // disc time: block + 150
    std::string code;         // the catalogue number or ISRC of an SYNTH_MCN or SYNTH_ISRC block
};

// The disc's length in blocks, to the end of its last session. The
// functions below take a block below it.
uint32_t synth_sector_count(const synth_disc& disc);

// Where the first session's lead-out begins: the end of its last track.
uint32_t synth_lead_out_start(const synth_disc& disc);

// The blocks between the sessions that cannot be read: [*first, *first + *count).
void synth_session_gap(const synth_disc& disc, uint32_t* first, uint32_t* count);

// The disc's CD-Text packs as the lead-in carries them, without their CRCs
// (16 bytes each): for each block its texts, then its size information.
std::vector<std::array<uint8_t, 16>> synth_cd_text(const synth_disc& disc);

// The disc's table of contents, as a drive reads it from the lead-in:
// each track's index 01, its CONTROL and session, the lead-outs.
disc_toc synth_toc(const synth_disc& disc);
synth_sector_info synth_describe(const synth_disc& disc, uint32_t lba);

// The 12 Q bytes of a block as laid down, damage and shift included.
std::array<uint8_t, 12> synth_q(const synth_disc& disc, uint32_t lba);

// One whole 2448-byte sector: main channel, then subchannel with P in bit 7,
// Q in bit 6 and R-W in bits 5-0.
void synth_sector(const synth_disc& disc, uint32_t lba, uint8_t sector[SECTOR_BUFFER_SIZE]);

// The whole disc as an image: synth_sector_count sectors, block 0 first.
std::vector<uint8_t> synth_image(const synth_disc& disc);

// Writes the 96 bits of q into bit 6 (the Q channel) of the 96 subchannel
// bytes, first bit first, leaving their other bits as they are.
void synth_lay_down_q(const std::array<uint8_t, 12>& q, uint8_t subchannel[SUBCHANNEL_SIZE]);

// Q bytes 0-9 with their CRC appended (bitwise, complemented, MSB first).
std::array<uint8_t, 12> synth_with_crc(const std::array<uint8_t, 10>& q);

// The disc in drive D: of qscan-emu when no image is given: four audio
// tracks, two-second pregaps, a catalogue number, an ISRC per track, a few
// damaged frames, and CD-Text.
synth_disc synth_sample_disc();

// A disc with what a sheet of it must get right: a hidden first track with
// pre-emphasis and indexes 2 and 3; pregaps of 150, 1, 87 and 165 blocks
// counting down to 00:00.01; the previous track's ISRC in a track's first
// frames; a track without ISRC and one with two; a copy flag; a data track;
// damaged frames; a lead-out.
synth_disc synth_sheet_disc();

// A mixed-mode disc, as CD-ROM XA discs with audio are made: a data track of
// mode-2 sectors first, then three audio tracks (two with an ISRC, the
// middle one without), a catalogue number, damaged frames and a lead-out.
synth_disc synth_mixed_mode_disc();

// An album of the given length in frames: tracks of four minutes (the last
// one shorter), two-second pregaps, a catalogue number, an ISRC per track,
// and one damaged frame in every 1000.
synth_disc synth_album_disc(uint32_t frames);

#endif
