/* libqscan: a compact disc's sheet from a drive or a saved scan, as a C
 * library. The same sheet qscan-sheet prints: each track's ISRC by majority
 * with its evidence, exact index points, flags, the catalogue number, the
 * disc's identifiers, its CD-Text; and the forms (text, cue sheet, JSON,
 * SVG, TOC file) as qscan-sheet writes them.
 *
 * Contract: every function is safe to call from any thread, on different
 * discs at once; a qscan_disc is read-only once made and may be shared.
 * Nothing is printed. Results are integers (QSCAN_OK or a qscan_result);
 * texts the library hands out are freed with qscan_free, a disc with
 * qscan_disc_free. Strings are UTF-8. Blocks are a disc's logical blocks:
 * block 0 is at disc time 00:02.00. The ABI is versioned: QSCAN_API_VERSION
 * grows when something is added, and nothing is ever taken away or changed. */
#ifndef QSCAN_H
#define QSCAN_H

#include <stddef.h>
#include <stdio.h>

/* On Windows a program that links the library's code in, not qscan.dll,
 * defines QSCAN_STATIC. */
#if defined(_WIN32) && defined(QSCAN_BUILDING_LIBRARY)
#define QSCAN_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(QSCAN_STATIC)
#define QSCAN_API __declspec(dllimport)
#elif defined(__GNUC__)
#define QSCAN_API __attribute__((visibility("default")))
#else
#define QSCAN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface this header describes; qscan_api_version() gives the one
 * of the library loaded, which a program compares with it. */
#define QSCAN_API_VERSION 2

QSCAN_API int qscan_api_version(void);
QSCAN_API const char* qscan_version(void); /* "0.2.0" */

enum qscan_result {
    QSCAN_OK = 0,
    QSCAN_ERROR_ARGUMENT,     /* a NULL where none may be, a form or flag unknown */
    QSCAN_ERROR_OPEN,         /* the drive cannot be opened */
    QSCAN_ERROR_READ,         /* the drive read nothing of the disc (sense data in the error) */
    QSCAN_ERROR_DISC_CHANGED, /* the drive says the disc may have changed after the read began (at `block`) */
    QSCAN_ERROR_DISC_GONE,    /* the drive says its disc went, or is not ready, after the read began (at `block`) */
    QSCAN_ERROR_STOPPED,      /* the progress function asked to stop */
    QSCAN_ERROR_SCAN,         /* a saved scan that is not qscan -r's report, or holds two scans (at `line`) */
    QSCAN_ERROR_INPUT,        /* a saved scan that cannot be read (`system_error`) */
    QSCAN_ERROR_NOT_RAW,      /* no Q frame passed its CRC check: no disc's raw P-W subchannel */
    QSCAN_ERROR_NO_TRACK,     /* a cue sheet or TOC file of a disc with no track whose index 01 was seen */
    QSCAN_ERROR_MEMORY,
    QSCAN_ERROR_INTERNAL      /* a fault of the library's own (message says what) */
};

/* Why something failed, in the words qscan-sheet says it. */
typedef struct qscan_error {
    int result;                /* a qscan_result */
    int has_sense;             /* the drive said why: */
    unsigned char sense_key;   /*   its sense key, */
    unsigned char asc, ascq;   /*   additional sense code and qualifier */
    long long block;           /* the block it is about, or -1 */
    long long line;            /* the saved scan's line it is about, or -1 */
    int system_error;          /* the system's error number, or 0 */
    char message[1024];        /* one line: "the drive says at block 3000 that ..." (cut at 1023 bytes) */
    char detail[512];          /* the drive's or the system's own words, lines parted by '\n'; may be empty */
} qscan_error;

typedef struct qscan_disc qscan_disc;

/* Called as a drive's blocks are read: `done` blocks of some `total`, the
 * blocks the read plans to need, which changes as it learns more (more
 * where a start needs a longer look, fewer where it needs less); `what` the
 * words for what is read now ("reading track 3's codes",
 * QSCAN_READING_WHOLE_DISC). The first call, before the table of contents
 * is read, has done and total 0; the last, once every block is in, has done
 * equal to total. Return nonzero to stop the read: it then fails with
 * QSCAN_ERROR_STOPPED; asked on the last call, when nothing is left to
 * read, the stop is not heard. While the drive becomes ready, `what` is
 * QSCAN_WAITING (done and total 0), and the answer is not heard either:
 * the drive is given the time it takes. */
#define QSCAN_READING_WHOLE_DISC "reading the whole disc"
#define QSCAN_WAITING "waiting for the drive"
typedef int (*qscan_progress_fn)(void* context, unsigned long long done, unsigned long long total, const char* what);

/* Called with each line of qscan_disc_notes as the read comes to it (no
 * line end): those of a read that then fails included, which no disc keeps. */
typedef void (*qscan_note_fn)(void* context, const char* line);

enum qscan_read_flags {
    QSCAN_READ_FULL = 1 /* every block of the disc, not only those the sheet needs */
};

/* Reads the disc in a drive: "D:" (a drive letter and its colon) or, on
 * Linux, the path of its node ("/dev/sr0"). On success *disc is a new disc
 * (free it with qscan_disc_free) and the result QSCAN_OK, blocks the drive
 * could not read included (qscan_disc_unreadable says so). On failure
 * *disc is NULL and *error (when not NULL) says why. `progress` and `note`
 * may be NULL; `context` goes to both. */
QSCAN_API int qscan_read_drive(const char* device, unsigned flags, qscan_progress_fn progress, qscan_note_fn note,
                               void* context, qscan_disc** disc, qscan_error* error);

/* Whether `name` names a drive qscan_read_drive reads ("D:", or on Linux a
 * block or character device such as "/dev/sr0"), not a file (from version 2). */
QSCAN_API int qscan_names_drive(const char* name);

/* Reads a saved scan (qscan -r's report): from a file, a stream open for
 * reading in binary, or bytes in memory. As qscan_read_drive for the rest. */
QSCAN_API int qscan_read_scan_file(const char* path, qscan_disc** disc, qscan_error* error);
QSCAN_API int qscan_read_scan_stream(FILE* stream, qscan_disc** disc, qscan_error* error);
QSCAN_API int qscan_read_scan_memory(const void* bytes, size_t size, qscan_disc** disc, qscan_error* error);

QSCAN_API void qscan_disc_free(qscan_disc* disc);
QSCAN_API void qscan_free(void* text);

/* What the read said a person should know (an answer of the drive that
 * could not be used, lines lost from a scan), lines parted by '\n'; "" for
 * nothing. Valid while the disc is. */
QSCAN_API const char* qscan_disc_notes(const qscan_disc* disc);

/* Whether blocks the sheet needed could not be read: the sheet lists them. */
QSCAN_API int qscan_disc_unreadable(const qscan_disc* disc);

enum qscan_form {
    QSCAN_FORM_TEXT,  /* the sheet for a person */
    QSCAN_FORM_CUE,   /* a cue sheet for an image of the disc from block 0 */
    QSCAN_FORM_JSON,  /* one JSON object, as qscan-sheet --json */
    QSCAN_FORM_SVG,   /* a picture of the disc */
    QSCAN_FORM_TOC    /* a TOC file for burning a copy from that image (from version 2) */
};

/* Whether `image` may be named in a cue sheet or TOC file: not empty, no
 * quote, no control character (from version 2). */
QSCAN_API int qscan_image_name_usable(const char* image);

/* A form of the sheet, as qscan-sheet writes it: *text (and *length, if not
 * NULL) gets a new string, freed with qscan_free; `image` names the image a
 * cue sheet or TOC file is for (NULL: "disc.bin"; a name ending in ".wav",
 * in any case, is audio in a WAVE file, any other raw 2352-byte sectors);
 * *notes (if not NULL) gets what such a form cannot say, lines parted by
 * '\n', freed with qscan_free. A cue sheet or TOC file of a disc with no
 * track whose index 01 was seen fails with QSCAN_ERROR_NO_TRACK; one of a
 * disc with data tracks for a WAVE image with QSCAN_ERROR_ARGUMENT. */
QSCAN_API int qscan_disc_form(const qscan_disc* disc, int form, const char* image, char** text, size_t* length,
                              char** notes, qscan_error* error);

/* The disc, as the sheet has it. Blocks and counts are -1 where they are not
 * known. */
typedef struct qscan_summary {
    int first_track, last_track;  /* 0 for a disc without tracks */
    long long lead_out;           /* its first block */
    int lead_out_from_toc;        /* ... as the drive's table of contents gives it, no frame of it read */
    int complete;                 /* the sheet has every block it needs, to the lead-out */
    int q_offset;                 /* the drive's Q: disc time minus the block's own */
    long long sectors;            /* Q frames read: the lines of a saved scan, the blocks read of a drive */
    long long crc_errors;         /* -1: the drive gives no CRC */
    long long frames_out_of_place;
    long long unreadable_blocks, missing_blocks;
    int unreadable_stretches, missing_stretches;
    char mcn[14];                 /* the catalogue number, "" for none */
    int mcn_well_formed;
    int mcn_source;               /* a qscan_source */
    int subchannel;               /* a qscan_subchannel */
    int from_drive;               /* read from a drive, not a saved scan */
    char drive_vendor[9], drive_product[17], drive_revision[5]; /* "" when the drive did not say */
} qscan_summary;

enum qscan_source { QSCAN_SOURCE_Q, QSCAN_SOURCE_DRIVE, QSCAN_SOURCE_CD_TEXT, QSCAN_SOURCE_TOC };
enum qscan_subchannel { QSCAN_Q_RAW, QSCAN_Q_FORMATTED, QSCAN_Q_FORMATTED_UNCHECKED, QSCAN_Q_NONE };

QSCAN_API int qscan_disc_summary(const qscan_disc* disc, qscan_summary* out);

enum qscan_flag { QSCAN_FLAG_DCP = 1, QSCAN_FLAG_PRE = 2, QSCAN_FLAG_4CH = 4 };

typedef struct qscan_track {
    int number;
    int data;                /* a data track */
    int mode;                /* its sector mode, 1 or 2; 0 unknown, or audio */
    int control;             /* the CONTROL nibble most of its frames carry */
    int flags;               /* qscan_flag bits */
    int later_session;       /* a track of a later session, as the table of contents gives it */
    long long length;        /* blocks from index 01 to its end, or -1 */
    long long crc_errors;    /* in its blocks, or -1 */
    long long frames_out_of_place;
    int code_count;          /* its ISRCs: code 0 is its own (the majority), if any */
    int has_isrc;
} qscan_track;

/* Track `number`; QSCAN_ERROR_ARGUMENT for one the sheet does not have. */
QSCAN_API int qscan_disc_track(const qscan_disc* disc, int number, qscan_track* out);

typedef struct qscan_index {
    int number;              /* 0 (the pregap) to 99 */
    long long block;
    int exact;               /* known to the block */
    long long earliest_block;/* when not exact, the earliest it may begin */
    int from_toc;            /* as the table of contents gives it, no frame of it read */
    int may_not_exist;       /* a pregap a stretch without good frames may hide */
} qscan_index;

/* Index `number` of track `track`; QSCAN_ERROR_ARGUMENT where there is none. */
QSCAN_API int qscan_track_index(const qscan_disc* disc, int track, int number, qscan_index* out);

typedef struct qscan_code {
    char code[14];           /* an ISRC's 12 characters or a catalogue number's 13 digits */
    long long frames;        /* the frames that carry it; 0 for one no frame read carries */
    long long first_block, last_block; /* -1 for one no frame carries */
    int well_formed;
    int source;              /* a qscan_source */
    int also_track;          /* another track whose own ISRC this is, or 0 */
} qscan_code;

/* A track's ISRCs: place 0 its own (when has_isrc), then every other code
 * found in it, in the order of their first block; track 0 the disc's
 * catalogue numbers. QSCAN_ERROR_ARGUMENT past the last. */
QSCAN_API int qscan_track_code(const qscan_disc* disc, int track, int place, qscan_code* out);

/* A stretch of blocks the sheet lacks: `kind` 0 for blocks the drive could
 * not read, 1 for lines a saved scan lost; the first 64 of each are kept. */
QSCAN_API int qscan_disc_stretch(const qscan_disc* disc, int kind, int place, long long* first, long long* last);

typedef struct qscan_ids {
    char musicbrainz[29];
    char musicbrainz_toc[1024];
    char musicbrainz_url[1200];
    char freedb[9];
    unsigned accuraterip_id1, accuraterip_id2;
    char accuraterip_file[48];
} qscan_ids;

/* The disc's identifiers; QSCAN_ERROR_ARGUMENT, with why in error->message,
 * when the sheet cannot give them. */
QSCAN_API int qscan_disc_ids(const qscan_disc* disc, qscan_ids* out, qscan_error* error);

enum qscan_text_kind {
    QSCAN_TEXT_TITLE, QSCAN_TEXT_PERFORMER, QSCAN_TEXT_SONGWRITER, QSCAN_TEXT_COMPOSER, QSCAN_TEXT_ARRANGER,
    QSCAN_TEXT_MESSAGE, QSCAN_TEXT_DISC_ID, QSCAN_TEXT_GENRE, QSCAN_TEXT_CODE
};

/* The CD-Text's blocks (languages): how many; a block's number, language
 * code and whether its texts are double-byte (then given as hex); a text of
 * a block, track (0: the disc) and kind, or NULL for none. Valid while the
 * disc is. */
QSCAN_API int qscan_cd_text_blocks(const qscan_disc* disc);
QSCAN_API int qscan_cd_text_block(const qscan_disc* disc, int block, int* number, int* language, int* double_byte);
QSCAN_API const char* qscan_cd_text(const qscan_disc* disc, int block, int track, int kind);

#ifdef __cplusplus
}
#endif

#endif
