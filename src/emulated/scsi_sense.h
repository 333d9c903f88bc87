// The sense data the emulated drive and the kernel rig's drive answer
// CHECK CONDITION with: the codes they use, and the fixed format they write.
#ifndef QSCAN_EMULATED_SCSI_SENSE_H
#define QSCAN_EMULATED_SCSI_SENSE_H

#include <stdint.h>
#include <string.h>

// A sense key, additional sense code and qualifier.
struct sense_code {
    uint8_t key, asc, ascq;
};
const sense_code NO_SENSE = {0x00, 0x00, 0x00};
const sense_code MEDIUM_NOT_PRESENT = {0x02, 0x3A, 0x00};
const sense_code UNRECOVERED_READ_ERROR = {0x03, 0x11, 0x05};  // L-EC uncorrectable
const sense_code INTERNAL_TARGET_FAILURE = {0x04, 0x44, 0x00};
const sense_code INVALID_OPCODE = {0x05, 0x20, 0x00};
const sense_code LBA_OUT_OF_RANGE = {0x05, 0x21, 0x00};
const sense_code INVALID_FIELD_IN_CDB = {0x05, 0x24, 0x00};
const sense_code MEDIUM_MAY_HAVE_CHANGED = {0x06, 0x28, 0x00};

enum { FIXED_SENSE_SIZE = 18 };

// Writes FIXED_SENSE_SIZE bytes of fixed-format sense data, as drives do:
// for medium and hardware errors with the VALID flag and the failing block
// in the information field.
inline void write_fixed_sense(uint8_t sense[FIXED_SENSE_SIZE], sense_code code, uint32_t lba) {
    memset(sense, 0, FIXED_SENSE_SIZE);
    bool valid = code.key == 0x03 || code.key == 0x04;
    sense[0] = valid ? 0xF0 : 0x70;  // current error, fixed format
    sense[2] = code.key;
    if (valid) {
        sense[3] = (uint8_t)(lba >> 24);
        sense[4] = (uint8_t)(lba >> 16);
        sense[5] = (uint8_t)(lba >> 8);
        sense[6] = (uint8_t)lba;
    }
    sense[7] = FIXED_SENSE_SIZE - 8;  // additional sense length
    sense[12] = code.asc;
    sense[13] = code.ascq;
}

#endif
