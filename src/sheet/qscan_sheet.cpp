// qscan-sheet: reads a disc's Q frames, from a drive or from qscan's raw
// report (qscan -r) in a file or on standard input, and prints the disc's
// sheet as text, a cue sheet, JSON or a picture.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "drive/drive.h"
#include "platform/binary_input.h"
#include "platform/terminal.h"
#include "progress.h"
#include "report_lines.h"
#include "sheet/qscan_sheet.h"
#include "sheet/read_drive.h"
#include "sheet/read_scan.h"
#include "sheet/report_reader.h"
#include "sheet/sheet.h"
#include "sheet/sheet_writers.h"

namespace {

const char PROGRAM[] = "qscan-sheet";
const char USAGE[] = "Usage: qscan-sheet [--cue [--image NAME] | --json | --svg] [--full] [DRIVE | FILE]\n";
const char HELP[] =
    "Reads the disc in DRIVE (a drive letter and a colon, D:), or qscan's raw report\n"
    "(qscan -r) from FILE, or from standard input when neither is given or FILE is '-',\n"
    "and prints the disc's sheet: its catalogue number, and per track the index points,\n"
    "length, ISRC, flags and CRC errors.\n"
    "\n"
    "  (no option)   the sheet as text, for a person\n"
    "  --cue         a cue sheet for an image of the disc from block 0\n"
    "  --image NAME  the image the cue sheet names (default disc.bin)\n"
    "  --json        the sheet as one JSON object\n"
    "  --svg         a picture of the disc: tracks, codes, damage (SVG)\n"
    "  --full        read every block of the disc, not only those the sheet needs\n"
    "  --help        this text\n"
    "  --version     the program's version\n";
const char DEFAULT_IMAGE[] = "disc.bin";

const uint64_t PROGRESS_INTERVAL_NS = 250000000;  // a whole read's share, four times a second

enum sheet_form { FORM_TEXT, FORM_CUE, FORM_JSON, FORM_SVG };

const struct {
    const char* option;
    int form;
} FORMS[] = {{"--cue", FORM_CUE}, {"--json", FORM_JSON}, {"--svg", FORM_SVG}};
enum { STATUS_FAILED = 1, STATUS_USAGE = 2 };

struct command_line {
    int form;
    const char* image;  // NULL: not given
    const char* file;   // NULL: standard input; a drive name: that drive
    bool full, help, version;
};

int usage_error(const char* what, const char* argument) {
    fprintf(stderr, "%s: %s%s%s\n%s", PROGRAM, what, argument ? " " : "", argument ? argument : "", USAGE);
    return STATUS_USAGE;
}

// An image name goes into the cue sheet between quotes: no quote, no
// control character.
bool usable_image_name(const char* name) {
    if (name[0] == '\0')
        return false;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '"' || (unsigned char)*p < ' ' || *p == 0x7F)
            return false;
    return true;
}

// Whether the input names a drive: a letter and a colon, or where the
// platform takes paths to drives (Linux), a block or character device.
bool names_a_drive(const char* file) {
    return is_drive_name(file) || platform_is_device(file);
}

// The form an option asks for; FORM_TEXT for an option that is none.
int form_of(const char* option) {
    for (const auto& f : FORMS)
        if (strcmp(option, f.option) == 0)
            return f.form;
    return FORM_TEXT;
}

// Returns 0, or the status of a usage error after its message.
int parse_command_line(int argc, char** argv, command_line* c) {
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options_end || a[0] != '-' || strcmp(a, "-") == 0) {
            if (c->file != NULL)
                return usage_error("more than one input named:", a);
            c->file = a;
        } else if (strcmp(a, "--") == 0) {
            options_end = true;
        } else if (strcmp(a, "--help") == 0) {
            c->help = true;
        } else if (strcmp(a, "--version") == 0) {
            c->version = true;
        } else if (strcmp(a, "--full") == 0) {
            c->full = true;
        } else if (form_of(a) != FORM_TEXT) {
            if (c->form != FORM_TEXT && c->form != form_of(a))
                return usage_error("one form at a time:", a);
            c->form = form_of(a);
        } else if (strcmp(a, "--image") == 0) {
            if (i + 1 == argc)
                return usage_error("--image needs a name", NULL);
            c->image = argv[++i];
            if (!usable_image_name(c->image))
                return usage_error("an image name must not be empty or hold a quote or a control character:",
                                   c->image);
        } else {
            return usage_error("unknown option", a);
        }
    }
    if (c->image != NULL && c->form != FORM_CUE)
        return usage_error("--image goes with --cue", NULL);
    if (c->full && (c->file == NULL || !names_a_drive(c->file)))
        return usage_error("--full goes with a drive", NULL);
    return 0;
}

// What a person at a terminal sees of a drive's read: its lines on standard
// error, what is read now on the progress line, for a whole disc the share
// read and the time left.
struct terminal_listener {
    progress bar;
    uint64_t started, shown;
    std::string what;
};

void say_line(void* context, const char* line, bool detail) {
    terminal_listener* t = (terminal_listener*)context;
    progress_end(&t->bar);
    fprintf(stderr, "%s%s%s\n", detail ? "" : PROGRAM, detail ? "" : ": ", line);
}

bool show_progress(void* context, const char* what, uint64_t done, uint64_t total) {
    terminal_listener* t = (terminal_listener*)context;
    uint64_t now = steady_clock_ns();
    if (strcmp(what, READING_WHOLE_DISC) == 0 && total > 0) {
        if (now - t->shown < PROGRESS_INTERVAL_NS || done == 0)
            return false;
        t->shown = now;
        uint64_t left_s = (uint64_t)((double)(now - t->started) / 1e9 * (double)(total - done) / (double)done);
        char text[64];
        snprintf(text, sizeof text, "%u%% of the disc, %u:%02u left", (unsigned)(100 * done / total),
                 (unsigned)(left_s / 60), (unsigned)(left_s % 60));
        progress_note(&t->bar, text);
    } else if (t->what != what) {
        t->what = what;
        progress_note(&t->bar, what);
    }
    return false;
}

void show_waiting(void* context) {
    progress_note(&((terminal_listener*)context)->bar, "waiting for the drive");
}

// The sheet of the disc in the drive. Returns 0 when it was made from every
// block it needed; 1 when some could not be read (the sheet is printed and
// says which), or after saying why there is no sheet.
int read_drive(const char* name, bool full, disc_sheet* d, bool* have_sheet) {
    drive_handle drive = NULL;
    int rc = open_drive(name, &drive);
    if (rc != 0) {  // the same words as qscan's
        errno = rc;
        perror("failed to open device");
        char reason[160];
        if (open_failure_reason(reason, sizeof reason))
            fprintf(stderr, "%s\n", reason);
        return STATUS_FAILED;
    }
    terminal_listener t;
    progress_start(&t.bar, stderr_is_terminal(), steady_clock_ns, stderr);
    t.started = steady_clock_ns();
    t.shown = 0;
    read_listener listener = {&t, say_line, show_progress, show_waiting};
    read_failure failure;
    uint32_t block = 0;
    disc_sheet_start(d);
    int outcome = sheet_read_drive(drive, full, d, &listener, &failure, &block);
    progress_end(&t.bar);
    switch (outcome) {
    case READ_NOTHING:
        errno = EIO;
        perror("failed to read device");
        print_read_failure(stderr, &failure, true);
        return STATUS_FAILED;
    case READ_DISC_CHANGED:
        fprintf(stderr, "%s: the drive says at block %lu that the disc may have changed: a sheet would mix two "
                        "discs\n", PROGRAM, (unsigned long)block);
        print_read_failure(stderr, &failure, false);
        return STATUS_FAILED;
    case READ_DISC_GONE:
        fprintf(stderr, "%s: the drive says at block %lu that it has no disc ready any more: no sheet\n", PROGRAM,
                (unsigned long)block);
        print_read_failure(stderr, &failure, false);
        return STATUS_FAILED;
    case READ_GAPS:
        *have_sheet = true;
        fprintf(stderr, "%s: some blocks of the disc could not be read: the sheet says which\n", PROGRAM);
        return STATUS_FAILED;
    default:
        *have_sheet = true;
        return 0;
    }
}

// Feeds the report's lines into *s, placed on the disc. Returns 0, or 1
// after saying what was wrong with the input.
int read_report(FILE* in, const char* name, disc_sheet* d) {
    sheet* s = &d->s;
    disc_sheet_start(d);
    d->reading.method = SHEET_FROM_REPORT;
    scan_result r;
    switch (sheet_read_scan(in, s, &r)) {
    case SCAN_READ:
        return 0;
    case SCAN_CUT:
        fprintf(stderr, "%s: the input ends in the middle of line %llu: the scan was interrupted\n", PROGRAM,
                (unsigned long long)r.line);
        return 0;  // the sheet is made from the lines before it
    case SCAN_EMPTY:
        fprintf(stderr, "%s: no sectors in the input\n", PROGRAM);
        return STATUS_FAILED;
    case SCAN_NOT_REPORT:
        fprintf(stderr, "%s: line %llu: not a line of qscan's report: \"%s%s\"\n", PROGRAM,
                (unsigned long long)r.line, r.refused, r.refused_cut ? "..." : "");
        return STATUS_FAILED;
    case SCAN_TOO_LONG:
        fprintf(stderr, "%s: line %llu: more sectors than a disc has blocks\n", PROGRAM, (unsigned long long)r.line);
        return STATUS_FAILED;
    case SCAN_STARTS_AGAIN: {
        char at[TIME_TEXT_SIZE], after[TIME_TEXT_SIZE] = "";
        format_frames(at, (uint64_t)r.again_at, '.');
        if (r.again_after >= 0)
            format_frames(after, (uint64_t)r.again_after, '.');
        fprintf(stderr, "%s: line %llu: the disc starts again here (disc time %s%s%s): two scans in one file?\n",
                PROGRAM, (unsigned long long)r.line, at, r.again_after >= 0 ? " after " : "", after);
        return STATUS_FAILED;
    }
    default:
        fprintf(stderr, "%s: %s: %s\n", PROGRAM, name, strerror(errno));
        return STATUS_FAILED;
    }
}

}  // namespace

int qscan_sheet_main(int argc, char** argv) {
    command_line c = {};
    int status = parse_command_line(argc, argv, &c);
    if (status != 0)
        return status;
    if (c.help) {
        printf("%s\n%s", USAGE, HELP);
        return fflush(stdout) == 0 && !ferror(stdout) ? 0 : STATUS_FAILED;
    }
    if (c.version) {
        printf("%s %s\n", PROGRAM, QSCAN_VERSION);
        return fflush(stdout) == 0 && !ferror(stdout) ? 0 : STATUS_FAILED;
    }

    static disc_sheet d;  // about 750 KB: not for the stack
    sheet& s = d.s;
    if (c.file != NULL && names_a_drive(c.file)) {
        bool have_sheet = false;
        status = read_drive(c.file, c.full, &d, &have_sheet);
        if (!have_sheet)
            return status;
    } else {
        FILE* in = stdin;
        const char* name = "standard input";
        if (c.file != NULL && strcmp(c.file, "-") != 0) {
            name = c.file;
            in = fopen(c.file, "rb");
            if (in == NULL) {
                // A drive named without its colon ("D") is a file name here: say how to name it.
                bool letter = c.file[0] != '\0' && c.file[1] == '\0' && isalpha((unsigned char)c.file[0]);
                fprintf(stderr, "%s: %s: %s%s%s%s\n", PROGRAM, c.file, strerror(errno),
                        letter ? " (a drive is named with its colon: " : "", letter ? c.file : "", letter ? ":)" : "");
                return STATUS_FAILED;
            }
        } else {
            // Nothing named and nothing piped in: a person may not know what is awaited.
            if (c.file == NULL && stdin_is_terminal())
                fprintf(stderr, "%s: reading qscan -r's report from standard input, a terminal here; to read a drive "
                                "instead, name it: %s D:\n", PROGRAM, PROGRAM);
            binary_standard_input();
        }
        status = read_report(in, name, &d);
        if (in != stdin)
            fclose(in);
        if (status != 0)
            return status;
    }
    // Blocks of which no frame was good are no disc's Q: no sheet of a disc
    // without tracks, nor one the drive says nothing of.
    if (!s.no_frames && (s.good_frames == 0 || s.good_positions == 0)) {
        fprintf(stderr, "%s: %s\n", PROGRAM, s.good_frames == 0 ? NO_GOOD_Q_FRAME : NO_GOOD_POSITION_FRAME);
        return STATUS_FAILED;
    }
    sheet_finish(&s);

    std::string text, notes;
    switch (c.form) {
    case FORM_CUE:
        if (!write_cue(&d, c.image ? c.image : DEFAULT_IMAGE, &text, &notes)) {
            fprintf(stderr, "%s: no track in the input (no good position frame of index 01 or above "
                            "carries a track number), so no cue sheet\n", PROGRAM);
            return STATUS_FAILED;
        }
        break;
    case FORM_JSON:
        write_json(&d, &text);
        break;
    case FORM_SVG:
        write_svg(&d, &text);
        break;
    default:
        write_text(&d, &text);
        break;
    }
    fputs(notes.c_str(), stderr);
    fwrite(text.data(), 1, text.size(), stdout);
    // Output that could not be written (a full disk, a closed pipe) must not
    // end in a status that says the sheet is there.
    errno = 0;
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "%s: write error: %s\n", PROGRAM, strerror(errno != 0 ? errno : EIO));
        return STATUS_FAILED;
    }
    return status;
}
