// Drive operations over the Windows kernel services: drive-type check,
// device open, and READ CD with raw P-W subchannel through SCSI pass-through.
#include "drive/drive.h"

#include <errno.h>
#include <stddef.h>
#include <string.h>

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
const ULONG READ_TIMEOUT_SECONDS = 60;

// A read the drive did not run (UNIT ATTENTION, ABORTED COMMAND) is sent
// again this often at most: a reset and a disc change can queue more than one.
const int SEND_AGAIN_TIMES = 3;

// Fills the 12-byte READ CD command block for one block with its raw P-W
// subchannel.
void build_read_cd(UCHAR cdb[READ_CD_CDB_LENGTH], uint32_t lba) {
    cdb[0] = 0xBE;                   // operation code: READ CD
    cdb[1] = 0x00;                   // expected sector type: any; no DAP
    cdb[2] = (UCHAR)(lba >> 24);     // starting logical block address, MSB first
    cdb[3] = (UCHAR)(lba >> 16);
    cdb[4] = (UCHAR)(lba >> 8);
    cdb[5] = (UCHAR)lba;
    cdb[6] = 0x00;                   // transfer length in blocks, MSB first: 1
    cdb[7] = 0x00;
    cdb[8] = 0x01;
    cdb[9] = 0xF8;                   // sync, all headers, user data, EDC/ECC; no C2
    cdb[10] = 0x01;                  // sub-channel selection: raw P-W
    cdb[11] = 0x00;                  // control
}

// One READ CD through pass-through. Returns a read_failure_kind and, after
// CHECK CONDITION, the sense data in *failure.
int send_read_cd(HANDLE handle, uint32_t lba, uint8_t* buffer, read_failure* failure) {
    pass_through_with_sense request;
    memset(&request, 0, sizeof request);  // PathId, TargetId, Lun, Cdb tail, sense area: 0
    SCSI_PASS_THROUGH_DIRECT* r = &request.record;
    r->Length = sizeof *r;
    r->CdbLength = READ_CD_CDB_LENGTH;
    r->SenseInfoLength = SENSE_AREA_SIZE;
    r->DataIn = SCSI_IOCTL_DATA_IN;
    r->DataTransferLength = SECTOR_BUFFER_SIZE;
    r->TimeOutValue = READ_TIMEOUT_SECONDS;
    r->DataBuffer = buffer;  // direct: the drive's data lands in the caller's buffer
    r->SenseInfoOffset = offsetof(pass_through_with_sense, sense);
    build_read_cd(r->Cdb, lba);

    DWORD bytes_returned = 0;
    BOOL ok = DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                              &request, sizeof request, &bytes_returned, NULL);
    if (!ok)
        return READ_CALL_FAILED;
    if (r->ScsiStatus == SCSI_STATUS_CHECK_CONDITION) {
        // Systems update SenseInfoLength to what they wrote, but disagree on
        // the bytes-returned count that goes with sense data: trust only the
        // length, and never beyond the area.
        unsigned length = r->SenseInfoLength < SENSE_AREA_SIZE ? r->SenseInfoLength : (unsigned)SENSE_AREA_SIZE;
        parse_sense(request.sense, length, &failure->sense);
        failure->transferred = r->DataTransferLength;
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
    // A short transfer with GOOD status would leave part of the subchannel
    // from an earlier read in the buffer, so it is a failure too.
    if (r->DataTransferLength < SECTOR_BUFFER_SIZE) {
        failure->transferred = r->DataTransferLength;
        return READ_SHORT_TRANSFER;
    }
    return READ_OK;
}

}  // namespace

int open_drive(const char* name, drive_handle* handle) {
    if (name[0] == '\0' || name[1] != ':' || name[2] != '\0')
        return EINVAL;

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

int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_BUFFER_SIZE],
                read_failure* failure) {
    for (int attempt = 0;; ++attempt) {
        memset(failure, 0, sizeof *failure);
        failure->kind = send_read_cd(handle, lba, buffer, failure);
        if (failure->kind == READ_OK)
            return 0;
        if (failure->kind != READ_CHECK_CONDITION)
            return EIO;
        switch (read_verdict_of(&failure->sense)) {
        case VERDICT_DELIVERED:  // used as read, if all of it arrived
            if (failure->transferred >= SECTOR_BUFFER_SIZE)
                return 0;
            failure->kind = READ_SHORT_TRANSFER;
            return EIO;
        case VERDICT_SEND_AGAIN:
            if (attempt < SEND_AGAIN_TIMES)
                continue;
            return EIO;
        case VERDICT_END_OF_DISC:
            return READ_NO_SUCH_BLOCK;
        default:
            return EIO;
        }
    }
}
