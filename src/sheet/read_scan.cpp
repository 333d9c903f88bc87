// Placing a saved scan's lines on the disc. The scan's Q offset (a position
// frame's disc time minus its line's block) is set by the first two
// position frames that agree with each other; from then on every line is
// block n plus what lost and repeated lines before it add. A position frame
// at another offset waits for the next one: agreeing with it, the offset
// has changed, and the lines are placed anew by disc time (ahead: the
// blocks between are missing; behind by IN_PLACE blocks at most: the lines
// that fall on blocks placed already are repeats, left out; further behind:
// the disc starts again). Not agreeing, it is one frame out of place, and
// one frame is no evidence: nothing moves. A change the frames undo within
// HELD_MOST lines (back to the offset before it) was a stretch of frames out
// of place, as drives give the Q of a neighbouring block, not lines lost and
// repeated: those lines stay on their blocks.
//
// Worked example: lines 5000 to 5004 lost (sed '5000,5004d'), so that file
// line 5000 holds block 5004. Its position frame shows disc time 5004 + 150,
// four blocks ahead; the next position frame agrees, so blocks 4999 to 5003
// are missing (after line 4999) and line 5000 goes to block 5004. Line 5000
// repeated (sed '5000p'): the copy, at line 5001, shows block 4999 a block
// behind; the next frame agrees, and the copy is left out as a repeat. Lines
// 2990 to 3009 each carrying the Q of the block before (a drive's stretch
// out of place): the change back at line 3010 undoes the one at 2990, and
// every line stays block n.
#include "sheet/read_scan.h"

#include <errno.h>
#include <string.h>

#include <memory>
#include <vector>

namespace {

// Blocks a scan's offset may go back and its lines still be one scan with
// repeated lines; further back, the disc starts again.
const int64_t IN_PLACE = SHEET_OFFSET_RANGE;
// Lines kept unplaced after the last position frame in place, waiting for
// one to say where they lie, or after a change of offset, for one to undo
// it; a stretch longer than this without one is placed where the offset
// before it puts it, and a change not undone by then is taken.
const size_t HELD_MOST = 1024;

struct line {
    uint64_t number;  // the file's line
    uint64_t index;   // the raw line's place among the raw lines, from 0
    uint8_t q[Q_SIZE];
};

// Whether a line is a good code frame whose disc-time frame number is
// that of disc block `disc_block`: code frames carry no more of where they are.
bool code_frame_fits(const uint8_t q[Q_SIZE], int64_t disc_block) {
    q_frame f;
    if (decode_q(q, &f) != 0)
        return false;
    int mode = f.adr_control >> 4;
    return (mode == 2 && frame_number_within(f.mcn.abs_f, disc_block, 0)) ||
           (mode == 3 && frame_number_within(f.isrc.abs_f, disc_block, 0));
}

struct placer {
    sheet* s;
    scan_result* r;
    int64_t shift = 0;          // block minus raw line index
    bool established = false;   // two agreeing position frames have set the offset:
    int64_t offset = 0;         // ... disc time minus block
    bool have_previous = false; // before that, the last position frame
    q_position previous = {};
    uint64_t previous_index = 0;
    bool anchored = false;      // a frame in place has been seen
    int64_t anchor_disc = 0;    // ... its disc time, as a block
    uint64_t last_number = 0;   // the file's line of the last raw line placed
    std::vector<line> held;     // lines after the last frame in place, not yet placed
    bool waiting = false;       // held[far_at] is a frame at another offset, waiting
    size_t far_at = 0;
    q_position far = {};
    bool tentative = false;     // a confirmed change of `shift` not yet taken, which later frames may undo:
    size_t moved_at = 0;        // ... held[moved_at] is the first line it moves
    int64_t change_held = 0;    // ... by so many blocks

    // The shift the lines held are placed by when they are placed.
    int64_t shift_now() const { return tentative ? shift + change_held : shift; }

    // Puts a line where the shift says: after the last block placed (lines
    // lost before it: missing blocks), or on one placed already (a repeat).
    bool add(const line& l) {
        int64_t b = (int64_t)l.index + shift;
        int64_t next = s->fed ? (int64_t)s->end : 0;
        if (b < next) {
            if (r->repeated_lines++ == 0) {
                r->repeated_first_line = l.number;
                r->repeated_first_at = disc_frames_of_block(b + offset);
            }
            return true;
        }
        if (b >= (int64_t)UINT32_MAX || (b > next && !sheet_add_missing(s, (uint32_t)next, (uint32_t)(b - 1),
                                                                       last_number)) ||
            !sheet_add(s, (uint32_t)b, l.q)) {
            r->outcome = SCAN_TOO_LONG;
            r->line = l.number;
            return false;
        }
        last_number = l.number;
        return true;
    }

    // The held lines placed where the shift puts them.
    bool place_held() {
        for (const line& l : held)
            if (!add(l))
                return false;
        held.clear();
        return true;
    }

    // Every line held placed, a tentative change taken.
    bool settle() {
        waiting = false;
        return (!tentative || take_change(held.size())) && place_held();
    }

    // Holds a line; too many held, places them.
    bool hold(const line& l) {
        held.push_back(l);
        return held.size() < HELD_MOST || settle();
    }

    // Whether a later position frame `p` on raw line `index` is where a disc
    // puts it after `before`, on raw line `before_index`.
    static bool agree(const q_position& before, uint64_t before_index, const q_position& p, uint64_t index) {
        return p.order >= before.order && p.disc - before.disc == (int64_t)(index - before_index);
    }

    // Until the offset is set, lines go where their index puts them.
    bool establish(const line& l, bool position, const q_position& p) {
        if (position) {
            if (have_previous && agree(previous, previous_index, p, l.index)) {
                established = true;
                offset = p.disc - ((int64_t)l.index + shift);
                r->start_offset = offset;
                anchored = true;
                anchor_disc = p.disc;
            }
            have_previous = true;
            previous = p;
            previous_index = l.index;
        }
        return add(l);
    }

    // Takes the tentative change: held[0, end) placed, those from moved_at
    // on by the changed shift. Ahead, the lines before moved_at stay before
    // the hole, but for a code frame whose frame number puts it after the
    // hole, and those after it; behind, the first of them are the repeats.
    bool take_change(size_t end) {
        tentative = false;
        size_t from = change_held > 0 ? moved_at : 0;
        for (size_t i = 0; i < from; ++i) {
            int64_t disc_block = (int64_t)held[i].index + shift + offset;
            if (code_frame_fits(held[i].q, disc_block + change_held) && !code_frame_fits(held[i].q, disc_block)) {
                from = i;
                break;
            }
        }
        for (size_t i = 0; i < from; ++i)
            if (!add(held[i]))
                return false;
        shift += change_held;
        for (size_t i = from; i < end; ++i)
            if (!add(held[i]))
                return false;
        held.erase(held.begin(), held.begin() + (ptrdiff_t)end);
        return true;
    }

    // The waiting frame, confirmed by `p` on line l: the offset has changed.
    // Back to the shift the lines are placed by, the change before it is
    // undone; else that one is taken, and this one waits to be.
    bool move(const line& l, const q_position& p) {
        waiting = false;
        int64_t change = far.disc - ((int64_t)held[far_at].index + shift) - offset;
        if (change - (shift_now() - shift) < -IN_PLACE) {
            r->outcome = SCAN_STARTS_AGAIN;
            r->line = held[far_at].number;
            r->again_at = disc_frames_of_block(far.disc);
            r->again_after = anchored ? disc_frames_of_block(anchor_disc) : -1;
            return false;
        }
        anchored = true;
        anchor_disc = p.disc;
        if (tentative && change == 0) {  // frames out of place for a stretch: every line on its block
            tentative = false;
            return place_held() && add(l);
        }
        if (tentative) {
            if (!take_change(far_at))
                return false;
            change -= change_held;
            far_at = 0;
        }
        tentative = true;
        moved_at = far_at;
        change_held = change;
        return hold(l);
    }

    bool take(const line& l) {
        q_position p;
        bool position = q_position_of(l.q, &p);
        if (!established)
            return establish(l, position, p);
        if (!position)
            return hold(l);
        if (waiting) {
            if (agree(far, held[far_at].index, p, l.index))
                return move(l, p);
            waiting = false;  // one frame out of place: it stays among the held lines
        }
        if (p.disc - ((int64_t)l.index + shift_now()) == offset) {
            anchored = true;
            anchor_disc = p.disc;
            return tentative ? hold(l) : place_held() && add(l);
        }
        waiting = true;
        far_at = held.size();
        far = p;
        return hold(l);
    }
};

// The lines the reader gives, placed into s.
int read_lines(report_reader& reader, sheet* s, scan_result* r) {
    placer p;
    p.s = s;
    p.r = r;
    p.held.reserve(HELD_MOST);  // nothing allocated a line
    line l = {};
    for (;;) {
        int got = reader_next(&reader, l.q);
        switch (got) {
        case READER_SECTOR:
            l.number = reader.line;
            if (!p.take(l))
                return r->outcome;
            ++l.index;
            continue;
        case READER_CUT:
        case READER_END:
            if (!p.settle())
                return r->outcome;
            r->line = reader.line;
            r->outcome = l.index == 0 ? SCAN_EMPTY : got == READER_CUT ? SCAN_CUT : SCAN_READ;
            r->start_offset_known = p.established;
            return r->outcome;
        case READER_NOT_REPORT:
            r->outcome = SCAN_NOT_REPORT;
            r->line = reader.line;
            memcpy(r->refused, reader.refused, sizeof r->refused);
            r->refused_cut = reader.refused_cut;
            return r->outcome;
        default:
            r->outcome = SCAN_FAILED;
            return r->outcome;
        }
    }
}

}  // namespace

int sheet_read_scan(FILE* in, sheet* s, scan_result* r) {
    memset(r, 0, sizeof *r);
    std::unique_ptr<report_reader> reader(new report_reader);  // its buffer is large for a stack
    reader_start(reader.get(), in);
    return read_lines(*reader, s, r);
}

int sheet_read_scan_memory(const void* bytes, size_t size, sheet* s, scan_result* r) {
    memset(r, 0, sizeof *r);
    std::unique_ptr<report_reader> reader(new report_reader);
    reader_start_memory(reader.get(), bytes, size);
    return read_lines(*reader, s, r);
}
