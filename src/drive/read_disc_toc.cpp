// Reading the table of contents: READ TOC's three formats, each answer read
// whole and checked before use, the wait for a drive that is still
// becoming ready, and an empty drive told at once.
#include "drive/read_disc_toc.h"

#include <errno.h>
#include <stdio.h>

#include "platform/win32.h"

namespace {

const sense_code BECOMING_READY = {SENSE_KEY_NOT_READY, 0x04, 0x01};
const sense_code OPERATION_IN_PROGRESS = {SENSE_KEY_NOT_READY, 0x04, 0x07};

// Adds "the drive's X is malformed: why" to *notes, where there is room.
void note(toc_notes* notes, const char* what, const char* why) {
    if (notes->count < TOC_NOTES)
        snprintf(notes->line[notes->count++], sizeof notes->line[0], "the drive's %s is malformed: %s", what, why);
}

// Format 0000b into *toc; EIO with *failure saying why, EINVAL with a note.
int read_tracks(drive_handle handle, disc_toc* toc, read_failure* failure, toc_notes* notes) {
    uint8_t answer[TOC_ANSWER_SIZE];
    uint32_t length = 0;
    bool cut = false;
    int rc = read_toc_answer(handle, TOC_FORMAT_TRACKS, 0, answer, TOC_ANSWER_SIZE, &length, &cut, failure);
    if (rc != 0)
        return rc;
    char why[ANSWER_WHY_SIZE];
    if (!toc_parse_tracks(answer, length, cut, toc, why)) {
        note(notes, "table of contents", why);
        return EINVAL;
    }
    return 0;
}

// One more format on *toc by `parse`, kept only when it parses; a refused
// command leaves *toc as it is, in silence.
// Returns whether *toc took it.
bool read_more(drive_handle handle, uint8_t format, uint8_t number, uint32_t room, disc_toc* toc,
               bool (*parse)(const uint8_t*, uint32_t, bool, disc_toc*, char*), const char* what,
               toc_notes* notes) {
    uint8_t answer[FULL_TOC_ANSWER_SIZE];  // room for the largest of them
    uint32_t length = 0;
    bool cut = false;
    read_failure ignored;
    if (room > sizeof answer || read_toc_answer(handle, format, number, answer, room, &length, &cut, &ignored) != 0)
        return false;
    disc_toc more = *toc;
    char why[ANSWER_WHY_SIZE];
    if (!parse(answer, length, cut, &more, why)) {
        note(notes, what, why);
        return false;
    }
    *toc = more;
    return true;
}

}  // namespace

bool becoming_ready(const read_failure* f) {
    return f->kind == READ_CHECK_CONDITION && !f->sense.deferred &&
           (sense_is(&f->sense, BECOMING_READY) || sense_is(&f->sense, OPERATION_IN_PROGRESS));
}

bool no_medium(const read_failure* f) {
    const sense_data* s = &f->sense;
    return f->kind == READ_CHECK_CONDITION && s->has_asc && !s->deferred && s->key == SENSE_KEY_NOT_READY &&
           s->asc == MEDIUM_NOT_PRESENT.asc;
}

int read_disc_toc(drive_handle handle, disc_toc* toc, read_failure* failure, ready_wait_notice notice,
                  void* context, toc_notes* notes) {
    notes->count = 0;
    DWORD started = GetTickCount();
    int rc;
    bool loading = false;  // the drive said "becoming ready": "no medium" may be a disc still going in
    bool told = false;
    for (;;) {
        rc = read_tracks(handle, toc, failure, notes);
        if (rc != EIO)
            break;
        loading = loading || becoming_ready(failure);
        bool wait = becoming_ready(failure) || (loading && no_medium(failure));
        if (!wait || GetTickCount() - started >= READY_WAIT_MS)
            break;  // an empty drive, one never ready, or another failure
        if (!told && notice != NULL)
            notice(context);
        told = true;
        Sleep(READY_POLL_MS);
    }
    if (rc != 0)
        return rc;
    if (!read_more(handle, TOC_FORMAT_SESSIONS, 0, TOC_ANSWER_SIZE, toc, toc_parse_sessions, "session information",
                   notes) ||
        toc->sessions == 1)
        return 0;  // one session, as far as the drive says
    read_more(handle, TOC_FORMAT_FULL, 1, FULL_TOC_ANSWER_SIZE, toc, toc_parse_full, "full table of contents", notes);
    return 0;
}
