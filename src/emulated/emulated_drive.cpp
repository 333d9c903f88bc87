// The emulated platform: the Win32 kernel services over one emulated CD
// drive, D:, which refuses every request or command block that is not
// exactly a READ CD or a READ TOC as the programs send them.
#include "emulated/emulated_drive.h"

#include <string.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>
#if defined(_GLIBCXX_HAS_GTHREADS)
#include <mutex>
#endif

#include "drive/scsi_sense.h"
#include "emulated/q_reports.h"
#include "emulated/toc_answers.h"
#include "subchannel.h"
#include "platform/drive_paths.h"
#include "platform/platform.h"

namespace {

// The request the drive accepts: the record, a 4-byte filler and a 32-byte
// sense area, as the platform's pass-through sample lays it out. Written
// here as numbers, not taken from the scanner, so that the two are checked
// against each other.
const bool WIDE = sizeof(void*) == 8;
const ULONG SENSE_AREA_OFFSET = WIDE ? 60 : 48;
const DWORD REQUEST_SIZE = WIDE ? 96 : 80;

// The faults a drive answers with CHECK CONDITION instead of reading, or
// as well as reading (`delivered`); `once`: the first read of the block only.
struct check_condition_fault {
    emulated_fault fault;
    sense_code code;
    bool delivered;
    bool once;
    uint8_t response_code;
    bool without_asc;  // byte 7 says the sense data ends before ASC and ASCQ
};
const check_condition_fault CHECK_CONDITIONS[] = {
    {FAULT_MEDIUM, UNRECOVERED_READ_ERROR, true, false, FIXED_SENSE_CURRENT, false},
    {FAULT_HARDWARE, INTERNAL_TARGET_FAILURE, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_NOT_READY, MEDIUM_NOT_PRESENT, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_UNIT_ATTENTION, MEDIUM_MAY_HAVE_CHANGED, false, true, FIXED_SENSE_CURRENT, false},
    {FAULT_ILLEGAL, LBA_OUT_OF_RANGE, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_NO_SUBCHANNEL, INVALID_FIELD_IN_CDB, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_INVALID_OPCODE, INVALID_OPCODE, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_END_OF_AREA, END_OF_USER_AREA, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_ILLEGAL_MODE, ILLEGAL_MODE_FOR_TRACK, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_BLANK, BLANK_CHECK, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_RECOVERED, RECOVERED_WITH_RETRIES, true, false, FIXED_SENSE_CURRENT, false},
    {FAULT_ABORTED, SCSI_PARITY_ERROR, false, true, FIXED_SENSE_CURRENT, false},
    {FAULT_ABORTED_ALWAYS, SCSI_PARITY_ERROR, false, false, FIXED_SENSE_CURRENT, false},
    {FAULT_DEFERRED, UNRECOVERED_READ_ERROR, false, false, FIXED_SENSE_DEFERRED, false},
    {FAULT_SHORT_SENSE, UNRECOVERED_READ_ERROR, false, false, FIXED_SENSE_CURRENT, true},
};

const check_condition_fault* check_condition_for(emulated_fault fault) {
    for (const auto& c : CHECK_CONDITIONS)
        if (c.fault == fault)
            return &c;
    return NULL;
}

struct fault_entry {
    emulated_fault kind = FAULT_NONE;
    std::vector<uint8_t> sense;  // FAULT_CUSTOM_SENSE
    unsigned reported_length = 0;
};

const struct {
    const char* name;
    emulated_fault fault;
} FAULT_NAMES[] = {
    {"medium", FAULT_MEDIUM},
    {"hardware", FAULT_HARDWARE},
    {"not-ready", FAULT_NOT_READY},
    {"unit-attention", FAULT_UNIT_ATTENTION},
    {"illegal", FAULT_ILLEGAL},
    {"no-subchannel", FAULT_NO_SUBCHANNEL},
    {"no-sense", FAULT_NO_SENSE},
    {"call", FAULT_CALL_FAILS},
    {"short", FAULT_SHORT_TRANSFER},
    {"invalid-opcode", FAULT_INVALID_OPCODE},
    {"end-of-area", FAULT_END_OF_AREA},
    {"illegal-mode", FAULT_ILLEGAL_MODE},
    {"blank", FAULT_BLANK},
    {"recovered", FAULT_RECOVERED},
    {"aborted", FAULT_ABORTED},
    {"aborted-always", FAULT_ABORTED_ALWAYS},
    {"deferred", FAULT_DEFERRED},
    {"short-sense", FAULT_SHORT_SENSE},
    {"becoming-ready", FAULT_BECOMING_READY},
    {"toc-refused", FAULT_TOC_REFUSED},
    {"cd-text-crc", FAULT_CD_TEXT_CRC},
    {"inquiry-refused", FAULT_INQUIRY_REFUSED},
    {"cd-text-short", FAULT_CD_TEXT_SHORT},
    {"toc-short", FAULT_TOC_SHORT},
};

const struct {
    const char* name;
    emulated_drive_kind kind;
} DRIVE_KIND_NAMES[] = {
    {"strict", DRIVE_STRICT},
    {"no-raw", DRIVE_NO_RAW},
    {"formatted-no-crc", DRIVE_FORMATTED_NO_CRC},
    {"formatted-binary", DRIVE_FORMATTED_BINARY},
    {"zero-q", DRIVE_ZERO_Q},
    {"no-codes", DRIVE_NO_CODES},
    {"no-subchannel", DRIVE_NO_SUBCHANNEL},
};

const uint8_t READ_CD = 0xBE, READ_TOC = 0x43, READ_SUB_CHANNEL = 0x42, INQUIRY = 0x12;
const size_t READ_CD_LENGTH = 12, READ_TOC_LENGTH = 10, READ_SUB_CHANNEL_LENGTH = 10, INQUIRY_LENGTH = 6;
// The READ CD block the drive accepts, but for the address in bytes 2-5, the
// transfer length in bytes 6-8 and the sub-channel selection in byte 10.
const uint8_t EXPECTED_READ_CD[READ_CD_LENGTH] = {READ_CD, 0x00, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0, 0x00};
const size_t READ_CD_SELECTION_AT = 10;
// The sub-channel selections the drive reads: none, raw P-W, formatted Q.
const uint8_t SELECTION_NONE = 0x00, SELECTION_RAW = 0x01, SELECTION_FORMATTED_Q = 0x02;
const unsigned BECOMING_READY_COMMANDS = 5;
const sense_code BECOMING_READY = {SENSE_KEY_NOT_READY, 0x04, 0x01};
const sense_code TOC_UNRECOVERABLE = {SENSE_KEY_MEDIUM_ERROR, 0x57, 0x00};

uint32_t be32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// The blocks a READ CD block asks for, and the bytes a READ TOC block has room for.
uint32_t read_cd_count(const uint8_t* cdb) {
    return (uint32_t)cdb[6] << 16 | (uint32_t)cdb[7] << 8 | cdb[8];
}
// The bytes each block takes in a READ CD answer with this selection. A
// selection the drive does not read is sized as raw P-W, so that a request
// for it reaches the drive, which refuses it.
uint32_t read_cd_sector_bytes(uint8_t selection) {
    switch (selection) {
    case SELECTION_NONE: return SECTOR_MAIN_SIZE;
    case SELECTION_FORMATTED_Q: return SECTOR_MAIN_SIZE + FORMATTED_Q_SIZE;
    default: return SECTOR_BUFFER_SIZE;
    }
}
// READ TOC's and READ SUB-CHANNEL's allocation length, in bytes 7-8.
uint32_t read_toc_allocation(const uint8_t* cdb) {
    return (uint32_t)cdb[7] << 8 | cdb[8];
}
uint32_t inquiry_allocation(const uint8_t* cdb) {
    return (uint32_t)cdb[3] << 8 | cdb[4];
}

// The length of the command block of an operation the drive executes; 0
// for one it does not know.
size_t command_length(uint8_t opcode) {
    switch (opcode) {
    case READ_CD: return READ_CD_LENGTH;
    case READ_TOC: return READ_TOC_LENGTH;
    case READ_SUB_CHANNEL: return READ_SUB_CHANNEL_LENGTH;
    case INQUIRY: return INQUIRY_LENGTH;
    default: return 0;
    }
}

// The drive's standard INQUIRY answer: a removable CD/DVD device (type 05h)
// of the newer command sets (version 05h, response format 02h), 31 bytes
// after byte 4, and its vendor, product and revision, padded with blanks.
const uint8_t INQUIRY_ANSWER[INQUIRY_SIZE] = {
    0x05, 0x80, 0x05, 0x02, INQUIRY_SIZE - 5, 0, 0, 0,
    'Q', 'S', 'C', 'A', 'N', ' ', ' ', ' ',
    'E', 'M', 'U', 'L', 'A', 'T', 'E', 'D', ' ', 'C', 'D', '-', 'R', 'O', 'M', ' ',
    '0', '0', '0', '1'};

struct drive_state {
    emulated_drive_kind kind = DRIVE_STRICT;
    double speed = 0;  // times 75 sectors a second; 0: unpaced
    std::chrono::steady_clock::time_point paced_from;
    uint64_t paced_sectors = 0;
    bool loaded = false;
    std::string refused;  // why there is no drive D: (its settings were refused), or ""
    bool gone = false;  // a READ CD met FAULT_NOT_READY: the disc is gone for every other command
    emulated_disc disc;
    bool toc_looked_for = false;  // the disc's Q frames were searched for its table of contents
    std::map<uint32_t, fault_entry> faults;
    unsigned becoming_ready = 0;  // commands still answered "becoming ready"
    bool toc_refused = false;
    bool inquiry_refused = false;
    bool cd_text_short = false, toc_short = false;  // those answers cut to their header
    std::set<uint32_t> bad_cd_text_packs;
    unsigned max_sectors = 0;
    emulated_statistics stats{};
    uint32_t next_block = 0;      // the block after the last READ CD's last
    bool moved = false;           // READ SUB-CHANNEL sought a track since: the next READ CD seeks
    // The disc's codes, found by reading it whole when first asked for.
    bool codes_found = false;
    disc_codes codes;
    // The last good position frame a READ CD met, to count on from.
    bool position_seen = false;
    uint32_t position_lba = 0;
    uint8_t position_q[Q_SIZE] = {};
    uint64_t slept_ms = 0;
    emulated_call last{};
    emulated_counters counts{};
};

drive_state& drive() {
    static drive_state state;
    return state;
}

// The one device; its address is the handle CreateFileA gives out.
char device_object;

// The kernel services take one call at a time: threads of a library that
// read at once share the one drive, as they would share a real one.
#if defined(_GLIBCXX_HAS_GTHREADS)
std::mutex calls;
typedef std::lock_guard<std::mutex> one_call;
#else
int calls;  // a build without threads has one caller
struct one_call {
    explicit one_call(int) {}
};
#endif

bool is_drive_d(char c) {
    return c == 'D' || c == 'd';
}

// Every field the programs set, at exactly its value: READ CD, READ TOC,
// READ SUB-CHANNEL and INQUIRY with the command block's own length and room for exactly what it
// asks for (any other command block of 6, 10 or 12 bytes goes to the drive,
// which refuses it); anything else the pass-through layer of a strict system
// refuses before the drive sees it.
bool request_is_valid(const SCSI_PASS_THROUGH_DIRECT* r) {
    bool command_ok = false;
    switch (r->Cdb[0]) {
    case READ_CD:
        command_ok = r->CdbLength == READ_CD_LENGTH && r->DataTransferLength == read_cd_count(r->Cdb) *
                                                              read_cd_sector_bytes(r->Cdb[READ_CD_SELECTION_AT]);
        break;
    case READ_TOC:
        command_ok = r->CdbLength == READ_TOC_LENGTH && r->DataTransferLength == read_toc_allocation(r->Cdb);
        break;
    case READ_SUB_CHANNEL:
        command_ok = r->CdbLength == READ_SUB_CHANNEL_LENGTH && r->DataTransferLength == read_toc_allocation(r->Cdb);
        break;
    case INQUIRY:
        command_ok = r->CdbLength == INQUIRY_LENGTH && r->DataTransferLength == inquiry_allocation(r->Cdb);
        break;
    default:
        command_ok = r->CdbLength == 6 || r->CdbLength == 10 || r->CdbLength == 12;
        break;
    }
    bool cdb_tail_clear = true;
    for (unsigned i = r->CdbLength; i < sizeof r->Cdb; ++i)
        cdb_tail_clear = cdb_tail_clear && r->Cdb[i] == 0;
    return r->Length == sizeof *r && r->PathId == 0 && r->TargetId == 0 && r->Lun == 0 && command_ok &&
           r->SenseInfoLength == EMULATED_SENSE_SIZE && r->DataIn == SCSI_IOCTL_DATA_IN && r->TimeOutValue == 60 &&
           r->DataBuffer != NULL && r->SenseInfoOffset == SENSE_AREA_OFFSET && cdb_tail_clear;
}

// CHECK CONDITION with fixed-format sense data, as a drive answers.
void check_condition(emulated_response* r, sense_code code, uint32_t lba,
                     uint8_t response_code = FIXED_SENSE_CURRENT) {
    r->status = SCSI_STATUS_CHECK_CONDITION;
    write_fixed_sense(r->sense, code, lba, response_code);
    r->sense_length = r->reported_sense_length = FIXED_SENSE_SIZE;
}

void check_condition(emulated_response* r, const check_condition_fault* c, uint32_t lba) {
    check_condition(r, c->code, lba, c->response_code);
    if (c->without_asc)
        r->sense[FIXED_SENSE_LENGTH_AT] = FIXED_SENSE_WITHOUT_ASC_LENGTH;
}

// The fault that meets a read of lba, FAULT_NONE for none; a fault of the
// first read only is spent by the read that meets it.
fault_entry fault_at(uint32_t lba) {
    drive_state& d = drive();
    auto it = d.faults.find(lba);
    if (it != d.faults.end()) {
        fault_entry f = it->second;
        const check_condition_fault* c = check_condition_for(f.kind);
        if (c && c->once)
            d.faults.erase(it);
        return f;
    }
    for (const auto& entry : d.faults) {  // the disc is gone from the first such block on
        if (entry.first > lba)
            break;
        if (entry.second.kind == FAULT_NOT_READY)
            return entry.second;
    }
    return fault_entry{};
}

// Holds a sector back until a drive of the set speed would have read it.
void pace(drive_state* d) {
    if (d->speed <= 0)
        return;
    if (d->paced_sectors++ == 0)
        d->paced_from = std::chrono::steady_clock::now();
    std::chrono::duration<double> due(d->paced_sectors / (d->speed * 75.0));
    std::this_thread::sleep_until(d->paced_from +
                                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(due));
}

}  // namespace

UINT GetDriveTypeA(LPCSTR root_path) {
    one_call lock(calls);
    ++drive().counts.drive_type_queries;
    char letter = root_path_letter(root_path);
    if (is_drive_d(letter))
        return DRIVE_CDROM;
    if (letter == 'C' || letter == 'c')
        return DRIVE_FIXED;
    return DRIVE_NO_ROOT_DIR;
}

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file) {
    one_call lock(calls);
    ++drive().counts.opens;
    bool ok = drive().refused.empty() && is_drive_d(device_path_letter(file_name)) &&
              is_drive_open(desired_access, share_mode, security_attributes, creation_disposition,
                            flags_and_attributes, template_file);
    return ok ? (HANDLE)&device_object : INVALID_HANDLE_VALUE;
}

namespace {

// Whether the drive refuses a READ CD for its sub-channel selection.
bool refuses_selection(emulated_drive_kind kind, uint8_t selection) {
    if (selection == SELECTION_RAW)
        return kind == DRIVE_NO_RAW || kind == DRIVE_FORMATTED_NO_CRC || kind == DRIVE_FORMATTED_BINARY ||
               kind == DRIVE_NO_SUBCHANNEL;
    return selection == SELECTION_FORMATTED_Q && kind == DRIVE_NO_SUBCHANNEL;
}

// Formatted Q, 16 bytes: Q bytes 0-9 as the raw subchannel carries them,
// its CRC bytes (zero for the kinds that leave them out), three zeros, and
// the P bit (bit 7 of the first raw byte) in bit 7 of the last. A drive
// that gives binary turns each BCD number (high nibble x 10 + low nibble)
// into its value: in a position frame the track (but the lead-out's AA),
// the index and both times, in a code frame its disc-time frame.
void formatted_q(emulated_drive_kind kind, const uint8_t* raw, uint8_t out[FORMATTED_Q_SIZE]) {
    uint8_t q[Q_SIZE];
    extract_q(raw, q);  // bit 6 of each raw byte, first bit most significant
    memset(out, 0, FORMATTED_Q_SIZE);
    memcpy(out, q, Q_SIZE);
    out[15] = raw[0] & 0x80;
    if (kind == DRIVE_FORMATTED_NO_CRC || kind == DRIVE_FORMATTED_BINARY)
        out[10] = out[11] = 0;
    if (kind != DRIVE_FORMATTED_BINARY)
        return;
    const uint8_t adr = out[0] & 0x0F;
    for (int i = 1; i <= 9; ++i) {
        bool number = adr == 1 ? i != 6 && (i != 1 || out[1] != Q_LEAD_OUT_TRACK) : (adr == 2 || adr == 3) && i == 9;
        if (number)
            out[i] = (uint8_t)bcd_value_of(out[i]);
    }
}

bool disc_q(drive_state& d, uint32_t lba, uint8_t q[Q_SIZE]);

// A drive that never returns code frames puts the block's position, as it
// counts it on from the position frame before, in place of a good mode-2
// or mode-3 frame in the raw subchannel (Q in bit 6, the rest as it was).
void fill_in_position(drive_state& d, uint32_t lba, uint8_t* raw) {
    uint8_t q[Q_SIZE], position[Q_SIZE];
    q_frame f;
    extract_q(raw, q);
    if (decode_q(q, &f) != 0 || ((q[0] & 0x0F) != 2 && (q[0] & 0x0F) != 3))
        return;
    if (!position_of_block(lba, q, [&d](uint32_t b, uint8_t* out) { return disc_q(d, b, out); }, position))
        return;
    std::array<uint8_t, Q_SIZE> laid;
    memcpy(laid.data(), position, Q_SIZE);
    synth_lay_down_q(laid, raw);
}

// What one whole sector (main channel and raw P-W) becomes in the drive's
// READ CD answer with the selection, into `answer`; returns its size.
uint32_t sector_answer(drive_state& d, uint32_t lba, const uint8_t* whole, uint8_t selection, uint8_t* answer) {
    memcpy(answer, whole, SECTOR_MAIN_SIZE);
    uint8_t raw[SUBCHANNEL_SIZE];
    memcpy(raw, whole + SECTOR_MAIN_SIZE, SUBCHANNEL_SIZE);
    if (d.kind == DRIVE_NO_CODES && selection != SELECTION_NONE)
        fill_in_position(d, lba, raw);
    if (selection == SELECTION_RAW && d.kind == DRIVE_ZERO_Q)
        memset(answer + SECTOR_MAIN_SIZE, 0, SUBCHANNEL_SIZE);
    else if (selection == SELECTION_RAW)
        memcpy(answer + SECTOR_MAIN_SIZE, raw, SUBCHANNEL_SIZE);
    else if (selection == SELECTION_FORMATTED_Q)
        formatted_q(d.kind, raw, answer + SECTOR_MAIN_SIZE);
    return read_cd_sector_bytes(selection);
}

// One block of a READ CD into `into`, with the subchannel the selection asks
// for. Returns false when the command stops at this block, the response
// saying why (with `delivered`, its data arrived).
bool read_block(drive_state& d, uint32_t lba, uint8_t selection, uint8_t* into, uint32_t room, bool* recovered,
                emulated_response* r) {
    fault_entry fault = fault_at(lba);
    const check_condition_fault* refusal = check_condition_for(fault.kind);
    d.gone = d.gone || fault.kind == FAULT_NOT_READY;
    if (refusal && !refusal->delivered) {
        check_condition(r, refusal, lba);
        return false;
    }
    switch (fault.kind) {
    case FAULT_CALL_FAILS:
        r->call_fails = true;
        return false;
    case FAULT_NO_SENSE:
        r->status = SCSI_STATUS_CHECK_CONDITION;
        return false;
    case FAULT_CUSTOM_SENSE:
        r->status = SCSI_STATUS_CHECK_CONDITION;
        if (!fault.sense.empty())
            memcpy(r->sense, fault.sense.data(), fault.sense.size());
        r->sense_length = (unsigned)fault.sense.size();
        r->reported_sense_length = fault.reported_length;
        return false;
    default:
        break;
    }
    if (!d.loaded) {
        check_condition(r, MEDIUM_NOT_PRESENT, lba);
        return false;
    }
    if (lba >= d.disc.sector_count) {
        check_condition(r, LBA_OUT_OF_RANGE, lba);
        return false;
    }
    if (lba - d.disc.gap_first < d.disc.gap_count) {
        check_condition(r, END_OF_USER_AREA, lba);
        return false;
    }
    uint8_t whole[SECTOR_BUFFER_SIZE];
    if (!d.disc.fetch(lba, whole)) {
        check_condition(r, UNRECOVERED_READ_ERROR, lba);
        return false;
    }
    uint8_t q[Q_SIZE];
    extract_q(whole + SECTOR_MAIN_SIZE, q);
    if (is_position_frame(q)) {  // the one to count on from, kept at hand
        d.position_seen = true;
        d.position_lba = lba;
        memcpy(d.position_q, q, Q_SIZE);
    }
    uint8_t answer[SECTOR_BUFFER_SIZE];
    uint32_t size = sector_answer(d, lba, whole, selection, answer);
    // A short transfer stops after the block's main channel, and the
    // command with it.
    uint32_t length = fault.kind == FAULT_SHORT_TRANSFER ? (uint32_t)SECTOR_MAIN_SIZE : size;
    if (room < length)
        length = room;
    if (length > 0)
        memcpy(into, answer, length);
    r->transferred += length;
    pace(&d);
    r->count_wrong = r->count_wrong || fault.kind == FAULT_WRONG_BYTES_RETURNED;
    if (refusal && refusal->fault == FAULT_RECOVERED) {
        *recovered = true;
        return true;
    }
    if (refusal) {  // the data arrived, and the status says more
        check_condition(r, refusal, lba);
        return false;
    }
    return length == size && fault.kind != FAULT_SHORT_TRANSFER;
}

void execute_read_cd(drive_state& d, const uint8_t* cdb, uint8_t* data, uint32_t room, emulated_response* r) {
    uint8_t selection = cdb[READ_CD_SELECTION_AT];
    for (size_t i = 1; i < READ_CD_LENGTH; ++i) {
        if ((i >= 2 && i <= 8) || i == READ_CD_SELECTION_AT)
            continue;  // the address, the transfer length, the selection
        if (cdb[i] != EXPECTED_READ_CD[i]) {
            check_condition(r, INVALID_FIELD_IN_CDB, 0);
            return;
        }
    }
    if ((selection != SELECTION_NONE && selection != SELECTION_RAW && selection != SELECTION_FORMATTED_Q) ||
        refuses_selection(d.kind, selection)) {
        check_condition(r, INVALID_FIELD_IN_CDB, 0);
        return;
    }
    uint32_t lba = be32(cdb + 2), count = read_cd_count(cdb);
    ++d.stats.read_cd_commands;
    d.stats.blocks += count;
    if (d.stats.read_cd_commands == 1 || lba != d.next_block || d.moved)
        ++d.stats.seeks;
    d.next_block = lba + count;
    d.moved = false;
    bool recovered = false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = i * read_cd_sector_bytes(selection);
        if (!read_block(d, lba + i, selection, data + offset, room > offset ? room - offset : 0, &recovered, r))
            return;
    }
    if (recovered)
        check_condition(r, RECOVERED_WITH_RETRIES, lba);
}

// The disc's CD-Text packs, each with its CRC (one that a fault spoils, not);
// a header alone for a disc without.
void cd_text_answer(const drive_state& d, std::vector<uint8_t>* answer) {
    answer->assign(4, 0);
    for (size_t i = 0; i < d.disc.cd_text.size(); ++i) {
        const std::array<uint8_t, 16>& pack = d.disc.cd_text[i];
        uint16_t crc = (uint16_t)~cd_crc16(pack.data(), 16);
        if (d.bad_cd_text_packs.count((uint32_t)i))
            crc ^= 0x0101;
        answer->insert(answer->end(), pack.begin(), pack.end());
        answer->push_back((uint8_t)(crc >> 8));
        answer->push_back((uint8_t)crc);
    }
    size_t length = answer->size() - 2;
    (*answer)[0] = (uint8_t)(length >> 8);
    (*answer)[1] = (uint8_t)length;
}

void execute_read_toc(drive_state& d, const uint8_t* cdb, uint8_t* data, uint32_t room, emulated_response* r) {
    if (d.toc_refused) {
        check_condition(r, INVALID_OPCODE, 0);
        return;
    }
    if (!d.loaded || d.gone) {
        check_condition(r, MEDIUM_NOT_PRESENT, 0);
        return;
    }
    if (!d.disc.has_toc && !d.toc_looked_for) {
        d.toc_looked_for = true;
        d.disc.has_toc = toc_from_frames(d.disc.sector_count, d.disc.fetch, &d.disc.toc);
    }
    if (!d.disc.has_toc) {
        check_condition(r, TOC_UNRECOVERABLE, 0);
        return;
    }
    std::vector<uint8_t> answer;
    bool msf = cdb[1] & 0x02;
    // Older initiators give the format in the control byte's top bits.
    uint8_t format = (cdb[2] & 0x0F) != 0 ? cdb[2] & 0x0F : cdb[9] >> 6;
    if (format == TOC_FORMAT_CD_TEXT)
        cd_text_answer(d, &answer);
    else if ((cdb[1] & ~0x02) != 0 || !toc_answer(d.disc.toc, format, msf, cdb[6], &answer)) {
        check_condition(r, INVALID_FIELD_IN_CDB, 0);
        return;
    }
    // A drive that sends the header alone: CD-Text's saying it holds
    // nothing at all (length 0), the track list's holding no descriptor (2).
    if (format == TOC_FORMAT_CD_TEXT && d.cd_text_short)
        answer.assign(4, 0);
    if (format == TOC_FORMAT_TRACKS && d.toc_short) {
        answer.resize(4);
        answer[0] = 0;
        answer[1] = 2;
    }
    uint32_t length = std::min<uint32_t>((uint32_t)answer.size(), std::min(room, read_toc_allocation(cdb)));
    memcpy(data, answer.data(), length);
    r->transferred = length;
}

// The Q frame of a block as the disc carries it; false for a block the
// drive cannot read.
bool disc_q(drive_state& d, uint32_t lba, uint8_t q[Q_SIZE]) {
    if (lba >= d.disc.sector_count || lba - d.disc.gap_first < d.disc.gap_count)
        return false;
    if (d.position_seen && lba == d.position_lba) {
        memcpy(q, d.position_q, Q_SIZE);
        return true;
    }
    uint8_t sector[SECTOR_BUFFER_SIZE];
    if (!d.disc.fetch(lba, sector))
        return false;
    extract_q(sector + SECTOR_MAIN_SIZE, q);
    return true;
}

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

// An address of READ SUB-CHANNEL's current position from a BCD time: a
// block address (`block`), or with `msf` 00 M S F in binary.
void put_address(uint8_t* p, int32_t block, const uint8_t* bcd_msf, bool msf) {
    if (msf) {
        p[0] = 0;
        for (int i = 0; i < 3; ++i)
            p[1 + i] = (uint8_t)bcd_value_of(bcd_msf[i]);
    } else {
        put_be32(p, (uint32_t)block);
    }
}

// Format 01h: where the drive is, the block after the last READ CD (or the
// last block it can read, when that one is past it), as the disc's frames
// give that block's position. Block addresses are the disc time less
// 00:02.00 and the track time, negated in index 00, where it counts down
// to the track's start.
void current_position(drive_state& d, bool msf, uint8_t* answer) {
    uint32_t lba = d.next_block;
    if (lba - d.disc.gap_first < d.disc.gap_count)
        lba = d.disc.gap_first - 1;
    if (lba >= d.disc.sector_count)
        lba = d.disc.sector_count > 0 ? d.disc.sector_count - 1 : 0;
    uint8_t own[Q_SIZE] = {}, q[Q_SIZE];
    disc_q(d, lba, own);
    if (!position_of_block(lba, own, [&d](uint32_t b, uint8_t* out) { return disc_q(d, b, out); }, q)) {
        memset(q, 0, sizeof q);  // nothing near to count on from: the block's disc time alone
        q[0] = 0x01;
        bcd_put_frames(q + 7, lba + BLOCK_0_FRAMES);
    }
    answer[4] = 0x01;
    answer[5] = (uint8_t)((q[0] & 0x0F) << 4 | q[0] >> 4);  // ADR | CONTROL
    answer[6] = q[1] == Q_LEAD_OUT_TRACK ? Q_LEAD_OUT_TRACK : (uint8_t)bcd_value_of(q[1]);
    answer[7] = (uint8_t)bcd_value_of(q[2]);
    int32_t rel = (int32_t)bcd_frames(q + 3);
    put_address(answer + 8, (int32_t)bcd_frames(q + 7) - BLOCK_0_FRAMES, q + 7, msf);
    put_address(answer + 12, q[2] == 0x00 ? -rel : rel, q + 3, msf);
}

// READ SUB-CHANNEL with SUBQ, as the programs send it: the 4-byte header
// (audio status 15h, none to report, and the data length), then the
// current position (format 01h), the catalogue number (02h) or a track's
// ISRC (03h), the codes as most of the disc's frames carry them. Format
// 03h seeks into the track.
void execute_read_subchannel(drive_state& d, const uint8_t* cdb, uint8_t* data, uint32_t room,
                             emulated_response* r) {
    if (!d.loaded || d.gone) {
        check_condition(r, MEDIUM_NOT_PRESENT, 0);
        return;
    }
    const bool msf = cdb[1] & 0x02, subq = cdb[2] & 0x40;
    const uint8_t format = cdb[3], track = cdb[6];
    bool reserved_clear = (cdb[1] & ~0x02) == 0 && (cdb[2] & ~0x40) == 0 && cdb[4] == 0 && cdb[5] == 0 && cdb[9] == 0;
    if (!reserved_clear || format < 0x01 || format > 0x03 || (format == 0x03 && (track < 1 || track > 99))) {
        check_condition(r, INVALID_FIELD_IN_CDB, 0);
        return;
    }
    uint8_t answer[24] = {0x00, 0x15};
    uint32_t size = 4;
    if (subq) {
        if (format != 0x01 && !d.codes_found) {
            d.codes = codes_from_frames(d.disc.sector_count, d.disc.gap_first, d.disc.gap_count, d.disc.fetch);
            d.codes_found = true;
        }
        size = format == 0x01 ? 16 : 24;
        if (format == 0x01) {
            current_position(d, msf, answer);
        } else if (format == 0x02) {
            answer[4] = 0x02;
            answer[8] = d.codes.mcn.empty() ? 0x00 : 0x80;  // MCVAL
            memcpy(answer + 9, d.codes.mcn.data(), d.codes.mcn.size());
        } else {
            auto isrc = d.codes.isrc.find(track);
            auto control = d.codes.control.find(track);
            answer[4] = 0x03;
            answer[5] = (uint8_t)(0x30 | (control != d.codes.control.end() ? control->second : 0));  // ADR 3 | CONTROL
            answer[6] = track;
            answer[8] = isrc != d.codes.isrc.end() ? 0x80 : 0x00;  // TCVAL
            if (isrc != d.codes.isrc.end())
                memcpy(answer + 9, isrc->second.data(), isrc->second.size());
            ++d.stats.seeks;  // into the track, to find its code
            d.moved = true;
        }
    }
    answer[3] = (uint8_t)(size - 4);
    uint32_t length = std::min(size, std::min(room, read_toc_allocation(cdb)));
    memcpy(data, answer, length);
    r->transferred = length;
}

// INQUIRY for the standard answer (EVPD 0, no page code), which the drive
// gives with or without a disc.
void execute_inquiry(const drive_state& d, const uint8_t* cdb, uint8_t* data, uint32_t room, emulated_response* r) {
    if (d.inquiry_refused) {
        check_condition(r, INVALID_OPCODE, 0);
        return;
    }
    if (cdb[1] != 0 || cdb[2] != 0 || cdb[5] != 0) {  // EVPD and the obsolete bits, the page code, control
        check_condition(r, INVALID_FIELD_IN_CDB, 0);
        return;
    }
    uint32_t length = std::min<uint32_t>(INQUIRY_SIZE, std::min(room, inquiry_allocation(cdb)));
    memcpy(data, INQUIRY_ANSWER, length);
    r->transferred = length;
}

}  // namespace

void emulated_execute(const uint8_t* cdb, size_t cdb_length, uint8_t* data, uint32_t room,
                      emulated_response* r) {
    memset(r, 0, sizeof *r);
    r->status = SCSI_STATUS_GOOD;
    drive_state& d = drive();
    ++d.stats.commands;
    size_t length = cdb_length > 0 ? command_length(cdb[0]) : 0;
    if (length == 0 || cdb_length != length) {
        check_condition(r, length != 0 ? INVALID_FIELD_IN_CDB : INVALID_OPCODE, 0);
        return;
    }
    if (cdb[0] == INQUIRY) {  // a drive names itself while it becomes ready, too
        execute_inquiry(d, cdb, data, room, r);
        return;
    }
    if (d.becoming_ready > 0) {
        --d.becoming_ready;
        check_condition(r, BECOMING_READY, 0);
        return;
    }
    if (cdb[0] == READ_CD)
        execute_read_cd(d, cdb, data, room, r);
    else if (cdb[0] == READ_SUB_CHANNEL)
        execute_read_subchannel(d, cdb, data, room, r);
    else
        execute_read_toc(d, cdb, data, room, r);
}

BOOL DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                     LPVOID out_buffer, DWORD out_buffer_size, LPDWORD bytes_returned,
                     LPOVERLAPPED overlapped) {
    one_call lock(calls);
    drive_state& d = drive();
    ++d.counts.ioctls;
    emulated_call& call = d.last;
    call = emulated_call{};
    call.device = device;
    call.control_code = io_control_code;
    call.in_buffer = in_buffer;
    call.in_size = in_buffer_size;
    call.out_buffer = out_buffer;
    call.out_size = out_buffer_size;
    call.bytes_returned_given = bytes_returned != NULL;
    call.overlapped_given = overlapped != NULL;
    if (in_buffer != NULL && in_buffer_size >= sizeof(SCSI_PASS_THROUGH_DIRECT))
        memcpy(&call.request, in_buffer, sizeof call.request);

    // The request goes in and comes back in the same record, synchronously.
    bool call_ok = device == (HANDLE)&device_object &&
                   io_control_code == IOCTL_SCSI_PASS_THROUGH_DIRECT && in_buffer != NULL &&
                   in_buffer == out_buffer && in_buffer_size == REQUEST_SIZE &&
                   out_buffer_size == REQUEST_SIZE && bytes_returned != NULL &&
                   overlapped == NULL && request_is_valid(&call.request);
    if (!call_ok)
        return FALSE;

    SCSI_PASS_THROUGH_DIRECT* r = (SCSI_PASS_THROUGH_DIRECT*)in_buffer;
    if (d.max_sectors > 0 && r->DataTransferLength > d.max_sectors * SECTOR_BUFFER_SIZE)
        return FALSE;  // more than the system takes in one transfer
    emulated_response response;
    emulated_execute(r->Cdb, r->CdbLength, (uint8_t*)r->DataBuffer, r->DataTransferLength, &response);
    if (response.call_fails)
        return FALSE;
    r->ScsiStatus = response.status;
    r->DataTransferLength = response.transferred;
    r->SenseInfoLength = (UCHAR)response.reported_sense_length;
    // The record comes back whole; with sense data, the system counts the
    // bytes up to its end.
    *bytes_returned = sizeof *r;
    if (response.sense_length > 0) {
        UCHAR* sense = (UCHAR*)r + r->SenseInfoOffset;
        memset(sense, 0, EMULATED_SENSE_SIZE);
        memcpy(sense, response.sense, response.sense_length);
        *bytes_returned = r->SenseInfoOffset + response.sense_length;
    }
    if (response.count_wrong)
        *bytes_returned = sizeof *r / 2;
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    one_call lock(calls);
    if (object != (HANDLE)&device_object)
        return FALSE;
    ++drive().counts.closes;
    return TRUE;
}

void emulated_insert_disc(emulated_disc disc) {
    drive_state& d = drive();
    d.disc = std::move(disc);
    d.loaded = true;
    d.gone = false;
    d.toc_looked_for = false;
    d.codes_found = false;
    d.position_seen = false;
}

void emulated_insert_image(std::vector<uint8_t> image) {
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::move(image));
    emulated_disc disc;
    disc.sector_count = (uint32_t)(bytes->size() / SECTOR_BUFFER_SIZE);
    disc.fetch = [bytes](uint32_t lba, uint8_t* sector) {
        memcpy(sector, bytes->data() + (size_t)lba * SECTOR_BUFFER_SIZE, SECTOR_BUFFER_SIZE);
        return true;
    };
    emulated_insert_disc(std::move(disc));
}

void emulated_insert_synth_disc(const synth_disc& disc) {
    emulated_disc d;
    d.sector_count = synth_sector_count(disc);
    d.has_toc = true;
    d.toc = synth_toc(disc);
    d.cd_text = synth_cd_text(disc);
    synth_session_gap(disc, &d.gap_first, &d.gap_count);
    d.fetch = [disc](uint32_t lba, uint8_t* sector) {
        synth_sector(disc, lba, sector);
        return true;
    };
    emulated_insert_disc(std::move(d));
}

void emulated_set_drive_kind(emulated_drive_kind kind) {
    drive().kind = kind;
}

bool emulated_parse_drive_kind(const char* text, emulated_drive_kind* kind, std::string* error) {
    for (const auto& k : DRIVE_KIND_NAMES)
        if (strcmp(text, k.name) == 0) {
            *kind = k.kind;
            error->clear();
            return true;
        }
    *error = "unknown drive kind '" + std::string(text) + "' (kinds: ";
    for (size_t i = 0; i < sizeof DRIVE_KIND_NAMES / sizeof DRIVE_KIND_NAMES[0]; ++i)
        *error += std::string(i ? ", " : "") + DRIVE_KIND_NAMES[i].name;
    *error += ")";
    return false;
}

void emulated_set_speed(double speed) {
    drive().speed = speed;
    drive().paced_sectors = 0;
}

bool emulated_disc_present(uint32_t* sector_count) {
    *sector_count = drive().loaded ? drive().disc.sector_count : 0;
    return drive().loaded;
}

void emulated_eject() {
    drive_state& d = drive();
    d.loaded = false;
    d.gone = false;
    d.disc = emulated_disc{};
    d.codes_found = false;
    d.position_seen = false;
}

void emulated_inject_fault(uint32_t lba, emulated_fault fault) {
    if (fault == FAULT_BECOMING_READY) {
        drive().becoming_ready = BECOMING_READY_COMMANDS;
        return;
    }
    if (fault == FAULT_TOC_REFUSED) {
        drive().toc_refused = true;
        return;
    }
    if (fault == FAULT_INQUIRY_REFUSED) {
        drive().inquiry_refused = true;
        return;
    }
    if (fault == FAULT_CD_TEXT_SHORT || fault == FAULT_TOC_SHORT) {
        (fault == FAULT_CD_TEXT_SHORT ? drive().cd_text_short : drive().toc_short) = true;
        return;
    }
    if (fault == FAULT_CD_TEXT_CRC) {
        drive().bad_cd_text_packs.insert(lba);
        return;
    }
    if (fault == FAULT_NONE) {
        drive().faults.erase(lba);
        return;
    }
    fault_entry entry;
    entry.kind = fault;
    drive().faults[lba] = entry;
}

void emulated_inject_sense(uint32_t lba, const uint8_t* sense, unsigned length,
                           unsigned reported_length) {
    fault_entry entry;
    entry.kind = FAULT_CUSTOM_SENSE;
    entry.sense.assign(sense, sense + std::min<unsigned>(length, EMULATED_SENSE_SIZE));
    entry.reported_length = reported_length;
    drive().faults[lba] = entry;
}

bool emulated_parse_faults(const char* text, std::vector<std::pair<uint32_t, emulated_fault>>* faults,
                           std::string* error) {
    faults->clear();
    std::set<uint32_t> seen;
    const char* p = text;
    while (*p != '\0') {
        const char* entry = p;
        const char* end = strchr(p, ',');
        if (end == NULL)
            end = p + strlen(p);
        std::string item(entry, end);
        *error = "cannot read fault '" + item + "': ";
        size_t colon = item.find(':');
        std::string address = item.substr(0, colon);
        if (colon == std::string::npos || address.empty() ||
            address.find_first_not_of("0123456789") != std::string::npos) {
            *error += "expected a block address in decimal, a colon and a fault kind";
            return false;
        }
        size_t digits = address.size() - std::min(address.find_first_not_of('0'), address.size() - 1);
        if (digits > 10 || std::stoull(address) > UINT32_MAX) {  // leading zeros count for nothing
            *error += "the block address is larger than 4294967295";
            return false;
        }
        uint32_t lba = (uint32_t)std::stoull(address);
        std::string kind = item.substr(colon + 1);
        emulated_fault fault = FAULT_NONE;
        for (const auto& f : FAULT_NAMES)
            if (kind == f.name)
                fault = f.fault;
        if (fault == FAULT_NONE) {
            *error += "unknown kind '" + kind + "' (kinds: ";
            for (size_t i = 0; i < sizeof FAULT_NAMES / sizeof FAULT_NAMES[0]; ++i)
                *error += std::string(i ? ", " : "") + FAULT_NAMES[i].name;
            *error += ")";
            return false;
        }
        if (!seen.insert(lba).second) {
            *error += "block " + address + " is named twice";
            return false;
        }
        faults->push_back({lba, fault});
        p = *end == ',' ? end + 1 : end;
        if (*end == ',' && *p == '\0') {
            *error = "cannot read the fault list '" + std::string(text) + "': it ends in a comma";
            return false;
        }
    }
    error->clear();
    return true;
}

const emulated_call* emulated_last_call() {
    return &drive().last;
}

const emulated_counters* emulated_counts() {
    return &drive().counts;
}

void emulated_reset() {
    drive() = drive_state{};
}

void emulated_refuse_drive(const char* why) {
    drive().refused = why;
}

void emulated_set_max_sectors(unsigned sectors) {
    drive().max_sectors = sectors;
}

const emulated_statistics* emulated_stats() {
    return &drive().stats;
}

uint64_t emulated_slept_ms() {
    return drive().slept_ms;
}

void Sleep(DWORD milliseconds) {
    one_call lock(calls);
    drive().slept_ms += milliseconds;
}

DWORD GetTickCount(void) {
    one_call lock(calls);
    uint64_t now = (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count();
    return (DWORD)(now + drive().slept_ms);
}

bool open_failure_reason(char* text, unsigned size) {
    one_call lock(calls);
    if (drive().refused.empty())
        return false;  // the emulated drive opens whenever the name is D:
    snprintf(text, size, "%s", drive().refused.c_str());
    return true;
}

bool platform_open_path(const char*, void**) {
    return false;  // the one drive is D:, named by its letter alone
}

bool platform_is_device(const char*) {
    return false;
}
