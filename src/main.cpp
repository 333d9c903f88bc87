// The scanner front end: reads the options, opens the drive, and scans the
// disc sector by sector from block 0, printing the selected reports.
#include "main.h"

#include <errno.h>
#include <stdio.h>

#include "drive.h"

namespace {

const char USAGE[] = "Usage: %s [-r] [-p] [-t] [-c] [-i] [-e]  device\n";

// The running position before block 0 is processed: the true position of
// block 0 itself. A catalogue-number or ISRC frame in block 0 (frame number
// 0) then leaves it unchanged and is reported at 1.01 00:00.00 00:02.00; a
// position frame replaces it anyway.
const timing START_POSITION = {1, 1, {0, 0, 0}, {0, 2, 0}};

// Reads the options into *options. Returns the index of the drive name, or 0
// for a malformed command line. Only an option's second character counts.
int parse_command_line(int argc, char** argv, report_options* options) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        switch (argv[i][1]) {
        case 'r': options->raw = true; break;
        case 'p': options->frames = true; break;
        case 't': options->times = true; break;
        case 'c': options->catalogue = true; break;
        case 'i': options->isrc = true; break;
        case 'e': options->errors = true; break;
        default: return 0;
        }
    }
    if (i == 1)
        options->isrc = true;  // a bare drive name asks for the ISRCs
    return argc - i == 1 ? i : 0;
}

// Each of the 12 bytes as "%02x " and then the line end, in one call: the
// line is printed for every sector, and a call per byte cost more than all
// the decoding.
void print_raw(const uint8_t q[Q_SIZE]) {
    printf("%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x \n", q[0], q[1], q[2], q[3],
           q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
}

}  // namespace

void report_frame(const report_options* options, timing* running, int result,
                  const q_frame* frame) {
    if (result != 0) {
        timing_advance(running, 1);  // a sector is a frame, whether or not its Q was readable
        return;
    }
    unsigned adr = frame->adr_control >> 4;
    switch (adr) {
    case 1: {
        const timing* p = &frame->position;
        if (options->frames)
            printf("%u %2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", adr, p->track, p->index,
                   p->rel.m, p->rel.s, p->rel.f, p->abs.m, p->abs.s, p->abs.f);
        // Taken over exactly as decoded, out-of-range values included, so
        // that -t shows what the disc carries; msf_add brings such values
        // back into range as soon as the position moves on.
        *running = *p;
        if (options->times)
            printf("%2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", running->track, running->index,
                   running->rel.m, running->rel.s, running->rel.f, running->abs.m,
                   running->abs.s, running->abs.f);
        break;
    }
    case 2: {
        const char* d = frame->mcn.mcn_digits;
        if (options->frames)
            printf("%u %c%c%c%c%c%c%c%c%c%c%c%c%c %d\n", adr, d[0], d[1], d[2], d[3], d[4], d[5],
                   d[6], d[7], d[8], d[9], d[10], d[11], d[12], frame->mcn.abs_f);
        timing_resync(running, frame->mcn.abs_f);
        if (options->catalogue)
            printf("%2d.%02d %02d:%02d.%02d %02d:%02d.%02d : %c%c%c%c%c%c%c%c%c%c%c%c%c\n",
                   running->track, running->index, running->rel.m, running->rel.s,
                   running->rel.f, running->abs.m, running->abs.s, running->abs.f, d[0], d[1],
                   d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12]);
        break;
    }
    case 3: {
        const char* c = frame->isrc.isrc_chars;
        if (options->frames)
            printf("%u %c%c-%c%c%c-%c%c-%c%c%c%c%c %d\n", adr, c[0], c[1], c[2], c[3], c[4],
                   c[5], c[6], c[7], c[8], c[9], c[10], c[11], frame->isrc.abs_f);
        timing_resync(running, frame->isrc.abs_f);
        if (options->isrc)
            printf("%2d.%02d %02d:%02d.%02d %02d:%02d.%02d : %c%c-%c%c%c-%c%c-%c%c%c%c%c\n",
                   running->track, running->index, running->rel.m, running->rel.s,
                   running->rel.f, running->abs.m, running->abs.s, running->abs.f, c[0], c[1],
                   c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11]);
        break;
    }
    default:
        if (options->frames)
            printf("%u unknown mode\n", adr);
        timing_advance(running, 1);
        break;
    }
}

int qscan_main(int argc, char** argv) {
    report_options options = {};
    int name_index = parse_command_line(argc, argv, &options);
    if (name_index == 0) {
        // A program may be started with no argument 0 at all, or an empty
        // one: name the tool itself then.
        const char* program = argc > 0 && argv[0] != NULL && argv[0][0] != '\0' ? argv[0] : "qscan";
        printf(USAGE, program);
        return 1;
    }

    drive_handle drive = NULL;
    int rc = open_drive(argv[name_index], &drive);
    if (rc != 0) {
        errno = rc;
        perror("failed to open device");
        return 1;
    }

    // Zeroed, so nothing undefined can ever reach the decoder.
    alignas(SECTOR_BUFFER_ALIGNMENT) uint8_t sector_buffer[SECTOR_SIZE] = {};
    uint8_t q[Q_SIZE];
    q_frame frame = {};
    timing running = START_POSITION;
    uint32_t lba = 0;

    // A first read that fails means no disc, an unreadable one, or a drive
    // that refuses raw subchannel reads: that must not pass for a disc that
    // carries no codes. Any later failed read is the end of the disc.
    if (read_sector(drive, lba, sector_buffer) != 0) {
        errno = EIO;
        perror("failed to read device");
        return 1;
    }
    do {
        extract_q(sector_buffer + SECTOR_MAIN_SIZE, q);
        if (options.raw)
            print_raw(q);
        int result = decode_q(q, &frame);
        if (result == Q_CRC_ERROR && options.errors)
            printf("crc error in sector %llu\n", (unsigned long long)lba);
        report_frame(&options, &running, result, &frame);
        ++lba;
    } while (read_sector(drive, lba, sector_buffer) == 0);

    // Reports that could not be written (a full disk, a closed standard
    // output) must not end in a status that says the scan succeeded.
    errno = 0;
    if (fflush(stdout) != 0 || ferror(stdout)) {
        if (errno == 0)  // the failure came from an earlier write: its cause is gone
            errno = EIO;
        perror("write error");
        return 1;
    }
    return 0;
}
