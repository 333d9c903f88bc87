// Drive operations over the Windows kernel services: drive-type check,
// device open, and READ CD with raw P-W subchannel through SCSI pass-through.
#include "drive.h"

#include <errno.h>
#include <string.h>

#include "platform/win32.h"

// Windows' record: 44 bytes on the 32-bit platform, 56 on the 64-bit one.
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == (sizeof(void*) == 4 ? 44 : 56),
              "SCSI_PASS_THROUGH_DIRECT is not laid out as Windows lays it out");

namespace {

const UCHAR READ_CD_CDB_LENGTH = 12;
const ULONG READ_TIMEOUT_SECONDS = 60;
const UCHAR SCSI_STATUS_GOOD = 0x00;

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

int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_SIZE]) {
    SCSI_PASS_THROUGH_DIRECT request;
    memset(&request, 0, sizeof request);  // PathId, TargetId, Lun, sense fields, Cdb tail: 0
    request.Length = sizeof request;
    request.CdbLength = READ_CD_CDB_LENGTH;
    request.SenseInfoLength = 0;  // no sense data: a failure is a failure, whatever its cause
    request.DataIn = SCSI_IOCTL_DATA_IN;
    request.DataTransferLength = SECTOR_SIZE;
    request.TimeOutValue = READ_TIMEOUT_SECONDS;
    request.DataBuffer = buffer;  // direct: the drive's data lands in the caller's buffer
    build_read_cd(request.Cdb, lba);

    DWORD bytes_returned = 0;
    BOOL ok = DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request,
                              &request, sizeof request, &bytes_returned, NULL);
    // A short transfer with GOOD status would leave part of the subchannel
    // from an earlier read in the buffer, so it is a failure too.
    if (!ok || bytes_returned != sizeof request || request.ScsiStatus != SCSI_STATUS_GOOD ||
        request.DataTransferLength < SECTOR_SIZE)
        return EIO;
    return 0;
}
