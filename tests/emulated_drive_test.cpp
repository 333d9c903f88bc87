// The emulated drive as the drives people own behave, seen through the
// programs' own drive functions where they reach it: READ CD in each kind
// of drive, READ SUB-CHANNEL, INQUIRY, the empty drive, the new faults.
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

// A data track's sectors carry its mode in byte 15 of their headers, after
// the sync and the address in BCD: block 0 is 00:02.00, block 1234 00:18.34
// (1384 frames), block 2100 00:30.00, the second session's block 13800
// (2400 + 11400) 03:06.00; a track says mode 1 unless told.
TEST(DiscSynth, DataTracksOfEitherMode) {
    synth_disc disc;
    disc.tracks = {{0, 1500, 0x4, "", 2}, {150, 300, 0x0, ""}, {150, 300, 0x4, ""}};
    disc.second_session = 100;
    const std::vector<uint8_t> sync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const std::pair<uint32_t, std::vector<uint8_t>> cases[] = {
        {0, {0x00, 0x02, 0x00, 0x02}}, {1234, {0x00, 0x18, 0x34, 0x02}},
        {2100, {0x00, 0x30, 0x00, 0x01}}, {13800, {0x03, 0x06, 0x00, 0x01}}};
    for (auto& c : cases) {
        uint8_t sector[SECTOR_BUFFER_SIZE];
        synth_sector(disc, c.first, sector);
        EXPECT_EQ(sync, std::vector<uint8_t>(sector, sector + 12)) << c.first;
        EXPECT_EQ(c.second, std::vector<uint8_t>(sector + 12, sector + 16)) << c.first;
    }
    EXPECT_EQ(2, synth_mixed_mode_disc().tracks[0].mode);
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

// Formatted Q as the description has it: Q bytes 0-9 as laid down, the CRC
// bytes, three zeros, and the P bit, which the synthesizer sets in index 00
// and nowhere else.
std::vector<uint8_t> formatted_as_laid_down(const synth_disc& disc, uint32_t lba) {
    std::array<uint8_t, 12> q = synth_q(disc, lba);
    std::vector<uint8_t> f(q.begin(), q.end());
    f.resize(16, 0);
    f[15] = synth_describe(disc, lba).index == 0 ? 0x80 : 0x00;
    return f;
}

// Formatted Q in binary, from the description alone: a position frame's
// track (the lead-out's stays AA), index and times as plain numbers, a code
// frame's bytes as laid down but its disc-time frame; the CRC field zero.
std::vector<uint8_t> formatted_in_binary(const synth_disc& disc, uint32_t lba) {
    const synth_sector_info i = synth_describe(disc, lba);
    std::vector<uint8_t> f = formatted_as_laid_down(disc, lba);
    f[10] = f[11] = 0;
    if (i.kind != SYNTH_POSITION) {
        f[9] = (uint8_t)(i.abs_frames % 75);
        return f;
    }
    const std::vector<uint8_t> position = {
        (uint8_t)(i.control << 4 | 1), (uint8_t)i.track, (uint8_t)i.index,
        (uint8_t)(i.rel_frames / 4500), (uint8_t)(i.rel_frames / 75 % 60), (uint8_t)(i.rel_frames % 75), 0,
        (uint8_t)(i.abs_frames / 4500), (uint8_t)(i.abs_frames / 75 % 60), (uint8_t)(i.abs_frames % 75)};
    std::copy(position.begin(), position.end(), f.begin());
    // Block 2990's flipped bit is bit 38 (2990 x 37 mod 96): 02h in byte 4,
    // its track time's seconds, 00 on the disc, read as 02.
    if (lba == 2990)
        f[4] ^= 0x02;
    return f;
}

// The disc as a drive that fills positions in sees it: the same disc
// without its codes, each code frame's block carrying the position frame
// the synthesizer lays down there.
synth_disc without_codes(synth_disc disc) {
    disc.mcn = "";
    for (synth_track& t : disc.tracks)
        t.isrc = t.second_isrc = "";
    return disc;
}

// A command's sense, key << 16 | ASC << 8 | ASCQ, or -1 when it succeeded.
int sense_of(int result, const read_failure& f) {
    return result == 0 ? -1 : f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq;
}

// One command block straight to the drive, with `room` bytes: its sense
// and the bytes that arrived.
struct answer {
    int sense;
    std::vector<uint8_t> data;
};
answer execute(const std::vector<uint8_t>& cdb, uint32_t room = 4096) {
    std::vector<uint8_t> data(room, 0xEE);
    emulated_response r;
    emulated_execute(cdb.data(), cdb.size(), data.data(), room, &r);
    data.resize(r.transferred);
    return {r.status == 0 ? -1 : (r.sense[2] & 0x0F) << 16 | r.sense[12] << 8 | r.sense[13], data};
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

    // One READ CD of `count` blocks with the selection, through read_cd.
    int read(uint32_t lba, unsigned count, int selection, std::vector<uint8_t>* bytes, read_failure* f) {
        bytes->assign((size_t)count * read_cd_sector_size(selection), 0xEE);
        return read_cd(h, lba, count, selection, bytes->data(), f);
    }
    std::vector<uint8_t> subchannel(uint8_t format, uint8_t track) {
        uint8_t got[SUBQ_ANSWER_SIZE];
        uint32_t length = 0;
        read_failure f;
        EXPECT_EQ(0, read_subchannel(h, format, track, got, sizeof got, &length, &f));
        return std::vector<uint8_t>(got, got + std::min<uint32_t>(length, sizeof got));
    }
};

// What READ CD returns with each selection in each kind of drive, at
// position frames, code frames and damaged frames: the main channel as laid
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
            const std::string what = std::to_string(c.kind) + ", " + b.what;
            std::vector<uint8_t> got;
            read_failure f;
            ASSERT_EQ(0, read(b.lba, 1, SUBCHANNEL_NONE, &got, &f)) << what;
            EXPECT_EQ(main, got) << what;
            auto tail = [&] { return std::vector<uint8_t>(got.begin() + SECTOR_MAIN_SIZE, got.end()); };

            int rc = read(b.lba, 1, SUBCHANNEL_RAW, &got, &f);
            if (c.raw == RAW_REFUSED) {
                EXPECT_EQ(0x052400, sense_of(rc, f)) << what;
            } else {
                ASSERT_EQ(0, rc) << what;
                EXPECT_EQ(0, memcmp(sector, got.data(), SECTOR_MAIN_SIZE)) << what;
                std::vector<uint8_t> want(96, 0);
                if (c.raw == RAW_AS_LAID_DOWN) {
                    want.assign(sector + SECTOR_MAIN_SIZE, sector + SECTOR_BUFFER_SIZE);
                    synth_lay_down_q(synth_q(seen, b.lba), want.data());  // P, R-W as they were
                }
                EXPECT_EQ(want, tail()) << what;
            }

            rc = read(b.lba, 1, SUBCHANNEL_FORMATTED_Q, &got, &f);
            if (c.formatted == Q_REFUSED) {
                EXPECT_EQ(0x052400, sense_of(rc, f)) << what;
                continue;
            }
            ASSERT_EQ(0, rc) << what;
            EXPECT_EQ(0, memcmp(sector, got.data(), SECTOR_MAIN_SIZE)) << what;
            std::vector<uint8_t> want =
                c.formatted == Q_BINARY ? formatted_in_binary(disc, b.lba) : formatted_as_laid_down(seen, b.lba);
            if (c.formatted == Q_WITHOUT_CRC)
                want[10] = want[11] = 0;
            EXPECT_EQ(want, tail()) << what;
        }
    }
}

// Blocks lie back to back, each of its selection's size; a fault meets each
// selection as it meets raw P-W: a medium error delivers the blocks up to
// and including its own, a short transfer its block's main channel and
// nothing after.
TEST_F(EmulatedDriveTest, FaultsInEachSelection) {
    emulated_inject_fault(1603, FAULT_MEDIUM);
    emulated_inject_fault(1703, FAULT_SHORT_TRANSFER);
    for (int selection : {SUBCHANNEL_NONE, SUBCHANNEL_RAW, SUBCHANNEL_FORMATTED_Q}) {
        const uint32_t size = read_cd_sector_size(selection);
        std::vector<uint8_t> got;
        read_failure f;
        EXPECT_EQ(0x031105, sense_of(read(1600, 4, selection, &got, &f), f)) << selection;
        EXPECT_EQ(4 * size, f.transferred) << selection;
        uint8_t sector[SECTOR_BUFFER_SIZE];
        synth_sector(disc, 1603, sector);
        EXPECT_EQ(0, memcmp(sector, &got[3 * size], SECTOR_MAIN_SIZE)) << selection;
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
// `length` bytes of room, as the programs fill the request: false when the
// call fails, else the drive's sense in *sense.
bool pass_through(const std::vector<uint8_t>& cdb, uint32_t length, int* sense) {
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
    *sense = r.ScsiStatus == 0x02 ? (whole.sense[2] & 0x0F) << 16 | whole.sense[12] << 8 | whole.sense[13] : -1;
    return ok;
}

// What the system passes on: each command the drive executes with exactly
// the room its block asks for (READ CD: 2352 bytes a block with no
// subchannel, 2448 with raw P-W, 2368 with formatted Q, and a selection the
// drive does not read sized as raw P-W's, for the drive to refuse); any
// other command block of 6, 10 or 12 bytes, which the drive refuses as an
// operation it does not know; no block of 16.
TEST_F(EmulatedDriveTest, RequestsTheSystemPassesOn) {
    auto read_cd_block = [](uint8_t selection) {
        return std::vector<uint8_t>{0xBE, 0, 0, 0, 0x06, 0x40, 0, 0, 2, 0xF8, selection, 0};  // blocks 1600-1601
    };
    struct {
        std::vector<uint8_t> cdb;
        uint32_t room;
        int sense;  // -1: GOOD
    } cases[] = {
        {read_cd_block(0x00), 2 * 2352, -1},
        {read_cd_block(0x01), 2 * 2448, -1},
        {read_cd_block(0x02), 2 * 2368, -1},
        {read_cd_block(0x03), 2 * 2448, 0x052400},
        {read_cd_block(0xFF), 2 * 2448, 0x052400},
        {{0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12, -1},
        {{0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0}, 24, -1},
        {{0x12, 0, 0, 0, 36, 0}, 36, -1},
        {{0x00, 0, 0, 0, 0, 0}, 0, 0x052000},
        {{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, 0x052000},
        {{0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048, 0x052000},
    };
    for (auto& c : cases) {
        int sense;
        const std::string what = std::to_string(c.cdb[0]) + "h, room " + std::to_string(c.room);
        ASSERT_TRUE(pass_through(c.cdb, c.room, &sense)) << what;
        EXPECT_EQ(c.sense, sense) << what;
        if (c.sense == -1 || c.cdb[0] == 0xBE) {
            EXPECT_FALSE(pass_through(c.cdb, c.room - 1, &sense)) << what;
            EXPECT_FALSE(pass_through(c.cdb, c.room + 1, &sense)) << what;
        }
    }
    int sense;
    EXPECT_FALSE(pass_through({0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048, &sense));  // READ(16)
}

// INQUIRY through inquiry(): a removable CD/DVD drive named in ASCII padded
// with blanks, with a disc, without one, and while it becomes ready, which
// INQUIRY neither meets nor uses up; refused by the fault.
TEST_F(EmulatedDriveTest, Inquiry) {
    auto ask = [&](const char* what) {
        uint8_t got[INQUIRY_SIZE];
        uint32_t length = 0;
        read_failure f;
        ASSERT_EQ(0, inquiry(h, got, INQUIRY_SIZE, &length, &f)) << what;
        ASSERT_EQ(36u, length) << what;
        EXPECT_EQ((std::vector<uint8_t>{0x05, 0x80, 0x05, 0x02, 31}), std::vector<uint8_t>(got, got + 5)) << what;
        EXPECT_EQ("QSCAN   EMULATED CD-ROM 0001", std::string((const char*)got + 8, 28)) << what;
    };
    ask("with a disc");
    emulated_eject();
    ask("without a disc");
    emulated_insert_synth_disc(disc);
    emulated_inject_fault(0, FAULT_BECOMING_READY);
    ask("becoming ready");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(0x020401, execute({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}).sense) << i;
    EXPECT_EQ(-1, execute({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}).sense);
    emulated_inject_fault(0, FAULT_INQUIRY_REFUSED);
    EXPECT_EQ(0x052000, execute({0x12, 0, 0, 0, 36, 0}).sense);
}

// INQUIRY blocks: no more than the allocation (bytes 3-4) nor the answer
// arrives; a page of vital product data, or a page code without EVPD, is
// not this drive's to give.
TEST_F(EmulatedDriveTest, InquiryBlocks) {
    const struct {
        std::vector<uint8_t> cdb;
        int sense;
        size_t length;
    } cases[] = {
        {{0x12, 0, 0, 0, 5, 0}, -1, 5},
        {{0x12, 0, 0, 0x01, 0x00, 0}, -1, 36},
        {{0x12, 0, 0, 0, 0, 0}, -1, 0},
        {{0x12, 0x01, 0x00, 0, 36, 0}, 0x052400, 0},
        {{0x12, 0, 0x80, 0, 36, 0}, 0x052400, 0},
        {{0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0}, 0x052400, 0},  // a 10-byte block
    };
    for (auto& c : cases) {
        answer a = execute(c.cdb);
        EXPECT_EQ(c.sense, a.sense) << int(c.cdb[1]) << " " << int(c.cdb[2]) << " " << c.cdb.size();
        EXPECT_EQ(c.length, a.data.size()) << int(c.cdb[4]);
    }
}

// READ SUB-CHANNEL's codes through read_subchannel, from every kind of
// drive (those that give no codes or no subchannel in READ CD too), as the
// description has them: the catalogue number; each track's ISRC, the one
// most of its frames carry (track 4's second code is in a minority), none
// for the data track and the track without, none for a track the disc does
// not have; ADR 3 and the track's CONTROL.
TEST_F(EmulatedDriveTest, ReadSubChannelCodes) {
    const struct {
        uint8_t format, track, adr_control;
        std::string code;  // empty: VAL 0, the code bytes zero
    } cases[] = {
        {0x02, 0, 0x00, disc.mcn},         {0x03, 1, 0x34, ""}, {0x03, 2, 0x30, disc.tracks[1].isrc},
        {0x03, 3, 0x32, ""},               {0x03, 5, 0x30, ""}, {0x03, 4, 0x30, disc.tracks[3].isrc},
    };
    for (int kind = DRIVE_STRICT; kind <= DRIVE_NO_SUBCHANNEL; ++kind) {
        emulated_set_drive_kind((emulated_drive_kind)kind);
        for (auto& c : cases) {
            std::vector<uint8_t> want(24, 0);
            want[1] = 0x15;  // no audio status to report
            want[3] = 20;
            want[4] = c.format;
            want[5] = c.format == 0x03 ? c.adr_control : 0;
            want[6] = c.track;
            want[8] = c.code.empty() ? 0x00 : 0x80;
            memcpy(&want[9], c.code.data(), c.code.size());
            EXPECT_EQ(want, subchannel(c.format, c.track)) << kind << ": format " << int(c.format) << " track "
                                                           << int(c.track);
        }
    }
}

// The catalogue number is the first session's: more frames of another
// number in a second session do not count; a disc without one has none.
TEST_F(EmulatedDriveTest, CatalogueNumberOfTheFirstSession) {
    synth_disc two = disc;
    two.second_session = 300;
    const uint32_t second = synth_lead_out_start(two) + SESSION_GAP_BLOCKS;
    for (uint32_t lba = second; lba < second + 100; ++lba) {  // 9999999999994
        const uint8_t frame = (uint8_t)(lba % 75 / 10 * 16 + lba % 75 % 10);
        two.raw_q[lba] = {0x42, 0x99, 0x99, 0x99, 0x99, 0x99, 0x94, 0, 0, frame};
    }
    synth_disc none = disc;
    none.mcn = "";
    for (auto& c : {std::make_pair(two, disc.mcn), std::make_pair(none, std::string(13, '\0'))}) {
        emulated_insert_synth_disc(c.first);
        std::vector<uint8_t> got = subchannel(SUBQ_CATALOGUE_NUMBER, 0);
        EXPECT_EQ(c.second[0] ? 0x80 : 0x00, got[8]);
        EXPECT_EQ(c.second, std::string(got.begin() + 9, got.begin() + 22));
    }
}

// Format 01h: the block after the last READ CD, as the description places
// it: a position frame's, or one counted on from the frame before (a code
// frame, in index 00 too); the lead-out; block 0 before any read; the last
// block after a read past the end. Addresses as blocks (the track time
// negated in index 00) and as binary M S F.
TEST_F(EmulatedDriveTest, ReadSubChannelPosition) {
    for (uint32_t next : {0u, 1600u, 1625u, 1225u, 1250u, 5200u, 5250u}) {
        emulated_reset();
        emulated_insert_synth_disc(disc);
        std::vector<uint8_t> bytes;
        read_failure f;
        if (next > 0)
            read(next - 2, 2, SUBCHANNEL_RAW, &bytes, &f);
        const uint32_t at = std::min(next, synth_sector_count(disc) - 1);
        const synth_sector_info i = synth_describe(disc, at);
        const int32_t rel = i.index == 0 ? -(int32_t)i.rel_frames : (int32_t)i.rel_frames;
        const uint8_t track = (uint8_t)i.track;
        for (bool msf : {false, true}) {
            std::vector<uint8_t> want = {0, 0x15, 0, 12, 0x01, (uint8_t)(0x10 | i.control), track, (uint8_t)i.index};
            for (auto a : {std::make_pair((int32_t)at, i.abs_frames), std::make_pair(rel, i.rel_frames)}) {
                if (msf)
                    want.insert(want.end(), {0, (uint8_t)(a.second / 4500), (uint8_t)(a.second / 75 % 60),
                                             (uint8_t)(a.second % 75)});
                else
                    want.insert(want.end(), {(uint8_t)(a.first >> 24), (uint8_t)(a.first >> 16),
                                             (uint8_t)(a.first >> 8), (uint8_t)a.first});
            }
            EXPECT_EQ(want, execute({0x42, (uint8_t)(msf ? 0x02 : 0x00), 0x40, 0x01, 0, 0, 0, 0, 16, 0}).data)
                << "block " << at << (msf ? " in MSF" : "");
        }
    }
}

// READ SUB-CHANNEL blocks: SUBQ 0 asks for the header alone; formats and
// tracks the drive has not, and reserved bits, are refused; no more than
// the allocation arrives.
TEST_F(EmulatedDriveTest, ReadSubChannelBlocks) {
    const struct {
        std::vector<uint8_t> cdb;
        int sense;
        std::vector<uint8_t> data;  // its first bytes
        size_t length;
    } cases[] = {
        {{0x42, 0, 0x00, 0x02, 0, 0, 0, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 0x00}, 4},
        {{0x42, 0x02, 0x00, 0x01, 0, 0, 0, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 0x00}, 4},
        {{0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 8, 0}, -1, {0x00, 0x15, 0x00, 20, 0x02}, 8},
        {{0x42, 0, 0x40, 0x03, 0, 0, 99, 0, 24, 0}, -1, {0x00, 0x15, 0x00, 20, 0x03, 0x30, 99}, 24},
        {{0x42, 0, 0x40, 0x00, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x04, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x03, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x40, 0x03, 0, 0, 100, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0x01, 0x40, 0x02, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
        {{0x42, 0, 0x41, 0x02, 0, 0, 0, 0, 24, 0}, 0x052400, {}, 0},
    };
    for (size_t n = 0; n < sizeof cases / sizeof cases[0]; ++n) {
        answer a = execute(cases[n].cdb);
        EXPECT_EQ(cases[n].sense, a.sense) << "case " << n;
        ASSERT_EQ(cases[n].length, a.data.size()) << "case " << n;
        EXPECT_EQ(cases[n].data, std::vector<uint8_t>(a.data.begin(), a.data.begin() + (long)cases[n].data.size()))
            << "case " << n;
    }
}

// The drive finds the codes by reading the disc once, when first asked,
// and again only for another disc. Each READ SUB-CHANNEL is a command, an
// ISRC's a seek into the track, and the next READ CD seeks too.
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
    const uint64_t whole = synth_sector_count(disc);
    subchannel(SUBQ_CATALOGUE_NUMBER, 0);
    EXPECT_EQ(whole, *fetches);
    subchannel(SUBQ_ISRC, 2);
    subchannel(SUBQ_ISRC, 4);
    EXPECT_EQ(whole, *fetches);
    EXPECT_EQ((std::vector<uint64_t>{3, 0, 0, 2}), counts());
    std::vector<uint8_t> bytes;
    read_failure f;
    ASSERT_EQ(0, read(0, 2, SUBCHANNEL_RAW, &bytes, &f));
    ASSERT_EQ(0, read(2, 2, SUBCHANNEL_RAW, &bytes, &f));
    subchannel(SUBQ_ISRC, 1);
    ASSERT_EQ(0, read(4, 2, SUBCHANNEL_RAW, &bytes, &f));  // where the last read ended, but after a seek
    EXPECT_EQ((std::vector<uint64_t>{7, 3, 6, 5}), counts());
    emulated_eject();
    insert();
    subchannel(SUBQ_CATALOGUE_NUMBER, 0);
    EXPECT_EQ(whole + 6 + whole, *fetches);
}

// Each command that needs the disc, its sense: READ CD with each
// selection, READ TOC, READ SUB-CHANNEL of each format.
std::vector<int> senses_of_commands_needing_the_disc() {
    std::vector<int> senses;
    for (uint8_t selection : {0x00, 0x01, 0x02})
        senses.push_back(execute({0xBE, 0, 0, 0, 0, 10, 0, 0, 1, 0xF8, selection, 0}).sense);
    senses.push_back(execute({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}).sense);
    for (uint8_t format : {0x01, 0x02, 0x03})
        senses.push_back(execute({0x42, 0, 0x40, format, 0, 0, 1, 0, 24, 0}).sense);
    return senses;
}

// An empty drive says so to every command that needs a disc. A disc gone
// at a block: READ CD meets it there and after, as ever; once one has, READ
// TOC and READ SUB-CHANNEL find no disc either, until one goes in. INQUIRY
// is answered throughout.
TEST_F(EmulatedDriveTest, EmptyDriveAndADiscGone) {
    const std::vector<int> answered(7, -1), no_disc(7, 0x023A00);
    emulated_eject();
    EXPECT_EQ(no_disc, senses_of_commands_needing_the_disc());
    EXPECT_EQ(-1, execute({0x12, 0, 0, 0, 36, 0}).sense);
    emulated_insert_synth_disc(disc);
    emulated_inject_fault(2000, FAULT_NOT_READY);
    EXPECT_EQ(answered, senses_of_commands_needing_the_disc());
    std::vector<uint8_t> bytes;
    read_failure f;
    EXPECT_EQ(0x023A00, sense_of(read(1995, 10, SUBCHANNEL_RAW, &bytes, &f), f));
    EXPECT_EQ((std::vector<int>{-1, -1, -1, 0x023A00, 0x023A00, 0x023A00, 0x023A00}),
              senses_of_commands_needing_the_disc());
    EXPECT_EQ(0x023A00, sense_of(read(2500, 1, SUBCHANNEL_NONE, &bytes, &f), f));
    EXPECT_EQ(-1, execute({0x12, 0, 0, 0, 36, 0}).sense);
    emulated_insert_synth_disc(disc);
    EXPECT_EQ(answered, senses_of_commands_needing_the_disc());
}

// The drive-wide faults that cut a READ TOC answer to its header, whatever
// the block: CD-Text's saying 0 bytes follow (fewer than the header's own
// two), the track list's saying 2 (the header alone) with its first and
// last track; each meets its own format only. The sample disc has CD-Text
// and tracks 1 to 4: 5 descriptors of 8 bytes.
TEST_F(EmulatedDriveTest, ReadTocCutToItsHeader) {
    const struct {
        emulated_fault fault;
        uint8_t format;
        std::vector<uint8_t> header;  // empty: not looked at
        bool cut;                     // the answer is the header alone
    } cases[] = {
        {FAULT_NONE, 0, {0x00, 5 * 8 + 2, 1, 4}, false},
        {FAULT_TOC_SHORT, 0, {0x00, 0x02, 1, 4}, true},
        {FAULT_TOC_SHORT, 1, {0x00, 0x0A, 1, 1}, false},
        {FAULT_TOC_SHORT, 5, {}, false},
        {FAULT_CD_TEXT_SHORT, 5, {0x00, 0x00, 0x00, 0x00}, true},
        {FAULT_CD_TEXT_SHORT, 0, {0x00, 5 * 8 + 2, 1, 4}, false},
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
