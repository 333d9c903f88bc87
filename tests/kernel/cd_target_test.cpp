// The kernel rig's drive firmware: the answers a kernel's CD-ROM driver
// relies on, and READ CD through the emulated drive with its faults.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "emulated/emulated_drive.h"
#include "tests/support.h"
#include "tests/kernel/cd_target.h"

namespace {

struct outcome {
    target_response r;
    std::vector<uint8_t> data;
};

outcome run(std::vector<uint8_t> cdb, uint32_t room = 4096) {
    outcome o;
    o.data.assign(room, 0xEE);
    target_execute(cdb.data(), cdb.size(), o.data.data(), room, &o.r);
    o.data.resize(o.r.length);
    return o;
}

int sense_of(const target_response& r) {
    return r.sense_length ? (r.sense[2] & 0x0F) << 16 | r.sense[12] << 8 | r.sense[13] : -1;
}

class CdTargetTest : public ::testing::Test {
protected:
    synth_disc disc = synth_album_disc(1000);
    void SetUp() override {
        emulated_reset();
        emulated_insert_synth_disc(disc);
    }
    void TearDown() override { emulated_reset(); }
};

// The standard answer is the emulated drive's, with or without a disc, and
// satisfies the kernel's scan (a removable CD/DVD device); the pages of
// vital product data are the target's own.
TEST_F(CdTargetTest, IdentifiesAsARemovableCdDrive) {
    for (bool disc_in : {true, false}) {
        if (!disc_in)
            emulated_eject();
        outcome o = run({0x12, 0, 0, 0, 36, 0});
        ASSERT_EQ(36u, o.r.length) << disc_in;
        EXPECT_EQ(0x05, o.data[0]);  // peripheral device type: CD/DVD, which the sr driver takes
        EXPECT_EQ(0x80, o.data[1]);  // removable
        EXPECT_EQ(31, o.data[4]);    // the additional length: 36 bytes in all, so the kernel asks no more
        EXPECT_EQ("QSCAN   EMULATED CD-ROM 0001", std::string(o.data.begin() + 8, o.data.end()));
    }
    EXPECT_EQ(5u, run({0x12, 0, 0, 0, 5, 0}).r.length);  // no more than the allocation length
    EXPECT_EQ(6u, run({0x12, 1, 0x00, 0, 255, 0}).r.length);
    EXPECT_EQ(12u, run({0x12, 1, 0x80, 0, 255, 0}).r.length);
    EXPECT_EQ(0x052400, sense_of(run({0x12, 1, 0x83, 0, 255, 0}).r));
    EXPECT_EQ(0x052400, sense_of(run({0x12, 0, 0x80, 0, 255, 0}).r));  // a page code without EVPD
    emulated_inject_fault(0, FAULT_INQUIRY_REFUSED);
    EXPECT_EQ(0x052000, sense_of(run({0x12, 0, 0, 0, 36, 0}).r));
    EXPECT_EQ(6u, run({0x12, 1, 0x00, 0, 255, 0}).r.length);
}

// READ SUB-CHANNEL goes to the emulated drive: the album's catalogue number
// and track 1's ISRC as the disc's frames carry them, as the kernel's own
// ioctls and the programs ask for them; an empty drive has none.
TEST_F(CdTargetTest, ReadSubChannelThroughTheEmulatedDrive) {
    outcome mcn = run({0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0});
    ASSERT_EQ(24u, mcn.r.length);
    EXPECT_EQ(0x80, mcn.data[8]);
    EXPECT_EQ(disc.mcn, std::string(mcn.data.begin() + 9, mcn.data.begin() + 22));
    outcome isrc = run({0x42, 0, 0x40, 0x03, 0, 0, 1, 0, 24, 0});
    ASSERT_EQ(24u, isrc.r.length);
    EXPECT_EQ(0x80, isrc.data[8]);
    EXPECT_EQ(disc.tracks[0].isrc, std::string(isrc.data.begin() + 9, isrc.data.begin() + 21));
    outcome position = run({0x42, 0x02, 0x40, 0x01, 0, 0, 0, 0, 16, 0});  // as the kernel's CDROMSUBCHNL asks
    ASSERT_EQ(16u, position.r.length);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x10, 1, 1, 0, 0, 2, 0}),
              std::vector<uint8_t>(position.data.begin() + 4, position.data.begin() + 12));  // block 0 at 00:02.00
    emulated_eject();
    EXPECT_EQ(0x023A00, sense_of(run({0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0}).r));
}

// The kind of drive meets the kernel's commands as qscan-emu's.
TEST_F(CdTargetTest, KindOfDrive) {
    emulated_set_drive_kind(DRIVE_NO_RAW);
    EXPECT_EQ(0x052400, sense_of(run({0xBE, 0, 0, 0, 0, 7, 0, 0, 1, 0xF8, 0x01, 0}, 2448).r));
    outcome o = run({0xBE, 0, 0, 0, 0, 7, 0, 0, 1, 0xF8, 0x02, 0}, 2368);
    EXPECT_EQ(0x00, o.r.status);
    EXPECT_EQ(2368u, o.r.length);
}

// Each command a kernel sends on its own: its status, sense and length.
TEST_F(CdTargetTest, CommandsOfTheKernelsDriver) {
    struct {
        const char* what;
        std::vector<uint8_t> cdb;
        int sense;  // -1: GOOD
        uint32_t length;
    } cases[] = {
        {"test unit ready", {0x00, 0, 0, 0, 0, 0}, -1, 0},
        {"request sense", {0x03, 0, 0, 0, 18, 0}, -1, 18},
        {"read capacity", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -1, 8},
        {"mode sense(10), capabilities", {0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0, 0}, -1, 30},
        {"mode sense(6), all pages", {0x1A, 0, 0x3F, 0, 255, 0}, -1, 26},
        {"mode sense, other page", {0x5A, 0, 0x01, 0, 0, 0, 0, 0x01, 0, 0}, 0x052400, 0},
        {"get configuration", {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}, -1, 8},
        {"event status, media", {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, -1, 8},
        {"event status, not polled", {0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8, 0}, 0x052400, 0},
        {"read toc", {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, -1, 20},
        {"read toc from the lead-out", {0x43, 0, 0, 0, 0, 0, 0xAA, 0x03, 0x24, 0}, -1, 12},
        {"read toc, CD-Text, which this disc lacks", {0x43, 0, 5, 0, 0, 0, 0, 0x03, 0x24, 0}, -1, 4},
        {"read toc, ATIP, which a pressed disc lacks", {0x43, 0, 4, 0, 0, 0, 0, 0x03, 0x24, 0}, 0x052400, 0},
        {"disc information", {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, -1, 34},
        {"prevent removal", {0x1E, 0, 0, 0, 1, 0}, -1, 0},
        {"set cd speed", {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, -1, 0},
        {"read(10)", {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, -1, 4096},
        {"read(10) past the end", {0x28, 0, 0, 0, 0x03, 0xE7, 0, 0, 2, 0}, 0x052100, 0},
        {"unknown command", {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x052000, 0},
    };
    for (auto& c : cases) {
        outcome o = run(c.cdb);
        EXPECT_EQ(c.sense < 0 ? 0x00 : 0x02, o.r.status) << c.what;
        EXPECT_EQ(c.sense, sense_of(o.r)) << c.what;
        EXPECT_EQ(c.length, o.r.length) << c.what;
    }
    outcome capacity = run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0x03, 0xE7, 0, 0, 0x08, 0}), capacity.data);  // block 999, 2048 bytes
    outcome toc = run({0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0});  // in MSF
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 2, 0}), std::vector<uint8_t>(toc.data.begin() + 8, toc.data.begin() + 12));
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 15, 25}), std::vector<uint8_t>(toc.data.begin() + 16, toc.data.begin() + 20));
}

TEST_F(CdTargetTest, EmptyDrive) {
    emulated_eject();
    for (std::vector<uint8_t> cdb : {std::vector<uint8_t>{0x00, 0, 0, 0, 0, 0},
                                    std::vector<uint8_t>{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                    std::vector<uint8_t>{0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0},
                                    std::vector<uint8_t>{0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0x01, 0}})
        EXPECT_EQ(0x023A00, sense_of(run(cdb).r)) << int(cdb[0]);
    EXPECT_EQ(0x02, run({0x03, 0, 0, 0, 18, 0}).data[2]);  // REQUEST SENSE says NOT READY
    EXPECT_EQ(0x00, run({0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}).data[5]);  // no medium
}

// READ CD goes to the emulated drive: the sector as the disc holds it, the
// drive's strictness about the command block, and the faults.
TEST_F(CdTargetTest, ReadCdThroughTheEmulatedDrive) {
    const std::vector<uint8_t> read_block_7 = {0xBE, 0, 0, 0, 0, 7, 0, 0, 1, 0xF8, 0x01, 0};
    outcome o = run(read_block_7, 2448);
    ASSERT_EQ(0x00, o.r.status);
    ASSERT_EQ(2448u, o.r.length);
    uint8_t want[2448];
    synth_sector(disc, 7, want);
    EXPECT_EQ(0, memcmp(want, o.data.data(), sizeof want));

    std::vector<uint8_t> two_blocks = read_block_7;
    two_blocks[8] = 2;
    o = run(two_blocks, 2 * 2448);
    EXPECT_EQ(0x00, o.r.status);
    EXPECT_EQ(2u * 2448, o.r.length);

    emulated_inject_fault(7, FAULT_MEDIUM);
    o = run(read_block_7, 2448);
    EXPECT_EQ(0x02, o.r.status);
    EXPECT_EQ(0x031105, sense_of(o.r));
    EXPECT_EQ(2448u, o.r.length);  // the emulated drive delivers the data all the same
    EXPECT_EQ(0xF0, o.r.sense[0]);  // VALID, with the block in the information field
    EXPECT_EQ(7, o.r.sense[6]);

    emulated_inject_fault(7, FAULT_RECOVERED);  // corrected data, and a status that says so
    o = run(read_block_7, 2448);
    EXPECT_EQ(0x011701, sense_of(o.r));
    EXPECT_EQ(0, memcmp(want, o.data.data(), sizeof want));

    emulated_inject_fault(7, FAULT_SHORT_TRANSFER);
    EXPECT_EQ(2352u, run(read_block_7, 2448).r.length);

    emulated_inject_fault(7, FAULT_UNIT_ATTENTION);
    EXPECT_EQ(0x062800, sense_of(run(read_block_7, 2448).r));
    EXPECT_EQ(0x00, run(read_block_7, 2448).r.status);  // once only

    std::vector<uint8_t> past_end = read_block_7;
    past_end[4] = 0x10;
    EXPECT_EQ(0x052100, sense_of(run(past_end, 2448).r));
}

}  // namespace
