// The command ring of target_core_user, served: see the kernel's
// target_core_user.h and tcmu-design.rst. Every offset the kernel writes is
// from the start of the region, and checked before it is followed.
#include "tests/kernel/ring_server.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "drive/scsi_sense.h"
#include "tests/kernel/cd_target.h"
#include "tests/kernel/tcmu_ring.h"

namespace {

const size_t CDB_MAX = 16;

uint32_t get32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
uint64_t get64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The two fields the kernel and we take turns at: read with acquire, so the
// entries it published are seen whole; written with release, so our answers
// are whole before the kernel sees the tail move.
uint32_t load_head(uint8_t* region) {
    return __atomic_load_n((uint32_t*)(region + TCMU_MAILBOX_CMD_HEAD_AT), __ATOMIC_ACQUIRE);
}
void store_tail(uint8_t* region, uint32_t tail) {
    __atomic_store_n((uint32_t*)(region + TCMU_MAILBOX_CMD_TAIL_AT), tail, __ATOMIC_RELEASE);
}

bool within(const ring_server* s, uint64_t offset, uint64_t length) {
    return offset <= s->size && length <= s->size - offset;
}

struct data_vector {
    uint64_t offset, length;
};

// The command block and data vectors of an entry of `length` bytes, if all
// of them lie within the region.
bool read_request(const ring_server* s, const uint8_t* entry, uint32_t length, size_t* cdb_length,
                  std::vector<data_vector>* iov) {
    uint64_t cdb_off = get64(entry + TCMU_REQ_CDB_OFF_AT);
    if (!within(s, cdb_off, 1))
        return false;
    unsigned group = s->region[cdb_off] >> 5;  // the operation code's group gives the block's length
    *cdb_length = group == 0 ? 6 : group == 4 ? 16 : group == 5 ? 12 : 10;
    uint64_t count = get32(entry + TCMU_REQ_IOV_CNT_AT);
    if (!within(s, cdb_off, *cdb_length) || count > (length - TCMU_REQ_IOV_AT) / TCMU_IOV_SIZE)
        return false;
    iov->resize(count);
    for (size_t i = 0; i < count; ++i) {
        (*iov)[i].offset = get64(entry + TCMU_REQ_IOV_AT + i * TCMU_IOV_SIZE);
        (*iov)[i].length = get64(entry + TCMU_REQ_IOV_AT + i * TCMU_IOV_SIZE + 8);
        if (!within(s, (*iov)[i].offset, (*iov)[i].length))
            return false;
    }
    return true;
}

void log_command(FILE* log, const uint8_t* cdb, size_t cdb_length, const target_response* r, uint64_t room) {
    fprintf(log, "cdb");
    for (size_t i = 0; i < cdb_length; ++i)
        fprintf(log, " %02x", cdb[i]);
    fprintf(log, ": status %02x, %u of %llu bytes", r->status, r->length, (unsigned long long)room);
    sense_data sense;
    if (parse_sense(r->sense, r->sense_length, &sense))
        fprintf(log, ", sense %x/%02x/%02x", sense.key, sense.asc, sense.ascq);
    fprintf(log, "\n");
}

// Answers one command entry in place.
void serve(ring_server* s, uint8_t* entry, uint32_t length) {
    size_t cdb_length = 0;
    std::vector<data_vector> iov;
    target_response response;
    memset(&response, 0, sizeof response);
    uint64_t room = 0;
    if (read_request(s, entry, length, &cdb_length, &iov)) {
        for (const data_vector& v : iov)
            room += v.length;
        uint8_t cdb[CDB_MAX];
        memcpy(cdb, s->region + get64(entry + TCMU_REQ_CDB_OFF_AT), cdb_length);
        std::vector<uint8_t> data(room);
        target_execute(cdb, cdb_length, data.data(), (uint32_t)std::min<uint64_t>(room, UINT32_MAX), &response);
        if (s->log)
            log_command(s->log, cdb, cdb_length, &response, room);
        // The data goes into the data area the vectors name; without a way
        // to tell the kernel of a short transfer, the rest reads as zeros.
        uint64_t at = 0;
        for (const data_vector& v : iov) {
            uint64_t n = std::min<uint64_t>(v.length, response.length - std::min<uint64_t>(at, response.length));
            if (n > 0)
                memcpy(s->region + v.offset, data.data() + at, n);
            if (!s->read_len_offered && n < v.length)
                memset(s->region + v.offset + n, 0, v.length - n);
            at += v.length;
        }
    } else {
        response.status = SCSI_STATUS_CHECK_CONDITION;
        write_fixed_sense(response.sense, INTERNAL_TARGET_FAILURE, 0);
        response.sense_length = FIXED_SENSE_SIZE;
        if (s->log)
            fprintf(s->log, "an entry whose block or data lie outside the region: hardware error\n");
    }
    // The response overlays the request: everything needed was read above.
    memset(entry + TCMU_RSP_SCSI_STATUS_AT, 0, TCMU_ENTRY_MIN_SIZE - TCMU_RSP_SCSI_STATUS_AT);
    entry[TCMU_RSP_SCSI_STATUS_AT] = response.status;
    memcpy(entry + TCMU_RSP_SENSE_AT, response.sense, std::min<uint32_t>(response.sense_length, TCMU_RSP_SENSE_SIZE));
    // A short transfer, or data that comes with CHECK CONDITION (a
    // recovered error), reaches the initiator only with the length read.
    bool tell_length = response.length < room || (response.status != 0 && response.length > 0);
    if (tell_length && s->read_len_offered) {
        entry[TCMU_ENTRY_UFLAGS_AT] |= TCMU_UFLAG_READ_LEN_SET;
        memcpy(entry + TCMU_RSP_READ_LEN_AT, &response.length, sizeof response.length);
    }
}

}  // namespace

bool ring_server_start(ring_server* s, uint8_t* region, size_t size, FILE* log, std::string* error) {
    memset(s, 0, sizeof *s);
    if (size < TCMU_MAILBOX_CMD_TAIL_AT + 4 || region[TCMU_MAILBOX_VERSION_AT] != TCMU_MAILBOX_VERSION_2) {
        *error = "no version 2 mailbox at the start of the region";
        return false;
    }
    s->region = region;
    s->size = size;
    s->log = log;
    uint32_t offset = get32(region + TCMU_MAILBOX_CMDR_OFF_AT);
    s->ring_size = get32(region + TCMU_MAILBOX_CMDR_SIZE_AT);
    if (s->ring_size == 0 || !within(s, offset, s->ring_size)) {
        *error = "the command ring does not lie within the region";
        return false;
    }
    s->ring = region + offset;
    s->tail = get32(region + TCMU_MAILBOX_CMD_TAIL_AT) % s->ring_size;
    uint16_t flags;
    memcpy(&flags, region + TCMU_MAILBOX_FLAGS_AT, sizeof flags);
    s->read_len_offered = (flags & TCMU_MAILBOX_FLAG_READ_LEN) != 0;
    return true;
}

int ring_server_serve(ring_server* s, std::string* error) {
    int served = 0;
    uint32_t head = load_head(s->region);
    while (s->tail != head) {
        uint8_t* entry = s->ring + s->tail;
        uint32_t len_op = s->ring_size - s->tail >= 4 ? get32(entry + TCMU_ENTRY_LEN_OP_AT) : 0;
        uint32_t length = len_op & ~(uint32_t)TCMU_ENTRY_OP_MASK;
        if (length == 0 || length > s->ring_size - s->tail) {
            *error = "a ring entry of " + std::to_string(length) + " bytes at " + std::to_string(s->tail) +
                     " in a ring of " + std::to_string(s->ring_size);
            return -1;
        }
        // Padding and task-management notices need no answer.
        if ((len_op & TCMU_ENTRY_OP_MASK) == TCMU_ENTRY_OP_CMD) {
            if (length < TCMU_ENTRY_MIN_SIZE) {
                *error = "a command entry of " + std::to_string(length) + " bytes, too short for its answer";
                return -1;
            }
            serve(s, entry, length);
            ++served;
        }
        s->tail = (s->tail + length) % s->ring_size;
        store_tail(s->region, s->tail);
    }
    return served;
}
