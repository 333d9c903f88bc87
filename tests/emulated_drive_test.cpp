// The emulated drive as the drives people own behave, seen through the
// programs' own drive functions: READ CD's sub-channel selections, and the
// synthesizer's data tracks the drive plays.
#include <errno.h>
#include <stddef.h>
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

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

// The mixed-mode disc, with a second ISRC in a minority of track 4's ISRC
// frames (4875, 4975 and 5075 of its eleven, 4075 to 5075).
synth_disc test_disc() {
    synth_disc disc = synth_mixed_mode_disc();
    disc.tracks[3].second_isrc = "ZZQSC2600194";
    disc.tracks[3].second_isrc_from = 800;
    return disc;
}

// The blocks each READ CD case looks at, with what the synthesizer lays
// down there (mcn_phase 25, isrc_phase 75, damaged 40, 1475, 2990, 4350).
const struct {
    uint32_t lba;
    const char* what;
} BLOCKS[] = {
    {100, "a position frame of the mode-2 data track"},
    {1250, "a position frame of track 2's pregap (index 00, P set)"},
    {1600, "a position frame of track 2"},
    {1225, "a catalogue-number frame in track 2's pregap"},
    {1625, "a catalogue-number frame in track 2"},
    {1675, "an ISRC frame of track 2"},
    {1475, "a damaged ISRC frame"},
    {2990, "a damaged position frame in track 3's pregap"},
    {5200, "a lead-out position frame"},
};

// What the synthesizer's description says a drive gives as formatted Q for
// a block: Q bytes 0-9 as laid down, the CRC bytes, three zeros, and the P
// bit, which the synthesizer sets in index 00 and nowhere else.
std::vector<uint8_t> formatted_as_laid_down(const synth_disc& disc, uint32_t lba) {
    std::array<uint8_t, 12> q = synth_q(disc, lba);
    std::vector<uint8_t> f(q.begin(), q.begin() + 12);
    f.resize(16, 0);
    f[15] = synth_describe(disc, lba).index == 0 ? 0x80 : 0x00;
    return f;
}

// The sense of a command the programs' drive functions sent: key << 16 |
// ASC << 8 | ASCQ, or -1 when it succeeded.
int sense_of(int result, const read_failure& f) {
    return result == 0 ? -1 : f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq;
}

// The drive's statistics: commands, READ CDs, blocks, seeks.
std::vector<uint64_t> counts() {
    const emulated_statistics* s = emulated_stats();
    return {s->commands, s->read_cd_commands, s->blocks, s->seeks};
}

class EmulatedDriveTest : public ::testing::Test {
protected:
    synth_disc disc = test_disc();
    drive_handle h = nullptr;

    void SetUp() override {
        emulated_reset();
        emulated_insert_synth_disc(disc);
        ASSERT_EQ(0, open_drive("D:", &h));
    }
    void TearDown() override { emulated_reset(); }

    // One READ CD of `count` blocks with the selection, through the
    // programs' own read_cd: its result, and the bytes that arrived.
    int read(uint32_t lba, unsigned count, int selection, std::vector<uint8_t>* bytes, read_failure* f) {
        bytes->assign((size_t)count * read_cd_sector_size(selection), 0xEE);
        return read_cd(h, lba, count, selection, bytes->data(), f);
    }
};

// The disc as a drive that fills positions in sees it: the same disc
// without its codes, so that each code frame's block carries the position
// frame the synthesizer lays down there.
synth_disc without_codes(synth_disc disc) {
    disc.mcn = "";
    for (synth_track& t : disc.tracks)
        t.isrc = t.second_isrc = "";
    return disc;
}

// Formatted Q in binary, from the description alone: a position frame's
// track (the lead-out's stays AA), index and times as plain numbers, a code
// frame's bytes as laid down but its disc-time frame; the CRC field zero.
std::vector<uint8_t> formatted_in_binary(const synth_disc& disc, uint32_t lba) {
    const synth_sector_info info = synth_describe(disc, lba);
    std::vector<uint8_t> f = formatted_as_laid_down(disc, lba);
    f[10] = f[11] = 0;
    if (info.kind != SYNTH_POSITION) {
        f[9] = (uint8_t)(info.abs_frames % 75);
        return f;
    }
    const std::vector<uint8_t> position = {
        (uint8_t)(info.control << 4 | 1), (uint8_t)(info.track == SYNTH_LEAD_OUT_TRACK ? 0xAA : info.track),
        (uint8_t)info.index, (uint8_t)(info.rel_frames / 4500), (uint8_t)(info.rel_frames / 75 % 60),
        (uint8_t)(info.rel_frames % 75), 0, (uint8_t)(info.abs_frames / 4500), (uint8_t)(info.abs_frames / 75 % 60),
        (uint8_t)(info.abs_frames % 75)};
    std::copy(position.begin(), position.end(), f.begin());
    // Block 2990's flipped bit is bit 38 (2990 x 37 mod 96): 02h in byte 4,
    // its track time's seconds, 00 on the disc, read as 02.
    if (lba == 2990)
        f[4] ^= 0x02;
    return f;
}

// What READ CD returns with each selection in each kind of drive, at a
// position frame, code frames and damaged frames: the main channel as laid
// down, then nothing (every kind reads 000b), raw P-W or formatted Q as the
// kind gives them, or 05/24/00.
TEST_F(EmulatedDriveTest, ReadCdOfEachKind) {
    enum raw_answer { RAW_REFUSED, RAW_AS_LAID_DOWN, RAW_ZERO };
    enum q_answer { Q_REFUSED, Q_WITH_CRC, Q_WITHOUT_CRC, Q_BINARY };
    struct {
        emulated_drive_kind kind;
        raw_answer raw;
        q_answer formatted;
        bool positions_for_codes;
    } cases[] = {
        {DRIVE_STRICT, RAW_AS_LAID_DOWN, Q_WITH_CRC, false},
        {DRIVE_NO_RAW, RAW_REFUSED, Q_WITH_CRC, false},
        {DRIVE_FORMATTED_NO_CRC, RAW_REFUSED, Q_WITHOUT_CRC, false},
        {DRIVE_FORMATTED_BINARY, RAW_REFUSED, Q_BINARY, false},
        {DRIVE_ZERO_Q, RAW_ZERO, Q_WITH_CRC, false},
        {DRIVE_NO_CODES, RAW_AS_LAID_DOWN, Q_WITH_CRC, true},
        {DRIVE_NO_SUBCHANNEL, RAW_REFUSED, Q_REFUSED, false},
    };
    const synth_disc plain = without_codes(disc);
    for (auto& c : cases) {
        emulated_set_drive_kind(c.kind);
        for (auto& b : BLOCKS) {
            const synth_sector_info info = synth_describe(disc, b.lba);
            const bool filled_in = c.positions_for_codes && info.kind != SYNTH_POSITION && !info.damaged;
            const synth_disc& seen = filled_in ? plain : disc;
            uint8_t sector[SECTOR_BUFFER_SIZE];
            synth_sector(disc, b.lba, sector);
            const std::vector<uint8_t> main(sector, sector + SECTOR_MAIN_SIZE);
            std::string what = std::to_string(c.kind) + ", " + b.what;
            std::vector<uint8_t> got;
            read_failure f;
            ASSERT_EQ(0, read(b.lba, 1, SUBCHANNEL_NONE, &got, &f)) << what;
            EXPECT_EQ(main, got) << what;

            int rc = read(b.lba, 1, SUBCHANNEL_RAW, &got, &f);
            if (c.raw == RAW_REFUSED) {
                EXPECT_EQ(0x052400, sense_of(rc, f)) << what;
            } else {
                ASSERT_EQ(0, rc) << what;
                EXPECT_EQ(main, std::vector<uint8_t>(got.begin(), got.begin() + SECTOR_MAIN_SIZE)) << what;
                std::vector<uint8_t> want(96, 0);
                if (c.raw == RAW_AS_LAID_DOWN) {
                    want.assign(sector + SECTOR_MAIN_SIZE, sector + SECTOR_BUFFER_SIZE);
                    synth_lay_down_q(synth_q(seen, b.lba), want.data());  // P, R-W as they were
                }
                EXPECT_EQ(want, std::vector<uint8_t>(got.begin() + SECTOR_MAIN_SIZE, got.end())) << what;
            }

            rc = read(b.lba, 1, SUBCHANNEL_FORMATTED_Q, &got, &f);
            if (c.formatted == Q_REFUSED) {
                EXPECT_EQ(0x052400, sense_of(rc, f)) << what;
                continue;
            }
            ASSERT_EQ(0, rc) << what;
            EXPECT_EQ(main, std::vector<uint8_t>(got.begin(), got.begin() + SECTOR_MAIN_SIZE)) << what;
            std::vector<uint8_t> want = c.formatted == Q_BINARY ? formatted_in_binary(disc, b.lba)
                                                                : formatted_as_laid_down(seen, b.lba);
            if (c.formatted == Q_WITHOUT_CRC)
                want[10] = want[11] = 0;
            EXPECT_EQ(want, std::vector<uint8_t>(got.begin() + SECTOR_MAIN_SIZE, got.end())) << what;
        }
    }
}

// Several blocks a command lie back to back, each its own size; a fault
// meets each selection's read as it meets raw P-W's: a medium error
// delivers the blocks up to and including it, a short transfer the main
// channel of its block and nothing after.
TEST_F(EmulatedDriveTest, SeveralBlocksAndFaultsInEachSelection) {
    emulated_inject_fault(1603, FAULT_MEDIUM);
    emulated_inject_fault(1703, FAULT_SHORT_TRANSFER);
    for (int selection : {SUBCHANNEL_NONE, SUBCHANNEL_RAW, SUBCHANNEL_FORMATTED_Q}) {
        const uint32_t size = read_cd_sector_size(selection);
        std::vector<uint8_t> got;
        read_failure f;
        ASSERT_EQ(0, read(1598, 4, selection, &got, &f)) << selection;
        for (uint32_t i = 0; i < 4; ++i) {
            uint8_t sector[SECTOR_BUFFER_SIZE];
            synth_sector(disc, 1598 + i, sector);
            EXPECT_EQ(0, memcmp(sector, &got[i * size], SECTOR_MAIN_SIZE)) << selection << " block " << 1598 + i;
            if (selection == SUBCHANNEL_FORMATTED_Q) {
                EXPECT_EQ(formatted_as_laid_down(disc, 1598 + i),
                          std::vector<uint8_t>(&got[i * size + SECTOR_MAIN_SIZE], &got[(i + 1) * size]));
            }
        }
        EXPECT_EQ(EIO, read(1600, 4, selection, &got, &f)) << selection;
        EXPECT_EQ(0x031105, f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq) << selection;
        EXPECT_EQ(4 * size, f.transferred) << selection;
        EXPECT_EQ(EIO, read(1702, 3, selection, &got, &f)) << selection;
        EXPECT_EQ(READ_SHORT_TRANSFER, f.kind) << selection;
        EXPECT_EQ(size + SECTOR_MAIN_SIZE, f.transferred) << selection;
    }
}

// The request as the programs lay it out: the record, a filler, the sense area.
struct request_with_sense {
    SCSI_PASS_THROUGH_DIRECT record;
    ULONG filler;
    UCHAR sense[32];
};

// Sends one command block through the system's pass-through call with
// `length` bytes of room, as the programs fill the request. Returns the
// call's result; *status and *sense (key << 16 | ASC << 8 | ASCQ, -1 for
// none) what the drive answered.
bool pass_through(const std::vector<uint8_t>& cdb, uint32_t length, uint8_t* status, int* sense) {
    HANDLE device = CreateFileA("\\\\.\\D:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    std::vector<uint8_t> data(length + 1);
    request_with_sense whole;
    memset(&whole, 0, sizeof whole);
    SCSI_PASS_THROUGH_DIRECT& r = whole.record;
    r.Length = sizeof r;
    r.CdbLength = (UCHAR)cdb.size();
    r.SenseInfoLength = 32;
    r.DataIn = SCSI_IOCTL_DATA_IN;
    r.DataTransferLength = length;
    r.TimeOutValue = 60;
    r.DataBuffer = data.data();
    r.SenseInfoOffset = (ULONG)offsetof(request_with_sense, sense);
    memcpy(r.Cdb, cdb.data(), cdb.size());
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &whole, sizeof whole, &whole, sizeof whole,
                              &returned, NULL);
    *status = r.ScsiStatus;
    *sense = r.ScsiStatus == 0x02 ? (whole.sense[2] & 0x0F) << 16 | whole.sense[12] << 8 | whole.sense[13] : -1;
    return ok;
}

// The system passes a READ CD on only with room for exactly what it asks
// for: 2352 bytes a block with no subchannel, 2448 with raw P-W, 2368 with
// formatted Q; a selection the drive does not read reaches it sized as raw
// P-W's, and the drive refuses it.
TEST_F(EmulatedDriveTest, ReadCdRequestsAndTheirRoom) {
    struct {
        uint8_t selection;
        uint32_t block_bytes;
        int sense;  // -1: GOOD
    } cases[] = {
        {0x00, 2352, -1}, {0x01, 2448, -1}, {0x02, 2368, -1},
        {0x03, 2448, 0x052400}, {0x04, 2448, 0x052400}, {0x41, 2448, 0x052400}, {0xFF, 2448, 0x052400},
    };
    for (auto& c : cases) {
        // Blocks 1600 and 1601.
        const std::vector<uint8_t> cdb = {0xBE, 0, 0, 0, 0x06, 0x40, 0, 0, 2, 0xF8, c.selection, 0};
        uint8_t status;
        int sense;
        ASSERT_TRUE(pass_through(cdb, 2 * c.block_bytes, &status, &sense)) << int(c.selection);
        EXPECT_EQ(c.sense, sense) << int(c.selection);
        for (uint32_t other : {2 * c.block_bytes - 1, 2 * c.block_bytes + 1, c.block_bytes, 2u * 2448, 2u * 2352})
            if (other != 2 * c.block_bytes) {
                EXPECT_FALSE(pass_through(cdb, other, &status, &sense)) << int(c.selection) << " room " << other;
            }
    }
}

// One command block straight to the drive, with `room` bytes: its sense
// (key << 16 | ASC << 8 | ASCQ, -1 for GOOD) and the bytes that arrived.
struct answer {
    int sense;
    std::vector<uint8_t> data;
};
answer execute(const std::vector<uint8_t>& cdb, uint32_t room = 4096) {
    std::vector<uint8_t> data(room, 0xEE);
    emulated_response r;
    emulated_execute(cdb.data(), cdb.size(), data.data(), room, &r);
    data.resize(r.transferred);
    int sense = r.status == 0 ? -1 : (r.sense[2] & 0x0F) << 16 | r.sense[12] << 8 | r.sense[13];
    return {sense, data};
}

// INQUIRY through the programs' own inquiry(): a removable CD/DVD drive
// named in blanks-padded ASCII, with a disc, without one, and while it
// becomes ready, which INQUIRY neither meets nor uses up.
TEST_F(EmulatedDriveTest, Inquiry) {
    const std::string name = "QSCAN   EMULATED CD-ROM 0001";
    auto check = [&](const char* what) {
        uint8_t got[INQUIRY_SIZE];
        uint32_t length = 0;
        read_failure f;
        ASSERT_EQ(0, inquiry(h, got, INQUIRY_SIZE, &length, &f)) << what;
        ASSERT_EQ(36u, length) << what;
        EXPECT_EQ((std::vector<uint8_t>{0x05, 0x80, 0x05, 0x02, 31}), std::vector<uint8_t>(got, got + 5)) << what;
        EXPECT_EQ(name, std::string((const char*)got + 8, 28)) << what;
    };
    check("with a disc");
    emulated_eject();
    check("without a disc");
    emulated_insert_synth_disc(disc);
    emulated_inject_fault(0, FAULT_BECOMING_READY);
    check("becoming ready");
    uint8_t toc[4];
    uint32_t length;
    read_failure f;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(EIO, read_toc(h, 0, 0, toc, sizeof toc, &length, &f)) << i;
        EXPECT_EQ(0x020401, f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq) << i;
    }
    EXPECT_EQ(0, read_toc(h, 0, 0, toc, sizeof toc, &length, &f));
    emulated_inject_fault(0, FAULT_INQUIRY_REFUSED);
    uint8_t got[INQUIRY_SIZE];
    EXPECT_EQ(EIO, inquiry(h, got, INQUIRY_SIZE, &length, &f));
    EXPECT_EQ(0x052000, f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq);
}

// INQUIRY blocks the drive takes and those it refuses: a page of vital
// product data, or a page code without EVPD, is not its to give.
TEST_F(EmulatedDriveTest, InquiryBlocks) {
    struct {
        std::vector<uint8_t> cdb;
        int sense;
        size_t length;
    } cases[] = {
        {{0x12, 0, 0, 0, 36, 0}, -1, 36},
        {{0x12, 0, 0, 0, 5, 0}, -1, 5},          // no more than the allocation
        {{0x12, 0, 0, 0x01, 0x00, 0}, -1, 36},   // nor than the answer
        {{0x12, 0, 0, 0, 0, 0}, -1, 0},
        {{0x12, 0x01, 0x00, 0, 36, 0}, 0x052400, 0},
        {{0x12, 0x01, 0x80, 0, 36, 0}, 0x052400, 0},
        {{0x12, 0, 0x80, 0, 36, 0}, 0x052400, 0},
        {{0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0}, 0x052400, 0},  // a 10-byte block
    };
    for (auto& c : cases) {
        answer a = execute(c.cdb);
        EXPECT_EQ(c.sense, a.sense) << int(c.cdb[1]) << " " << int(c.cdb[2]) << " " << c.cdb.size();
        EXPECT_EQ(c.length, a.data.size()) << int(c.cdb[4]);
    }
}

// What the system passes on: each command the drive executes with exactly
// the room its block asks for, and any other command block of 6, 10 or 12
// bytes, which the drive refuses as an operation it does not know.
TEST_F(EmulatedDriveTest, RequestsTheSystemPassesOn) {
    struct {
        const char* what;
        std::vector<uint8_t> cdb;
        uint32_t room;
        int sense;  // -1: GOOD
    } cases[] = {
        {"read toc", {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12, -1},
        {"inquiry", {0x12, 0, 0, 0, 36, 0}, 36, -1},
        {"test unit ready", {0x00, 0, 0, 0, 0, 0}, 0, 0x052000},
        {"read(10)", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, 0x052000},
        {"read(12)", {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048, 0x052000},
    };
    for (auto& c : cases) {
        uint8_t status;
        int sense;
        ASSERT_TRUE(pass_through(c.cdb, c.room, &status, &sense)) << c.what;
        EXPECT_EQ(c.sense, sense) << c.what;
        if (c.sense == -1) {
            EXPECT_FALSE(pass_through(c.cdb, c.room - 1, &status, &sense)) << c.what;
            EXPECT_FALSE(pass_through(c.cdb, c.room + 1, &status, &sense)) << c.what;
        }
    }
    std::vector<uint8_t> sixteen(16, 0);
    sixteen[0] = 0x88;  // READ(16)
    uint8_t status;
    int sense;
    EXPECT_FALSE(pass_through(sixteen, 2048, &status, &sense));
}

// READ SUB-CHANNEL's codes through the programs' read_subchannel, as the
// disc's description has them, from every kind of drive (those that give
// no codes or no subchannel in READ CD too): the catalogue number; each
// track's ISRC, the one most of its frames carry (track 4's second code is
// in a minority), none for the data track and the track without, none for
// a track the disc does not have; ADR 3 and the track's CONTROL.
TEST_F(EmulatedDriveTest, ReadSubChannelCodes) {
    struct {
        uint8_t format, track;
        uint8_t adr_control;
        std::string code;  // empty: VAL 0, the code bytes zero
    } cases[] = {
        {0x02, 0, 0x00, disc.mcn},
        {0x03, 1, 0x34, ""},
        {0x03, 2, 0x30, disc.tracks[1].isrc},
        {0x03, 3, 0x32, ""},
        {0x03, 4, 0x30, disc.tracks[3].isrc},
        {0x03, 5, 0x30, ""},
    };
    for (int kind = DRIVE_STRICT; kind <= DRIVE_NO_SUBCHANNEL; ++kind) {
        for (auto& c : cases) {
            emulated_set_drive_kind((emulated_drive_kind)kind);
            uint8_t got[SUBQ_ANSWER_SIZE];
            uint32_t length = 0;
            read_failure f;
            std::string what = std::to_string(kind) + ": format " + std::to_string(c.format) + " track " +
                               std::to_string(c.track);
            ASSERT_EQ(0, read_subchannel(h, c.format, c.track, got, sizeof got, &length, &f)) << what;
            ASSERT_EQ(24u, length);
            std::vector<uint8_t> want(24, 0);
            want[1] = 0x15;  // no audio status to report
            want[3] = 20;
            want[4] = c.format;
            if (c.format == 0x03) {
                want[5] = c.adr_control;
                want[6] = c.track;
            }
            want[8] = c.code.empty() ? 0x00 : 0x80;
            memcpy(&want[9], c.code.data(), c.code.size());
            EXPECT_EQ(want, std::vector<uint8_t>(got, got + 24)) << what;
        }
    }
}

// The catalogue number is the first session's: codes in a second session
// (here more frames of another number) do not count; a disc without one
// reports none.
TEST_F(EmulatedDriveTest, CatalogueNumberOfTheFirstSession) {
    synth_disc two = disc;
    two.second_session = 300;
    const uint32_t second = synth_lead_out_start(two) + SESSION_GAP_BLOCKS;
    for (uint32_t lba = second; lba < second + 100; ++lba)  // 9999999999994, as mode-2 frames
        two.raw_q[lba] = {0x42, 0x99, 0x99, 0x99, 0x99, 0x99, 0x94, 0x00, 0x00,
                          (uint8_t)(lba % 75 / 10 * 16 + lba % 75 % 10)};
    synth_disc none = disc;
    none.mcn = "";
    for (auto& c : {std::make_pair(two, disc.mcn), std::make_pair(none, std::string())}) {
        emulated_insert_synth_disc(c.first);
        uint8_t got[SUBQ_ANSWER_SIZE];
        uint32_t length;
        read_failure f;
        ASSERT_EQ(0, read_subchannel(h, SUBQ_CATALOGUE_NUMBER, 0, got, sizeof got, &length, &f));
        EXPECT_EQ(c.second.empty() ? 0x00 : 0x80, got[8]);
        EXPECT_EQ(c.second + std::string(13 - c.second.size(), '\0'), std::string((const char*)got + 9, 13));
    }
}

// Format 01h: the block after the last READ CD, as the description places
// it, a block with a position frame or one counted on from the frame before
// (a code frame, here in index 00 too); the lead-out; block 0 before any
// read; the disc's last block after a read past its end. Addresses as
// blocks (the track time negated in index 00) and as binary M S F.
TEST_F(EmulatedDriveTest, ReadSubChannelPosition) {
    for (uint32_t next : {0u, 1600u, 1625u, 1225u, 1250u, 5200u, 5250u}) {
        emulated_reset();
        emulated_insert_synth_disc(disc);
        std::vector<uint8_t> bytes;
        read_failure f;
        if (next > 0)
            read(next - 2, 2, SUBCHANNEL_RAW, &bytes, &f);
        const uint32_t at = std::min(next, synth_sector_count(disc) - 1);
        const synth_sector_info info = synth_describe(disc, at);
        const int32_t rel = info.index == 0 ? -(int32_t)info.rel_frames : (int32_t)info.rel_frames;
        const uint8_t track = info.track == SYNTH_LEAD_OUT_TRACK ? 0xAA : (uint8_t)info.track;
        for (bool msf : {false, true}) {
            answer a = execute({0x42, (uint8_t)(msf ? 0x02 : 0x00), 0x40, 0x01, 0, 0, 0, 0, 16, 0});
            ASSERT_EQ(-1, a.sense);
            std::vector<uint8_t> want = {0x00, 0x15, 0x00, 12, 0x01, (uint8_t)(0x10 | info.control), track,
                                         (uint8_t)info.index};
            for (auto address : {std::make_pair((int32_t)at, info.abs_frames), std::make_pair(rel, info.rel_frames)}) {
                const int32_t v = address.first;
                const uint32_t frames = address.second;
                if (msf)
                    want.insert(want.end(),
                                {0, (uint8_t)(frames / 4500), (uint8_t)(frames / 75 % 60), (uint8_t)(frames % 75)});
                else
                    want.insert(want.end(), {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v});
            }
            EXPECT_EQ(want, a.data) << "block " << at << (msf ? " in MSF" : "");
        }
    }
}

// READ SUB-CHANNEL blocks: SUBQ 0 asks for the header alone; formats and
// tracks the drive has not, and reserved bits, are refused; no more than
// the allocation arrives; an empty drive has no disc to report on.
TEST_F(EmulatedDriveTest, ReadSubChannelBlocks) {
    struct {
        std::vector<uint8_t> cdb;
        int sense;
        std::vector<uint8_t> start;  // the answer's first bytes
        size_t length;
    } cases[] = {
        {{0x42, 0, 0x00, 0x02, 0, 0, 0, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 0x00}, 4},
        {{0x42, 0x02, 0x00, 0x01, 0, 0, 0, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 0x00}, 4},
        {{0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 8, 0}, -1, {0x00, 0x15, 0x00, 20, 0x02}, 8},
        {{0x42, 0, 0x40, 0x01, 0, 0, 0, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 12, 0x01}, 16},
        {{0x42, 0, 0x40, 0x00, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x04, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x03, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x03, 0, 0, 100, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x03, 0, 0, 99, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 20, 0x03, 0x30, 99}, 24},
        {{0x42, 0x01, 0x40, 0x02, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x41, 0x02, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0x40}, 0x052400, {}, 0},
    };
    for (auto& c : cases) {
        answer a = execute(c.cdb);
        std::string what = "format " + std::to_string(c.cdb[3]) + " byte 1 " + std::to_string(c.cdb[1]) +
                           " byte 2 " + std::to_string(c.cdb[2]) + " track " + std::to_string(c.cdb[6]);
        EXPECT_EQ(c.sense, a.sense) << what;
        ASSERT_EQ(c.length, a.data.size()) << what;
        EXPECT_EQ(c.start, std::vector<uint8_t>(a.data.begin(), a.data.begin() + (long)c.start.size())) << what;
    }
    emulated_eject();
    EXPECT_EQ(0x023A00, execute({0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0}).sense);
}

// The drive finds the codes by reading the disc once, when first asked,
// and again only for another disc; in its statistics each READ
// SUB-CHANNEL is a command, and an ISRC's a seek into the track, so that
// the next READ CD seeks too.
TEST_F(EmulatedDriveTest, ReadSubChannelReadsTheDiscOncePerDisc) {
    auto fetches = std::make_shared<uint64_t>(0);
    auto insert = [&] {
        emulated_disc d;
        d.sector_count = synth_sector_count(disc);
        d.fetch = [this, fetches](uint32_t lba, uint8_t* sector) {
            ++*fetches;
            synth_sector(disc, lba, sector);
            return true;
        };
        emulated_insert_disc(d);
    };
    emulated_reset();
    insert();
    uint8_t got[SUBQ_ANSWER_SIZE];
    uint32_t length;
    read_failure f;
    const uint64_t whole = synth_sector_count(disc);
    ASSERT_EQ(0, read_subchannel(h, SUBQ_CATALOGUE_NUMBER, 0, got, sizeof got, &length, &f));
    EXPECT_EQ(whole, *fetches);
    ASSERT_EQ(0, read_subchannel(h, SUBQ_ISRC, 2, got, sizeof got, &length, &f));
    ASSERT_EQ(0, read_subchannel(h, SUBQ_ISRC, 4, got, sizeof got, &length, &f));
    EXPECT_EQ(whole, *fetches);
    EXPECT_EQ((std::vector<uint64_t>{3, 0, 0, 2}), counts());
    std::vector<uint8_t> bytes;
    ASSERT_EQ(0, read(0, 2, SUBCHANNEL_RAW, &bytes, &f));
    ASSERT_EQ(0, read(2, 2, SUBCHANNEL_RAW, &bytes, &f));
    ASSERT_EQ(0, read_subchannel(h, SUBQ_ISRC, 1, got, sizeof got, &length, &f));
    ASSERT_EQ(0, read(4, 2, SUBCHANNEL_RAW, &bytes, &f));  // where the last read ended, but after a seek
    EXPECT_EQ((std::vector<uint64_t>{7, 3, 6, 5}), counts());
    emulated_eject();
    insert();
    ASSERT_EQ(0, read_subchannel(h, SUBQ_CATALOGUE_NUMBER, 0, got, sizeof got, &length, &f));
    EXPECT_EQ(whole + 6 + whole, *fetches);
}

// Each command that needs the disc, through the programs' own functions:
// its sense, -1 for success.
struct commands_needing_the_disc {
    drive_handle h;
    int read_cd(int selection) {
        std::vector<uint8_t> bytes(read_cd_sector_size(selection));
        read_failure f;
        return sense_of(::read_cd(h, 10, 1, selection, bytes.data(), &f), f);
    }
    int read_toc() {
        uint8_t answer[12];
        uint32_t length;
        read_failure f;
        return sense_of(::read_toc(h, 0, 0, answer, sizeof answer, &length, &f), f);
    }
    int read_subchannel(uint8_t format) {
        uint8_t answer[SUBQ_ANSWER_SIZE];
        uint32_t length;
        read_failure f;
        uint8_t track = format == SUBQ_ISRC ? 1 : 0;
        return sense_of(::read_subchannel(h, format, track, answer, sizeof answer, &length, &f), f);
    }
    std::vector<int> all() {
        return {read_cd(SUBCHANNEL_NONE), read_cd(SUBCHANNEL_RAW), read_cd(SUBCHANNEL_FORMATTED_Q), read_toc(),
                read_subchannel(SUBQ_CURRENT_POSITION), read_subchannel(SUBQ_CATALOGUE_NUMBER),
                read_subchannel(SUBQ_ISRC)};
    }
};

int inquiry_sense(drive_handle h) {
    uint8_t answer[INQUIRY_SIZE];
    uint32_t length;
    read_failure f;
    return sense_of(inquiry(h, answer, sizeof answer, &length, &f), f);
}

// An empty drive says so to every command that needs a disc, and names
// itself all the same.
TEST_F(EmulatedDriveTest, EmptyDrive) {
    commands_needing_the_disc c{h};
    EXPECT_EQ(std::vector<int>(7, -1), c.all());
    emulated_eject();
    EXPECT_EQ(std::vector<int>(7, 0x023A00), c.all());
    EXPECT_EQ(-1, inquiry_sense(h));
}

// A disc gone at a block: READ CD meets it there and after, as before; once
// one has, READ TOC and READ SUB-CHANNEL find no disc either; INQUIRY is
// answered; a disc that goes in is there again.
TEST_F(EmulatedDriveTest, DiscGoneAtANotReadyBlock) {
    emulated_inject_fault(2000, FAULT_NOT_READY);
    commands_needing_the_disc c{h};
    EXPECT_EQ(std::vector<int>(7, -1), c.all());
    std::vector<uint8_t> bytes;
    read_failure f;
    EXPECT_EQ(-1, sense_of(read(1990, 10, SUBCHANNEL_RAW, &bytes, &f), f));
    EXPECT_EQ(-1, c.read_toc());
    EXPECT_EQ(0x023A00, sense_of(read(1995, 10, SUBCHANNEL_RAW, &bytes, &f), f));
    EXPECT_EQ((std::vector<int>{-1, -1, -1, 0x023A00, 0x023A00, 0x023A00, 0x023A00}), c.all());
    EXPECT_EQ(0x023A00, sense_of(read(2500, 1, SUBCHANNEL_NONE, &bytes, &f), f));
    EXPECT_EQ(-1, inquiry_sense(h));
    emulated_insert_synth_disc(disc);
    EXPECT_EQ(-1, c.read_toc());
}

// The drive-wide faults that cut a READ TOC answer to its header, whatever
// the block: CD-Text's saying 0 bytes follow (fewer than the header's own
// two), the track list's saying 2 (the header alone) with its first and
// last track; each meets its own format only. The sample disc has CD-Text
// and tracks 1 to 4.
TEST_F(EmulatedDriveTest, ReadTocCutToItsHeader) {
    struct {
        emulated_fault fault;
        uint8_t format;
        std::vector<uint8_t> header;
        bool cut;  // the answer is the header alone
    } cases[] = {
        {FAULT_NONE, 0, {0x00, 4 * 8 + 8 + 2, 1, 4}, false},
        {FAULT_TOC_SHORT, 0, {0x00, 0x02, 1, 4}, true},
        {FAULT_TOC_SHORT, 1, {0x00, 0x0A, 1, 1}, false},
        {FAULT_TOC_SHORT, 5, {}, false},
        {FAULT_CD_TEXT_SHORT, 5, {0x00, 0x00, 0x00, 0x00}, true},
        {FAULT_CD_TEXT_SHORT, 0, {0x00, 4 * 8 + 8 + 2, 1, 4}, false},
    };
    for (auto& c : cases) {
        emulated_reset();
        emulated_insert_synth_disc(synth_sample_disc());
        emulated_inject_fault(12345, c.fault);
        uint8_t answer[2048];
        uint32_t length = 0;
        bool cut;
        read_failure f;
        ASSERT_EQ(0, read_toc_answer(h, c.format, 0, answer, sizeof answer, &length, &cut, &f)) << c.fault;
        EXPECT_EQ(c.cut, length == 4) << c.fault << " format " << int(c.format);
        if (!c.header.empty()) {
            EXPECT_EQ(c.header, std::vector<uint8_t>(answer, answer + 4)) << c.fault << " format " << int(c.format);
        }
    }
}

}  // namespace
