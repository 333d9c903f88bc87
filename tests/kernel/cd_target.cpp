// The kernel rig's CD drive firmware: what a plain MMC drive answers to the
// commands a kernel sends on its own, and READ CD, READ TOC, READ
// SUB-CHANNEL and the standard INQUIRY through the emulated drive.
#include "tests/kernel/cd_target.h"

#include <string.h>

#include <algorithm>

#include "drive/drive.h"
#include "emulated/emulated_drive.h"
#include "drive/scsi_sense.h"

namespace {

const uint32_t BLOCK_SIZE = 2048;  // what READ CAPACITY and READ(10) count in

uint32_t be16(const uint8_t* p) {
    return (uint32_t)p[0] << 8 | p[1];
}
uint32_t be32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v >> 16);
    put16(p + 2, v);
}

void check_condition(target_response* r, sense_code code) {
    r->status = SCSI_STATUS_CHECK_CONDITION;
    r->length = 0;
    write_fixed_sense(r->sense, code, 0);
    r->sense_length = FIXED_SENSE_SIZE;
}

// Hands the initiator `size` bytes of `reply`, no more than it asked for
// (`allocation`) nor than it gave room for.
void reply(target_response* r, uint8_t* data, uint32_t room, const uint8_t* answer, uint32_t size,
           uint32_t allocation) {
    r->length = std::min(std::min(size, allocation), room);
    memcpy(data, answer, r->length);
}

// INQUIRY's pages of vital product data, which are the target's own: the
// list of pages, and a serial number. The standard answer is the emulated
// drive's.
void vital_product_data(const uint8_t* cdb, uint8_t* data, uint32_t room, target_response* r) {
    uint32_t allocation = be16(cdb + 3);
    const uint8_t pages[] = {0x05, 0x00, 0x00, 0x02, 0x00, 0x80};
    const uint8_t serial[] = {0x05, 0x80, 0x00, 0x08, 'Q', 'S', 'C', 'A', 'N', '0', '0', '1'};
    if (cdb[2] == 0x00)
        reply(r, data, room, pages, sizeof pages, allocation);
    else if (cdb[2] == 0x80)
        reply(r, data, room, serial, sizeof serial, allocation);
    else
        check_condition(r, INVALID_FIELD_IN_CDB);
}

// The capabilities and mechanical status page (2Ah): a tray that locks and
// ejects, CD-DA commands with accurate streaming, raw R-W subchannel.
const uint8_t CAPABILITIES_PAGE[22] = {0x2A, 20, 0x00, 0x00, 0x41, 0x07, 0x29, 0x00,
                                       0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};

void mode_sense(const uint8_t* cdb, bool ten, uint8_t* data, uint32_t room, target_response* r) {
    uint8_t page = cdb[2] & 0x3F;
    if (page != 0x2A && page != 0x3F) {
        check_condition(r, INVALID_FIELD_IN_CDB);
        return;
    }
    uint8_t answer[8 + sizeof CAPABILITIES_PAGE] = {};
    uint32_t header = ten ? 8 : 4;
    memcpy(answer + header, CAPABILITIES_PAGE, sizeof CAPABILITIES_PAGE);
    uint32_t size = header + sizeof CAPABILITIES_PAGE;
    if (ten)
        put16(answer, size - 2);  // mode data length; no block descriptors
    else
        answer[0] = (uint8_t)(size - 1);
    reply(r, data, room, answer, size, ten ? be16(cdb + 7) : cdb[4]);
}

void event_status(const uint8_t* cdb, bool present, uint8_t* data, uint32_t room, target_response* r) {
    if (!(cdb[1] & 0x01)) {  // only polled operation
        check_condition(r, INVALID_FIELD_IN_CDB);
        return;
    }
    const uint8_t MEDIA_CLASS = 0x10;
    if (!(cdb[4] & MEDIA_CLASS)) {  // no event class we have: "no event available"
        const uint8_t none[4] = {0x00, 0x02, 0x80, MEDIA_CLASS};
        reply(r, data, room, none, sizeof none, be16(cdb + 7));
        return;
    }
    const uint8_t media[8] = {0x00, 0x06, 0x04, MEDIA_CLASS, 0x00, (uint8_t)(present ? 0x02 : 0x00), 0, 0};
    reply(r, data, room, media, sizeof media, be16(cdb + 7));
}

void disc_information(const uint8_t* cdb, uint8_t* data, uint32_t room, target_response* r) {
    uint8_t answer[34] = {};
    put16(answer, sizeof answer - 2);
    answer[2] = 0x0E;  // a complete disc whose last session is complete
    answer[3] = 1;     // first track
    answer[4] = 1;     // sessions
    answer[5] = 1;     // first track of the last session
    answer[6] = 1;     // last track of the last session
    memset(answer + 16, 0xFF, 8);  // no lead-in or lead-out to record: a pressed disc
    reply(r, data, room, answer, sizeof answer, be16(cdb + 7));
}

// READ CD, READ TOC, READ SUB-CHANNEL and the standard INQUIRY go to the
// emulated drive itself: the same kind of drive, strictness, table of
// contents, codes, sense data and faults as through qscan-emu.
uint64_t read_cd_count = 0;

void emulated(const uint8_t* cdb, size_t cdb_length, uint8_t* data, uint32_t room, target_response* r) {
    read_cd_count += cdb[0] == 0xBE;
    emulated_response response;
    emulated_execute(cdb, cdb_length, data, room, &response);
    if (response.call_fails) {
        // Not reachable with the faults the rig takes: a target cannot make
        // the initiator's call fail. Tell the initiator the target broke.
        check_condition(r, INTERNAL_TARGET_FAILURE);
        return;
    }
    r->status = response.status;
    r->length = response.transferred;  // data with CHECK CONDITION too: a recovered error delivers it
    r->sense_length = std::min<uint32_t>(response.sense_length, TARGET_SENSE_SIZE);
    memcpy(r->sense, response.sense, r->sense_length);
}

}  // namespace

void target_execute(const uint8_t* cdb, size_t cdb_length, uint8_t* data, uint32_t room,
                    target_response* r) {
    memset(r, 0, sizeof *r);
    r->status = SCSI_STATUS_GOOD;
    uint32_t count = 0;
    bool present = emulated_disc_present(&count);
    switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
        if (!present)
            check_condition(r, MEDIUM_NOT_PRESENT);
        return;
    case 0x03: {  // REQUEST SENSE: the drive's state, as no command failed just now
        uint8_t sense[FIXED_SENSE_SIZE];
        write_fixed_sense(sense, present ? NO_SENSE : MEDIUM_NOT_PRESENT, 0);
        reply(r, data, room, sense, sizeof sense, cdb[4]);
        return;
    }
    case 0x12:  // INQUIRY, which the kernel sends first of all, with or without a disc
        if (cdb_length > 1 && (cdb[1] & 0x01))
            vital_product_data(cdb, data, room, r);
        else
            emulated(cdb, cdb_length, data, room, r);
        return;
    case 0x1A:  // MODE SENSE(6)
    case 0x5A:  // MODE SENSE(10)
        mode_sense(cdb, cdb[0] == 0x5A, data, room, r);
        return;
    case 0x1B:  // START STOP UNIT
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
    case 0xBB:  // SET CD SPEED
        return;
    case 0x46: {  // GET CONFIGURATION: the current profile alone, CD-ROM with a disc
        uint8_t header[8] = {0, 0, 0, 4, 0, 0, 0, (uint8_t)(present ? 0x08 : 0x00)};
        reply(r, data, room, header, sizeof header, be16(cdb + 7));
        return;
    }
    case 0x4A:  // GET EVENT STATUS NOTIFICATION
        event_status(cdb, present, data, room, r);
        return;
    case 0x25:  // READ CAPACITY(10)
    case 0x43:  // READ TOC/PMA/ATIP
    case 0x42:  // READ SUB-CHANNEL
    case 0x51:  // READ DISC INFORMATION
    case 0x28:  // READ(10)
    case 0xBE:  // READ CD
        break;
    default:
        check_condition(r, INVALID_OPCODE);
        return;
    }

    // The emulated drive answers for an empty tray itself.
    if (cdb[0] == 0xBE || cdb[0] == 0x43 || cdb[0] == 0x42) {
        emulated(cdb, cdb_length, data, room, r);
        return;
    }
    if (!present) {
        check_condition(r, MEDIUM_NOT_PRESENT);
        return;
    }
    switch (cdb[0]) {
    case 0x25: {
        uint8_t answer[8];
        put32(answer, count ? count - 1 : 0);
        put32(answer + 4, BLOCK_SIZE);
        reply(r, data, room, answer, sizeof answer, sizeof answer);
        return;
    }
    case 0x51:
        disc_information(cdb, data, room, r);
        return;
    default: {  // READ(10) of the data area, where a kernel or Wine looks for a file system
        uint64_t lba = be32(cdb + 2), blocks = be16(cdb + 7);
        if (lba + blocks > count) {
            check_condition(r, LBA_OUT_OF_RANGE);
            return;
        }
        r->length = (uint32_t)std::min<uint64_t>(blocks * BLOCK_SIZE, room);
        memset(data, 0, r->length);
        return;
    }
    }
}

uint64_t target_read_cd_count() {
    return read_cd_count;
}
