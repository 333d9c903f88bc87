// libqscan's C interface (qscan.h): a drive's read or a saved scan made
// into a finished sheet, the forms written from it, and its parts as
// fixed-size records. Nothing here throws past the interface.
#include "sheet/qscan.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>

#include "drive/drive.h"
#include "platform/platform.h"
#include "report_lines.h"
#include "sheet/disc_ids.h"
#include "sheet/read_drive.h"
#include "sheet/read_scan.h"
#include "sheet/sheet_writers.h"

static_assert((int)QSCAN_TEXT_CODE == (int)TEXT_CODE && (int)QSCAN_TEXT_TITLE == (int)TEXT_TITLE, "the kinds of CD-Text, in one order");

struct qscan_disc {
    disc_sheet d;
    std::string notes;  // lines, each ended by '\n'
    bool unreadable = false;
    bool has_text = false;
    cd_text text;
};

namespace {

const char* const STANDARD_INPUT = "standard input";
const char* const THE_INPUT = "the input";
const char* const DEFAULT_IMAGE = "disc.bin";

void clear(qscan_error* e) {
    memset(e, 0, sizeof *e);
    e->result = QSCAN_OK;
    e->block = -1;
    e->line = -1;
}

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
int fail(qscan_error* e, int result, const char* format, ...) {
    e->result = result;
    va_list args;
    va_start(args, format);
    vsnprintf(e->message, sizeof e->message, format, args);
    va_end(args);
    return result;
}

// A form for an image (a cue sheet, a TOC file) of a disc with no track it can hold.
// A form of an image whose tracks all lack their index 01: what the scan saw instead.
int no_track(qscan_error* e, const sheet* s, const char* form) {
    if (s->first_track != 0)  // a track seen in its pregap alone
        return fail(e, QSCAN_ERROR_NO_TRACK, "no track's index 01 was reached (track %d is seen in its pregap alone), "
                                             "so no %s: every track needs its index 01", s->first_track, form);
    return fail(e, QSCAN_ERROR_NO_TRACK, "no track in the input (no good position frame of index 01 or above carries "
                                         "a track number), so no %s", form);
}

// What the drive said of a failed command: its sense data, and its words
// under the message.
void drive_said(qscan_error* e, const read_failure* f, bool first_read) {
    if (f->kind == READ_CHECK_CONDITION && f->sense.has_key) {
        e->has_sense = 1;
        e->sense_key = f->sense.key;
        e->asc = f->sense.has_asc ? f->sense.asc : 0;
        e->ascq = f->sense.has_asc ? f->sense.ascq : 0;
    }
    read_failure_text(f, first_read, e->detail, sizeof e->detail);
}

// The caller's error record, or one to write into when it gave none.
struct error_place {
    qscan_error own;
    qscan_error* e;
    explicit error_place(qscan_error* given) : e(given != NULL ? given : &own) { clear(e); }
};

// A drive held open while it is read.
struct open_drive_guard {
    drive_handle handle = NULL;
    ~open_drive_guard() {
        if (handle != NULL)
            close_drive(handle);
    }
};

// What a drive's read says, to the disc's notes and the caller's progress function.
struct api_listener {
    qscan_disc* disc;
    qscan_progress_fn progress;
    qscan_note_fn note;
    void* context;
};

void note_line(void* context, const char* line) {
    api_listener* l = (api_listener*)context;
    l->disc->notes += line;
    l->disc->notes += '\n';
    if (l->note != NULL)
        l->note(l->context, line);
}

bool pass_progress(void* context, const char* what, uint64_t done, uint64_t total) {
    api_listener* l = (api_listener*)context;
    return l->progress != NULL && l->progress(l->context, done, total, what) != 0;
}

void pass_waiting(void* context) {
    api_listener* l = (api_listener*)context;
    if (l->progress != NULL)
        l->progress(l->context, 0, 0, QSCAN_WAITING);
}

// The checks and passes every sheet takes once its blocks are in. A sheet
// of blocks none of whose frames was good is no disc's.
int finish(qscan_disc* disc, qscan_error* e) {
    sheet* s = &disc->d.s;
    if (!s->no_frames && (s->good_frames == 0 || s->good_positions == 0))
        return fail(e, QSCAN_ERROR_NOT_RAW, "%s", s->good_frames == 0 ? NO_GOOD_Q_FRAME : NO_GOOD_POSITION_FRAME);
    sheet_finish(s);
    std::string why;
    disc->has_text = sheet_cd_text(&disc->d, &disc->text, &why);
    return QSCAN_OK;
}

int read_drive(const char* device, unsigned flags, qscan_progress_fn progress, qscan_note_fn note, void* context,
               qscan_disc** disc, qscan_error* e) {
    std::unique_ptr<qscan_disc> out(new qscan_disc);
    open_drive_guard drive;
    int rc = open_drive(device, &drive.handle);
    if (rc != 0) {  // the words qscan says it in
        drive.handle = NULL;
        e->system_error = rc;
        fail(e, QSCAN_ERROR_OPEN, "failed to open device: %s", strerror(rc));
        char reason[sizeof e->detail];
        if (open_failure_reason(reason, sizeof reason))
            snprintf(e->detail, sizeof e->detail, "%s", reason);
        return QSCAN_ERROR_OPEN;
    }
    api_listener heard = {out.get(), progress, note, context};
    read_listener listener = {&heard, note_line, pass_progress, pass_waiting};
    read_failure failure = {};
    uint32_t block = 0;
    disc_sheet_start(&out->d);
    int outcome = sheet_read_drive(drive.handle, (flags & QSCAN_READ_FULL) != 0, &out->d, &listener, &failure, &block);
    switch (outcome) {
    case READ_NOTHING:
        drive_said(e, &failure, true);
        return fail(e, QSCAN_ERROR_READ, "failed to read device: %s", strerror(EIO));
    case READ_DISC_CHANGED:
        e->block = block;
        drive_said(e, &failure, false);
        return fail(e, QSCAN_ERROR_DISC_CHANGED,
                    "the drive says at block %lu that the disc may have changed: a sheet would mix two discs",
                    (unsigned long)block);
    case READ_DISC_GONE:
        e->block = block;
        drive_said(e, &failure, false);
        return fail(e, QSCAN_ERROR_DISC_GONE, "the drive says at block %lu that it has no disc ready any more: no sheet",
                    (unsigned long)block);
    case READ_STOPPED:
        return fail(e, QSCAN_ERROR_STOPPED, "the read was stopped");
    case READ_GAPS:
        out->unreadable = true;
        break;
    default:
        break;
    }
    rc = finish(out.get(), e);
    if (rc == QSCAN_OK)
        *disc = out.release();
    return rc;
}

// The sheet of a saved scan, its lines read by `read` into the sheet;
// `name` is what the messages call the input.
template <typename Read>
int read_scan(Read read, const char* name, qscan_disc** disc, qscan_error* e) {
    std::unique_ptr<qscan_disc> out(new qscan_disc);
    disc_sheet_start(&out->d);
    out->d.reading.method = SHEET_FROM_REPORT;
    scan_result r;
    errno = 0;
    int outcome = read(&out->d.s, &r);
    int why = errno != 0 ? errno : EIO;
    if (outcome != SCAN_READ && outcome != SCAN_CUT && outcome != SCAN_FAILED && outcome != SCAN_EMPTY)
        e->line = (long long)r.line;
    disc_reading* reading = &out->d.reading;
    reading->repeated_lines = r.repeated_lines;
    reading->repeated_first_line = r.repeated_first_line;
    reading->repeated_first_at = r.repeated_first_at;
    reading->start_offset_known = r.start_offset_known;
    reading->start_offset = r.start_offset;
    if (r.repeated_lines > 0 && (outcome == SCAN_READ || outcome == SCAN_CUT))
        out->notes += repeated_lines_text(reading) + "\n";
    switch (outcome) {
    case SCAN_READ:
        break;
    case SCAN_CUT:  // the sheet is made from the lines before it
        out->notes += "the input ends in the middle of line " + std::to_string(r.line) + ": the scan was interrupted\n";
        break;
    case SCAN_EMPTY:
        return fail(e, QSCAN_ERROR_SCAN, "no sectors in the input");
    case SCAN_NOT_REPORT:
        if (r.refused[0] == '\0')  // only a blank line is refused with nothing shown
            return fail(e, QSCAN_ERROR_SCAN, "line %llu is empty: a saved scan has blank lines at its end alone",
                        (unsigned long long)r.line);
        return fail(e, QSCAN_ERROR_SCAN, "line %llu: not a line of qscan's report: \"%s%s\"", (unsigned long long)r.line,
                    r.refused, r.refused_cut ? "..." : "");
    case SCAN_TOO_LONG:
        return fail(e, QSCAN_ERROR_SCAN, "line %llu: more sectors than a disc has blocks", (unsigned long long)r.line);
    case SCAN_STARTS_AGAIN: {
        char at[TIME_TEXT_SIZE], after[TIME_TEXT_SIZE] = "";
        format_frames(at, (uint64_t)r.again_at, '.');
        if (r.again_after >= 0)
            format_frames(after, (uint64_t)r.again_after, '.');
        return fail(e, QSCAN_ERROR_SCAN, "line %llu: the disc starts again here (disc time %s%s%s): two scans in one file?",
                    (unsigned long long)r.line, at, r.again_after >= 0 ? " after " : "", after);
    }
    default:
        e->system_error = why;
        return fail(e, QSCAN_ERROR_INPUT, "%s: %s", name, strerror(why));
    }
    int rc = finish(out.get(), e);
    if (rc == QSCAN_OK)
        *disc = out.release();
    return rc;
}

// Runs `work`, which may allocate: what it throws becomes a result.
template <typename Work>
int guarded(qscan_error* e, Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return fail(e, QSCAN_ERROR_MEMORY, "out of memory");
    } catch (const std::exception& x) {
        return fail(e, QSCAN_ERROR_INTERNAL, "%s", x.what());
    } catch (...) {
        return fail(e, QSCAN_ERROR_INTERNAL, "an unknown failure");
    }
}

// A copy of `text` the caller frees with qscan_free; NULL when memory is short.
char* handed_out(const std::string& text) {
    char* copy = (char*)malloc(text.size() + 1);
    if (copy != NULL)
        memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

int code_source(uint8_t source) {
    static const int SOURCES[] = {QSCAN_SOURCE_Q, QSCAN_SOURCE_DRIVE, QSCAN_SOURCE_CD_TEXT, QSCAN_SOURCE_TOC};
    return SOURCES[source];  // by sheet_source
}

void code_record(const sheet_code* c, int length, qscan_code* out) {
    memset(out, 0, sizeof *out);
    memcpy(out->code, c->code, (size_t)length);
    out->frames = c->frames;
    out->first_block = c->frames > 0 ? (long long)c->first_block : -1;
    out->last_block = c->frames > 0 ? (long long)c->last_block : -1;
    out->well_formed = length == ISRC_LENGTH ? isrc_well_formed(c) : mcn_well_formed(c);
    out->source = code_source(c->source);
}

const sheet_track* seen_track(const qscan_disc* disc, int number) {
    const sheet* s = &disc->d.s;
    if (number < 1 || number > DISC_TRACKS || number < s->first_track || number > s->last_track ||
        !s->track[number].seen)
        return NULL;
    return &s->track[number];
}

}  // namespace

extern "C" {

int qscan_api_version(void) {
    return QSCAN_API_VERSION;
}

const char* qscan_version(void) {
    return QSCAN_VERSION;
}

int qscan_read_drive(const char* device, unsigned flags, qscan_progress_fn progress, qscan_note_fn note, void* context,
                     qscan_disc** disc, qscan_error* error) {
    error_place p(error);
    if (disc != NULL)
        *disc = NULL;
    if (disc == NULL || device == NULL || (flags & ~(unsigned)QSCAN_READ_FULL) != 0)
        return fail(p.e, QSCAN_ERROR_ARGUMENT, "qscan_read_drive: a drive, a place for the disc and known flags");
    return guarded(p.e, [&] { return read_drive(device, flags, progress, note, context, disc, p.e); });
}

int qscan_names_drive(const char* name) {
    return name != NULL && (is_drive_name(name) || platform_is_device(name));
}

int qscan_read_scan_file(const char* path, qscan_disc** disc, qscan_error* error) {
    error_place p(error);
    if (disc != NULL)
        *disc = NULL;
    if (disc == NULL || path == NULL)
        return fail(p.e, QSCAN_ERROR_ARGUMENT, "qscan_read_scan_file: a path and a place for the disc");
    FILE* in = fopen(path, "rb");
    if (in == NULL) {
        p.e->system_error = errno;
        return fail(p.e, QSCAN_ERROR_INPUT, "%s: %s", path, strerror(errno));
    }
    int rc = guarded(p.e, [&] {
        return read_scan([&](sheet* s, scan_result* r) { return sheet_read_scan(in, s, r); }, path, disc, p.e);
    });
    fclose(in);
    return rc;
}

int qscan_read_scan_stream(FILE* stream, qscan_disc** disc, qscan_error* error) {
    error_place p(error);
    if (disc != NULL)
        *disc = NULL;
    if (disc == NULL || stream == NULL)
        return fail(p.e, QSCAN_ERROR_ARGUMENT, "qscan_read_scan_stream: a stream and a place for the disc");
    const char* name = stream == stdin ? STANDARD_INPUT : THE_INPUT;
    return guarded(p.e, [&] {
        return read_scan([&](sheet* s, scan_result* r) { return sheet_read_scan(stream, s, r); }, name, disc, p.e);
    });
}

int qscan_read_scan_memory(const void* bytes, size_t size, qscan_disc** disc, qscan_error* error) {
    error_place p(error);
    if (disc != NULL)
        *disc = NULL;
    if (disc == NULL || (bytes == NULL && size > 0))
        return fail(p.e, QSCAN_ERROR_ARGUMENT, "qscan_read_scan_memory: the bytes and a place for the disc");
    return guarded(p.e, [&] {
        return read_scan([&](sheet* s, scan_result* r) { return sheet_read_scan_memory(bytes, size, s, r); },
                         THE_INPUT, disc, p.e);
    });
}

void qscan_disc_free(qscan_disc* disc) {
    delete disc;
}

void qscan_free(void* text) {
    free(text);
}

const char* qscan_disc_notes(const qscan_disc* disc) {
    return disc != NULL ? disc->notes.c_str() : "";
}

int qscan_disc_unreadable(const qscan_disc* disc) {
    return disc != NULL && disc->unreadable;
}

int qscan_image_name_usable(const char* image) {
    return image != NULL && usable_image_name(image);
}

int qscan_disc_form(const qscan_disc* disc, int form, const char* image, char** text, size_t* length, char** notes,
                    qscan_error* error) {
    error_place p(error);
    if (text != NULL)
        *text = NULL;
    if (length != NULL)
        *length = 0;
    if (notes != NULL)
        *notes = NULL;
    if (image == NULL)
        image = DEFAULT_IMAGE;
    if (disc == NULL || text == NULL || form < QSCAN_FORM_TEXT || form > QSCAN_FORM_TOC)
        return fail(p.e, QSCAN_ERROR_ARGUMENT, "qscan_disc_form: a disc, a known form and a place for the text");
    if (!usable_image_name(image))
        return fail(p.e, QSCAN_ERROR_ARGUMENT,
                    "an image name must not be empty or hold a quote or a control character: %s", image);
    return guarded(p.e, [&] {
        std::string out, said, why;
        int written = IMAGE_FORM_WRITTEN;
        switch (form) {
        case QSCAN_FORM_CUE:
        case QSCAN_FORM_TOC:
            written = form == QSCAN_FORM_CUE ? write_cue(&disc->d, image, &out, &said, &why)
                                             : write_toc_file(&disc->d, image, &out, &said, &why);
            if (written == IMAGE_FORM_NO_TRACK)
                return no_track(p.e, &disc->d.s, form == QSCAN_FORM_CUE ? "cue sheet" : "TOC file");
            if (written == IMAGE_FORM_UNFIT)
                return fail(p.e, QSCAN_ERROR_ARGUMENT, "%s", why.c_str());
            break;
        case QSCAN_FORM_JSON:
            write_json(&disc->d, &out);
            break;
        case QSCAN_FORM_SVG:
            write_svg(&disc->d, &out);
            break;
        default:
            write_text(&disc->d, &out);
            break;
        }
        char* copy = handed_out(out);
        char* said_copy = notes != NULL ? handed_out(said) : NULL;
        if (copy == NULL || (notes != NULL && said_copy == NULL)) {
            free(copy);
            free(said_copy);
            return fail(p.e, QSCAN_ERROR_MEMORY, "out of memory");
        }
        *text = copy;
        if (length != NULL)
            *length = out.size();
        if (notes != NULL)
            *notes = said_copy;
        return (int)QSCAN_OK;
    });
}

int qscan_disc_summary(const qscan_disc* disc, qscan_summary* out) {
    if (disc == NULL || out == NULL)
        return QSCAN_ERROR_ARGUMENT;
    const sheet* s = &disc->d.s;
    const disc_reading* r = &disc->d.reading;
    memset(out, 0, sizeof *out);
    bool crc = sheet_crc_known(s);
    out->first_track = s->first_track;
    out->last_track = s->last_track;
    out->lead_out = s->lead_out_seen || s->lead_out_from_toc ? (long long)s->lead_out : -1;
    out->lead_out_from_toc = s->lead_out_from_toc;
    out->complete = s->complete;
    out->q_offset = s->no_frames ? 0 : s->q_offset;
    out->sectors = s->sectors;
    out->crc_errors = crc ? (long long)s->crc_errors : -1;
    out->frames_out_of_place = s->no_frames ? -1 : (long long)s->out_of_place;
    out->unreadable_blocks = s->unreadable_blocks;
    out->missing_blocks = s->missing_blocks;
    out->unreadable_stretches = (int)s->unreadable_count;
    out->missing_stretches = (int)s->missing_count;
    if (s->mcn >= 0) {
        const sheet_code* c = &s->mcns.code[s->mcn];
        memcpy(out->mcn, c->code, MCN_LENGTH);
        out->mcn_well_formed = mcn_well_formed(c);
        out->mcn_source = code_source(c->source);
    }
    static const int SUBCHANNELS[] = {QSCAN_Q_RAW, QSCAN_Q_FORMATTED, QSCAN_Q_FORMATTED_UNCHECKED, QSCAN_Q_NONE};
    out->subchannel = SUBCHANNELS[r->subchannel];  // by sheet_subchannel
    out->from_drive = r->method != SHEET_FROM_REPORT;
    if (r->drive_known) {
        snprintf(out->drive_vendor, sizeof out->drive_vendor, "%s", r->drive.vendor);
        snprintf(out->drive_product, sizeof out->drive_product, "%s", r->drive.product);
        snprintf(out->drive_revision, sizeof out->drive_revision, "%s", r->drive.revision);
    }
    return QSCAN_OK;
}

int qscan_disc_track(const qscan_disc* disc, int number, qscan_track* out) {
    const sheet_track* t = disc != NULL ? seen_track(disc, number) : NULL;
    if (t == NULL || out == NULL)
        return QSCAN_ERROR_ARGUMENT;
    const sheet* s = &disc->d.s;
    memset(out, 0, sizeof *out);
    out->number = number;
    out->data = (t->control & CONTROL_DATA) != 0;
    out->mode = t->mode;
    out->control = t->control;
    const char* words[3];
    int count = track_flags(t, words);
    for (int i = 0; i < count; ++i)
        out->flags |= strcmp(words[i], "DCP") == 0 ? QSCAN_FLAG_DCP : strcmp(words[i], "PRE") == 0 ? QSCAN_FLAG_PRE
                                                                                                 : QSCAN_FLAG_4CH;
    out->later_session = t->later_session;
    uint32_t blocks;
    out->length = track_length(t, &blocks) ? (long long)blocks : -1;
    out->crc_errors = sheet_crc_known(s) && !t->later_session ? (long long)t->crc_errors : -1;
    out->frames_out_of_place = !s->no_frames && !t->later_session ? (long long)t->out_of_place : -1;
    out->code_count = (int)t->isrcs.count;
    out->has_isrc = t->isrc >= 0;
    return QSCAN_OK;
}

int qscan_track_index(const qscan_disc* disc, int track, int number, qscan_index* out) {
    const sheet_track* t = disc != NULL ? seen_track(disc, track) : NULL;
    if (t == NULL || out == NULL || number < 0 || number >= SHEET_INDEXES || !t->index[number].seen)
        return QSCAN_ERROR_ARGUMENT;
    const sheet_index* i = &t->index[number];
    memset(out, 0, sizeof *out);
    out->number = number;
    out->block = i->block;
    out->exact = i->exact;
    out->earliest_block = i->exact ? (long long)i->block : (long long)i->earliest;
    out->from_toc = i->from_toc;
    out->may_not_exist = i->may_not_exist;
    return QSCAN_OK;
}

int qscan_track_code(const qscan_disc* disc, int track, int place, qscan_code* out) {
    if (disc == NULL || out == NULL || place < 0)
        return QSCAN_ERROR_ARGUMENT;
    const sheet* s = &disc->d.s;
    const sheet_codes* codes;
    int chosen, length;
    if (track == 0) {
        codes = &s->mcns;
        chosen = s->mcn;
        length = MCN_LENGTH;
    } else {
        const sheet_track* t = seen_track(disc, track);
        if (t == NULL)
            return QSCAN_ERROR_ARGUMENT;
        codes = &t->isrcs;
        chosen = t->isrc;
        length = ISRC_LENGTH;
    }
    // Place 0 is the chosen code, when there is one; the others follow in order.
    int at = -1;
    if (chosen >= 0 && place == 0) {
        at = chosen;
    } else {
        int k = chosen >= 0 ? 1 : 0;
        for (unsigned i = 0; i < codes->count && at < 0; ++i)
            if ((int)i != chosen && k++ == place)
                at = (int)i;
    }
    if (at < 0)
        return QSCAN_ERROR_ARGUMENT;
    code_record(&codes->code[at], length, out);
    int other = 0;
    if (track != 0 && at != chosen && tracks_carrying(s, codes->code[at].code, track, &other, 1) > 0)
        out->also_track = other;
    return QSCAN_OK;
}

int qscan_disc_stretch(const qscan_disc* disc, int kind, int place, long long* first, long long* last) {
    if (disc == NULL || first == NULL || last == NULL || (kind != 0 && kind != 1) || place < 0)
        return QSCAN_ERROR_ARGUMENT;
    const sheet* s = &disc->d.s;
    uint32_t count = kind == 0 ? s->unreadable_count : s->missing_count;
    if ((uint32_t)place >= count || place >= SHEET_STRETCHES)
        return QSCAN_ERROR_ARGUMENT;
    const sheet_stretch* st = kind == 0 ? &s->unreadable[place] : &s->missing[place];
    *first = st->first;
    *last = st->last;
    return QSCAN_OK;
}

int qscan_disc_ids(const qscan_disc* disc, qscan_ids* out, qscan_error* error) {
    error_place p(error);
    if (disc == NULL || out == NULL)
        return fail(p.e, QSCAN_ERROR_ARGUMENT, "qscan_disc_ids: a disc and a place for its identifiers");
    return guarded(p.e, [&] {
        disc_ids ids;
        std::string why;
        if (!sheet_ids(&disc->d, &ids, &why))
            return fail(p.e, QSCAN_ERROR_ARGUMENT, "%s", why.c_str());
        memset(out, 0, sizeof *out);
        snprintf(out->musicbrainz, sizeof out->musicbrainz, "%s", ids.musicbrainz.c_str());
        snprintf(out->musicbrainz_toc, sizeof out->musicbrainz_toc, "%s", ids.musicbrainz_toc.c_str());
        snprintf(out->musicbrainz_url, sizeof out->musicbrainz_url, "%s", ids.musicbrainz_url.c_str());
        snprintf(out->freedb, sizeof out->freedb, "%s", ids.freedb.c_str());
        out->accuraterip_id1 = ids.accuraterip_id1;
        out->accuraterip_id2 = ids.accuraterip_id2;
        snprintf(out->accuraterip_file, sizeof out->accuraterip_file, "%s", ids.accuraterip_file.c_str());
        return (int)QSCAN_OK;
    });
}

int qscan_cd_text_blocks(const qscan_disc* disc) {
    return disc != NULL && disc->has_text ? (int)disc->text.blocks.size() : 0;
}

int qscan_cd_text_block(const qscan_disc* disc, int block, int* number, int* language, int* double_byte) {
    if (block < 0 || block >= qscan_cd_text_blocks(disc))
        return QSCAN_ERROR_ARGUMENT;
    const cd_text_block& b = disc->text.blocks[(size_t)block];
    if (number != NULL)
        *number = (int)b.number;
    if (language != NULL)
        *language = b.language;
    if (double_byte != NULL)
        *double_byte = b.double_byte;
    return QSCAN_OK;
}

const char* qscan_cd_text(const qscan_disc* disc, int block, int track, int kind) {
    if (block < 0 || block >= qscan_cd_text_blocks(disc) || track < 0 || track > DISC_TRACKS || kind < 0 ||
        kind >= CD_TEXT_KINDS)
        return NULL;
    const std::string& text = disc->text.blocks[(size_t)block].text[track][kind];
    return text.empty() ? NULL : text.c_str();
}

}  // extern "C"
