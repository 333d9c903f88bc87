// Drive operations: open a CD drive by its letter or path, read sectors
// with their subchannel, read its table of contents, ask it for the codes
// it reports and for its name; both programs use them.
#ifndef QSCAN_DRIVE_H
#define QSCAN_DRIVE_H

#include <stdint.h>
#include <stdio.h>

#include "drive/scsi_sense.h"
#include "platform/platform.h"  // open_failure_reason, for the programs that call open_drive
#include "subchannel.h"

// What one read delivers: a sector's 2352 main-channel bytes, then its 96
// bytes of raw P-W subchannel; 2448 in all.
enum {
    SECTOR_MAIN_SIZE = 2352,                              // sync, header, data, EDC/ECC or audio
    SECTOR_BUFFER_SIZE = SECTOR_MAIN_SIZE + SUBCHANNEL_SIZE,
    SECTOR_BUFFER_ALIGNMENT = 4096,                       // suits adapters that need aligned direct transfers
    READ_CD_MOST = 26,     // sectors a command at most: 63,648 bytes, within the 64 KiB many adapters allow
    FORMATTED_Q_SIZE = 16  // formatted Q a sector: Q bytes 0-9, the CRC where the drive gives it, 3 zeros, the P bit
};

// READ CD's sub-channel data selection (byte 10, bits 2-0): what follows
// each sector's 2352 main-channel bytes.
enum read_cd_subchannel {
    SUBCHANNEL_NONE = 0x0,         // 000b: nothing
    SUBCHANNEL_RAW = 0x1,          // 001b: raw P-W, SUBCHANNEL_SIZE bytes, Q in bit 6 of each
    SUBCHANNEL_FORMATTED_Q = 0x2   // 010b: formatted Q, FORMATTED_Q_SIZE bytes, the Q frame's bytes first
};

// The bytes one sector takes in a READ CD answer with that selection:
// 2352, 2448 or 2368.
unsigned read_cd_sector_size(int subchannel);

// An opened drive, held until close_drive (or the end of the process).
typedef void* drive_handle;

// Opens the CD drive named by a drive letter and a colon ("D:"), or by a
// path to its device node where the platform takes one (Linux:
// platform_open_path). Returns 0 and sets *handle on success; 22 (EINVAL)
// on every failure: a name of another form, a letter or path that names no
// CD drive, a device that cannot be opened (lack of rights included).
// *handle is unchanged on failure.
int open_drive(const char* name, drive_handle* handle);

// Lets go of a drive open_drive opened; the handle is not used again.
void close_drive(drive_handle handle);

// Whether a name has the form of a drive name: a character and a colon.
bool is_drive_name(const char* name);

// Result of read_sector when the drive says the block is not there: past
// the end of what can be read (read_verdict_of in scsi_sense.h says which
// answers are). Outside the errno range, as Q_CRC_ERROR is.
enum { READ_NO_SUCH_BLOCK = 0x8001 };

// Which part of a read's success test failed.
enum read_failure_kind {
    READ_OK = 0,
    READ_CALL_FAILED,         // the pass-through call itself failed
    READ_WRONG_COUNT,         // the call returned another count of bytes than the record's size
    READ_BAD_STATUS,          // a SCSI status other than GOOD and CHECK CONDITION
    READ_CHECK_CONDITION,     // the drive answered CHECK CONDITION
    READ_SHORT_TRANSFER       // GOOD, but fewer bytes than a whole sector arrived
};

// Why a read failed, as far as the drive and the system said.
struct read_failure {
    int kind;              // a read_failure_kind
    uint8_t scsi_status;   // READ_BAD_STATUS: the status the drive answered
    uint32_t transferred;  // READ_SHORT_TRANSFER, READ_CHECK_CONDITION: the bytes that arrived
    uint32_t expected;     // ... and those that should have
    uint32_t returned;     // READ_WRONG_COUNT: the count the call returned
    sense_data sense;      // READ_CHECK_CONDITION: what the drive's sense data said
};

// Reads the block at lba (block 0 is at disc time 00:02.00) into buffer: the
// 2352 main-channel bytes, then 96 subchannel bytes, P in bit 7, Q in bit 6,
// ..., W in bit 0. Returns 0 when the buffer holds the whole sector (a
// RECOVERED ERROR included: the drive corrected what it delivered);
// READ_NO_SUCH_BLOCK when the drive says the block is not there; 5 (EIO) on
// every other failure. A read the drive refused with UNIT ATTENTION (a
// reset, or at block 0 a disc change) or ABORTED COMMAND is sent again, up to
// three more times; UNIT ATTENTION 06/28/00 after block 0 is a read error,
// since what follows may come from another disc. On failure the buffer's
// contents are undefined and *failure says why.
int read_sector(drive_handle handle, uint32_t lba, uint8_t buffer[SECTOR_BUFFER_SIZE],
                read_failure* failure);

// The same for `count` blocks (1 to READ_CD_MOST) from lba, each with the
// subchannel a read_cd_subchannel selects, one after the other in buffer
// (count * read_cd_sector_size(subchannel) bytes), in one command. A system
// that refuses a transfer of that size fails the call (READ_CALL_FAILED).
// When the command fails, failure->transferred says how many bytes of it
// arrived before the block that failed.
int read_cd(drive_handle handle, uint32_t lba, unsigned count, int subchannel, uint8_t* buffer,
            read_failure* failure);

// One READ TOC/PMA/ATIP in block addresses: `format` (0 tracks, 1
// sessions, 2 the full TOC, 5 CD-Text), `number` the track or session it
// starts at, `allocation` bytes of room in answer; *length gets the bytes
// that arrived. Returns 0 or 5 (EIO) with *failure saying why; sent again
// as read_sector sends a read.
int read_toc(drive_handle handle, uint8_t format, uint8_t number, uint8_t* answer, uint16_t allocation,
             uint32_t* length, read_failure* failure);

// A whole READ TOC answer of `format`: first with room for its 4-byte
// header alone, then with exactly the length its header names (at most
// `room`, and at most the 65,535 bytes one command can ask for), so that no
// drive is asked for more than it has. A system that refuses a transfer
// that large (READ_CALL_FAILED) is asked for half as much, down to one
// sector's worth. *cut is true when less was asked for than the header
// names, for either reason: the answer is what arrived, its length field
// longer than that. Returns as read_toc; *length is the bytes that arrived,
// the header's alone when it did not arrive whole.
int read_toc_answer(drive_handle handle, uint8_t format, uint8_t number, uint8_t* answer, uint32_t room,
                    uint32_t* length, bool* cut, read_failure* failure);

// READ SUB-CHANNEL formats: what the drive itself reports of the Q subchannel.
enum subchannel_report {
    SUBQ_CURRENT_POSITION = 0x01,
    SUBQ_CATALOGUE_NUMBER = 0x02,  // MCVAL, then the 13 digits
    SUBQ_ISRC = 0x03,              // TCVAL, then the track's 12 characters
    SUBQ_ANSWER_SIZE = 24          // the answer of formats 02h and 03h: 4 of header, 20 of data
};

// One READ SUB-CHANNEL (42h) with SUBQ set, addresses as blocks: `format`
// a subchannel_report, `track` the track whose ISRC is asked for (format
// 03h; 0 otherwise), `allocation` bytes of room in answer. Returns as
// read_toc. The drive finds the code itself and may seek into the track.
int read_subchannel(drive_handle handle, uint8_t format, uint8_t track, uint8_t* answer, uint16_t allocation,
                    uint32_t* length, read_failure* failure);

enum { INQUIRY_SIZE = 36 };  // the standard answer: type, flags, vendor, product, revision

// One INQUIRY (12h) for the standard answer, `allocation` bytes of room
// (INQUIRY_SIZE). Returns as read_toc.
int inquiry(drive_handle handle, uint8_t* answer, uint8_t allocation, uint32_t* length, read_failure* failure);

// The line after a failed read's message, on `out`: what the drive said, or
// what the system saw when the drive said nothing; after a failed first
// read, a line more when the answer suggests a drive without raw subchannel.
void print_read_failure(FILE* out, const read_failure* failure, bool first_read);

// The same words into text (its lines parted by a line feed, none at the
// end; empty for a read that did not fail).
enum { READ_FAILURE_TEXT_SIZE = 256 };
void read_failure_text(const read_failure* failure, bool first_read, char* text, size_t size);

#endif
