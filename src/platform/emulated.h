// The emulated platform: the three Win32 kernel services over one emulated CD
// drive, D:, that executes READ CD as a strict MMC drive does; and the test
// interface that loads discs into it, injects faults and shows what it got.
#ifndef QSCAN_PLATFORM_EMULATED_H
#define QSCAN_PLATFORM_EMULATED_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/disc_synth.h"
#include "platform/win32.h"

enum { EMULATED_SECTOR_SIZE = 2448 };

// A disc: its number of blocks, and how to fetch one whole sector. fetch
// returns false for a block that cannot be read (the drive reports a medium
// error); it is called only for blocks below sector_count.
struct emulated_disc {
    uint32_t sector_count = 0;
    std::function<bool(uint32_t lba, uint8_t* sector)> fetch;
};

void emulated_insert_disc(emulated_disc disc);

// A disc held in memory: whole 2448-byte sectors, block 0 first.
void emulated_insert_image(std::vector<uint8_t> image);

// A synthesized disc, its sectors laid down as the drive reads them.
void emulated_insert_synth_disc(const synth_disc& disc);

// A disc image file (2448-byte sectors, block 0 first), read sector by
// sector as the drive is asked for it. Returns false, with the reason in
// *error and the drive left as it was, when the file cannot be opened or its
// size is not a whole number of sectors.
bool emulated_insert_image_file(const char* path, std::string* error);

void emulated_eject();

enum emulated_fault {
    FAULT_NONE,
    FAULT_CALL_FAILS,            // DeviceIoControl returns FALSE
    FAULT_WRONG_BYTES_RETURNED,  // success, but fewer bytes returned than the record's size
    FAULT_CHECK_CONDITION,       // the block arrives whole, but with CHECK CONDITION (medium error)
    FAULT_SHORT_TRANSFER         // GOOD status, but only the 2352 main-channel bytes arrive
};

// Every read of block lba meets the fault, until FAULT_NONE is injected
// there or the drive is reset.
void emulated_inject_fault(uint32_t lba, emulated_fault fault);

// What the drive saw and did in the last DeviceIoControl call.
struct emulated_call {
    HANDLE device;
    DWORD control_code;
    const void* in_buffer;
    DWORD in_size;
    const void* out_buffer;
    DWORD out_size;
    bool bytes_returned_given;
    bool overlapped_given;
    SCSI_PASS_THROUGH_DIRECT request;  // as received, before the drive wrote to it
    UCHAR sense_key;                   // the drive's reason for CHECK CONDITION, e.g. 5 illegal request
    UCHAR additional_sense;            // ASC: 0x20 bad opcode, 0x21 LBA out of range, 0x24 bad CDB field, ...
};

struct emulated_counters {
    unsigned drive_type_queries;
    unsigned opens;
    unsigned ioctls;
};

// The last call; all zero before the first.
const emulated_call* emulated_last_call();
const emulated_counters* emulated_counts();

// Back to the start: empty drive, no faults, no calls seen.
void emulated_reset();

#endif
