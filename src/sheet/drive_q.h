// Q frames as drives give them: what a sector's main channel says of its
// mode, and formatted Q whose times a drive converted to binary.
#ifndef QSCAN_SHEET_DRIVE_Q_H
#define QSCAN_SHEET_DRIVE_Q_H

#include <stdint.h>

#include "sheet/sheet.h"

// A data sector's mode (1 or 2) from its sync field and header; 0 for a
// sector that has none (audio).
uint8_t sector_mode(const uint8_t* main_channel);

// Whether the times of a position frame (read as BCD, or as `binary`) are a
// position a disc can carry whose disc time lies near block b's (within
// SHEET_OFFSET_RANGE blocks: a drive's Q offset).
bool position_agrees(const uint8_t q[Q_SIZE], uint32_t b, bool binary);

// Drives that convert formatted Q's times to binary: a frame whose times
// agree with its block only when read as binary is turned back into BCD,
// as the disc carries it. Mode 1: the track (the lead-out's AA aside), the
// index and both times; modes 2 and 3: the disc-time frame number. Returns
// whether it was turned.
bool unconvert_binary(uint8_t q[Q_SIZE], uint32_t b);

#endif
