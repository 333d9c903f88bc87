// Sense data: reading both formats by their own lengths, what a failed read
// means, the words for a person, and the fixed format the emulated drives write.
#include "drive/scsi_sense.h"

#include <string.h>

namespace {

// Where the fields lie in each format.
enum {
    FIXED_KEY_AT = 2,
    FIXED_ASC_AT = 12,
    DESCRIPTOR_KEY_AT = 1,
    DESCRIPTOR_ASC_AT = 2,
    FIXED_LENGTH_WITH_ASC = FIXED_ASC_AT + 2 - (FIXED_SENSE_LENGTH_AT + 1)  // bytes 8 to 13
};
const uint8_t RESPONSE_CODE_MASK = 0x7F;  // bit 7 is VALID: the information field holds the failing address
const uint8_t DESCRIPTOR_CURRENT = 0x72, DESCRIPTOR_DEFERRED = 0x73;

const char* const KEY_WORDS[16] = {
    "no sense",        "recovered error", "not ready",       "medium error",
    "hardware error",  "illegal request", "unit attention",  "data protect",
    "blank check",     "vendor specific", "copy aborted",    "aborted command",
    "equal",           "volume overflow", "miscompare",      "completed"};

const int ANY = -1;

// Words for the additional sense a CD drive commonly returns, by key, ASC
// and ASCQ; ANY matches every value. The first match counts.
const struct {
    uint8_t key;
    int asc;
    int ascq;
    const char* words;
} ADDITIONAL_WORDS[] = {
    {SENSE_KEY_RECOVERED_ERROR, 0x17, ANY, "recovered data with no error correction applied"},
    {SENSE_KEY_RECOVERED_ERROR, 0x18, ANY, "recovered data with error correction applied"},
    {SENSE_KEY_NOT_READY, 0x04, 0x01, "logical unit is in process of becoming ready"},
    {SENSE_KEY_NOT_READY, 0x04, ANY, "logical unit not ready"},
    {SENSE_KEY_NOT_READY, 0x30, ANY, "incompatible medium installed"},
    {SENSE_KEY_NOT_READY, MEDIUM_NOT_PRESENT.asc, ANY, "medium not present"},
    {SENSE_KEY_MEDIUM_ERROR, 0x02, 0x00, "no seek complete"},
    {SENSE_KEY_MEDIUM_ERROR, 0x06, 0x00, "no reference position found"},
    {SENSE_KEY_MEDIUM_ERROR, UNRECOVERED_READ_ERROR.asc, ANY, "unrecovered read error"},
    {SENSE_KEY_MEDIUM_ERROR, 0x15, ANY, "positioning error"},
    {SENSE_KEY_MEDIUM_ERROR, 0x57, 0x00, "unable to recover table of contents"},
    {SENSE_KEY_HARDWARE_ERROR, 0x08, ANY, "logical unit communication failure"},
    {SENSE_KEY_HARDWARE_ERROR, 0x09, ANY, "track following error"},
    {SENSE_KEY_HARDWARE_ERROR, 0x15, ANY, "positioning error"},
    {SENSE_KEY_HARDWARE_ERROR, 0x3E, ANY, "logical unit failure"},
    {SENSE_KEY_HARDWARE_ERROR, INTERNAL_TARGET_FAILURE.asc, 0x00, "internal target failure"},
    {SENSE_KEY_HARDWARE_ERROR, 0x53, ANY, "media load or eject failed"},
    {SENSE_KEY_HARDWARE_ERROR, ANY, ANY, "a fault in the drive itself"},
    {SENSE_KEY_ILLEGAL_REQUEST, INVALID_OPCODE.asc, 0x00, "invalid command operation code"},
    {SENSE_KEY_ILLEGAL_REQUEST, LBA_OUT_OF_RANGE.asc, 0x00, "logical block address out of range"},
    {SENSE_KEY_ILLEGAL_REQUEST, INVALID_FIELD_IN_CDB.asc, 0x00, "invalid field in command block"},
    {SENSE_KEY_ILLEGAL_REQUEST, 0x26, ANY, "invalid field in parameter list"},
    {SENSE_KEY_ILLEGAL_REQUEST, END_OF_USER_AREA.asc, 0x00, "end of user area encountered on this track"},
    {SENSE_KEY_ILLEGAL_REQUEST, ILLEGAL_MODE_FOR_TRACK.asc, 0x00, "illegal mode for this track"},
    {SENSE_KEY_UNIT_ATTENTION, MEDIUM_MAY_HAVE_CHANGED.asc, 0x00, "not ready to ready change, medium may have changed"},
    {SENSE_KEY_UNIT_ATTENTION, 0x29, ANY, "power on, reset, or bus device reset occurred"},
    {SENSE_KEY_ABORTED_COMMAND, ANY, ANY, "the drive or its connection gave up on the command"},
};

}  // namespace

bool sense_is(const sense_data* s, sense_code code) {
    return s->has_asc && s->key == code.key && s->asc == code.asc && s->ascq == code.ascq;
}

bool parse_sense(const uint8_t* sense, unsigned length, sense_data* out) {
    memset(out, 0, sizeof *out);
    if (length == 0)
        return false;
    uint8_t response_code = sense[0] & RESPONSE_CODE_MASK;
    bool fixed = response_code == FIXED_SENSE_CURRENT || response_code == FIXED_SENSE_DEFERRED;
    bool descriptor = response_code == DESCRIPTOR_CURRENT || response_code == DESCRIPTOR_DEFERRED;
    if (!fixed && !descriptor)
        return false;
    unsigned key_at = fixed ? FIXED_KEY_AT : DESCRIPTOR_KEY_AT;
    unsigned asc_at = fixed ? FIXED_ASC_AT : DESCRIPTOR_ASC_AT;
    if (length <= key_at)
        return false;
    out->has_key = true;
    out->deferred = response_code == FIXED_SENSE_DEFERRED || response_code == DESCRIPTOR_DEFERRED;
    out->key = sense[key_at] & 0x0F;
    // ASC and ASCQ follow each other in both formats; in the fixed one the
    // drive says in byte 7 how much it sent after it.
    out->has_asc = length >= asc_at + 2 &&
                   (!fixed || sense[FIXED_SENSE_LENGTH_AT] >= FIXED_LENGTH_WITH_ASC);
    if (out->has_asc) {
        out->asc = sense[asc_at];
        out->ascq = sense[asc_at + 1];
    }
    return true;
}

int read_verdict_of(const sense_data* s) {
    if (!s->has_key)
        return VERDICT_END_OF_DISC;  // CHECK CONDITION and nothing said: as the end has always been read
    if (s->deferred)
        return VERDICT_READ_ERROR;
    switch (s->key) {
    case SENSE_KEY_RECOVERED_ERROR:
        return VERDICT_DELIVERED;
    case SENSE_KEY_UNIT_ATTENTION:
    case SENSE_KEY_ABORTED_COMMAND:
        return VERDICT_SEND_AGAIN;
    case SENSE_KEY_BLANK_CHECK:
        return VERDICT_END_OF_DISC;
    case SENSE_KEY_ILLEGAL_REQUEST:
        return sense_is(s, LBA_OUT_OF_RANGE) || sense_is(s, END_OF_USER_AREA) || sense_is(s, ILLEGAL_MODE_FOR_TRACK)
                   ? VERDICT_END_OF_DISC
                   : VERDICT_READ_ERROR;
    default:
        return VERDICT_READ_ERROR;
    }
}

const char* sense_key_words(uint8_t key) {
    return KEY_WORDS[key & 0x0F];
}

const char* additional_sense_words(const sense_data* s) {
    if (!s->has_asc)
        return NULL;
    for (const auto& w : ADDITIONAL_WORDS) {
        if (w.key == s->key && (w.asc == ANY || w.asc == s->asc) && (w.ascq == ANY || w.ascq == s->ascq))
            return w.words;
    }
    return NULL;
}

bool suggests_no_raw_subchannel(const sense_data* s) {
    return sense_is(s, INVALID_OPCODE) || sense_is(s, INVALID_FIELD_IN_CDB);
}

void write_fixed_sense(uint8_t sense[FIXED_SENSE_SIZE], sense_code code, uint32_t lba, uint8_t response_code) {
    memset(sense, 0, FIXED_SENSE_SIZE);
    bool valid = code.key == SENSE_KEY_MEDIUM_ERROR || code.key == SENSE_KEY_HARDWARE_ERROR;
    sense[0] = (uint8_t)(response_code | (valid ? 0x80 : 0x00));
    sense[FIXED_KEY_AT] = code.key;
    if (valid) {  // the information field: the failing block
        sense[3] = (uint8_t)(lba >> 24);
        sense[4] = (uint8_t)(lba >> 16);
        sense[5] = (uint8_t)(lba >> 8);
        sense[6] = (uint8_t)lba;
    }
    sense[FIXED_SENSE_LENGTH_AT] = FIXED_SENSE_SIZE - (FIXED_SENSE_LENGTH_AT + 1);
    sense[FIXED_ASC_AT] = code.asc;
    sense[FIXED_ASC_AT + 1] = code.ascq;
}
