// The emulated platform: GetDriveTypeA, CreateFileA and DeviceIoControl over
// one emulated CD drive, D:, which refuses every request or command block
// that is not exactly the raw-subchannel READ CD the scanner is meant to send.
#include "platform/emulated.h"

#include <errno.h>
#include <string.h>

#include <fstream>
#include <map>
#include <memory>

#include "platform/drive_paths.h"

namespace {

const UCHAR STATUS_GOOD = 0x00;
const UCHAR STATUS_CHECK_CONDITION = 0x02;

const UCHAR SENSE_NOT_READY = 0x02;
const UCHAR SENSE_MEDIUM_ERROR = 0x03;
const UCHAR SENSE_ILLEGAL_REQUEST = 0x05;

const UCHAR ASC_UNRECOVERED_READ_ERROR = 0x11;
const UCHAR ASC_INVALID_OPCODE = 0x20;
const UCHAR ASC_LBA_OUT_OF_RANGE = 0x21;
const UCHAR ASC_INVALID_FIELD_IN_CDB = 0x24;
const UCHAR ASC_MEDIUM_NOT_PRESENT = 0x3A;

const uint32_t MAIN_CHANNEL_SIZE = 2352;

// The READ CD block the drive accepts, but for the address in bytes 2-5.
const UCHAR EXPECTED_CDB[12] = {0xBE, 0x00, 0, 0, 0, 0, 0x00, 0x00, 0x01, 0xF8, 0x01, 0x00};

struct drive_state {
    bool loaded = false;
    emulated_disc disc;
    std::map<uint32_t, emulated_fault> faults;
    emulated_call last{};
    emulated_counters counts{};
};

drive_state& drive() {
    static drive_state state;
    return state;
}

// The one device; its address is the handle CreateFileA gives out.
char device_object;

bool is_drive_d(char c) {
    return c == 'D' || c == 'd';
}

// Every field the scanner sets, at exactly its value; anything else the
// pass-through layer of a strict system refuses before the drive sees it.
bool request_is_valid(const SCSI_PASS_THROUGH_DIRECT* r) {
    bool cdb_tail_clear = r->Cdb[12] == 0 && r->Cdb[13] == 0 && r->Cdb[14] == 0 && r->Cdb[15] == 0;
    return r->Length == sizeof *r && r->PathId == 0 && r->TargetId == 0 && r->Lun == 0 &&
           r->CdbLength == 12 && r->SenseInfoLength == 0 && r->DataIn == SCSI_IOCTL_DATA_IN &&
           r->DataTransferLength == EMULATED_SECTOR_SIZE && r->TimeOutValue == 60 &&
           r->DataBuffer != NULL && r->SenseInfoOffset == 0 && cdb_tail_clear;
}

void check_condition(SCSI_PASS_THROUGH_DIRECT* r, UCHAR sense_key, UCHAR asc) {
    r->ScsiStatus = STATUS_CHECK_CONDITION;
    drive().last.sense_key = sense_key;
    drive().last.additional_sense = asc;
}

// Runs the command block as the drive would. Returns FALSE only for the
// injected failure of the call itself.
BOOL execute(SCSI_PASS_THROUGH_DIRECT* r, DWORD* bytes_returned) {
    drive_state& d = drive();
    const UCHAR* cdb = r->Cdb;
    *bytes_returned = sizeof *r;  // the record comes back whole, whatever the drive's answer
    r->DataTransferLength = 0;    // until data moves

    if (cdb[0] != EXPECTED_CDB[0]) {
        check_condition(r, SENSE_ILLEGAL_REQUEST, ASC_INVALID_OPCODE);
        return TRUE;
    }
    for (int i = 1; i < 12; ++i) {
        if (i >= 2 && i <= 5)
            continue;  // the address
        if (cdb[i] != EXPECTED_CDB[i]) {
            check_condition(r, SENSE_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
            return TRUE;
        }
    }
    uint32_t lba = (uint32_t)cdb[2] << 24 | (uint32_t)cdb[3] << 16 | (uint32_t)cdb[4] << 8 | cdb[5];

    auto fault = d.faults.find(lba);
    emulated_fault injected = fault == d.faults.end() ? FAULT_NONE : fault->second;
    if (injected == FAULT_CALL_FAILS)
        return FALSE;

    if (!d.loaded) {
        check_condition(r, SENSE_NOT_READY, ASC_MEDIUM_NOT_PRESENT);
        return TRUE;
    }
    if (lba >= d.disc.sector_count) {
        check_condition(r, SENSE_ILLEGAL_REQUEST, ASC_LBA_OUT_OF_RANGE);
        return TRUE;
    }
    // The sector goes straight into the caller's buffer, as a direct
    // transfer does; a short transfer stops after the main channel.
    bool short_transfer = injected == FAULT_SHORT_TRANSFER;
    uint8_t whole[EMULATED_SECTOR_SIZE];
    uint8_t* into = short_transfer ? whole : (uint8_t*)r->DataBuffer;
    if (!d.disc.fetch(lba, into)) {
        check_condition(r, SENSE_MEDIUM_ERROR, ASC_UNRECOVERED_READ_ERROR);
        return TRUE;
    }
    uint32_t transferred = short_transfer ? MAIN_CHANNEL_SIZE : (uint32_t)EMULATED_SECTOR_SIZE;
    if (short_transfer)
        memcpy(r->DataBuffer, whole, transferred);
    r->DataTransferLength = transferred;
    r->ScsiStatus = STATUS_GOOD;
    if (injected == FAULT_CHECK_CONDITION)  // the whole block arrived, yet only the status tells
        check_condition(r, SENSE_MEDIUM_ERROR, ASC_UNRECOVERED_READ_ERROR);
    if (injected == FAULT_WRONG_BYTES_RETURNED)
        *bytes_returned = sizeof *r / 2;
    return TRUE;
}

// A disc image being read. A scan asks for block after block, so the file
// is read through a large buffer and only seeks when asked out of order.
struct image_file {
    std::vector<char> buffer = std::vector<char>(1 << 20);
    std::ifstream stream;
    uint32_t next = 0;  // the block the stream stands at

    bool read(uint32_t lba, uint8_t* sector) {
        if (lba != next) {
            stream.clear();
            stream.seekg((std::streamoff)lba * EMULATED_SECTOR_SIZE);
        }
        stream.read((char*)sector, EMULATED_SECTOR_SIZE);
        bool whole = stream.gcount() == EMULATED_SECTOR_SIZE;
        next = whole ? lba + 1 : UINT32_MAX;
        return whole;
    }
};

}  // namespace

UINT GetDriveTypeA(LPCSTR root_path) {
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
    ++drive().counts.opens;
    bool ok = is_drive_d(device_path_letter(file_name)) &&
              is_drive_open(desired_access, share_mode, security_attributes, creation_disposition,
                            flags_and_attributes, template_file);
    return ok ? (HANDLE)&device_object : INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                     LPVOID out_buffer, DWORD out_buffer_size, LPDWORD bytes_returned,
                     LPOVERLAPPED overlapped) {
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
                   in_buffer == out_buffer && in_buffer_size == sizeof(SCSI_PASS_THROUGH_DIRECT) &&
                   out_buffer_size == sizeof(SCSI_PASS_THROUGH_DIRECT) && bytes_returned != NULL &&
                   overlapped == NULL && request_is_valid(&call.request);
    return call_ok ? execute((SCSI_PASS_THROUGH_DIRECT*)in_buffer, bytes_returned) : FALSE;
}

void emulated_insert_disc(emulated_disc disc) {
    drive().disc = std::move(disc);
    drive().loaded = true;
}

void emulated_insert_image(std::vector<uint8_t> image) {
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::move(image));
    emulated_disc disc;
    disc.sector_count = (uint32_t)(bytes->size() / EMULATED_SECTOR_SIZE);
    disc.fetch = [bytes](uint32_t lba, uint8_t* sector) {
        memcpy(sector, bytes->data() + (size_t)lba * EMULATED_SECTOR_SIZE, EMULATED_SECTOR_SIZE);
        return true;
    };
    emulated_insert_disc(std::move(disc));
}

void emulated_insert_synth_disc(const synth_disc& disc) {
    emulated_disc d;
    d.sector_count = synth_sector_count(disc);
    d.fetch = [disc](uint32_t lba, uint8_t* sector) {
        synth_sector(disc, lba, sector);
        return true;
    };
    emulated_insert_disc(std::move(d));
}

bool emulated_insert_image_file(const char* path, std::string* error) {
    auto file = std::make_shared<image_file>();
    file->stream.rdbuf()->pubsetbuf(file->buffer.data(), (std::streamsize)file->buffer.size());
    file->stream.open(path, std::ios::binary);
    std::ifstream* stream = &file->stream;
    if (!*stream) {
        *error = std::string("cannot open disc image ") + path + ": " + strerror(errno);
        return false;
    }
    stream->seekg(0, std::ios::end);
    long long size = (long long)stream->tellg();
    stream->seekg(0);
    if (size < 0 || size % EMULATED_SECTOR_SIZE != 0) {
        *error = std::string("disc image ") + path + " is " + std::to_string(size) +
                 " bytes long, not a whole number of 2448-byte sectors";
        return false;
    }
    emulated_disc disc;
    disc.sector_count = (uint32_t)(size / EMULATED_SECTOR_SIZE);
    disc.fetch = [file](uint32_t lba, uint8_t* sector) { return file->read(lba, sector); };
    emulated_insert_disc(std::move(disc));
    return true;
}

void emulated_eject() {
    drive().loaded = false;
    drive().disc = emulated_disc{};
}

void emulated_inject_fault(uint32_t lba, emulated_fault fault) {
    if (fault == FAULT_NONE)
        drive().faults.erase(lba);
    else
        drive().faults[lba] = fault;
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
