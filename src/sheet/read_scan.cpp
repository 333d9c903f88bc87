// Placing a saved scan's lines on the disc: line n is block n plus what the
// lines lost before it add, as agreeing position frames show it. A position
// frame far from where its line puts it waits for the next one: agreeing,
// it moves the rest of the scan (forward: lines lost; back: the disc starts
// again); not agreeing, it is a frame out of place like any other.
#include "sheet/read_scan.h"

#include <errno.h>
#include <string.h>

#include <memory>
#include <vector>

namespace {

// Blocks a position frame's disc time may lie from its line's block and
// still place it: a drive's Q offset, frames out of place.
const int64_t IN_PLACE = SHEET_OFFSET_RANGE;
// Lines held after a far frame, waiting for a position frame to agree with
// it; a stretch longer than this without one leaves the frame unconfirmed.
const size_t HELD_MOST = 1024;

struct line {
    uint64_t number;  // the file's line
    uint64_t index;   // the raw line's place among the raw lines, from 0
    uint8_t q[Q_SIZE];
};

struct placer {
    sheet* s;
    scan_result* r;
    int64_t shift = 0;          // block minus raw line index
    int64_t offset = 0;         // the Q offset the last frame in place showed
    bool anchored = false;      // a frame in place has been seen
    int64_t anchor_disc = 0;    // ... its disc time, as a block
    uint64_t last_number = 0;   // the file's line of the last raw line placed
    bool waiting = false;       // a far frame waits
    line far;
    int64_t far_disc = 0;
    unsigned far_order = 0;
    std::vector<line> held;     // the lines after it

    bool add(const line& l) {
        int64_t b = (int64_t)l.index + shift;
        if (b < 0 || b >= (int64_t)UINT32_MAX || !sheet_add(s, (uint32_t)b, l.q)) {
            r->outcome = SCAN_TOO_LONG;
            r->line = l.number;
            return false;
        }
        last_number = l.number;
        return true;
    }

    // The far frame and those after it where their lines put them.
    bool release() {
        waiting = false;
        if (!add(far))
            return false;
        for (const line& h : held)
            if (!add(h))
                return false;
        held.clear();
        return true;
    }

    bool take(const line& l) {
        q_position p;
        bool position = q_position_of(l.q, &p);
        int64_t disc = p.disc;
        unsigned order = p.order;
        if (waiting) {
            if (!position) {
                held.push_back(l);
                return held.size() < HELD_MOST || release();
            }
            bool agrees = order >= far_order && disc - far_disc == (int64_t)(l.index - far.index);
            if (!agrees)
                return release() && take(l);
            int64_t moved = far_disc - (int64_t)far.index - offset;
            if (moved < shift) {
                r->outcome = SCAN_STARTS_AGAIN;
                r->line = far.number;
                r->again_at = disc_frames_of_block(far_disc);
                r->again_after = anchored ? disc_frames_of_block(anchor_disc) : -1;
                return false;
            }
            uint32_t first = (uint32_t)((int64_t)far.index + shift);
            uint32_t last = (uint32_t)((int64_t)far.index + moved - 1);
            if (!sheet_add_missing(s, first, last, last_number)) {
                r->outcome = SCAN_TOO_LONG;
                r->line = far.number;
                return false;
            }
            shift = moved;
            if (!release())
                return false;
        } else if (position && (disc - ((int64_t)l.index + shift) > offset + IN_PLACE ||
                                disc - ((int64_t)l.index + shift) < offset - IN_PLACE)) {
            waiting = true;
            far = l;
            far_disc = disc;
            far_order = order;
            return true;
        }
        if (position) {
            anchored = true;
            anchor_disc = disc;
            int64_t o = disc - ((int64_t)l.index + shift);
            if (o >= -IN_PLACE && o <= IN_PLACE)
                offset = o;
        }
        return add(l);
    }
};

// The lines the reader gives, placed into s.
int read_lines(report_reader& reader, sheet* s, scan_result* r) {
    placer p;
    p.s = s;
    p.r = r;
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
            if (p.waiting && !p.release())
                return r->outcome;
            r->line = reader.line;
            r->outcome = l.index == 0 ? SCAN_EMPTY : got == READER_CUT ? SCAN_CUT : SCAN_READ;
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
