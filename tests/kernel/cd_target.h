// The firmware of the CD drive the kernel rig gives a real kernel: answers
// every command the kernel's CD-ROM driver, Wine and the scanner send, and
// executes READ CD, READ TOC, READ SUB-CHANNEL and INQUIRY's standard answer
// through the emulated drive itself, so that one disc, one kind of drive and
// one list of faults play identically through qscan-emu and through a kernel.
#ifndef QSCAN_TESTS_KERNEL_CD_TARGET_H
#define QSCAN_TESTS_KERNEL_CD_TARGET_H

#include <stddef.h>
#include <stdint.h>

enum { TARGET_SENSE_SIZE = 96 };

// A command's outcome as a SCSI target reports it.
struct target_response {
    uint8_t status;        // 0x00 GOOD, 0x02 CHECK CONDITION
    uint32_t length;       // bytes of data for the initiator, at most the room it gave
    uint8_t sense[TARGET_SENSE_SIZE];
    uint32_t sense_length;
};

// Executes one command block. `data` has room for `room` bytes, which the
// initiator's transfer length decided; data-out commands are not taken.
// The emulated drive (emulated_drive.h) holds the disc and the faults.
void target_execute(const uint8_t* cdb, size_t cdb_length, uint8_t* data, uint32_t room,
                    target_response* response);

// Counts of READ CD commands the target has run, for the timing figure.
uint64_t target_read_cd_count();

#endif
