// The drive operations against the strict emulated drive: drive names, the
// exact pass-through request and READ CD block, and every read failure.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <functional>

#include "disc/cd_text.h"
#include "drive/drive.h"
#include "drive/read_disc_toc.h"
#include "emulated/emulated_drive.h"

namespace {

std::vector<uint8_t> numbered_image(uint32_t sectors) {
    std::vector<uint8_t> image((size_t)sectors * SECTOR_BUFFER_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = (uint8_t)(i * 7 + i / SECTOR_BUFFER_SIZE);
    return image;
}

// The request as the drive code sends it: record, filler, sense area.
struct request_with_sense {
    SCSI_PASS_THROUGH_DIRECT record;
    ULONG filler;
    UCHAR sense[32];
};
const DWORD REQUEST_SIZE = sizeof(void*) == 8 ? 96 : 80;
const ULONG SENSE_OFFSET = sizeof(void*) == 8 ? 60 : 48;

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override { emulated_reset(); }
    void TearDown() override { emulated_reset(); }

    drive_handle open_d() {
        drive_handle h = nullptr;
        EXPECT_EQ(0, open_drive("D:", &h));
        return h;
    }
};

TEST_F(DriveTest, MalformedNamesFailWithoutTouchingTheSystem) {
    for (const char* name : {"", "D", ":", "D:\\", "DE:", "D;", "D::", "DD"}) {
        drive_handle h = (drive_handle)0x1234;
        EXPECT_EQ(EINVAL, open_drive(name, &h)) << '"' << name << '"';
        EXPECT_EQ((drive_handle)0x1234, h);
    }
    EXPECT_EQ(0u, emulated_counts()->drive_type_queries);
    EXPECT_EQ(0u, emulated_counts()->opens);
}

TEST_F(DriveTest, NamesThatAreNotCdDrivesFailBeforeAnyOpen) {
    for (const char* name : {"C:", "c:", "E:", "1:", "?:", "\\:"}) {
        drive_handle h = (drive_handle)0x1234;
        EXPECT_EQ(EINVAL, open_drive(name, &h)) << name;
        EXPECT_EQ((drive_handle)0x1234, h);
    }
    EXPECT_EQ(6u, emulated_counts()->drive_type_queries);
    EXPECT_EQ(0u, emulated_counts()->opens);
}

TEST_F(DriveTest, EitherCaseOpens) {
    drive_handle upper = nullptr, lower = nullptr;
    EXPECT_EQ(0, open_drive("D:", &upper));
    EXPECT_EQ(0, open_drive("d:", &lower));
    EXPECT_NE(nullptr, upper);
    EXPECT_EQ(upper, lower);
}

TEST_F(DriveTest, RequestIsExactlyTheRawSubchannelReadCd) {
    drive_handle h = open_d();
    alignas(16) uint8_t buffer[SECTOR_BUFFER_SIZE];
    read_failure failure;
    EXPECT_EQ(EIO, read_sector(h, 0x12345678, buffer, &failure));  // empty drive

    const emulated_call* call = emulated_last_call();
    EXPECT_EQ(h, call->device);
    EXPECT_EQ(0x4D014u, call->control_code);
    EXPECT_NE(nullptr, call->in_buffer);
    EXPECT_EQ(call->in_buffer, call->out_buffer);
    EXPECT_EQ(REQUEST_SIZE, call->in_size);
    EXPECT_EQ(REQUEST_SIZE, call->out_size);
    EXPECT_TRUE(call->bytes_returned_given);
    EXPECT_FALSE(call->overlapped_given);

    const SCSI_PASS_THROUGH_DIRECT& r = call->request;
    EXPECT_EQ(sizeof r, r.Length);
    EXPECT_EQ(0, r.PathId);
    EXPECT_EQ(0, r.TargetId);
    EXPECT_EQ(0, r.Lun);
    EXPECT_EQ(12, r.CdbLength);
    EXPECT_EQ(32, r.SenseInfoLength);
    EXPECT_EQ(1, r.DataIn);
    EXPECT_EQ(2448u, r.DataTransferLength);
    EXPECT_EQ(60u, r.TimeOutValue);
    EXPECT_EQ((void*)buffer, r.DataBuffer);
    EXPECT_EQ(SENSE_OFFSET, r.SenseInfoOffset);
    const uint8_t cdb[16] = {0xBE, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00,
                             0x01, 0xF8, 0x01, 0x00, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(cdb[i], r.Cdb[i]) << "CDB byte " << i;
}

TEST_F(DriveTest, ReadsTheAddressedSector) {
    std::vector<uint8_t> image = numbered_image(300);
    emulated_insert_image(image);
    drive_handle h = open_d();
    uint8_t buffer[SECTOR_BUFFER_SIZE];
    for (uint32_t lba : {0u, 1u, 255u, 256u, 299u}) {
        memset(buffer, 0, sizeof buffer);
        read_failure failure;
        ASSERT_EQ(0, read_sector(h, lba, buffer, &failure)) << lba;
        EXPECT_EQ(0, memcmp(buffer, &image[(size_t)lba * SECTOR_BUFFER_SIZE], SECTOR_BUFFER_SIZE)) << lba;
    }
}

// Every way a read can fail: the result, what *failure says, and that the
// neighbouring block still reads.
TEST_F(DriveTest, ReadFailures) {
    const int NO_BLOCK = READ_NO_SUCH_BLOCK;
    struct {
        const char* what;
        std::function<void()> setup;
        uint32_t lba;
        int result;
        int kind;
        int sense;  // key << 16 | ASC << 8 | ASCQ, or -1 for none
    } cases[] = {
        {"no disc", [] {}, 0, EIO, READ_CHECK_CONDITION, 0x023A00},
        {"at the end of the disc", [] {}, 10, NO_BLOCK, READ_CHECK_CONDITION, 0x052100},
        {"far past the end", [] {}, 0xFFFFFFFFu, NO_BLOCK, READ_CHECK_CONDITION, 0x052100},
        {"call fails", [] { emulated_inject_fault(3, FAULT_CALL_FAILS); }, 3, EIO, READ_CALL_FAILED, -1},
        {"wrong count returned", [] { emulated_inject_fault(3, FAULT_WRONG_BYTES_RETURNED); }, 3, EIO, READ_WRONG_COUNT, -1},
        {"short transfer", [] { emulated_inject_fault(3, FAULT_SHORT_TRANSFER); }, 3, EIO, READ_SHORT_TRANSFER, -1},
        {"medium error", [] { emulated_inject_fault(3, FAULT_MEDIUM); }, 3, EIO, READ_CHECK_CONDITION, 0x031105},
        {"hardware error", [] { emulated_inject_fault(3, FAULT_HARDWARE); }, 3, EIO, READ_CHECK_CONDITION, 0x044400},
        {"disc gone", [] { emulated_inject_fault(3, FAULT_NOT_READY); }, 3, EIO, READ_CHECK_CONDITION, 0x023A00},
        {"block out of range", [] { emulated_inject_fault(3, FAULT_ILLEGAL); }, 3, NO_BLOCK, READ_CHECK_CONDITION, 0x052100},
        {"end of user area", [] { emulated_inject_fault(3, FAULT_END_OF_AREA); }, 3, NO_BLOCK, READ_CHECK_CONDITION, 0x056300},
        {"illegal mode for the track", [] { emulated_inject_fault(3, FAULT_ILLEGAL_MODE); }, 3, NO_BLOCK, READ_CHECK_CONDITION, 0x056400},
        {"no raw subchannel", [] { emulated_inject_fault(3, FAULT_NO_SUBCHANNEL); }, 3, EIO, READ_CHECK_CONDITION, 0x052400},
        {"invalid operation code", [] { emulated_inject_fault(3, FAULT_INVALID_OPCODE); }, 3, EIO, READ_CHECK_CONDITION, 0x052000},
        {"invalid field in parameter list", [] { const uint8_t s[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x26, 0x02}; emulated_inject_sense(3, s, 18, 18); }, 3, EIO, READ_CHECK_CONDITION, 0x052602},
        {"deferred medium error", [] { emulated_inject_fault(3, FAULT_DEFERRED); }, 3, EIO, READ_CHECK_CONDITION, 0x031105},
        {"sense without ASC", [] { emulated_inject_fault(3, FAULT_SHORT_SENSE); }, 3, EIO, READ_CHECK_CONDITION, 0x030000},
        {"no sense data", [] { emulated_inject_fault(3, FAULT_NO_SENSE); }, 3, NO_BLOCK, READ_CHECK_CONDITION, -1},
        {"blank check", [] { emulated_inject_fault(3, FAULT_BLANK); }, 3, NO_BLOCK, READ_CHECK_CONDITION, 0x080000},
        {"aborted command, every time", [] { emulated_inject_fault(3, FAULT_ABORTED_ALWAYS); }, 3, EIO, READ_CHECK_CONDITION, 0x0B4700},
        {"unreadable sector", [] {
             emulated_disc d;
             d.sector_count = 10;
             d.fetch = [](uint32_t lba, uint8_t*) { return lba != 3; };
             emulated_insert_disc(d);
         }, 3, EIO, READ_CHECK_CONDITION, 0x031105},
    };
    for (auto& c : cases) {
        emulated_reset();
        if (strcmp(c.what, "no disc") != 0)
            emulated_insert_image(numbered_image(10));
        c.setup();
        drive_handle h = open_d();
        uint8_t buffer[SECTOR_BUFFER_SIZE];
        read_failure f;
        EXPECT_EQ(c.result, read_sector(h, c.lba, buffer, &f)) << c.what;
        EXPECT_EQ(c.kind, f.kind) << c.what;
        EXPECT_EQ(c.sense >= 0, f.sense.has_key) << c.what;
        if (c.sense >= 0) {
            EXPECT_EQ(c.sense, f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq) << c.what;
        }
        if (c.kind == READ_SHORT_TRANSFER) {
            EXPECT_EQ(2352u, f.transferred);
        }
        if (c.lba == 3) {  // the neighbours still read
            EXPECT_EQ(0, read_sector(h, 2, buffer, &f)) << c.what;
        }
    }
}

// Answers that are not a read's last word. UNIT ATTENTION and ABORTED
// COMMAND mean the command did not run: the same read goes out again, up to
// three more times, and the last answer counts; but a disc change after
// block 0 is a read error. RECOVERED ERROR delivered the data, corrected:
// it is used as read.
TEST_F(DriveTest, AnswersThatAreNotFinal) {
    const uint8_t attention[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00};
    const std::vector<uint8_t> image = numbered_image(10);
    struct {
        const char* what;
        std::function<void()> setup;
        int result;
        unsigned reads;
    } cases[] = {
        {"a disc change after block 0", [] { emulated_inject_fault(5, FAULT_UNIT_ATTENTION); }, EIO, 1},
        {"a reset for ever", [&] { emulated_inject_sense(5, attention, 18, 18); }, EIO, 4},
        {"aborted once", [] { emulated_inject_fault(5, FAULT_ABORTED); }, 0, 2},
        {"aborted for ever", [] { emulated_inject_fault(5, FAULT_ABORTED_ALWAYS); }, EIO, 4},
        {"recovered", [] { emulated_inject_fault(5, FAULT_RECOVERED); }, 0, 1},
    };
    for (auto& c : cases) {
        emulated_reset();
        emulated_insert_image(image);
        c.setup();
        drive_handle h = open_d();
        uint8_t buffer[SECTOR_BUFFER_SIZE] = {};
        read_failure f;
        EXPECT_EQ(c.result, read_sector(h, 5, buffer, &f)) << c.what;
        EXPECT_EQ(c.reads, emulated_counts()->ioctls) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(0, memcmp(buffer, &image[5 * SECTOR_BUFFER_SIZE], SECTOR_BUFFER_SIZE)) << c.what;
        }
    }
}

// READ TOC's answer: its 4-byte header first, then the whole of what the
// header names, in exactly that allocation; less where the caller has less
// room, and then said to be cut.
TEST_F(DriveTest, TocAnswerHeaderFirstThenWhole) {
    emulated_insert_synth_disc(synth_sample_disc());  // four tracks: 4 + 5 x 8 bytes
    drive_handle h = open_d();
    const struct {
        uint32_t room;
        uint32_t length;
        bool cut;
    } cases[] = {{TOC_ANSWER_SIZE, 44, false}, {44, 44, false}, {20, 20, true}, {4, 4, true}};
    for (auto c : cases) {
        unsigned before = emulated_counts()->ioctls;
        uint8_t answer[TOC_ANSWER_SIZE];
        uint32_t length = 0;
        bool cut = !c.cut;
        read_failure f;
        ASSERT_EQ(0, read_toc_answer(h, TOC_FORMAT_TRACKS, 0, answer, c.room, &length, &cut, &f)) << c.room;
        EXPECT_EQ(c.length, length) << c.room;
        EXPECT_EQ(c.cut, cut) << c.room;
        EXPECT_EQ(c.length > 4 ? 2u : 1u, emulated_counts()->ioctls - before) << c.room;
        const SCSI_PASS_THROUGH_DIRECT& r = emulated_last_call()->request;
        EXPECT_EQ(c.length, (uint32_t)(r.Cdb[7] << 8 | r.Cdb[8])) << c.room;
        EXPECT_EQ(c.length, r.DataTransferLength) << c.room;
    }
}

// A system that takes one sector a transfer: the CD-Text answer of 200
// packs (3,604 bytes) is asked for again in one sector's worth, and its
// whole packs are used.
TEST_F(DriveTest, CdTextLargerThanOneTransferArrivesCut) {
    emulated_disc d;
    d.sector_count = 100;
    d.fetch = [](uint32_t, uint8_t* sector) {
        memset(sector, 0, SECTOR_BUFFER_SIZE);
        return true;
    };
    d.has_toc = true;
    d.toc = synth_toc(synth_sample_disc());
    for (unsigned i = 0; i < 200; ++i) {
        std::array<uint8_t, 16> pack;
        for (unsigned b = 0; b < 16; ++b)
            pack[b] = (uint8_t)(i * 16 + b);
        d.cd_text.push_back(pack);
    }
    std::vector<std::array<uint8_t, 16>> packs = d.cd_text;
    emulated_insert_disc(d);
    emulated_set_max_sectors(1);
    drive_handle h = open_d();
    static uint8_t answer[4 + CD_TEXT_PACKS * CD_TEXT_PACK];
    uint32_t length = 0;
    bool cut = false;
    read_failure f;
    ASSERT_EQ(0, read_toc_answer(h, TOC_FORMAT_CD_TEXT, 0, answer, sizeof answer, &length, &cut, &f));
    EXPECT_TRUE(cut);
    EXPECT_EQ((uint32_t)SECTOR_BUFFER_SIZE, length);
    EXPECT_EQ(3u, emulated_counts()->ioctls);  // the header, the whole refused, one sector's worth
    unsigned count = 0;
    char why[ANSWER_WHY_SIZE];
    ASSERT_TRUE(cd_text_answer_packs(answer, length, cut, &count, why)) << why;
    EXPECT_EQ((SECTOR_BUFFER_SIZE - 4) / CD_TEXT_PACK, count);
    for (unsigned i = 0; i < count; ++i)
        EXPECT_EQ(0, memcmp(packs[i].data(), answer + 4 + i * CD_TEXT_PACK, 16)) << i;
    EXPECT_FALSE(cd_text_answer_packs(answer, length, false, &count, why));  // not cut, it would be malformed
}

void count_notice(void* count) {
    ++*(int*)count;
}

// A drive that says there is no disc and never said it was loading one is
// empty: no wait. One that said "becoming ready" first may be taking a disc
// in, and is waited for, "no medium" included, until it is ready or the
// wait is over.
TEST_F(DriveTest, EmptyDriveAndDriveBecomingReady) {
    const struct {
        const char* what;
        bool disc;
        bool becoming_ready;
        int result;
        uint64_t slept_least, slept_most;
        int notices;
    } cases[] = {
        {"an empty drive", false, false, EIO, 0, 0, 0},
        {"becoming ready, then no disc", false, true, EIO, READY_WAIT_MS - READY_POLL_MS, READY_WAIT_MS, 1},
        {"becoming ready, then a disc", true, true, 0, 5 * READY_POLL_MS, 5 * READY_POLL_MS, 1},
        {"a disc at once", true, false, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        emulated_reset();
        if (c.disc)
            emulated_insert_synth_disc(synth_sample_disc());
        if (c.becoming_ready)
            emulated_inject_fault(0, FAULT_BECOMING_READY);
        drive_handle h = open_d();
        disc_toc toc;
        read_failure f;
        toc_notes notes;
        int notices = 0;
        int rc = read_disc_toc(h, &toc, &f, count_notice, &notices, &notes);
        EXPECT_EQ(c.result, rc) << c.what;
        EXPECT_EQ(!c.disc, no_medium(&f)) << c.what;
        EXPECT_GE(emulated_slept_ms(), c.slept_least) << c.what;
        EXPECT_LE(emulated_slept_ms(), c.slept_most) << c.what;
        EXPECT_EQ(c.notices, notices) << c.what;
    }
}

// Sense data as drives and systems deliver it, fixed and descriptor format,
// whole, cut short, or with a length the system got wrong.
TEST(SenseData, BothFormatsAndBadLengths) {
    uint8_t fixed[18] = {0xF0, 0, 0x03, 0, 0, 0x12, 0x34, 10, 0, 0, 0, 0, 0x11, 0x05, 0, 0, 0, 0};
    uint8_t fixed_key_alone[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x11, 0x05};
    uint8_t deferred[18] = {0x71, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x05};
    uint8_t descriptor[8] = {0x72, 0x02, 0x3A, 0x01, 0, 0, 0, 0};
    uint8_t descriptor_deferred[8] = {0x73, 0x03, 0x11, 0x05, 0, 0, 0, 0};
    uint8_t junk[18] = {0x12, 0, 0x03};
    struct {
        const char* what;
        const uint8_t* sense;
        unsigned length;
        bool has_key, has_asc, deferred;
        int code;  // key << 16 | ASC << 8 | ASCQ
    } cases[] = {
        {"fixed, VALID set", fixed, 18, true, true, false, 0x031105},
        {"fixed, 14 bytes", fixed, 14, true, true, false, 0x031105},
        {"fixed, 13 bytes: the key alone", fixed, 13, true, false, false, 0x030000},
        {"fixed, 3 bytes: the key alone", fixed, 3, true, false, false, 0x030000},
        {"fixed, 2 bytes: no key", fixed, 2, false, false, false, 0},
        {"fixed, byte 7 says 4: the key alone", fixed_key_alone, 18, true, false, false, 0x030000},
        {"fixed, deferred", deferred, 18, true, true, true, 0x031105},
        {"descriptor", descriptor, 8, true, true, false, 0x023A01},
        {"descriptor, 2 bytes", descriptor, 2, true, false, false, 0x020000},
        {"descriptor, deferred", descriptor_deferred, 8, true, true, true, 0x031105},
        {"no response code", junk, 18, false, false, false, 0},
        {"nothing", fixed, 0, false, false, false, 0},
    };
    for (auto& c : cases) {
        sense_data f;
        EXPECT_EQ(c.has_key, parse_sense(c.sense, c.length, &f)) << c.what;
        EXPECT_EQ(c.has_key, f.has_key) << c.what;
        EXPECT_EQ(c.has_asc, f.has_asc) << c.what;
        EXPECT_EQ(c.deferred, f.deferred) << c.what;
        EXPECT_EQ(c.code, f.key << 16 | f.asc << 8 | f.ascq) << c.what;
    }
    sense_data f;
    fixed[2] = 0xF3;  // the flags above the key do not count
    ASSERT_TRUE(parse_sense(fixed, 18, &f));
    EXPECT_EQ(0x03, f.key);
}

// Sense areas a system may hand back: a length beyond the 32-byte area is
// read no further than the area; a short one gives what it holds.
TEST_F(DriveTest, SenseLengthsFromTheSystem) {
    emulated_insert_image(numbered_image(10));
    uint8_t area[32] = {0x70, 0, 0x03, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0x11, 0x06};
    drive_handle h = open_d();
    uint8_t buffer[SECTOR_BUFFER_SIZE];
    read_failure f;
    for (unsigned reported : {32u, 33u, 255u}) {
        emulated_inject_sense(4, area, 32, reported);
        EXPECT_EQ(EIO, read_sector(h, 4, buffer, &f)) << reported;
        EXPECT_EQ(0x031106, f.sense.key << 16 | f.sense.asc << 8 | f.sense.ascq) << reported;
    }
    emulated_inject_sense(4, area, 32, 12);  // the key, but not the ASC
    EXPECT_EQ(EIO, read_sector(h, 4, buffer, &f));
    EXPECT_TRUE(f.sense.has_key);
    EXPECT_FALSE(f.sense.has_asc);
}

// The drive itself: a request exactly as the scanner sends it succeeds, and
// any single deviation is refused, either by the call (the pass-through
// record) or by the drive (CHECK CONDITION for the command block).
class StrictDriveTest : public DriveTest {
public:  // the deviation table below reaches into the request
    uint8_t buffer[SECTOR_BUFFER_SIZE];
    request_with_sense whole;
    SCSI_PASS_THROUGH_DIRECT& request = whole.record;
    HANDLE device;
    DWORD code;
    void* in;
    void* out;
    DWORD in_size, out_size;
    DWORD returned;
    DWORD* returned_ptr;
    LPOVERLAPPED overlapped;

    void SetUp() override {
        DriveTest::SetUp();
        emulated_insert_image(numbered_image(4));
        device = CreateFileA("\\\\.\\D:", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, device);
        memset(&whole, 0, sizeof whole);
        request.Length = sizeof request;
        request.CdbLength = 12;
        request.SenseInfoLength = 32;
        request.DataIn = SCSI_IOCTL_DATA_IN;
        request.DataTransferLength = SECTOR_BUFFER_SIZE;
        request.TimeOutValue = 60;
        request.DataBuffer = buffer;
        request.SenseInfoOffset = SENSE_OFFSET;
        const UCHAR cdb[12] = {0xBE, 0, 0, 0, 0, 2, 0, 0, 1, 0xF8, 1, 0};
        memcpy(request.Cdb, cdb, sizeof cdb);
        code = IOCTL_SCSI_PASS_THROUGH_DIRECT;
        in = out = &whole;
        in_size = out_size = sizeof whole;
        returned_ptr = &returned;
        overlapped = NULL;
    }

    BOOL send() {
        returned = 0;
        return DeviceIoControl(device, code, in, in_size, out, out_size, returned_ptr, overlapped);
    }
};

TEST_F(StrictDriveTest, AcceptsTheExactRequest) {
    ASSERT_TRUE(send());
    EXPECT_EQ(sizeof request, returned);  // the record alone: no sense data came back
    EXPECT_EQ(0, request.ScsiStatus);
    EXPECT_EQ(2448u, request.DataTransferLength);
    std::vector<uint8_t> image = numbered_image(4);
    EXPECT_EQ(0, memcmp(buffer, &image[2 * SECTOR_BUFFER_SIZE], SECTOR_BUFFER_SIZE));
}

// A medium error names the failing block, as drives do: VALID and the
// information field.
TEST_F(StrictDriveTest, MediumErrorNamesTheBlock) {
    emulated_inject_fault(2, FAULT_MEDIUM);
    ASSERT_TRUE(send());
    EXPECT_EQ(0x02, request.ScsiStatus);
    EXPECT_EQ(18, request.SenseInfoLength);
    const uint8_t want[14] = {0xF0, 0, 0x03, 0, 0, 0, 2, 10, 0, 0, 0, 0, 0x11, 0x05};
    EXPECT_EQ(0, memcmp(want, whole.sense, sizeof want));
}

TEST_F(StrictDriveTest, RefusesEveryOtherRequestRecord) {
    request_with_sense other;
    OVERLAPPED* some_overlapped = (OVERLAPPED*)&other;
    uint8_t small[100];
    const std::pair<const char*, std::function<void(StrictDriveTest*)>> deviations[] = {
        {"handle", [](StrictDriveTest* t) { t->device = (HANDLE)t->buffer; }},
        {"control code", [](StrictDriveTest* t) { t->code = 0x4D004; }},
        {"in size", [](StrictDriveTest* t) { t->in_size -= 4; }},
        {"out size", [](StrictDriveTest* t) { t->out_size += 4; }},
        {"separate out record", [&](StrictDriveTest* t) { other = t->whole; t->out = &other; }},
        {"the record alone, without its sense area", [](StrictDriveTest* t) { t->in_size = t->out_size = sizeof t->request; }},
        {"no bytes-returned count", [](StrictDriveTest* t) { t->returned_ptr = NULL; }},
        {"overlapped", [&](StrictDriveTest* t) { t->overlapped = some_overlapped; }},
        // The record length of the other pointer size.
        {"Length", [](StrictDriveTest* t) { t->request.Length = 44 + 56 - sizeof t->request; }},
        {"PathId", [](StrictDriveTest* t) { t->request.PathId = 1; }},
        {"TargetId", [](StrictDriveTest* t) { t->request.TargetId = 1; }},
        {"Lun", [](StrictDriveTest* t) { t->request.Lun = 1; }},
        {"CdbLength 10", [](StrictDriveTest* t) { t->request.CdbLength = 10; }},
        {"CdbLength 16", [](StrictDriveTest* t) { t->request.CdbLength = 16; }},
        {"no sense data asked for", [](StrictDriveTest* t) { t->request.SenseInfoLength = 0; t->request.SenseInfoOffset = 0; }},
        {"SenseInfoLength 18", [](StrictDriveTest* t) { t->request.SenseInfoLength = 18; }},
        {"DataIn out", [](StrictDriveTest* t) { t->request.DataIn = SCSI_IOCTL_DATA_OUT; }},
        {"DataIn unspecified", [](StrictDriveTest* t) { t->request.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED; }},
        {"DataTransferLength 2352", [](StrictDriveTest* t) { t->request.DataTransferLength = 2352; }},
        {"DataTransferLength 2 sectors", [](StrictDriveTest* t) { t->request.DataTransferLength = 2 * 2448; }},
        {"TimeOutValue in milliseconds", [](StrictDriveTest* t) { t->request.TimeOutValue = 60000; }},
        {"no DataBuffer", [](StrictDriveTest* t) { t->request.DataBuffer = NULL; }},
        {"SenseInfoOffset right after the record", [](StrictDriveTest* t) { t->request.SenseInfoOffset = sizeof t->request; }},
        {"Cdb byte 12", [](StrictDriveTest* t) { t->request.Cdb[12] = 1; }},
        {"Cdb byte 15", [](StrictDriveTest* t) { t->request.Cdb[15] = 1; }},
        {"small buffer", [&](StrictDriveTest* t) { t->in = t->out = small; }},
    };
    for (auto& d : deviations) {
        SetUp();
        d.second(this);
        EXPECT_FALSE(send()) << d.first;
    }
}

TEST_F(StrictDriveTest, ChecksEveryByteOfTheCommandBlock) {
    for (int byte = 0; byte < 12; ++byte) {
        if (byte >= 2 && byte <= 8)
            continue;  // the block address and the transfer length, which the request's room must match
        for (int bit = 0; bit < 8; ++bit) {
            if (byte == 10 && bit == 0)
                continue;  // 00h: no subchannel, a read of its own, whose room is 2352 bytes a block
            SetUp();
            request.Cdb[byte] ^= (UCHAR)(1 << bit);
            ASSERT_TRUE(send()) << "byte " << byte << " bit " << bit;
            EXPECT_EQ(0x02, request.ScsiStatus) << "byte " << byte << " bit " << bit;
            // Fixed-format sense data, 18 bytes, in the request's own sense area.
            EXPECT_EQ(18, request.SenseInfoLength);
            EXPECT_EQ(0x70, whole.sense[0]);
            EXPECT_EQ(0x05, whole.sense[2]);
            EXPECT_EQ(byte == 0 ? 0x20 : 0x24, whole.sense[12]);
            EXPECT_EQ(0x00, whole.sense[13]);
        }
    }
}

TEST_F(StrictDriveTest, OpensOnlyWithTheExpectedArguments) {
    struct {
        const char* what;
        const char* path;
        DWORD access, share, disposition, attributes;
    } cases[] = {
        {"read only", "\\\\.\\D:", GENERIC_READ, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"exclusive", "\\\\.\\D:", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"create", "\\\\.\\D:", GENERIC_READ | GENERIC_WRITE, 3, 1, FILE_ATTRIBUTE_NORMAL},
        {"overlapped", "\\\\.\\D:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0x40000000},
        {"other drive", "\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"root path", "D:\\", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"no colon", "\\\\.\\D", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"trailing", "\\\\.\\D:\\", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
    };
    for (auto& c : cases)
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  CreateFileA(c.path, c.access, c.share, NULL, c.disposition, c.attributes, NULL))
            << c.what;
    EXPECT_NE(INVALID_HANDLE_VALUE,
              CreateFileA("\\\\.\\d:", GENERIC_READ | GENERIC_WRITE, 3, NULL, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, NULL));
}

TEST(EmulatedDriveType, Roots) {
    struct {
        const char* root;
        UINT type;
    } cases[] = {{"D:\\", DRIVE_CDROM}, {"d:\\", DRIVE_CDROM}, {"C:\\", DRIVE_FIXED},
                 {"c:\\", DRIVE_FIXED}, {"E:\\", DRIVE_NO_ROOT_DIR}, {"1:\\", DRIVE_NO_ROOT_DIR},
                 {"D:", DRIVE_NO_ROOT_DIR}, {"D:\\x", DRIVE_NO_ROOT_DIR}};
    for (auto c : cases)
        EXPECT_EQ(c.type, GetDriveTypeA(c.root)) << c.root;
}

}  // namespace
