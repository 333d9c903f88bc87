// What the drive says of itself and of the disc's codes: INQUIRY's standard
// answer and READ SUB-CHANNEL's catalogue-number and ISRC reports, each
// checked with answer_bytes before use.
#ifndef QSCAN_DRIVE_ANSWERS_H
#define QSCAN_DRIVE_ANSWERS_H

#include <stdint.h>

#include "disc/answer.h"
#include "subchannel.h"

// The drive's name, as INQUIRY gives it: ASCII, trailing blanks removed, a
// byte that is not printable ASCII as '?'; empty where the answer ends first.
struct drive_identity {
    char vendor[9];     // bytes 8-15
    char product[17];   // bytes 16-31
    char revision[5];   // bytes 32-35
};

// INQUIRY's answer (`length` bytes arrived) into *id. `cut`: as many bytes
// arrived as were asked for, so that an additional length saying more is
// the drive's whole answer, longer than the request's room (many drives
// have 96 bytes where INQUIRY_SIZE are asked for), and what arrived is
// used. False for a malformed answer (its additional length in byte 4 says
// less than the vendor needs, or, not cut, more than arrived), with why.
bool inquiry_parse(const uint8_t* answer, uint32_t length, bool cut, drive_identity* id,
                   char why[ANSWER_WHY_SIZE]);

// READ SUB-CHANNEL format 02h's answer: *valid (MCVAL) and, when it is set,
// the 13 digits as the drive gives them. False for a malformed answer (a
// data length that says less than the format's 20 bytes, more than arrived,
// a format code in byte 4 that is not 02h, or, valid, a byte that is no
// ASCII digit), with why.
bool subq_parse_catalogue_number(const uint8_t* answer, uint32_t length, bool* valid, char mcn[MCN_LENGTH],
                                 char why[ANSWER_WHY_SIZE]);

// Format 03h's answer: *valid (TCVAL) and, when it is set, the track's 12
// ISRC characters as the drive gives them. False as above (format code 03h;
// characters other than the digits and capital letters an ISRC is made of).
bool subq_parse_isrc(const uint8_t* answer, uint32_t length, bool* valid, char isrc[ISRC_LENGTH],
                     char why[ANSWER_WHY_SIZE]);

#endif
