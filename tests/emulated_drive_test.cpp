// The emulated drive as the drives people own behave, seen through the
// programs' own drive functions: the synthesizer's data tracks first.
#include <gtest/gtest.h>
#include <string.h>

#include "drive/drive.h"
#include "emulated/disc_synth.h"
#include "emulated/emulated_drive.h"

namespace {

// The 16 bytes of a sector's header: sync, then the address in BCD and the mode.
std::vector<uint8_t> header_of(const synth_disc& disc, uint32_t lba) {
    uint8_t sector[SECTOR_BUFFER_SIZE];
    synth_sector(disc, lba, sector);
    return std::vector<uint8_t>(sector, sector + 16);
}

// A data track's sectors carry its mode in byte 15 of their headers; the
// sync and the address are those of any data sector, and an audio sector
// has neither. Block 0 is 00:02.00, block 1234 00:18.34 (1384 frames),
// block 2100 00:30.00; the second session's track (block 2400 + 11400,
// 13950 frames: 03:06.00) is of mode 1.
TEST(DiscSynth, DataTracksOfEitherMode) {
    synth_disc disc;
    disc.tracks = {{0, 1500, 0x4, "", 2}, {150, 300, 0x0, ""}, {150, 300, 0x4, ""}};
    disc.second_session = 100;
    const std::vector<uint8_t> sync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    struct {
        uint32_t lba;
        std::vector<uint8_t> address_and_mode;  // bytes 12-15
    } cases[] = {
        {0, {0x00, 0x02, 0x00, 0x02}},
        {1234, {0x00, 0x18, 0x34, 0x02}},
        {2100, {0x00, 0x30, 0x00, 0x01}},  // track 3: mode 1 unless said
        {13800, {0x03, 0x06, 0x00, 0x01}},
    };
    for (auto& c : cases) {
        std::vector<uint8_t> header = header_of(disc, c.lba);
        EXPECT_EQ(sync, std::vector<uint8_t>(header.begin(), header.begin() + 12)) << c.lba;
        EXPECT_EQ(c.address_and_mode, std::vector<uint8_t>(header.begin() + 12, header.end())) << c.lba;
    }
    std::vector<uint8_t> audio = header_of(disc, 1650);
    EXPECT_NE(sync, std::vector<uint8_t>(audio.begin(), audio.begin() + 12));
}

// The mixed-mode sample: its data track is track 1, of mode 2.
TEST(DiscSynth, MixedModeDisc) {
    synth_disc disc = synth_mixed_mode_disc();
    ASSERT_FALSE(disc.tracks.empty());
    EXPECT_EQ(0x4, disc.tracks[0].control);
    EXPECT_EQ(2, disc.tracks[0].mode);
    EXPECT_EQ(0x02, header_of(disc, 0)[15]);
    EXPECT_EQ(0x02, header_of(disc, disc.tracks[0].length - 1)[15]);
}

}  // namespace
