// Drive operations over the Windows kernel services: drive-type check,
// device open, READ CD with its subchannel, READ TOC, READ SUB-CHANNEL and
// INQUIRY through SCSI pass-through, and the words for a failed read.
#include "drive/drive.h"

#include <errno.h>
#include <stddef.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/win32.h"

namespace {

enum { SENSE_AREA_SIZE = 32 };

// The request as the platform's own pass-through sample lays it out: the
// record, a filler that puts the sense area on a 4-byte boundary, and the
// area the system writes the drive's sense data into.
struct pass_through_with_sense {
    SCSI_PASS_THROUGH_DIRECT record;
    ULONG filler;
    UCHAR sense[SENSE_AREA_SIZE];
};

// Every field the request sets lies where Windows has it, on the 32-bit
// platform and on the 64-bit one; checked against the system headers in
// the Windows build and against our own declarations everywhere else.
const bool WIDE = sizeof(void*) == 8;
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == (WIDE ? 56 : 44), "record size");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == 0, "Length");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2, "ScsiStatus");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == 3, "PathId");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4, "TargetId");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == 5, "Lun");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6, "CdbLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7, "SenseInfoLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8, "DataIn");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12, "DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16, "TimeOutValue");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == (WIDE ? 24 : 20), "DataBuffer");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == (WIDE ? 32 : 24), "SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == (WIDE ? 36 : 28), "Cdb");
static_assert(offsetof(pass_through_with_sense, sense) == (WIDE ? 60 : 48), "sense area");
static_assert(sizeof(pass_through_with_sense) == (WIDE ? 96 : 80), "request size");

const UCHAR READ_CD_CDB_LENGTH = 12;
const UCHAR READ_TOC_CDB_LENGTH = 10;
const UCHAR READ_SUBCHANNEL_CDB_LENGTH = 10;
const UCHAR INQUIRY_CDB_LENGTH = 6;
const uint32_t TOC_HEADER_SIZE = 4;  // data length (2 bytes), then two bytes of the format's own
const ULONG READ_TIMEOUT_SECONDS = 60;

// A read the drive did not run (UNIT ATTENTION, ABORTED COMMAND) is sent
// again this often at most: a reset and a disc change can queue more than one.
const int SEND_AGAIN_TIMES = 3;

// Fills the 12-byte READ CD command block for `count` blocks from lba with
// the subchannel a read_cd_subchannel selects.
void build_read_cd(UCHAR cdb[READ_CD_CDB_LENGTH], uint32_t lba, unsigned count, int subchannel) {
    cdb[0] = 0xBE;                   // operation code: READ CD
    cdb[1] = 0x00;                   // expected sector type: any; no DAP
    cdb[2] = (UCHAR)(lba >> 24);     // starting logical block address, MSB first
    cdb[3] = (UCHAR)(lba >> 16);
    cdb[4] = (UCHAR)(lba >> 8);
    cdb[5] = (UCHAR)lba;
    cdb[6] = (UCHAR)(count >> 16);   // transfer length in blocks, MSB first
    cdb[7] = (UCHAR)(count >> 8);
    cdb[8] = (UCHAR)count;
    cdb[9] = 0xF8;                   // sync, all headers, user data, EDC/ECC; no C2
    cdb[10] = (UCHAR)(subchannel & 0x07);  // sub-channel selection: 001b raw P-W, 010b formatted Q, 000b none
    cdb[11] = 0x00;                  // control
}

// Fills the 10-byte READ TOC/PMA/ATIP command block.
void build_read_toc(UCHAR cdb[READ_TOC_CDB_LENGTH], uint8_t format, uint8_t number, uint16_t allocation) {
    cdb[0] = 0x43;                      // operation code: READ TOC/PMA/ATIP
    cdb[1] = 0x00;                      // MSF 0: addresses as block addresses
    cdb[2] = (UCHAR)(format & 0x0F);    // format
    cdb[3] = 0x00;                      // reserved
    cdb[4] = 0x00;
    cdb[5] = 0x00;
    cdb[6] = number;                    // track or session number to start at
    cdb[7] = (UCHAR)(allocation >> 8);  // allocation length, MSB first
    cdb[8] = (UCHAR)allocation;
    cdb[9] = 0x00;                      // control
}

// Fills the 10-byte READ SUB-CHANNEL command block.
void build_read_subchannel(UCHAR cdb[READ_SUBCHANNEL_CDB_LENGTH], uint8_t format, uint8_t track,
                           uint16_t allocation) {
    cdb[0] = 0x42;                      // operation code: READ SUB-CHANNEL
    cdb[1] = 0x00;                      // MSF 0: addresses as block addresses
    cdb[2] = 0x40;                      // SUBQ 1: return the sub-channel data
    cdb[3] = format;                    // sub-channel parameter list: 01h position, 02h MCN, 03h ISRC
    cdb[4] = 0x00;                      // reserved
    cdb[5] = 0x00;
    cdb[6] = track;                     // track number (format 03h)
    cdb[7] = (UCHAR)(allocation >> 8);  // allocation length, MSB first
    cdb[8] = (UCHAR)allocation;
    cdb[9] = 0x00;                      // control
}

// Fills the 6-byte INQUIRY command block for the standard answer.
void build_inquiry(UCHAR cdb[INQUIRY_CDB_LENGTH], uint8_t allocation) {
    cdb[0] = 0x12;        // operation code: INQUIRY
    cdb[1] = 0x00;        // EVPD 0: the standard answer, not a page of vital product data
    cdb[2] = 0x00;        // page code: none
    cdb[3] = 0x00;        // allocation length, MSB first (a single byte, byte 4, on older drives)
    cdb[4] = allocation;
    cdb[5] = 0x00;        // control
}

// One command that reads `length` bytes into `data`, through pass-through.
// Returns a read_failure_kind (READ_OK whatever the count of bytes that
// arrived, which *failure gives) and, after CHECK CONDITION, the sense data
// in *failure.
int send_command(HANDLE handle, const UCHAR* cdb, UCHAR cdb_length, uint8_t* data, uint32_t length,
                 read_failure* failure) {
    pass_through_with_sense request;
    memset(&request, 0, sizeof request);  // PathId, TargetId, Lun, Cdb tail, sense area: 0
    SCSI_PASS_THROUGH_DIRECT* r = &request.record;
    r->Length = sizeof *r;
    r->CdbLength = cdb_length;
    r->SenseInfoLength = SENSE_AREA_SIZE;
    r->DataIn = SCSI_IOCTL_DATA_IN;
    r->DataTransferLength = length;
    r->TimeOutValue = READ_TIMEOUT_SECONDS;
    r->DataBuffer = data;  // direct: the drive's data lands in the caller's buffer
    r->SenseInfoOffset = offsetof(pass_through_with_sense, sense);
    memcpy(r->Cdb, cdb, cdb_length);

    DWORD bytes_returned = 0;
    BOOL ok = DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                              &request, sizeof request, &bytes_returned, NULL);
    if (!ok)
        return READ_CALL_FAILED;
    failure->transferred = r->DataTransferLength;
    if (r->ScsiStatus == SCSI_STATUS_CHECK_CONDITION) {
        // Systems update SenseInfoLength to what they wrote, but disagree on
        // the bytes-returned count that goes with sense data: trust only the
        // length, and never beyond the area.
        unsigned sense_length = r->SenseInfoLength < SENSE_AREA_SIZE ? r->SenseInfoLength : (unsigned)SENSE_AREA_SIZE;
        parse_sense(request.sense, sense_length, &failure->sense);
        return READ_CHECK_CONDITION;
    }
    if (bytes_returned != sizeof *r) {
        failure->returned = bytes_returned;
        return READ_WRONG_COUNT;
    }
    if (r->ScsiStatus != SCSI_STATUS_GOOD) {
        failure->scsi_status = r->ScsiStatus;
        return READ_BAD_STATUS;
    }
    return READ_OK;
}

// Sends a command until the drive has run it (UNIT ATTENTION and ABORTED
// COMMAND are sent again) and judges it: 0, READ_NO_SUCH_BLOCK or EIO, as
// read_sector says. `expected` bytes must arrive; a read of several blocks
// from lba (`is_read`) may end at the disc's end.
int run_command(HANDLE handle, const UCHAR* cdb, UCHAR cdb_length, uint8_t* data, uint32_t length,
                uint32_t expected, bool is_read, uint32_t lba, read_failure* failure) {
    for (int attempt = 0;; ++attempt) {
        memset(failure, 0, sizeof *failure);
        failure->expected = expected;
        failure->kind = send_command(handle, cdb, cdb_length, data, length, failure);
        if (failure->kind == READ_OK || failure->kind == READ_CHECK_CONDITION) {
            int verdict = failure->kind == READ_OK ? VERDICT_DELIVERED : read_verdict_of(&failure->sense);
            // A disc change after the read began: what follows may come from another disc.
            // (A read of several blocks from block 0 may say so after some of them arrived.)
            bool after_block_0 = lba > 0 || (failure->transferred > 0 && failure->transferred < expected);
            if (verdict == VERDICT_SEND_AGAIN && is_read && after_block_0 && sense_is(&failure->sense, MEDIUM_MAY_HAVE_CHANGED))
                verdict = VERDICT_READ_ERROR;
            switch (verdict) {
            case VERDICT_DELIVERED:  // used as read, if all of it arrived
                if (failure->transferred >= expected) {
                    failure->kind = READ_OK;
                    return 0;
                }
                // A short transfer would leave part of the subchannel from
                // an earlier read in the buffer, so it is a failure too.
                failure->kind = READ_SHORT_TRANSFER;
                return EIO;
            case VERDICT_SEND_AGAIN:
                if (attempt < SEND_AGAIN_TIMES)
                    continue;
                return EIO;
            case VERDICT_END_OF_DISC:
                return is_read ? READ_NO_SUCH_BLOCK : EIO;
            default:
                return EIO;
            }
        }
        return EIO;
    }
}

}  // namespace

int open_drive(const char* name, drive_handle* handle) {
    if (!is_drive_name(name)) {
        void* device = NULL;
        if (!platform_open_path(name, &device))
            return EINVAL;
        *handle = device;
        return 0;
    }

    const char root_path[4] = {name[0], ':', '\\', '\0'};
    if (GetDriveTypeA(root_path) != DRIVE_CDROM)
        return EINVAL;

    const char device_path[7] = {'\\', '\\', '.', '\\', name[0], ':', '\0'};
    HANDLE device = CreateFileA(device_path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (device == INVALID_HANDLE_VALUE)
        return EINVAL;
    *handle = device;
    return 0;
}

void close_drive(drive_handle handle) {
    CloseHandle(handle);
}

bool is_drive_name(const char* name) {
    return name[0] != '\0' && name[1] == ':' && name[2] == '\0';
}

int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_BUFFER_SIZE],
                read_failure* failure) {
    return read_cd(handle, lba, 1, SUBCHANNEL_RAW, buffer, failure);
}

unsigned read_cd_sector_size(int subchannel) {
    switch (subchannel) {
    case SUBCHANNEL_RAW: return SECTOR_BUFFER_SIZE;
    case SUBCHANNEL_FORMATTED_Q: return SECTOR_MAIN_SIZE + FORMATTED_Q_SIZE;
    default: return SECTOR_MAIN_SIZE;
    }
}

int read_cd(drive_handle handle, uint32_t lba, unsigned count, int subchannel, uint8_t* buffer,
            read_failure* failure) {
    UCHAR cdb[READ_CD_CDB_LENGTH];
    build_read_cd(cdb, lba, count, subchannel);
    uint32_t length = (uint32_t)count * read_cd_sector_size(subchannel);
    return run_command(handle, cdb, READ_CD_CDB_LENGTH, buffer, length, length, true, lba, failure);
}

namespace {

// A command that reads up to `allocation` bytes of an answer of the drive's own length.
int read_answer(drive_handle handle, const UCHAR* cdb, UCHAR cdb_length, uint8_t* answer, uint32_t allocation,
                uint32_t* length, read_failure* failure) {
    int rc = run_command(handle, cdb, cdb_length, answer, allocation, 0, false, 0, failure);
    *length = failure->transferred < allocation ? failure->transferred : allocation;
    return rc;
}

}  // namespace

int read_toc(drive_handle handle, uint8_t format, uint8_t number, uint8_t* answer, uint16_t allocation,
             uint32_t* length, read_failure* failure) {
    UCHAR cdb[READ_TOC_CDB_LENGTH];
    build_read_toc(cdb, format, number, allocation);
    return read_answer(handle, cdb, READ_TOC_CDB_LENGTH, answer, allocation, length, failure);
}

int read_toc_answer(drive_handle handle, uint8_t format, uint8_t number, uint8_t* answer, uint32_t room,
                    uint32_t* length, bool* cut, read_failure* failure) {
    *cut = false;
    *length = 0;
    if (room < TOC_HEADER_SIZE)
        return EINVAL;
    uint32_t arrived = 0;
    int rc = read_toc(handle, format, number, answer, (uint16_t)TOC_HEADER_SIZE, &arrived, failure);
    *length = arrived;
    if (rc != 0 || arrived < TOC_HEADER_SIZE)
        return rc;
    // The data length counts the bytes after itself.
    uint32_t whole = ((uint32_t)answer[0] << 8 | answer[1]) + 2;
    uint32_t want = whole < room ? whole : room;
    if (want > UINT16_MAX)
        want = UINT16_MAX;
    *cut = want < whole;  // more than there is room for, or than one command can ask for
    if (want <= TOC_HEADER_SIZE)  // the header is all there is, or all the drive says there is
        return 0;
    for (;;) {
        rc = read_toc(handle, format, number, answer, (uint16_t)want, length, failure);
        if (rc == 0 || failure->kind != READ_CALL_FAILED || want <= SECTOR_BUFFER_SIZE)
            return rc;
        want = want / 2 > SECTOR_BUFFER_SIZE ? want / 2 : (uint32_t)SECTOR_BUFFER_SIZE;  // more than the system takes at once
        *cut = true;
    }
}

int read_subchannel(drive_handle handle, uint8_t format, uint8_t track, uint8_t* answer, uint16_t allocation,
                    uint32_t* length, read_failure* failure) {
    UCHAR cdb[READ_SUBCHANNEL_CDB_LENGTH];
    build_read_subchannel(cdb, format, track, allocation);
    return read_answer(handle, cdb, READ_SUBCHANNEL_CDB_LENGTH, answer, allocation, length, failure);
}

int inquiry(drive_handle handle, uint8_t* answer, uint8_t allocation, uint32_t* length, read_failure* failure) {
    UCHAR cdb[INQUIRY_CDB_LENGTH];
    build_inquiry(cdb, allocation);
    return read_answer(handle, cdb, INQUIRY_CDB_LENGTH, answer, allocation, length, failure);
}

void read_failure_text(const read_failure* f, bool first_read, char* text, size_t size) {
    const sense_data* sense = &f->sense;
    text[0] = '\0';
    if (f->kind == READ_CHECK_CONDITION && sense->has_key) {
        const char* words = additional_sense_words(sense);
        int n = sense->has_asc ? snprintf(text, size, "drive reports: %s%s%s (%02x/%02x/%02x)", sense_key_words(sense->key),
                                          words ? ", " : "", words ? words : "", sense->key, sense->asc, sense->ascq)
                               : snprintf(text, size, "drive reports: %s (%02x)", sense_key_words(sense->key), sense->key);
        size_t at = n > 0 && (size_t)n < size ? (size_t)n : strlen(text);
        snprintf(text + at, size - at, "%s%s", sense->deferred ? ", a deferred error (about an earlier command)" : "",
                 first_read && suggests_no_raw_subchannel(sense) ? "\nthe drive may not support reading raw subchannel data"
                                                                 : "");
        return;
    }
    switch (f->kind) {
    case READ_CALL_FAILED:
        snprintf(text, size, "the pass-through call to the drive failed");
        break;
    case READ_WRONG_COUNT:
        snprintf(text, size, "the pass-through call returned an unexpected count of bytes (%lu)", (unsigned long)f->returned);
        break;
    case READ_BAD_STATUS:
        snprintf(text, size, "drive answered with SCSI status %02x", f->scsi_status);
        break;
    case READ_CHECK_CONDITION:
        snprintf(text, size, "drive reports an error but not which (no sense data)");
        break;
    case READ_SHORT_TRANSFER:
        snprintf(text, size, "%lu of %lu bytes arrived", (unsigned long)f->transferred, (unsigned long)f->expected);
        break;
    }
}

void print_read_failure(FILE* out, const read_failure* f, bool first_read) {
    char text[READ_FAILURE_TEXT_SIZE];
    read_failure_text(f, first_read, text, sizeof text);
    if (text[0] != '\0')
        fprintf(out, "%s\n", text);
}
