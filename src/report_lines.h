// The lines of qscan's reports, as the printf formats that print them: qscan
// prints by them and qscan-sheet recognises its input by them.
#ifndef QSCAN_REPORT_LINES_H
#define QSCAN_REPORT_LINES_H

// Track and index ("%2d.%02d"), track time and disc time, each minutes,
// seconds and frames: " 1.01 00:00.25 00:02.25".
#define POSITION_FIELDS "%2d.%02d %02d:%02d.%02d %02d:%02d.%02d"
#define MCN_FIELDS "%c%c%c%c%c%c%c%c%c%c%c%c%c"
#define ISRC_FIELDS "%c%c-%c%c%c-%c%c-%c%c%c%c%c"

// -r: the 12 Q bytes of a sector, each followed by a blank.
#define RAW_LINE "%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x \n"
// -e
#define CRC_ERROR_LINE "crc error in sector %llu\n"
// -p: the frame's mode, then what the frame itself carries.
#define FRAME_POSITION_LINE "%u " POSITION_FIELDS "\n"
#define FRAME_MCN_LINE "%u " MCN_FIELDS " %d\n"
#define FRAME_ISRC_LINE "%u " ISRC_FIELDS " %d\n"
#define FRAME_UNKNOWN_LINE "%u unknown mode\n"
// -t, -c, -i: the running position, then the code.
#define POSITION_LINE POSITION_FIELDS "\n"
#define CATALOGUE_LINE POSITION_FIELDS " : " MCN_FIELDS "\n"
#define ISRC_LINE POSITION_FIELDS " : " ISRC_FIELDS "\n"

// Said by both programs, after a scan or read in which no frame was good:
// whatever the input is, it is no disc's raw P-W subchannel.
#define NO_GOOD_Q_FRAME \
    "no Q frame passed its CRC check: this is not raw P-W subchannel (a drive or dump that de-interleaves it?)"
#define NO_GOOD_POSITION_FRAME \
    "no position frame passed its CRC check: this is not raw P-W subchannel (a drive or dump that de-interleaves it?)"

#endif
