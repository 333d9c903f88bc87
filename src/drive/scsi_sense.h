// The drive's sense data, in one place: the sense keys and additional sense
// codes a CD drive answers with, reading them out of a sense area, what they
// mean for a failed read, and the words a person reads for them.
#ifndef QSCAN_SCSI_SENSE_H
#define QSCAN_SCSI_SENSE_H

#include <stdint.h>

// The SCSI status a command ends with.
enum scsi_status {
    SCSI_STATUS_GOOD = 0x00,
    SCSI_STATUS_CHECK_CONDITION = 0x02  // the drive has sense data to say why
};

enum sense_key {
    SENSE_KEY_NO_SENSE = 0x0,
    SENSE_KEY_RECOVERED_ERROR = 0x1,  // the command succeeded after the drive corrected something
    SENSE_KEY_NOT_READY = 0x2,
    SENSE_KEY_MEDIUM_ERROR = 0x3,
    SENSE_KEY_HARDWARE_ERROR = 0x4,
    SENSE_KEY_ILLEGAL_REQUEST = 0x5,
    SENSE_KEY_UNIT_ATTENTION = 0x6,   // the command did not run: a disc change, a reset
    SENSE_KEY_BLANK_CHECK = 0x8,      // nothing recorded there
    SENSE_KEY_ABORTED_COMMAND = 0xB   // the drive or its connection gave up on the command
};

// A sense key, additional sense code and qualifier.
struct sense_code {
    uint8_t key, asc, ascq;
};

const sense_code NO_SENSE = {SENSE_KEY_NO_SENSE, 0x00, 0x00};
const sense_code RECOVERED_WITH_RETRIES = {SENSE_KEY_RECOVERED_ERROR, 0x17, 0x01};
const sense_code MEDIUM_NOT_PRESENT = {SENSE_KEY_NOT_READY, 0x3A, 0x00};
const sense_code UNRECOVERED_READ_ERROR = {SENSE_KEY_MEDIUM_ERROR, 0x11, 0x05};  // L-EC uncorrectable
const sense_code INTERNAL_TARGET_FAILURE = {SENSE_KEY_HARDWARE_ERROR, 0x44, 0x00};
const sense_code INVALID_OPCODE = {SENSE_KEY_ILLEGAL_REQUEST, 0x20, 0x00};
const sense_code LBA_OUT_OF_RANGE = {SENSE_KEY_ILLEGAL_REQUEST, 0x21, 0x00};
const sense_code INVALID_FIELD_IN_CDB = {SENSE_KEY_ILLEGAL_REQUEST, 0x24, 0x00};
const sense_code END_OF_USER_AREA = {SENSE_KEY_ILLEGAL_REQUEST, 0x63, 0x00};
const sense_code ILLEGAL_MODE_FOR_TRACK = {SENSE_KEY_ILLEGAL_REQUEST, 0x64, 0x00};
const sense_code MEDIUM_MAY_HAVE_CHANGED = {SENSE_KEY_UNIT_ATTENTION, 0x28, 0x00};
const sense_code BLANK_CHECK = {SENSE_KEY_BLANK_CHECK, 0x00, 0x00};
const sense_code SCSI_PARITY_ERROR = {SENSE_KEY_ABORTED_COMMAND, 0x47, 0x00};

// What a drive's sense data says, as far as it says it.
struct sense_data {
    bool has_key;   // the drive gave at least its sense key
    bool has_asc;   // ... and the additional sense code and qualifier
    bool deferred;  // about an earlier command, not this one (response code 71h or 73h)
    uint8_t key;    // 0x0-0xF
    uint8_t asc;
    uint8_t ascq;
};

// Reads `length` bytes of sense data at `sense`: fixed format (response code
// 70h current, 71h deferred: key in byte 2's low nibble; ASC and ASCQ in
// bytes 12 and 13, which count only when the additional sense length in
// byte 7 says the drive sent them, 6 or more, and the area holds them) or
// descriptor format (72h, 73h: key, ASC, ASCQ in bytes 1 to 3). Bit 7 of
// byte 0 (VALID) is ignored. Returns false, with *out cleared, when there
// is no sense data: an area too short for the key, or a first byte that is
// no known response code.
bool parse_sense(const uint8_t* sense, unsigned length, sense_data* out);

// Whether the sense data says exactly this key, ASC and ASCQ.
bool sense_is(const sense_data* sense, sense_code code);

// What a read the drive answered with CHECK CONDITION means.
enum read_verdict {
    VERDICT_DELIVERED,    // RECOVERED ERROR: the data arrived, corrected; use it
    VERDICT_SEND_AGAIN,   // UNIT ATTENTION, ABORTED COMMAND: the command did not run
    VERDICT_END_OF_DISC,  // the drive says the block is not there
    VERDICT_READ_ERROR    // anything else
};

// The end of the disc is only what drives say there: no sense data at all,
// BLANK CHECK, or ILLEGAL REQUEST with 21/00 (block out of range), 63/00
// (end of user area) or 64/00 (illegal mode for this track, from some
// drives in the lead-out). Deferred sense data speaks of an earlier command:
// always a read error.
int read_verdict_of(const sense_data* sense);

// The sense key's name ("medium error"), and words for the additional sense
// code a CD drive commonly returns, or NULL for one it has none for.
const char* sense_key_words(uint8_t key);
const char* additional_sense_words(const sense_data* sense);

// A first read refused this way usually means a drive that cannot return
// raw P-W subchannel: 05/20/00 or 05/24/00.
bool suggests_no_raw_subchannel(const sense_data* sense);

// Fixed-format sense data as drives write it: FIXED_SENSE_SIZE bytes, for
// medium and hardware errors with the VALID flag and the failing block in
// the information field. Byte 7 says ASC and ASCQ follow.
enum {
    FIXED_SENSE_SIZE = 18,
    FIXED_SENSE_LENGTH_AT = 7,          // the additional sense length
    FIXED_SENSE_CURRENT = 0x70,         // response codes
    FIXED_SENSE_DEFERRED = 0x71,
    FIXED_SENSE_WITHOUT_ASC_LENGTH = 4  // an additional length that leaves out ASC and ASCQ
};
void write_fixed_sense(uint8_t sense[FIXED_SENSE_SIZE], sense_code code, uint32_t lba,
                       uint8_t response_code = FIXED_SENSE_CURRENT);

#endif
