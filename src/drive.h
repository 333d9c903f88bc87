// Drive operations: open a CD drive by its letter and read one raw sector
// together with its raw P-W subchannel.
#ifndef QSCAN_DRIVE_H
#define QSCAN_DRIVE_H

#include <stdint.h>

enum {
    SECTOR_MAIN_SIZE = 2352,                // sync, header, data, EDC/ECC or audio
    SECTOR_SIZE = SECTOR_MAIN_SIZE + 96,    // followed by the raw P-W subchannel
    SECTOR_BUFFER_ALIGNMENT = 4096          // suits adapters that need aligned direct transfers
};

// An opened drive: held for the rest of the run and never closed; the
// operating system releases it when the process ends.
typedef void* drive_handle;

// Opens the CD drive named by a drive letter and a colon ("D:").
// Returns 0 and sets *handle on success; 22 (EINVAL) on every failure: a name
// of another form, a letter that names no CD drive, a device that cannot be
// opened (lack of rights included). *handle is unchanged on failure.
int open_drive(const char* name, drive_handle* handle);

// Reads the block at lba (block 0 is at disc time 00:02.00) into buffer: the
// 2352 main-channel bytes, then 96 subchannel bytes, P in bit 7, Q in bit 6,
// ..., W in bit 0. Returns 0 when the buffer holds the whole sector, 5 (EIO)
// on every failure; the buffer's contents are then undefined.
int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_SIZE]);

#endif
