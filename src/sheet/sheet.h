// The disc's sheet: what the Q frames of a disc say about it (tracks, index
// points, lead-out, ISRCs and catalogue number by majority, flags, CRC
// errors), gathered one block at a time in fixed-size records. One frame is
// no evidence: a track, an index's start and the lead-out count only when
// the next good position frame agrees with the frame that shows them first.
#ifndef QSCAN_SHEET_SHEET_H
#define QSCAN_SHEET_SHEET_H

#include <stddef.h>
#include <stdint.h>

#include "disc/toc.h"
#include "subchannel.h"

enum {
    SHEET_INDEXES = 100,      // index numbers 0-99
    SHEET_CODES = 16,         // distinct codes counted per track, and for the disc
    SHEET_VOTES = 8,          // distinct start blocks counted per track, and for the lead-out
    SHEET_BINS = 6000,        // seconds of disc time: 100 minutes; a longer scan merges them in pairs
    BIN_CODES = 2,            // distinct ISRCs a bin tells apart
    // Blocks whose frames are kept one by one, for the counts by block
    // range: every block a disc time can name (99:59.74 is the last).
    SHEET_BLOCKS = 100 * FRAMES_PER_MINUTE - BLOCK_0_FRAMES,
    SHEET_OFFSET_RANGE = 5,   // Q offsets told apart: -5 to +5 blocks
    SHEET_STRAYS_LISTED = 16, // stray frames listed by block
    SHEET_HELD = 16,          // ISRC frames held until the sheet knows their track
    SHEET_STRETCHES = 64,     // unreadable stretches listed
    SHEET_MODE_RUNS = 256,    // runs of blocks of one sector mode kept, for the data tracks' modes
    // Frames that must agree before a track, an index or the lead-out counts:
    // two where the drive's CRC checks each frame, three where nothing does.
    SHEET_AGREEING = 2,
    SHEET_AGREEING_UNCHECKED = 3,
    TOC_LEEWAY = 75           // blocks an audio track's start in the table of contents may lie from its frames'
};

// Where a code or an index point comes from.
enum sheet_source {
    SOURCE_Q,        // the Q frames read
    SOURCE_DRIVE,    // the drive's own report (READ SUB-CHANNEL), no frame of it read
    SOURCE_CD_TEXT,  // the disc's CD-Text, no frame of it read
    SOURCE_TOC       // the table of contents, no frame of it read
};

// A stretch of blocks the sheet lacks, first to last: blocks the drive could
// not read, or lines a saved scan lost between two that agree on where they
// are (`after_line`, the file's line before the hole; 0: the scan's start).
struct sheet_stretch {
    uint32_t first, last;
    uint64_t after_line;
};

// The CONTROL nibble's bits.
enum {
    CONTROL_PRE_EMPHASIS = 0x1,  // on a data track: recorded incrementally
    CONTROL_COPY_PERMITTED = 0x2,
    CONTROL_DATA = 0x4,
    CONTROL_FOUR_CHANNELS = 0x8  // reserved on a data track
};

// One code (an ISRC's 12 characters or a catalogue number's 13 digits, not
// terminated) and the frames that carried it. Blocks are the scan's until
// sheet_finish, the disc's own after it.
struct sheet_code {
    char code[MCN_LENGTH];
    uint32_t frames;                  // 0 for a code no frame carried
    uint32_t first_block, last_block;
    uint8_t source;                   // a sheet_source
};

// The codes of one track, or the catalogue numbers of the disc, in the order
// of their first block. A code that comes when SHEET_CODES are counted
// already is counted in `uncounted` only.
struct sheet_codes {
    sheet_code code[SHEET_CODES];
    unsigned count;
    uint32_t uncounted;
};

// Start blocks that frames computed from their own times, and how many gave
// each; the same bound as above.
struct sheet_vote {
    int64_t block;
    uint32_t frames;
};
struct sheet_votes {
    sheet_vote vote[SHEET_VOTES];
    unsigned count;
    uint32_t uncounted;
};

// No position frame: the value of an offset that is not there.
const int8_t NO_OFFSET = INT8_MIN;

struct sheet_index {
    bool seen;
    bool from_toc;  // the table of contents' start, no Q frame of it read
    // The start is known to the block: computed from the frames' times, or
    // the block before carries a good position frame, in place, of what came
    // before. Worked out by sheet_finish.
    bool exact;
    uint32_t block;     // the disc's own block (sheet_finish)
    uint32_t earliest;  // when not exact: the earliest block at which it may begin
    bool filled_in;     // not exact only since the frame before may be one the drive filled in
    // An index 00 no frame shows that may lie hidden in a stretch without
    // good frames before index 01: `block` is index 01's, `earliest` the
    // stretch's first block; the pregap may not exist at all.
    bool may_not_exist;
    // The evidence, in the scan's blocks, until sheet_finish places it.
    uint32_t seen_at;        // the block of the first frame that shows it
    uint32_t after;          // the block after the last position frame before it; 0 for none
    int8_t offset;           // that first frame's Q offset
    int8_t before_offset;    // the Q offset of a position frame in the block before, or NO_OFFSET
    bool before_fits;        // ... which shows what comes before this index
};

// What one stretch of disc time (seconds_per_bin seconds) holds, for the
// picture of the disc. An ISRC is named by its track and its place in that
// track's codes (isrc_ref).
struct sheet_bin {
    uint32_t crc_errors;
    uint32_t out_of_place;
    uint16_t isrcs[BIN_CODES];  // 0: none
    bool more_isrcs;            // ... and others beside them
    uint16_t mcns;              // a bit for each place in the disc's catalogue numbers
};

struct sheet_track {
    bool seen;  // a position frame of it was confirmed by the next one, or the table of contents lists it unread
    bool later_session;  // a track of a later session, not read: as the table of contents gives it
    sheet_index index[SHEET_INDEXES];
    sheet_votes index1;               // disc time minus track time, index 1 and above
    uint32_t first_after;             // the scan's block after the last position frame before its first one
    uint32_t control_frames[16];      // its believed position frames by CONTROL nibble
    sheet_codes isrcs;

    // Filled in by sheet_finish:
    uint8_t control;       // the nibble most of its position frames carry
    uint8_t mode;          // a data track's sector mode (1 or 2) from its first sector read; 0: not known
    int isrc;              // the code in isrcs most frames carry (the first of a tie), or -1
    uint32_t end;          // the block after its last: the next track's first index, the lead-out or the scan's end
    uint32_t crc_errors;   // in its blocks, from its first index to the next track's
    uint32_t out_of_place; // position frames in its blocks whose Q offset is not the disc's
};

// A good position frame as the sheet weighs it.
struct sheet_position {
    uint32_t block;   // the scan's block that carried it
    int track;        // 1-99; 0 for the lead-out
    unsigned index;
    unsigned order;   // track * 100 + index, the lead-out after every track
    uint8_t control;
    int64_t disc;     // its disc time, as a block
    int64_t start;    // disc time minus track time, as a block
    int64_t offset;   // disc time minus the block's own: its Q offset
};

// An ISRC frame whose track waits on a pending frame or on the first
// position frame after a gap in the blocks read.
struct sheet_held {
    uint32_t block;
    char code[ISRC_LENGTH];
};

// A run of blocks read one after the other whose main channel shows one
// sector mode (0: no data sector header, as audio), `first` to `last`.
struct sheet_mode_run {
    uint32_t first, last;
    uint8_t mode;
};

struct sheet {
    uint32_t sectors;      // blocks whose Q frame was fed in: a saved scan's lines, a drive's blocks read
    uint32_t unreadable_blocks;  // blocks the drive could not read
    uint32_t unreadable_count;   // stretches of them, the first SHEET_STRETCHES listed
    sheet_stretch unreadable[SHEET_STRETCHES];
    uint32_t missing_blocks;     // blocks a saved scan lacks
    uint32_t missing_count;      // stretches of them, the first SHEET_STRETCHES listed
    sheet_stretch missing[SHEET_STRETCHES];
    bool fed;              // a block has been fed in, of any kind
    uint32_t end;          // the block after the last fed in: the end of the scan
    uint32_t crc_errors;
    uint32_t good_frames;     // frames that passed their CRC check
    uint32_t good_positions;  // ... of them position frames
    uint32_t malformed;    // good position frames that carry no position (not BCD, track 00)
    uint32_t stray;        // position frames that showed something new and that nothing confirmed
    uint32_t stray_block[SHEET_STRAYS_LISTED];
    uint32_t isrc_outside; // good ISRC frames in no track: before any, or in the lead-out
    sheet_track track[DISC_TRACKS + 1];  // by number; track[0] is not used
    sheet_votes lead_out_votes;
    bool lead_out_confirmed;
    sheet_codes mcns;
    sheet_bin bins[SHEET_BINS];
    uint32_t seconds_per_bin;

    // What each block held (a block_state), two to a byte, in the scan's
    // blocks; and what the blocks beyond SHEET_BLOCKS held, counted.
    uint8_t blocks[SHEET_BLOCKS / 2];
    uint32_t beyond_crc_errors;
    uint32_t offsets[2 * SHEET_OFFSET_RANGE + 2];  // position frames by Q offset; the last: further off
    uint32_t beyond_offsets[2 * SHEET_OFFSET_RANGE + 2];

    // Following the disc. The order of a position is track * 100 + index,
    // the lead-out after every track.
    bool any_position;        // a position frame has been believed
    unsigned order;           // ... the order of the last one believed
    int running_track;        // the track the last believed frame is in; 0 for none or the lead-out
    uint32_t last_block;      // the block of the last position frame taken (believed or not new)
    int8_t last_offset;
    unsigned last_order;
    bool after_gap;           // blocks before this were not read: the track is unknown until a position frame
    // A frame that shows something for the first time (a track, an index,
    // the lead-out), waiting for the next good position frames to agree,
    // and those that agreed with it so far: pending[0] is that frame.
    unsigned agreeing;        // frames that must agree, the first included: SHEET_AGREEING or SHEET_AGREEING_UNCHECKED
    unsigned waiting;         // frames in pending; 0 when none waits
    sheet_position pending[SHEET_AGREEING_UNCHECKED - 1];
    sheet_held held[SHEET_HELD];
    unsigned held_count;
    // Frames taken unchecked (sheet_take_unchecked): those that disagree with
    // their block, and code frames of codes too rare to count.
    bool unchecked;
    // The drive reports codes that no frame read carries: it fills the code
    // frames in with positions of its own (sheet_finish), so the block before
    // a start may not show what the disc has there.
    bool codes_filled_in;
    uint32_t disagreeing;         // frames whose disc time is not near their block's: used for nothing
    uint32_t codes_unconfirmed;   // frames of codes fewer than `agreeing` frames carried
    // What the drive reports itself of the codes (READ SUB-CHANNEL), by track; [0] the catalogue number.
    bool drive_code_known[DISC_TRACKS + 1];
    char drive_code[DISC_TRACKS + 1][MCN_LENGTH];
    sheet_mode_run mode_runs[SHEET_MODE_RUNS];
    unsigned mode_run_count;

    // The disc's table of contents, as the caller gives it (sheet_use_toc).
    bool toc_known;
    disc_toc toc;
    char toc_impossible[ANSWER_WHY_SIZE];  // what no disc can have in it ("" for a table that can be right)
    bool no_frames;         // the drive gives no subchannel: the sheet is the table of contents' (sheet_no_frames)
    // A track's ISRC as its CD-Text gives it (sheet_add_cd_text_code).
    bool cd_text_code_known[DISC_TRACKS + 1];
    char cd_text_code[DISC_TRACKS + 1][ISRC_LENGTH];

    // Filled in by sheet_finish:
    int q_offset;                 // the Q offset most position frames show: disc time minus the block's own
    int first_track, last_track;  // 0 when no track was seen
    int mcn;                      // index in mcns of the majority, or -1
    bool lead_out_seen;           // from its own frames
    bool lead_out_from_toc;       // ... or else from the table of contents
    uint32_t lead_out;            // the first session's lead-out's first block, or the end of the scan
    bool complete;                // the blocks reach the lead-out, or the drive's table of contents says where it is and nothing needed was unreadable
    uint32_t out_of_place;        // position frames whose Q offset is not the disc's
    uint32_t crc_errors_before;   // CRC errors before the first track's first index
};

// Whether the sheet has a table of contents that can be right: the one the
// lead-out, the tracks of later sessions and the identifiers come from.
inline bool sheet_toc_trusted(const sheet* s) {
    return s->toc_known && s->toc_impossible[0] == '\0';
}

// Whether the CRC errors counted mean anything: the frames were checked
// against their CRC, and there were frames at all.
inline bool sheet_crc_known(const sheet* s) {
    return !s->unchecked && !s->no_frames;
}

// Starts an empty sheet.
void sheet_start(sheet* s);

// Feeds the Q bytes of block b. Blocks come in ascending order, each at most
// once; a block that does not follow the last one fed starts a new stretch,
// as a targeted read leaves them. Returns false, and takes nothing in, when
// the sheet holds as many blocks as a block number can count.
bool sheet_add(sheet* s, uint32_t b, const uint8_t q[Q_SIZE]);

// Feeds block b as one the drive could not read, and lists it with the
// unreadable stretches.
bool sheet_add_unreadable(sheet* s, uint32_t b);

// Blocks first to last, which a saved scan lacks: its lines after file line
// `after_line` are placed on the disc from last + 1 on. Treated as blocks
// the drive could not read; listed apart.
bool sheet_add_missing(sheet* s, uint32_t first, uint32_t last, uint64_t after_line);

// Before the first block: the frames to come are not checked by any CRC
// (formatted Q whose CRC field the drive leaves zero). Every track, index,
// lead-out and code then needs SHEET_AGREEING_UNCHECKED agreeing frames, and
// a frame whose disc time does not lie near its block's is taken for damage.
void sheet_take_unchecked(sheet* s);

// The sector mode the main channel of block b shows (sector_data_mode),
// for the data tracks' modes; called with the blocks in ascending order.
void sheet_add_mode(sheet* s, uint32_t b, uint8_t mode);

// The disc's table of contents: the tracks of its later sessions, its
// lead-out where no frame shows it, its identifiers; judged with
// toc_impossible, and used for none of it when no disc can have it.
void sheet_use_toc(sheet* s, const disc_toc* toc);

// Before finishing: no frame comes, since the drive returns no subchannel.
// The sheet is the table of contents': every track, its index 01.
void sheet_no_frames(sheet* s);

// A track's ISRC as the disc's CD-Text gives it, in the form the Q frames
// carry it (cd_text_code_as_q): used where neither frames nor the drive give one.
void sheet_add_cd_text_code(sheet* s, int n, const char code[ISRC_LENGTH]);

// What the drive itself reports of a code (READ SUB-CHANNEL): track n's
// ISRC, or with n 0 the catalogue number (MCN_LENGTH characters). Used
// where no frame carries one.
void sheet_add_drive_code(sheet* s, int n, const char* code);

// Works out the Q offset, the majorities, the track ends, the counts by
// block range and the lead-out, once all blocks are in.
void sheet_finish(sheet* s);

// The place among `count` items, laid out `stride` bytes apart, of the one
// whose count of frames (at `frames`, then every `stride` bytes) is largest:
// the first of a tie; -1 when there are none.
int majority(const uint32_t* frames, unsigned count, size_t stride);

// The majority among the votes: the value most frames gave; -1 when there are none.
int64_t sheet_majority(const sheet_votes* v);

// An ISRC in a bin: track n's code at `place` in its codes (SHEET_CODES for
// one not counted one by one).
uint16_t isrc_ref(int track, unsigned place);

// The bin of disc time that the disc's block b falls in.
uint32_t bin_of_block(const sheet* s, uint32_t b);

// The chosen ISRC of a track, or NULL.
const sheet_code* track_isrc(const sheet_track* t);

// A catalogue number of thirteen zeros, an ISRC of twelve: carried, but no code.
bool code_is_zero(const sheet_code* c, int length);

// Whether a code is one the standard allows and that names something, as
// cue sheet readers and databases take it: an ISRC of a country of two
// letters, a registrant of three letters or digits, a year of two digits
// and a designation of five; a catalogue number of thirteen digits whose
// EAN-13 check digit is right; neither all zeros.
bool isrc_well_formed(const sheet_code* c);
bool mcn_well_formed(const sheet_code* c);
bool ean_check_digit_right(const char digits[MCN_LENGTH]);

// The tracks other than `except` whose chosen ISRC is `code`, at most
// `room` of them in out, in order; returns how many.
unsigned tracks_carrying(const sheet* s, const char* code, int except, int* out, unsigned room);

// The flags of a track as cue sheets name them, in the order DCP 4CH PRE
// (a data track has neither of the last two); returns how many.
int track_flags(const sheet_track* t, const char* flags[3]);

// The first index a track shows (its start in the rows), or NULL.
const sheet_index* first_index(const sheet_track* t);

// The length of a track in blocks, from its index 01 to its end; false when
// its index 01 was not seen or its end does not lie after it.
bool track_length(const sheet_track* t, uint32_t* blocks);

// Where the table of contents and the Q frames disagree: a track's start
// (its index 01), a track one of them lacks (-1), or the lead-out (track 0).
struct toc_disagreement {
    int track;
    int64_t toc_block, q_block;
};
unsigned sheet_toc_disagreements(const sheet* s, toc_disagreement* out, unsigned room);

// Of the disc's own blocks [first, end) (negative: before block 0, never
// read), how many were read (a frame came, damaged or not) and how many
// lack one (the drive could not read them, or a saved scan lost their
// lines); the rest were not read. Blocks past those kept one by one count as
// read up to the end of the scan. After sheet_finish.
void sheet_count_read(const sheet* s, int64_t first, int64_t end, uint32_t* read, uint32_t* lacking);


#endif
