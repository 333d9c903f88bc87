// qscan-sheet: reads a disc's Q frames, from a drive or from qscan's raw
// report (qscan -r) in a file or on standard input, and prints the disc's
// sheet as text, a cue sheet, a TOC file, JSON or a picture; a program over libqscan's
// interface (qscan.h).
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "platform/binary_input.h"
#include "platform/terminal.h"
#include "progress.h"
#include "sheet/qscan.h"
#include "sheet/qscan_sheet.h"

namespace {

const char PROGRAM[] = "qscan-sheet";
const char USAGE[] = "Usage: qscan-sheet [--cue [--image NAME] | --toc [--image NAME] | --json | --svg] [--full] [DRIVE | FILE]\n";
const char HELP[] =
    "Reads the disc in DRIVE (a drive letter and a colon, D:), or qscan's raw report\n"
    "(qscan -r) from FILE, or from standard input when neither is given or FILE is '-',\n"
    "and prints the disc's sheet: its catalogue number, and per track the index points,\n"
    "length, ISRC, flags and CRC errors.\n"
    "\n"
    "  (no option)   the sheet as text, for a person\n"
    "  --cue         a cue sheet for an image of the disc from block 0\n"
    "  --toc         a TOC file for burning a copy of the disc from that image\n"
    "  --image NAME  the image the cue sheet or TOC file names (default disc.bin)\n"
    "  --json        the sheet as one JSON object\n"
    "  --svg         a picture of the disc: tracks, codes, damage (SVG)\n"
    "  --full        read every block of the disc, not only those the sheet needs\n"
    "  --help        this text\n"
    "  --version     the program's version\n";

const uint64_t PROGRESS_INTERVAL_NS = 250000000;  // a whole read's share, four times a second

enum sheet_form { FORM_TEXT, FORM_CUE, FORM_JSON, FORM_SVG, FORM_TOC };

const struct {
    const char* option;
    int form;
} FORMS[] = {{"--cue", FORM_CUE}, {"--json", FORM_JSON}, {"--svg", FORM_SVG}, {"--toc", FORM_TOC}};
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
            if (!qscan_image_name_usable(c->image))
                return usage_error("an image name must not be empty or hold a quote or a control character:",
                                   c->image);
        } else {
            return usage_error("unknown option", a);
        }
    }
    if (c->image != NULL && c->form != FORM_CUE && c->form != FORM_TOC)
        return usage_error("--image goes with --cue or --toc", NULL);
    if (c->full && (c->file == NULL || !qscan_names_drive(c->file)))
        return usage_error("--full goes with a drive", NULL);
    return 0;
}

// What a person at a terminal sees of a drive's read: its notes on standard
// error as they come, what is read now on the progress line, for a whole
// disc the share read and the time left.
struct terminal_listener {
    progress bar;
    uint64_t started, shown;
    std::string what;
};

// Lines that say something of the sheet, each with the program's name.
void say_lines(const char* lines) {
    for (const char* line = lines; *line != '\0';) {
        const char* end = strchr(line, '\n');
        size_t n = end != NULL ? (size_t)(end - line) : strlen(line);
        fprintf(stderr, "%s: %.*s\n", PROGRAM, (int)n, line);
        line += n + (end != NULL);
    }
}

void say_note(void* context, const char* line) {
    progress_end(&((terminal_listener*)context)->bar);
    say_lines(line);
}

int show_progress(void* context, unsigned long long done, unsigned long long total, const char* what) {
    terminal_listener* t = (terminal_listener*)context;
    uint64_t now = steady_clock_ns();
    if (strcmp(what, QSCAN_READING_WHOLE_DISC) == 0 && total > 0) {
        if (now - t->shown < PROGRESS_INTERVAL_NS || done == 0)
            return 0;
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
    return 0;
}

// Why there is no sheet: the message (a drive's that cannot be opened or
// read in qscan's words, without the program's name), then the drive's or
// the system's own words.
void say_error(const qscan_error* e, const char* file) {
    bool as_qscan = e->result == QSCAN_ERROR_OPEN || e->result == QSCAN_ERROR_READ;
    // A drive named without its colon ("D") is a file name here: say how to name it.
    bool letter = e->result == QSCAN_ERROR_INPUT && file != NULL && file[0] != '\0' && file[1] == '\0' &&
                  isalpha((unsigned char)file[0]);
    fprintf(stderr, "%s%s%s%s%s%s\n", as_qscan ? "" : PROGRAM, as_qscan ? "" : ": ", e->message,
            letter ? " (a drive is named with its colon: " : "", letter ? file : "", letter ? ":)" : "");
    if (e->detail[0] != '\0')
        fprintf(stderr, "%s\n", e->detail);
}

// The disc in the drive; NULL after saying why there is none.
qscan_disc* read_drive(const char* name, bool full) {
    terminal_listener t;
    progress_start(&t.bar, stderr_is_terminal(), steady_clock_ns, stderr);
    t.started = steady_clock_ns();
    t.shown = 0;
    qscan_disc* disc = NULL;
    qscan_error e;
    int rc = qscan_read_drive(name, full ? QSCAN_READ_FULL : 0, show_progress, say_note, &t, &disc, &e);
    progress_end(&t.bar);
    if (rc != QSCAN_OK)
        say_error(&e, NULL);
    return disc;
}

// The disc of a saved scan, from a file or standard input; NULL after
// saying why there is none.
qscan_disc* read_report(const char* file) {
    qscan_disc* disc = NULL;
    qscan_error e;
    int rc;
    if (file != NULL && strcmp(file, "-") != 0) {
        rc = qscan_read_scan_file(file, &disc, &e);
    } else {
        // Nothing named and nothing piped in: a person may not know what is awaited.
        if (file == NULL && stdin_is_terminal())
            fprintf(stderr, "%s: reading qscan -r's report from standard input, a terminal here; to read a drive "
                            "instead, name it: %s D:\n", PROGRAM, PROGRAM);
        binary_standard_input();
        rc = qscan_read_scan_stream(stdin, &disc, &e);
    }
    if (rc != QSCAN_OK) {
        say_error(&e, file);
        return NULL;
    }
    say_lines(qscan_disc_notes(disc));
    return disc;
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
        printf("%s %s\n", PROGRAM, qscan_version());
        return fflush(stdout) == 0 && !ferror(stdout) ? 0 : STATUS_FAILED;
    }

    bool drive = c.file != NULL && qscan_names_drive(c.file);
    std::unique_ptr<qscan_disc, void (*)(qscan_disc*)> disc(drive ? read_drive(c.file, c.full) : read_report(c.file),
                                                          qscan_disc_free);
    if (disc == nullptr)
        return STATUS_FAILED;
    if (qscan_disc_unreadable(disc.get())) {
        fprintf(stderr, "%s: some blocks of the disc could not be read: the sheet says which\n", PROGRAM);
        status = STATUS_FAILED;
    }
    static const int API_FORMS[] = {QSCAN_FORM_TEXT, QSCAN_FORM_CUE, QSCAN_FORM_JSON, QSCAN_FORM_SVG,
                                    QSCAN_FORM_TOC};  // by sheet_form
    char* text = NULL;
    char* notes = NULL;
    size_t length = 0;
    qscan_error e;
    if (qscan_disc_form(disc.get(), API_FORMS[c.form], c.image, &text, &length, &notes, &e) !=
        QSCAN_OK) {
        say_error(&e, NULL);
        return STATUS_FAILED;
    }
    say_lines(notes);
    fwrite(text, 1, length, stdout);
    qscan_free(text);
    qscan_free(notes);
    // Output that could not be written (a full disk, a closed pipe) must not
    // end in a status that says the sheet is there.
    errno = 0;
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "%s: write error: %s\n", PROGRAM, strerror(errno != 0 ? errno : EIO));
        return STATUS_FAILED;
    }
    return status;
}
