// The drive operations against the strict emulated drive: drive names, the
// exact pass-through request and READ CD block, and every read failure.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <functional>

#include "drive.h"
#include "platform/emulated.h"

namespace {

std::vector<uint8_t> numbered_image(uint32_t sectors) {
    std::vector<uint8_t> image((size_t)sectors * SECTOR_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = (uint8_t)(i * 7 + i / SECTOR_SIZE);
    return image;
}

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
    alignas(16) uint8_t buffer[SECTOR_SIZE];
    EXPECT_EQ(EIO, read_sector(h, 0x12345678, buffer));  // empty drive

    const emulated_call* call = emulated_last_call();
    EXPECT_EQ(h, call->device);
    EXPECT_EQ(0x4D014u, call->control_code);
    EXPECT_NE(nullptr, call->in_buffer);
    EXPECT_EQ(call->in_buffer, call->out_buffer);
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), call->in_size);
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), call->out_size);
    EXPECT_TRUE(call->bytes_returned_given);
    EXPECT_FALSE(call->overlapped_given);

    const SCSI_PASS_THROUGH_DIRECT& r = call->request;
    EXPECT_EQ(sizeof r, r.Length);
    EXPECT_EQ(0, r.PathId);
    EXPECT_EQ(0, r.TargetId);
    EXPECT_EQ(0, r.Lun);
    EXPECT_EQ(12, r.CdbLength);
    EXPECT_EQ(0, r.SenseInfoLength);
    EXPECT_EQ(1, r.DataIn);
    EXPECT_EQ(2448u, r.DataTransferLength);
    EXPECT_EQ(60u, r.TimeOutValue);
    EXPECT_EQ((void*)buffer, r.DataBuffer);
    EXPECT_EQ(0u, r.SenseInfoOffset);
    const uint8_t cdb[16] = {0xBE, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00,
                             0x01, 0xF8, 0x01, 0x00, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(cdb[i], r.Cdb[i]) << "CDB byte " << i;
}

TEST_F(DriveTest, ReadsTheAddressedSector) {
    std::vector<uint8_t> image = numbered_image(300);
    emulated_insert_image(image);
    drive_handle h = open_d();
    uint8_t buffer[SECTOR_SIZE];
    for (uint32_t lba : {0u, 1u, 255u, 256u, 299u}) {
        memset(buffer, 0, sizeof buffer);
        ASSERT_EQ(0, read_sector(h, lba, buffer)) << lba;
        EXPECT_EQ(0, memcmp(buffer, &image[(size_t)lba * SECTOR_SIZE], SECTOR_SIZE)) << lba;
    }
}

TEST_F(DriveTest, ReadFailures) {
    struct {
        const char* what;
        std::function<void()> setup;
        uint32_t lba;
        UCHAR sense_key;
    } cases[] = {
        {"no disc", [] {}, 0, 0x02},
        {"at the end of the disc", [] { emulated_insert_image(numbered_image(10)); }, 10, 0x05},
        {"far past the end", [] { emulated_insert_image(numbered_image(10)); }, 0xFFFFFFFFu, 0x05},
        {"call fails", [] { emulated_insert_image(numbered_image(10)); emulated_inject_fault(3, FAULT_CALL_FAILS); }, 3, 0},
        {"wrong count returned", [] { emulated_insert_image(numbered_image(10)); emulated_inject_fault(3, FAULT_WRONG_BYTES_RETURNED); }, 3, 0},
        {"check condition", [] { emulated_insert_image(numbered_image(10)); emulated_inject_fault(3, FAULT_CHECK_CONDITION); }, 3, 0x03},
        {"short transfer", [] { emulated_insert_image(numbered_image(10)); emulated_inject_fault(3, FAULT_SHORT_TRANSFER); }, 3, 0},
        {"unreadable sector", [] {
             emulated_disc d;
             d.sector_count = 10;
             d.fetch = [](uint32_t lba, uint8_t*) { return lba != 3; };
             emulated_insert_disc(d);
         }, 3, 0x03},
    };
    for (auto& c : cases) {
        emulated_reset();
        c.setup();
        drive_handle h = open_d();
        uint8_t buffer[SECTOR_SIZE];
        EXPECT_EQ(EIO, read_sector(h, c.lba, buffer)) << c.what;
        EXPECT_EQ(c.sense_key, emulated_last_call()->sense_key) << c.what;
        if (c.lba == 3) {  // the neighbours still read
            EXPECT_EQ(0, read_sector(h, 2, buffer)) << c.what;
        }
    }
}

// The drive itself: a request exactly as the scanner sends it succeeds, and
// any single deviation is refused, either by the call (the pass-through
// record) or by the drive (CHECK CONDITION for the command block).
class StrictDriveTest : public DriveTest {
public:  // the deviation table below reaches into the request
    uint8_t buffer[SECTOR_SIZE];
    SCSI_PASS_THROUGH_DIRECT request;
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
        memset(&request, 0, sizeof request);
        request.Length = sizeof request;
        request.CdbLength = 12;
        request.DataIn = SCSI_IOCTL_DATA_IN;
        request.DataTransferLength = SECTOR_SIZE;
        request.TimeOutValue = 60;
        request.DataBuffer = buffer;
        const UCHAR cdb[12] = {0xBE, 0, 0, 0, 0, 2, 0, 0, 1, 0xF8, 1, 0};
        memcpy(request.Cdb, cdb, sizeof cdb);
        code = IOCTL_SCSI_PASS_THROUGH_DIRECT;
        in = out = &request;
        in_size = out_size = sizeof request;
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
    EXPECT_EQ(sizeof request, returned);
    EXPECT_EQ(0, request.ScsiStatus);
    EXPECT_EQ(2448u, request.DataTransferLength);
    std::vector<uint8_t> image = numbered_image(4);
    EXPECT_EQ(0, memcmp(buffer, &image[2 * SECTOR_SIZE], SECTOR_SIZE));
}

TEST_F(StrictDriveTest, RefusesEveryOtherRequestRecord) {
    SCSI_PASS_THROUGH_DIRECT other;
    OVERLAPPED* some_overlapped = (OVERLAPPED*)&other;
    uint8_t small[100];
    const std::pair<const char*, std::function<void(StrictDriveTest*)>> deviations[] = {
        {"handle", [](StrictDriveTest* t) { t->device = (HANDLE)t->buffer; }},
        {"control code", [](StrictDriveTest* t) { t->code = 0x4D004; }},
        {"in size", [](StrictDriveTest* t) { t->in_size -= 4; }},
        {"out size", [](StrictDriveTest* t) { t->out_size += 4; }},
        {"separate out record", [&](StrictDriveTest* t) { other = t->request; t->out = &other; }},
        {"no bytes-returned count", [](StrictDriveTest* t) { t->returned_ptr = NULL; }},
        {"overlapped", [&](StrictDriveTest* t) { t->overlapped = some_overlapped; }},
        // The record length of the other pointer size.
        {"Length", [](StrictDriveTest* t) { t->request.Length = 44 + 56 - sizeof t->request; }},
        {"PathId", [](StrictDriveTest* t) { t->request.PathId = 1; }},
        {"TargetId", [](StrictDriveTest* t) { t->request.TargetId = 1; }},
        {"Lun", [](StrictDriveTest* t) { t->request.Lun = 1; }},
        {"CdbLength 10", [](StrictDriveTest* t) { t->request.CdbLength = 10; }},
        {"CdbLength 16", [](StrictDriveTest* t) { t->request.CdbLength = 16; }},
        {"SenseInfoLength", [](StrictDriveTest* t) { t->request.SenseInfoLength = 18; }},
        {"DataIn out", [](StrictDriveTest* t) { t->request.DataIn = SCSI_IOCTL_DATA_OUT; }},
        {"DataIn unspecified", [](StrictDriveTest* t) { t->request.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED; }},
        {"DataTransferLength 2352", [](StrictDriveTest* t) { t->request.DataTransferLength = 2352; }},
        {"DataTransferLength 2 sectors", [](StrictDriveTest* t) { t->request.DataTransferLength = 2 * 2448; }},
        {"TimeOutValue in milliseconds", [](StrictDriveTest* t) { t->request.TimeOutValue = 60000; }},
        {"no DataBuffer", [](StrictDriveTest* t) { t->request.DataBuffer = NULL; }},
        {"SenseInfoOffset", [](StrictDriveTest* t) { t->request.SenseInfoOffset = 48; }},
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
        if (byte >= 2 && byte <= 5)
            continue;  // the block address
        for (int bit = 0; bit < 8; ++bit) {
            SetUp();
            request.Cdb[byte] ^= (UCHAR)(1 << bit);
            ASSERT_TRUE(send()) << "byte " << byte << " bit " << bit;
            EXPECT_EQ(sizeof request, returned);
            EXPECT_EQ(0x02, request.ScsiStatus) << "byte " << byte << " bit " << bit;
            EXPECT_EQ(0x05, emulated_last_call()->sense_key);
            EXPECT_EQ(byte == 0 ? 0x20 : 0x24, emulated_last_call()->additional_sense);
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
