// The scanner front end: reads the options, opens the drive, and scans the
// disc sector by sector from block 0, printing the selected reports.
#include "main.h"

#include <errno.h>
#include <stdio.h>

#include <chrono>

#include "drive.h"
#include "platform/terminal.h"
#include "report_lines.h"

namespace {

const char USAGE[] = "Usage: %s [-r] [-p] [-t] [-c] [-i] [-e]  device\n";

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
    printf(RAW_LINE, q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
}

// A position frame's track number byte AA, decoded digit by digit as every
// BCD byte is: the lead-out, which no program-area frame of a sound disc carries.
const uint8_t LEAD_OUT_TRACK = 0xA * 10 + 0xA;

const char* const SENSE_KEY_WORDS[16] = {
    "no sense",        "recovered error", "not ready",       "medium error",
    "hardware error",  "illegal request", "unit attention",  "data protect",
    "blank check",     "vendor specific", "copy aborted",    "aborted command",
    "equal",           "volume overflow", "miscompare",      "completed"};

const int ANY = -1;

// Words for the additional sense a CD drive commonly returns, by key, ASC
// and ASCQ; ANY matches every value. The first match counts.
struct sense_words {
    uint8_t key;
    int asc;
    int ascq;
    const char* words;
};
const sense_words ADDITIONAL_SENSE_WORDS[] = {
    {0x2, 0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x2, 0x04, ANY, "logical unit not ready"},
    {0x2, 0x30, ANY, "incompatible medium installed"},
    {0x2, 0x3A, ANY, "medium not present"},
    {0x3, 0x02, 0x00, "no seek complete"},
    {0x3, 0x06, 0x00, "no reference position found"},
    {0x3, 0x11, ANY, "unrecovered read error"},
    {0x3, 0x15, ANY, "positioning error"},
    {0x3, 0x57, 0x00, "unable to recover table of contents"},
    {0x4, 0x08, ANY, "logical unit communication failure"},
    {0x4, 0x09, ANY, "track following error"},
    {0x4, 0x15, ANY, "positioning error"},
    {0x4, 0x3E, ANY, "logical unit failure"},
    {0x4, 0x44, 0x00, "internal target failure"},
    {0x4, 0x53, ANY, "media load or eject failed"},
    {0x4, ANY, ANY, "a fault in the drive itself"},
    {0x5, 0x20, 0x00, "invalid command operation code"},
    {0x5, 0x21, 0x00, "logical block address out of range"},
    {0x5, 0x24, 0x00, "invalid field in command block"},
    {0x5, 0x63, 0x00, "end of user area encountered on this track"},
    {0x5, 0x64, 0x00, "illegal mode for this track"},
    {0x6, 0x28, 0x00, "not ready to ready change, medium may have changed"},
    {0x6, 0x29, ANY, "power on, reset, or bus device reset occurred"},
    {0xB, ANY, ANY, "the drive or its connection gave up on the command"},
};

const char* additional_sense_words(const read_failure* f) {
    for (const sense_words& w : ADDITIONAL_SENSE_WORDS) {
        if (w.key == f->sense_key && (w.asc == ANY || w.asc == f->asc) &&
            (w.ascq == ANY || w.ascq == f->ascq))
            return w.words;
    }
    return NULL;
}

// The line after a failed read's message, on standard error: what the drive
// said, or what the system saw when the drive said nothing.
void print_failure_reason(const read_failure* f, bool first_read) {
    if (f->has_sense && f->has_asc) {
        const char* words = additional_sense_words(f);
        fprintf(stderr, "drive reports: %s%s%s (%02x/%02x/%02x)\n", SENSE_KEY_WORDS[f->sense_key],
                words ? ", " : "", words ? words : "", f->sense_key, f->asc, f->ascq);
        // A drive that cannot return raw P-W subchannel refuses the command block.
        if (first_read && f->sense_key == 0x5 && (f->asc == 0x20 || f->asc == 0x24) && f->ascq == 0)
            fprintf(stderr, "the drive may not support reading raw subchannel data\n");
        return;
    }
    if (f->has_sense) {
        fprintf(stderr, "drive reports: %s (%02x)\n", SENSE_KEY_WORDS[f->sense_key], f->sense_key);
        return;
    }
    switch (f->kind) {
    case READ_CALL_FAILED:
        fprintf(stderr, "the pass-through call to the drive failed\n");
        break;
    case READ_WRONG_COUNT:
        fprintf(stderr, "the pass-through call returned an unexpected count of bytes (%lu)\n",
                (unsigned long)f->returned);
        break;
    case READ_BAD_STATUS:
        fprintf(stderr, "drive answered with SCSI status %02x\n", f->scsi_status);
        break;
    case READ_CHECK_CONDITION:
        fprintf(stderr, "drive reports an error but not which (no sense data)\n");
        break;
    case READ_SHORT_TRANSFER:
        fprintf(stderr, "%lu of %d bytes arrived\n", (unsigned long)f->transferred, SECTOR_BUFFER_SIZE);
        break;
    }
}

// The progress line a person watching a terminal sees while a disc is
// scanned: disc time reached and read speed, rewritten in place on
// standard error ("27:28  9.8x"). Never more than 13 characters, one fewer
// than the shortest report line ("0 unknown mode"), so that a report line
// printed after it covers it whole.
typedef std::chrono::steady_clock progress_clock;
const int PROGRESS_WIDTH = 13;
const double PROGRESS_TOP_SPEED = 99.9;
const progress_clock::duration PROGRESS_INTERVAL = std::chrono::milliseconds(250);
// The clock is looked at every (mask + 1) sectors, the mask adapting so
// that looks lie 30 to 120 ms apart, whatever the speed of the drive.
const progress_clock::duration CHECK_AT_LEAST = std::chrono::milliseconds(30);
const progress_clock::duration CHECK_AT_MOST = std::chrono::milliseconds(120);
const uint32_t CHECK_MASK_LIMIT = 4095;

struct progress {
    bool enabled;                       // standard error is a terminal
    bool shown;                         // a line is on the screen now
    uint32_t mask;
    progress_clock::time_point checked;  // the last look at the clock
    progress_clock::time_point printed;  // the last line, or the scan's start
    uint32_t printed_lba;                // the block at that time
};

void progress_start(progress* p) {
    p->enabled = stderr_is_terminal();
    p->shown = false;
    p->mask = 0;
    p->checked = p->printed = progress_clock::now();
    p->printed_lba = 0;
}

// Called once per sector; cheap unless the clock is due.
void progress_update(progress* p, uint32_t lba, const timing* running) {
    if (!p->enabled || (lba & p->mask) != 0)
        return;
    progress_clock::time_point now = progress_clock::now();
    if (now - p->checked < CHECK_AT_LEAST && p->mask < CHECK_MASK_LIMIT)
        p->mask = p->mask * 2 + 1;
    else if (now - p->checked > CHECK_AT_MOST && p->mask > 0)
        p->mask /= 2;
    p->checked = now;
    if (now - p->printed < PROGRESS_INTERVAL)
        return;
    double seconds = std::chrono::duration<double>(now - p->printed).count();
    double speed = (lba - p->printed_lba) / seconds / FRAMES_PER_SECOND;
    if (speed > PROGRESS_TOP_SPEED)
        speed = PROGRESS_TOP_SPEED;
    // Report lines already formatted go out first, so the progress line
    // starts at the beginning of a line of its own.
    fflush(stdout);
    fprintf(stderr, "%02u:%02u %4.1fx\r", running->abs.m, running->abs.s, speed);
    p->shown = true;
    p->printed = now;
    p->printed_lba = lba;
}

// Leaves nothing of the progress line on the screen, not even a blank line.
void progress_end(progress* p) {
    if (p->shown)
        fprintf(stderr, "%*s\r", PROGRESS_WIDTH, "");
    p->shown = false;
}

}  // namespace

void report_frame(const report_options* options, timing* running, int result,
                  const q_frame* frame) {
    unsigned adr = frame->adr_control >> 4;
    if (result == 0 && options->frames) {
        const timing* p = &frame->position;
        const char* d = frame->mcn.mcn_digits;
        const char* c = frame->isrc.isrc_chars;
        switch (adr) {
        case 1:
            printf(FRAME_POSITION_LINE, adr, p->track, p->index, p->rel.m, p->rel.s, p->rel.f,
                   p->abs.m, p->abs.s, p->abs.f);
            break;
        case 2:
            printf(FRAME_MCN_LINE, adr, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8],
                   d[9], d[10], d[11], d[12], frame->mcn.abs_f);
            break;
        case 3:
            printf(FRAME_ISRC_LINE, adr, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8],
                   c[9], c[10], c[11], frame->isrc.abs_f);
            break;
        default:
            printf(FRAME_UNKNOWN_LINE, adr);
            break;
        }
    }
    timing_follow(running, result, frame);
    if (result != 0)
        return;
    const timing* r = running;
    if (adr == 1 && options->times) {
        printf(POSITION_LINE, r->track, r->index, r->rel.m, r->rel.s, r->rel.f, r->abs.m,
               r->abs.s, r->abs.f);
    } else if (adr == 2 && options->catalogue) {
        const char* d = frame->mcn.mcn_digits;
        printf(CATALOGUE_LINE, r->track, r->index, r->rel.m, r->rel.s, r->rel.f, r->abs.m,
               r->abs.s, r->abs.f, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9],
               d[10], d[11], d[12]);
    } else if (adr == 3 && options->isrc) {
        const char* c = frame->isrc.isrc_chars;
        printf(ISRC_LINE, r->track, r->index, r->rel.m, r->rel.s, r->rel.f, r->abs.m, r->abs.s,
               r->abs.f, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11]);
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
    alignas(SECTOR_BUFFER_ALIGNMENT) uint8_t sector_buffer[SECTOR_BUFFER_SIZE] = {};
    uint8_t q[Q_SIZE];
    q_frame frame = {};
    timing running = START_POSITION;
    uint32_t lba = 0;

    // A first read that fails means no disc, an unreadable one, or a drive
    // that refuses raw subchannel reads: that must not pass for a disc that
    // carries no codes.
    read_failure failure;
    progress bar;
    progress_start(&bar);
    rc = read_sector(drive, lba, sector_buffer, &failure);
    if (rc != 0) {
        errno = EIO;
        perror("failed to read device");
        print_failure_reason(&failure, true);
        return 1;
    }
    do {
        extract_q(sector_buffer + SECTOR_MAIN_SIZE, q);
        if (options.raw)
            print_raw(q);
        int result = decode_q(q, &frame);
        if (result == Q_CRC_ERROR && options.errors)
            printf(CRC_ERROR_LINE, (unsigned long long)lba);
        report_frame(&options, &running, result, &frame);
        ++lba;
        progress_update(&bar, lba, &running);
        rc = read_sector(drive, lba, sector_buffer, &failure);
    } while (rc == 0);
    progress_end(&bar);

    // The drive saying the block is not there is the end of the disc. So is
    // any failure once the scan is in the lead-out, where some drives read
    // on and then fail with a medium error. Any other failure cut the scan
    // short, and the user must not take the report for the whole disc.
    int status = 0;
    bool cut_short = rc != READ_NO_SUCH_BLOCK && running.track != LEAD_OUT_TRACK;

    // Reports that could not be written (a full disk, a closed standard
    // output) must not end in a status that says the scan succeeded. Flushed
    // before any read error is told, so that a terminal shows them in order.
    errno = 0;
    if (fflush(stdout) != 0 || ferror(stdout)) {
        if (errno == 0)  // the failure came from an earlier write: its cause is gone
            errno = EIO;
        perror("write error");
        status = 1;
    }
    if (cut_short) {
        char what[48];
        snprintf(what, sizeof what, "failed to read sector %lu", (unsigned long)lba);
        errno = EIO;
        perror(what);
        print_failure_reason(&failure, false);
        status = 1;
    }
    return status;
}
