// The emulated platform: the Win32 kernel services over one emulated CD
// drive, D:, that executes READ CD and READ TOC as a strict MMC drive does;
// and the test interface that loads discs into it, injects faults and shows
// what it got.
#ifndef QSCAN_EMULATED_EMULATED_DRIVE_H
#define QSCAN_EMULATED_EMULATED_DRIVE_H

#include <stdint.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "drive/drive.h"
#include "disc/toc.h"
#include "emulated/disc_synth.h"
#include "platform/win32.h"

// A disc: its number of blocks, and how to fetch one whole sector. fetch
// returns false for a block that cannot be read (the drive reports a medium
// error); it is called only for blocks below sector_count and outside the
// gap between sessions, which the drive refuses as the end of the user area.
// Its table of contents, when it comes with one; else the drive finds it
// from the disc's Q frames when first asked.
struct emulated_disc {
    uint32_t sector_count = 0;
    std::function<bool(uint32_t lba, uint8_t* sector)> fetch;
    bool has_toc = false;
    disc_toc toc = {};
    uint32_t gap_first = 0, gap_count = 0;
    std::vector<std::array<uint8_t, 16>> cd_text;  // CD-Text packs without their CRCs, which the drive adds
};

void emulated_insert_disc(emulated_disc disc);

// A disc held in memory: whole 2448-byte sectors, block 0 first.
void emulated_insert_image(std::vector<uint8_t> image);

// A synthesized disc, its sectors laid down as the drive reads them.
void emulated_insert_synth_disc(const synth_disc& disc);

void emulated_eject();

// Whether a disc is in the drive, and its number of blocks (0 without one).
bool emulated_disc_present(uint32_t* sector_count);

// The drives people own, as they answer READ CD's sub-channel selections;
// the names in brackets are those of QSCAN_EMULATED_DRIVE
// (emulated_parse_drive_kind). Every kind reads with no subchannel, and
// answers READ SUB-CHANNEL and INQUIRY; a fault at a block meets each
// kind's READ CD alike.
enum emulated_drive_kind {
    DRIVE_STRICT,            // [strict] raw P-W and formatted Q as the disc carries them
    DRIVE_NO_RAW,            // [no-raw] raw P-W refused (05/24/00); formatted Q with the disc's CRC
    DRIVE_FORMATTED_NO_CRC,  // [formatted-no-crc] raw P-W refused; formatted Q, its CRC field zero
    // [formatted-binary] raw P-W refused; formatted Q, its CRC field zero and
    // its numbers in binary: a position frame's track (but the lead-out's AA),
    // index and times, a code frame's disc-time frame
    DRIVE_FORMATTED_BINARY,
    DRIVE_ZERO_Q,            // [zero-q] raw P-W answered, all 96 bytes zero; formatted Q with the CRC
    // [no-codes] every good mode-2 and mode-3 frame replaced by its block's
    // position, counted on from the position frame before it
    // (position_of_block in q_reports.h; without one that near, the frame
    // stays); READ SUB-CHANNEL reports the codes
    DRIVE_NO_CODES,
    DRIVE_NO_SUBCHANNEL      // [no-subchannel] raw P-W and formatted Q refused; READ SUB-CHANNEL answered
};

// The drive's kind from now on; emulated_reset makes it DRIVE_STRICT.
void emulated_set_drive_kind(emulated_drive_kind kind);

// Reads a kind by its bracketed name into *kind. Returns false with the
// reason, which lists the kinds, in *error for any other text.
bool emulated_parse_drive_kind(const char* text, emulated_drive_kind* kind, std::string* error);

// Delivers 75 x `speed` sectors a second from now on, as a drive at that
// speed would (2.5 is a 2.5x drive); 0, as after a reset, is as fast as the
// disc source allows.
void emulated_set_speed(double speed);

// What the drive does at a block instead of reading it. The names in
// brackets are those of QSCAN_EMULATED_FAULTS (emulated_parse_faults).
enum emulated_fault {
    FAULT_NONE,
    FAULT_CALL_FAILS,            // [call] DeviceIoControl returns FALSE
    FAULT_SHORT_TRANSFER,        // [short] GOOD status, but only the 2352 main-channel bytes arrive
    FAULT_MEDIUM,                // [medium] CHECK CONDITION 03/11/05; the data arrives whole all the same
    FAULT_HARDWARE,              // [hardware] CHECK CONDITION 04/44/00
    // [not-ready] CHECK CONDITION 02/3a/00 here and at every block after; once
    // a READ CD has met it, READ TOC and READ SUB-CHANNEL answer the same
    FAULT_NOT_READY,
    FAULT_UNIT_ATTENTION,        // [unit-attention] CHECK CONDITION 06/28/00, the first read only
    FAULT_ILLEGAL,               // [illegal] CHECK CONDITION 05/21/00: the block is out of range
    FAULT_NO_SUBCHANNEL,         // [no-subchannel] CHECK CONDITION 05/24/00
    FAULT_NO_SENSE,              // [no-sense] CHECK CONDITION without sense data
    FAULT_INVALID_OPCODE,        // [invalid-opcode] CHECK CONDITION 05/20/00
    FAULT_END_OF_AREA,           // [end-of-area] CHECK CONDITION 05/63/00
    FAULT_ILLEGAL_MODE,          // [illegal-mode] CHECK CONDITION 05/64/00
    FAULT_BLANK,                 // [blank] CHECK CONDITION 08/00/00, BLANK CHECK
    FAULT_RECOVERED,             // [recovered] CHECK CONDITION 01/17/01; the data arrives, corrected
    FAULT_ABORTED,               // [aborted] CHECK CONDITION 0b/47/00, the first read only
    FAULT_ABORTED_ALWAYS,        // [aborted-always] CHECK CONDITION 0b/47/00
    FAULT_DEFERRED,              // [deferred] CHECK CONDITION 03/11/05 in deferred fixed format (71h)
    FAULT_SHORT_SENSE,           // [short-sense] CHECK CONDITION 03/11/05, fixed format whose byte 7 says 4
    FAULT_WRONG_BYTES_RETURNED,  // success, but fewer bytes returned than the record's size
    FAULT_CUSTOM_SENSE,          // CHECK CONDITION with the sense bytes of emulated_inject_sense
    // Of the drive, whatever the block:
    FAULT_BECOMING_READY,        // [becoming-ready] CHECK CONDITION 02/04/01 to the first five commands
    FAULT_TOC_REFUSED,           // [toc-refused] READ TOC answered 05/20/00
    FAULT_INQUIRY_REFUSED,       // [inquiry-refused] INQUIRY answered 05/20/00
    FAULT_CD_TEXT_SHORT,         // [cd-text-short] READ TOC's CD-Text: GOOD, the 4-byte header alone, length 0
    FAULT_TOC_SHORT,             // [toc-short] READ TOC's tracks: GOOD, the 4-byte header alone, length 2
    // Of the disc's CD-Text, the block number counting its packs:
    FAULT_CD_TEXT_CRC            // [cd-text-crc] that pack's CRC does not match
};

// Every read of block lba meets the fault (but for FAULT_UNIT_ATTENTION and
// FAULT_ABORTED, which meet the first read only), until FAULT_NONE is
// injected there or the drive is reset. The drive's own faults take no
// block: lba is not looked at.
void emulated_inject_fault(uint32_t lba, emulated_fault fault);

// A system that refuses pass-through transfers of more than `sectors`
// sectors (0: no limit), failing the call as one does.
void emulated_set_max_sectors(unsigned sectors);

// What the drive did since the last reset, for the modelled time of a read:
// commands of any kind, READ CD commands, the blocks they asked for, and
// seeks: READ CDs whose first block is not the one after the last block of
// the READ CD before (the first READ CD is one), READ SUB-CHANNELs for an
// ISRC (the drive seeks into the track), and the READ CD after such a one.
struct emulated_statistics {
    uint64_t commands, read_cd_commands, blocks, seeks;
};
const emulated_statistics* emulated_stats();

// CHECK CONDITION at block lba, with `length` sense bytes (at most the 32 of
// the sense area) written into the sense area and SenseInfoLength set to
// `reported_length`, which a faulty system may make larger than the area.
void emulated_inject_sense(uint32_t lba, const uint8_t* sense, unsigned length,
                           unsigned reported_length);

// Reads a fault list, "LBA:KIND" pairs separated by commas (KIND one of the
// bracketed names above; LBA decimal, 0 to 4294967295; no spaces; an empty
// text is no faults) into *faults. Returns false with the reason in *error
// for anything else: an unknown kind, a missing or out-of-range address,
// stray text, a block named twice.
bool emulated_parse_faults(const char* text, std::vector<std::pair<uint32_t, emulated_fault>>* faults,
                           std::string* error);

enum { EMULATED_SENSE_SIZE = 32 };

// What the drive answers to one command block.
struct emulated_response {
    uint8_t status;         // SCSI status: 0x00 GOOD, 0x02 CHECK CONDITION
    uint32_t transferred;   // bytes of data delivered
    uint8_t sense[EMULATED_SENSE_SIZE];
    unsigned sense_length;  // bytes of sense data in sense
    // The sense length the system reports, which a faulty system may make
    // larger than what it wrote (FAULT_CUSTOM_SENSE); sense_length otherwise.
    unsigned reported_sense_length;
    bool call_fails;        // FAULT_CALL_FAILS: the system's call fails, the drive answers nothing
    bool count_wrong;       // FAULT_WRONG_BYTES_RETURNED: the system returns a short count
};

// Executes one command block as the drive does: READ CD exactly as the
// programs send it, blocks with no subchannel (2352 bytes each), raw P-W
// (2448) or formatted Q (2368: Q bytes 0-9 and the CRC as the disc carries
// them, three zeros, the P bit in bit 7 of the last), READ TOC/PMA/ATIP
// formats 0000b, 0001b and 0010b, READ SUB-CHANNEL (the current position,
// the catalogue number, a track's ISRC: the codes most of the disc's own
// frames carry, found by reading the disc once), and INQUIRY's standard
// answer (36 bytes:
// a removable CD/DVD drive, vendor "QSCAN", product "EMULATED CD-ROM",
// revision "0001"), with or without a disc and never becoming ready, into
// `data`, which has room for `room` bytes; any other block is refused with
// ILLEGAL REQUEST: 05/20/00 for an operation it does not know. A READ CD that
// meets a fault or the end of the disc stops there: the blocks before it
// arrive. DeviceIoControl is a thin wrapper over it; the kernel rig's drive
// calls it directly.
void emulated_execute(const uint8_t* cdb, size_t cdb_length, uint8_t* data, uint32_t room,
                      emulated_response* response);

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
};

struct emulated_counters {
    unsigned drive_type_queries;
    unsigned opens;
    unsigned closes;
    unsigned ioctls;
};

// The last call; all zero before the first.
const emulated_call* emulated_last_call();
const emulated_counters* emulated_counts();

// Back to the start: empty strict drive, no faults, no calls seen, no limit.
void emulated_reset();

// No drive D: until the next reset: opening it fails, and the platform's
// reason for the refused open is `why`.
void emulated_refuse_drive(const char* why);

// How far Sleep has moved the drive's clock, which GetTickCount reads: the
// emulated platform waits for nothing, so that a drive becoming ready is
// waited for at once.
uint64_t emulated_slept_ms();

#endif
