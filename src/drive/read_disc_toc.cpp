// Reading the table of contents: READ TOC's three formats, and the wait for a
// drive that is still becoming ready.
#include "drive/read_disc_toc.h"

#include <errno.h>

#include "platform/win32.h"

namespace {

int read_tracks(drive_handle handle, disc_toc* toc, read_failure* failure) {
    uint8_t answer[TOC_ANSWER_SIZE];
    uint32_t length = 0;
    int rc = read_toc(handle, TOC_FORMAT_TRACKS, 0, answer, sizeof answer, &length, failure);
    if (rc != 0)
        return rc;
    return toc_parse_tracks(answer, length, toc) ? 0 : EINVAL;
}

}  // namespace

bool becoming_ready(const read_failure* f) {
    const sense_data* s = &f->sense;
    return f->kind == READ_CHECK_CONDITION && s->has_asc && !s->deferred && s->key == SENSE_KEY_NOT_READY &&
           ((s->asc == 0x04 && (s->ascq == 0x01 || s->ascq == 0x07)) || s->asc == MEDIUM_NOT_PRESENT.asc);
}

int read_disc_toc(drive_handle handle, disc_toc* toc, read_failure* failure, ready_wait_notice notice,
                  void* context) {
    DWORD started = GetTickCount();
    int rc;
    bool told = false;
    while ((rc = read_tracks(handle, toc, failure)) == EIO && becoming_ready(failure) &&
           GetTickCount() - started < READY_WAIT_MS) {
        if (!told && notice != NULL)
            notice(context);
        told = true;
        Sleep(READY_POLL_MS);
    }
    if (rc != 0)
        return rc;
    uint8_t answer[FULL_TOC_ANSWER_SIZE];
    uint32_t length = 0;
    read_failure ignored;
    if (read_toc(handle, TOC_FORMAT_SESSIONS, 0, answer, TOC_ANSWER_SIZE, &length, &ignored) != 0 ||
        !toc_parse_sessions(answer, length, toc) || toc->sessions == 1)
        return 0;  // one session, as far as the drive says
    if (read_toc(handle, TOC_FORMAT_FULL, 1, answer, sizeof answer, &length, &ignored) == 0) {
        disc_toc full = *toc;
        if (toc_parse_full(answer, length, &full))
            *toc = full;
    }
    return 0;
}
