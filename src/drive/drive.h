// Drive operations: open a CD drive by its letter, read raw sectors with
// their raw P-W subchannel, read its table of contents; both programs use them.
#ifndef QSCAN_DRIVE_H
#define QSCAN_DRIVE_H

#include <stdint.h>
#include <stdio.h>

#include "drive/scsi_sense.h"
#include "subchannel.h"

// What one read delivers: a sector's 2352 main-channel bytes, then its 96
// bytes of raw P-W subchannel; 2448 in all.
enum {
    SECTOR_MAIN_SIZE = 2352,                              // sync, header, data, EDC/ECC or audio
    SECTOR_BUFFER_SIZE = SECTOR_MAIN_SIZE + SUBCHANNEL_SIZE,
    SECTOR_BUFFER_ALIGNMENT = 4096,                       // suits adapters that need aligned direct transfers
    READ_CD_MOST = 26      // sectors a command at most: 63,648 bytes, within the 64 KiB many adapters allow
};

// An opened drive: held for the rest of the run and never closed; the
// operating system releases it when the process ends.
typedef void* drive_handle;

// Opens the CD drive named by a drive letter and a colon ("D:").
// Returns 0 and sets *handle on success; 22 (EINVAL) on every failure: a name
// of another form, a letter that names no CD drive, a device that cannot be
// opened (lack of rights included). *handle is unchanged on failure.
int open_drive(const char* name, drive_handle* handle);

// Whether a name has the form of a drive name: a character and a colon.
bool is_drive_name(const char* name);

// The platform's own words for why the last open failed where the device
// exists ("/dev/sr0: Permission denied: ..."), into text; false when it
// has none. Each platform layer defines it.
bool open_failure_reason(char* text, unsigned size);

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
    uint32_t expected;     // ... and those that should have
    uint32_t returned;     // READ_WRONG_COUNT: the count the call returned
    sense_data sense;      // READ_CHECK_CONDITION: what the drive's sense data said
};

// Reads the block at lba (block 0 is at disc time 00:02.00) into buffer: the
// 2352 main-channel bytes, then 96 subchannel bytes, P in bit 7, Q in bit 6,
// ..., W in bit 0. Returns 0 when the buffer holds the whole sector (a
// RECOVERED ERROR included: the drive corrected what it delivered);
// READ_NO_SUCH_BLOCK when the drive says the block is not there; 5 (EIO) on
// every other failure. A read the drive refused with UNIT ATTENTION (a
// reset, or at block 0 a disc change) or ABORTED COMMAND is sent again, up to
// three more times; UNIT ATTENTION 06/28/00 after block 0 is a read error,
// since what follows may come from another disc. On failure the buffer's
// contents are undefined and *failure says why.
int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_BUFFER_SIZE],
                read_failure* failure);

// The same for `count` blocks (1 to READ_CD_MOST) from lba, one after the
// other in buffer (count * SECTOR_BUFFER_SIZE bytes), in one command. A
// system that refuses a transfer of that size fails the call (READ_CALL_FAILED).
int read_cd(drive_handle handle, uint32_t lba, unsigned count, uint8_t* buffer, read_failure* failure);

// One READ TOC/PMA/ATIP in block addresses: `format` (0 tracks, 1
// sessions, 2 the full TOC, 5 CD-Text), `number` the track or session it
// starts at, `allocation` bytes of room in answer; *length gets the bytes
// that arrived. Returns 0 or 5 (EIO) with *failure saying why; sent again
// as read_sector sends a read.
int read_toc(drive_handle handle, uint8_t format, uint8_t number, uint8_t* answer, uint16_t allocation,
             uint32_t* length, read_failure* failure);

// The line after a failed read's message, on `out`: what the drive said, or
// what the system saw when the drive said nothing; after a failed first
// read, a line more when the answer suggests a drive without raw subchannel.
void print_read_failure(FILE* out, const read_failure* failure, bool first_read);

#endif
