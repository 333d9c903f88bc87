// The emulated drive as the QSCAN_EMULATED_* variables set it up, for every
// program linked with it (qscan-emu, qscan-sheet-emu).
#ifndef QSCAN_EMULATED_EMULATED_ENVIRONMENT_H
#define QSCAN_EMULATED_EMULATED_ENVIRONMENT_H

// Loads drive D: as the environment says:
//   QSCAN_EMULATED_DISC         a disc image (disc_image.h), "none" for an empty
//                               drive (./none names a file), else the sample disc
//   QSCAN_EMULATED_DRIVE        the kind of drive (emulated_parse_drive_kind); strict
//                               when unset or empty
//   QSCAN_EMULATED_FAULTS       faults, "BLOCK:KIND,..." (emulated_parse_faults)
//   QSCAN_EMULATED_SPEED        sectors a second, as a multiple of 75 ("10", "2.5")
//   QSCAN_EMULATED_MAX_SECTORS  the most sectors one transfer may hold, as a system allows
//   QSCAN_EMULATED_STATS        a file that gets the drive's statistics, as one
//                               JSON object, when the program exits; one that
//                               cannot be written is an error at once
// Returns 0, or 1 after a message on standard error that begins with `program`.
int emulated_environment(const char* program);

#endif
