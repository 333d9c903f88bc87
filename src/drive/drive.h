// Drive operations: open a CD drive by its letter and read one raw sector
// together with its raw P-W subchannel.
#ifndef QSCAN_DRIVE_H
#define QSCAN_DRIVE_H

#include <stdint.h>

#include "drive/scsi_sense.h"
#include "subchannel.h"

// What one read delivers: a sector's 2352 main-channel bytes, then its 96
// bytes of raw P-W subchannel; 2448 in all.
enum {
    SECTOR_MAIN_SIZE = 2352,                              // sync, header, data, EDC/ECC or audio
    SECTOR_BUFFER_SIZE = SECTOR_MAIN_SIZE + SUBCHANNEL_SIZE,
    SECTOR_BUFFER_ALIGNMENT = 4096                        // suits adapters that need aligned direct transfers
};

// An opened drive: held for the rest of the run and never closed; the
// operating system releases it when the process ends.
typedef void* drive_handle;

// Opens the CD drive named by a drive letter and a colon ("D:").
// Returns 0 and sets *handle on success; 22 (EINVAL) on every failure: a name
// of another form, a letter that names no CD drive, a device that cannot be
// opened (lack of rights included). *handle is unchanged on failure.
int open_drive(const char* name, drive_handle* handle);

// Result of read_sector when the drive says the block is not there: past
// the end of what can be read (read_verdict_of in scsi_sense.h says which
// answers are). Outside the errno range, as Q_CRC_ERROR is.
enum { READ_NO_SUCH_BLOCK = 0x8001 };

// Which part of a read's success test failed.
enum read_failure_kind {
    READ_OK = 0,
    READ_CALL_FAILED,         // the pass-through call itself failed
    READ_WRONG_COUNT,         // the call returned another count of bytes than the record's size
    READ_BAD_STATUS,          // a SCSI status other than GOOD and CHECK CONDITION
    READ_CHECK_CONDITION,     // the drive answered CHECK CONDITION
    READ_SHORT_TRANSFER       // GOOD, but fewer bytes than a whole sector arrived
};

// Why a read failed, as far as the drive and the system said.
struct read_failure {
    int kind;              // a read_failure_kind
    uint8_t scsi_status;   // READ_BAD_STATUS: the status the drive answered
    uint32_t transferred;  // READ_SHORT_TRANSFER, READ_CHECK_CONDITION: the bytes that arrived
    uint32_t returned;     // READ_WRONG_COUNT: the count the call returned
    sense_data sense;      // READ_CHECK_CONDITION: what the drive's sense data said
};

// Reads the block at lba (block 0 is at disc time 00:02.00) into buffer: the
// 2352 main-channel bytes, then 96 subchannel bytes, P in bit 7, Q in bit 6,
// ..., W in bit 0. Returns 0 when the buffer holds the whole sector (a
// RECOVERED ERROR included: the drive corrected what it delivered);
// READ_NO_SUCH_BLOCK when the drive says the block is not there; 5 (EIO) on
// every other failure. A read the drive refused with UNIT ATTENTION (a disc
// change, a reset) or ABORTED COMMAND is sent again, up to three more
// times. On failure the buffer's contents are undefined and *failure says why.
int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_BUFFER_SIZE],
                read_failure* failure);

#endif
