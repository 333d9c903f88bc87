// Disc images the emulated drive plays: raw 2448-byte sectors, a CloneCD set
// (.ccd, .img, .sub), a .sub alone, or a .subcode file; each read record by
// record as the drive is asked for blocks, never loaded whole.
#ifndef QSCAN_EMULATED_DISC_IMAGE_H
#define QSCAN_EMULATED_DISC_IMAGE_H

#include <stdint.h>

#include <string>

#include "emulated/emulated_drive.h"
#include "subchannel.h"

// Which layout a name stands for, matched by its ending without regard to
// case:
//   .ccd                 a CloneCD set: .img (2352-byte sectors) and .sub
//                        (96 bytes a sector, de-interleaved) of the same stem
//   .img, .sub           the same set when the other file lies beside it;
//                        otherwise an .img is raw sectors, a .sub the
//                        subchannel alone
//   .subcode             raw interleaved subchannel, 96 bytes a sector, from
//                        block -45150 (the lead-in) on
//   anything else        raw 2448-byte sectors: main channel, then raw P-W
// Opens the files into *disc, for emulated_insert_disc. Returns false with a
// message naming the file and the problem when the image cannot be right: a
// missing file of a set, files that disagree on the number of sectors, a
// size that is no whole number of records, a .subcode that never reaches
// block 0, a path that is no regular file.
bool emulated_open_image_file(const char* path, emulated_disc* disc, std::string* error);

// De-interleaved subchannel (12 bytes of channel P, then 12 of Q, ... then
// 12 of W, each channel's first bit the most significant bit of its first
// byte) to the raw layout READ CD returns: one byte per symbol, P in bit 7
// ... W in bit 0.
void subchannel_interleave(const uint8_t deinterleaved[SUBCHANNEL_SIZE], uint8_t raw[SUBCHANNEL_SIZE]);

#endif
