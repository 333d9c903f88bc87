// The scanner front end: reads the options, opens the drive, and scans the
// disc sector by sector from block 0, printing the selected reports.
#include "main.h"

#include <errno.h>
#include <stdio.h>

#include "drive/drive.h"
#include "drive/read_disc_toc.h"
#include "platform/terminal.h"
#include "progress.h"
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

// Whether a failed read says the disc is gone or the drive not ready: NOT
// READY with 3A/xx (medium not present) or 04/xx (not ready). After reading
// began that is never the end of the disc.
bool disc_gone(const read_failure* f) {
    return no_medium(f) || (f->kind == READ_CHECK_CONDITION && f->sense.has_asc &&
                            f->sense.key == SENSE_KEY_NOT_READY && f->sense.asc == 0x04);
}

// The running position before the first position frame. Where the table of
// contents puts track 1's index 01 after block 0, the disc begins in its
// pregap (a hidden track): track 1, index 00, the track time counting down
// to index 01 as the frames do, its last block 00:00.00, so that block 0 is
// the start of index 01 less one frame. Elsewhere, block 0's own position.
timing start_position(bool toc_known, const disc_toc* toc) {
    const toc_track* one = toc_known ? toc_find(toc, 1) : NULL;
    if (one == NULL || one->start <= 0)
        return START_POSITION;
    timing t = START_POSITION;
    t.index = 0;
    msf_add(&t.rel, one->start - 1);
    return t;
}

// The progress line's word while the drive is becoming ready.
void show_waiting(void* bar) {
    progress_note((progress*)bar, "waiting for the drive");
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
        char reason[160];
        if (open_failure_reason(reason, sizeof reason))
            fprintf(stderr, "%s\n", reason);
        return 1;
    }

    // Zeroed, so nothing undefined can ever reach the decoder.
    alignas(SECTOR_BUFFER_ALIGNMENT) uint8_t sector_buffer[SECTOR_BUFFER_SIZE] = {};
    uint8_t q[Q_SIZE];
    q_frame frame = {};
    timing running = START_POSITION;
    uint32_t lba = 0;
    bool in_lead_out = false;  // the last good position frame is the lead-out's
    uint64_t good_frames = 0, good_positions = 0;

    // The table of contents says where the disc's first session ends; a
    // drive that refuses it, or gives one that cannot be used, is scanned
    // as ever, to its first failed read.
    read_failure failure;
    progress bar;
    progress_start(&bar, stderr_is_terminal(), steady_clock_ns, stderr);
    static disc_toc toc;
    toc_notes notes;
    bool toc_known = read_disc_toc(drive, &toc, &failure, show_waiting, &bar, &notes) == 0;
    if (notes.count > 0)
        progress_end(&bar);  // the lines go on a line of their own
    for (unsigned i = 0; i < notes.count; ++i)
        fprintf(stderr, "%s\n", notes.line[i]);
    char impossible[ANSWER_WHY_SIZE];
    if (toc_known && toc_impossible(&toc, impossible)) {
        progress_end(&bar);
        fprintf(stderr, "the drive's table of contents cannot be right: %s\n", impossible);
        toc_known = false;  // scanned as without one
    }
    running = start_position(toc_known, &toc);

    // A first read that fails means no disc, an unreadable one, or a drive
    // that refuses raw subchannel reads: that must not pass for a disc that
    // carries no codes.
    rc = read_sector(drive, lba, sector_buffer, &failure);
    if (rc != 0) {
        progress_end(&bar);
        errno = EIO;
        perror("failed to read device");
        print_read_failure(stderr, &failure, true);
        return 1;
    }
    do {
        extract_q(sector_buffer + SECTOR_MAIN_SIZE, q);
        if (options.raw)
            print_raw(q);
        int result = decode_q(q, &frame);
        if (result == Q_CRC_ERROR && options.errors)
            printf(CRC_ERROR_LINE, (unsigned long long)lba);
        good_frames += result == 0;
        if (result == 0 && frame.adr_control >> 4 == 1) {
            in_lead_out = q[1] == Q_LEAD_OUT_TRACK;
            ++good_positions;
        }
        report_frame(&options, &running, result, &frame);
        ++lba;
        progress_update(&bar, lba, &running);
        rc = read_sector(drive, lba, sector_buffer, &failure);
    } while (rc == 0);
    progress_end(&bar);

    // The drive saying the block is not there is the end of the disc, unless
    // the table of contents puts the end further on. So is any failure once
    // the scan is in the lead-out, where some drives read on and then fail
    // with a medium error, but for a disc taken out or a drive not ready.
    // Any other failure cut the scan short, and the user must not take the
    // report for the whole disc.
    int status = 0;
    bool before_the_end = toc_known && (int64_t)lba < toc.first_session_end;
    bool cut_short = rc == READ_NO_SUCH_BLOCK ? before_the_end : !in_lead_out || disc_gone(&failure);

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
    // A scan in which no frame was good read something, but no disc's Q:
    // not a disc without codes. The report lines stand as they are.
    if (good_frames == 0 || good_positions == 0) {
        fprintf(stderr, "%s\n", good_frames == 0 ? NO_GOOD_Q_FRAME : NO_GOOD_POSITION_FRAME);
        status = 1;
    }
    if (cut_short) {
        char what[48];
        snprintf(what, sizeof what, "failed to read sector %lu", (unsigned long)lba);
        errno = EIO;
        perror(what);
        print_read_failure(stderr, &failure, false);
        if (rc == READ_NO_SUCH_BLOCK)
            fprintf(stderr, "the disc's table of contents puts its end at block %ld\n", (long)toc.first_session_end);
        status = 1;
    }
    return status;
}
