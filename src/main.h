// The scanner front end: command line, sector-by-sector scan loop, and the
// per-frame reports with the running position.
#ifndef QSCAN_MAIN_H
#define QSCAN_MAIN_H

#include "subchannel.h"

// The report switches; all off until an option turns one on.
struct report_options {
    bool raw;        // -r: the 12 raw Q bytes of every sector read
    bool frames;     // -p: every decoded frame, tagged with its mode
    bool times;      // -t: the position of every mode-1 frame
    bool catalogue;  // -c: every catalogue number with its position
    bool isrc;       // -i: every ISRC with its position; on by default
    bool errors;     // -e: every sector whose Q frame fails its CRC check
};

// The frame stage of the scan, called once per sector with decode_q's result
// and frame. Prints the -p line (showing the frame), then updates *running
// (the position of the current sector), then the -t, -c or -i line (showing
// *running after the update).
void report_frame(const report_options* options, timing* running, int result,
                  const q_frame* frame);

// The whole program: returns the process exit status. 1 for a malformed
// command line (usage line on standard output), a drive that cannot be
// opened, a first sector that cannot be read, a read error that cut the scan
// short, or reports that could not be written (message on standard error);
// 0 after a scan that reached the end of the disc.
int qscan_main(int argc, char** argv);

#endif
