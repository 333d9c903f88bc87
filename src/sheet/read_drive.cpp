// Reading a drive for the sheet. Targeted: a stretch around each track's
// start (the previous track's last frames, a usual pregap, the first two
// seconds), a stretch of each audio track's codes from two seconds in, the
// lead-out; then, wherever two position frames that agree show different
// index points with blocks not read between them, halving to the change
// and reading its last step whole, so that every start is judged on the same
// blocks as a whole-disc scan would judge it. Whole: every block in order.
#include "sheet/read_drive.h"

#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/read_disc_toc.h"
#include "subchannel.h"

namespace {

const uint32_t BEFORE_START = 450;             // 6 s before a start: the previous track's last codes and a usual pregap
const uint32_t AFTER_START = 2 * FRAMES_PER_SECOND;  // 2 s in: a track's own codes count from here
const unsigned CODE_FRAMES = 8;                // ISRC frames a track's code is judged on
const uint32_t CODE_CHUNK = 4 * READ_CD_MOST;  // blocks read at a time while codes are counted
const uint32_t NO_CODE_SPAN = 1000;            // so many blocks without an ISRC frame: the track has none (1 in 77-100)
const uint32_t LEAD_OUT_READ = FRAMES_PER_SECOND;  // blocks of lead-out read, where the drive reads it
const uint32_t FILL_LIMIT = 3 * READ_CD_MOST;  // unread blocks between two index points read whole
const uint32_t NO_END_RUN = 100 * FRAMES_PER_SECOND;  // with no table of contents: unreadable blocks that end a read
const uint64_t PROGRESS_INTERVAL_NS = 250000000;

struct block_read {
    bool readable;
    uint8_t q[Q_SIZE];
};

// A position two frames in a row agree on: the first of them.
struct sample {
    uint32_t block;
    unsigned order;  // track * 100 + index, the lead-out as track 100
    int64_t start;   // for index 01 and above, where the frames' times put index 01
};

// A good position frame that carries a position, decoded; false for any other.
bool position_of(const uint8_t q[Q_SIZE], unsigned* order, int64_t* disc, int64_t* start) {
    q_frame f;
    if (decode_q(q, &f) != 0 || f.adr_control >> 4 != 1 || !q_position_valid(q))
        return false;
    unsigned track = q[1] == Q_LEAD_OUT_TRACK ? 100 : f.position.track;
    *order = track * 100 + f.position.index;
    *disc = block_of_disc_frames(msf_frames(&f.position.abs));
    *start = f.position.index >= 1 ? *disc - msf_frames(&f.position.rel) : -1;
    return true;
}

bool is_isrc_frame(const uint8_t q[Q_SIZE], std::string* code) {
    q_frame f;
    if (decode_q(q, &f) != 0 || f.adr_control >> 4 != 3)
        return false;
    code->assign(f.isrc.isrc_chars, ISRC_LENGTH);
    return true;
}

bool size_refused(const read_failure* f) {
    return f->kind == READ_CALL_FAILED || (f->kind == READ_CHECK_CONDITION && sense_is(&f->sense, INVALID_FIELD_IN_CDB));
}

bool disc_changed(const read_failure* f) {
    return f->kind == READ_CHECK_CONDITION && sense_is(&f->sense, MEDIUM_MAY_HAVE_CHANGED);
}

class reader {
public:
    reader(drive_handle handle, sheet* s, progress* bar) : handle_(handle), s_(s), bar_(bar) {}

    // Blocks from `end` on need not be readable: the first session's lead-out.
    void set_end(uint32_t end) {
        end_ = end;
        end_known_ = true;
    }

    // Every block in order, straight into the sheet.
    void read_whole() {
        streaming_ = true;
        started_ = steady_clock_ns();
        read_run(0, UINT32_MAX);
    }

    void read_targeted(const disc_toc* toc) {
        std::vector<const toc_track*> tracks;
        for (unsigned i = 0; i < toc->track_count; ++i)
            if (toc->track[i].session == 1)
                tracks.push_back(&toc->track[i]);
        for (size_t k = 0; k < tracks.size() && !stopped_; ++k) {
            uint32_t start = tracks[k]->start < 0 ? 0 : (uint32_t)tracks[k]->start;
            uint32_t next = k + 1 < tracks.size() && tracks[k + 1]->start > 0 ? (uint32_t)tracks[k + 1]->start : end_;
            if (k == 0 && start > BEFORE_START)
                read(0, READ_CD_MOST);  // what the disc holds at its very start: a hidden track's pregap
            note("reading track %u's start", tracks[k]->number);
            read(before(start), start + AFTER_START);
            if (!(tracks[k]->control & CONTROL_DATA)) {
                note("reading track %u's codes", tracks[k]->number);
                read_codes(start + AFTER_START, before(next));
            }
        }
        note("reading the lead-out");
        read(before(end_), end_ + LEAD_OUT_READ);
        resolve_index_points();
        read_tracks_with_second_codes();
        resolve_index_points();
        for (const auto& b : blocks_)
            if (b.second.readable)
                sheet_add(s_, b.first, b.second.q);
            else
                sheet_add_unreadable(s_, b.first);
    }

    uint32_t blocks_read() const { return streaming_ ? s_->sectors : (uint32_t)blocks_.size(); }
    uint32_t commands() const { return commands_; }
    bool anything_read() const { return any_read_; }
    bool disc_was_changed() const { return changed_; }
    const read_failure& failure() const { return failure_; }
    uint32_t failed_block() const { return failed_block_; }

private:
    drive_handle handle_;
    sheet* s_;
    progress* bar_;
    unsigned per_command_ = READ_CD_MOST;
    uint32_t end_ = UINT32_MAX;
    bool end_known_ = false;
    bool streaming_ = false;
    bool stopped_ = false;       // the drive said to stop: the end of the disc, or a disc change
    bool past_end_refused_ = false;
    bool any_read_ = false, changed_ = false, in_lead_out_ = false;
    uint32_t unreadable_run_ = 0;
    uint32_t commands_ = 0;
    read_failure failure_ = {};  // the first failure, or the disc change
    uint32_t failed_block_ = 0;
    uint64_t started_ = 0, shown_ = 0;
    std::map<uint32_t, block_read> blocks_;
    alignas(SECTOR_BUFFER_ALIGNMENT) static uint8_t buffer_[READ_CD_MOST * SECTOR_BUFFER_SIZE];

    uint32_t before(uint32_t start) const { return start > BEFORE_START ? start - BEFORE_START : 0; }

    void note(const char* format, unsigned number = 0) {
        char text[64];
        snprintf(text, sizeof text, format, number);
        progress_note(bar_, text);
    }

    // For a whole-disc read: the share read and the time left, four times a second.
    void show_share(uint32_t b) {
        uint64_t now = steady_clock_ns();
        if (!end_known_ || now - shown_ < PROGRESS_INTERVAL_NS || b == 0)
            return;
        shown_ = now;
        uint32_t done = b < end_ ? b : end_;
        unsigned left_s = (unsigned)((double)(now - started_) / 1e9 * (end_ - done) / done);
        char text[64];
        snprintf(text, sizeof text, "%u%% of the disc, %u:%02u left", (unsigned)(100ull * done / end_), left_s / 60,
                 left_s % 60);
        progress_note(bar_, text);
    }

    void store(uint32_t b, const uint8_t* sector) {
        uint8_t q[Q_SIZE];
        extract_q(sector + SECTOR_MAIN_SIZE, q);
        unsigned order;
        int64_t disc, start;
        if (position_of(q, &order, &disc, &start))
            in_lead_out_ = order / 100 == 100;
        any_read_ = true;
        unreadable_run_ = 0;
        if (streaming_) {
            sheet_add(s_, b, q);
        } else {
            block_read& r = blocks_[b];
            r.readable = true;
            memcpy(r.q, q, Q_SIZE);
        }
    }

    void store_unreadable(uint32_t b) {
        ++unreadable_run_;
        if (streaming_)
            sheet_add_unreadable(s_, b);
        else
            blocks_[b] = block_read{false, {}};
    }

    // Whether a failure at block b is where the disc ends: the first
    // session's lead-out on, by the table of contents; without one, the
    // drive saying the block is not there, or any failure in the lead-out.
    bool ends_at(uint32_t b, int rc) const {
        if (end_known_)
            return b >= end_;
        return rc == READ_NO_SUCH_BLOCK || in_lead_out_ || unreadable_run_ >= NO_END_RUN;
    }

    // A failure that stops every read: a disc change, or the end of the disc.
    bool stop(uint32_t b, int rc, const read_failure* f) {
        if (disc_changed(f) && b > 0) {
            changed_ = stopped_ = true;
            failure_ = *f;
            failed_block_ = b;
        } else if (ends_at(b, rc)) {
            past_end_refused_ = b >= end_;
            stopped_ = !end_known_ || streaming_;
        }
        return changed_ || ends_at(b, rc);
    }

    // Blocks [from, to) in commands of up to per_command_ sectors. A size
    // the system or the drive refuses is halved, down to 1, and the size that
    // worked is kept; a command that fails otherwise is read block by block,
    // each block sent again once, and one that still fails is unreadable.
    void read_run(uint32_t from, uint32_t to) {
        for (uint32_t b = from; b < to && !stopped_;) {
            if (b >= end_ && past_end_refused_)
                return;
            unsigned n = to - b < per_command_ ? to - b : per_command_;
            read_failure f;
            ++commands_;
            int rc = read_cd(handle_, b, n, SUBCHANNEL_RAW, buffer_, &f);
            if (rc == 0) {
                for (unsigned i = 0; i < n; ++i)
                    store(b + i, buffer_ + i * SECTOR_BUFFER_SIZE);
                b += n;
                if (streaming_)
                    show_share(b);
                continue;
            }
            if (n > 1 && size_refused(&f)) {
                per_command_ = n / 2;
                continue;
            }
            if (disc_changed(&f) && stop(b + f.transferred / SECTOR_BUFFER_SIZE, rc, &f))
                return;
            for (unsigned i = 0; i < n && !stopped_; ++i, ++b) {
                ++commands_;
                rc = read_cd(handle_, b, 1, SUBCHANNEL_RAW, buffer_, &f);
                if (rc != 0 && !disc_changed(&f)) {
                    ++commands_;
                    rc = read_cd(handle_, b, 1, SUBCHANNEL_RAW, buffer_, &f);
                }
                if (rc == 0) {
                    store(b, buffer_);
                    continue;
                }
                if (!any_read_ && failure_.kind == READ_OK) {
                    failure_ = f;
                    failed_block_ = b;
                }
                if (stop(b, rc, &f))
                    return;
                store_unreadable(b);
            }
        }
    }

    // What of [from, to) was not read yet; no block past the end once the
    // drive refused one there.
    void read(uint32_t from, uint32_t to) {
        for (uint32_t b = from; b < to && !stopped_;) {
            auto next = blocks_.lower_bound(b);
            if (next != blocks_.end() && next->first == b) {
                ++b;
                continue;
            }
            uint32_t run_end = next == blocks_.end() || next->first > to ? to : next->first;
            read_run(b, run_end);
            b = run_end;
        }
    }

    unsigned isrc_frames(uint32_t from, uint32_t to) const {
        unsigned n = 0;
        std::string code;
        for (auto it = blocks_.lower_bound(from); it != blocks_.end() && it->first < to; ++it)
            n += it->second.readable && is_isrc_frame(it->second.q, &code);
        return n;
    }

    // From `from`, until CODE_FRAMES ISRC frames are read, or NO_CODE_SPAN
    // blocks show none, or `limit`.
    void read_codes(uint32_t from, uint32_t limit) {
        for (uint32_t at = from; at < limit && !stopped_;) {
            uint32_t to = limit - at < CODE_CHUNK ? limit : at + CODE_CHUNK;
            read(at, to);
            at = to;
            unsigned found = isrc_frames(from, at);
            if (found >= CODE_FRAMES || (found == 0 && at - from >= NO_CODE_SPAN))
                return;
        }
    }

    // Positions two frames in a row agree on, each run of blocks read on its own.
    std::vector<sample> samples() const {
        std::vector<sample> found;
        bool have = false;
        uint32_t last_block = 0, previous = 0;
        unsigned previous_order = 0;
        int64_t previous_disc = 0, previous_start = 0;
        for (const auto& b : blocks_) {
            if (b.first != last_block + 1)
                have = false;  // a gap: the run starts again
            last_block = b.first;
            unsigned order;
            int64_t disc, start;
            if (!b.second.readable || !position_of(b.second.q, &order, &disc, &start))
                continue;
            if (have && order == previous_order && disc - previous_disc == (int64_t)b.first - previous)
                if (found.empty() || found.back().block != previous)
                    found.push_back({previous, previous_order, previous_start});
            have = true;
            previous = b.first;
            previous_order = order;
            previous_disc = disc;
            previous_start = start;
        }
        return found;
    }

    // Blocks in (from, to) that were not read, as runs [first, end).
    std::vector<std::pair<uint32_t, uint32_t>> unread_between(uint32_t from, uint32_t to) const {
        std::vector<std::pair<uint32_t, uint32_t>> runs;
        uint32_t at = from + 1;
        for (auto it = blocks_.upper_bound(from); at < to; ++it) {
            uint32_t next = it == blocks_.end() || it->first > to ? to : it->first;
            if (next > at)
                runs.push_back({at, next});
            at = next + 1;
            if (it == blocks_.end())
                break;
        }
        return runs;
    }

    // Wherever two samples in a row show different index points and the
    // blocks between them were not all read: a short stretch is read whole,
    // a long one halved by reading one command in its largest unread run.
    void resolve_index_points() {
        for (bool changed = true; changed && !stopped_;) {
            changed = false;
            std::vector<sample> all = samples();
            for (size_t i = 0; i + 1 < all.size() && !changed; ++i) {
                const sample &a = all[i], &b = all[i + 1];
                if (b.order <= a.order)
                    continue;  // the same point, or frames that go back: no index point to find
                std::vector<std::pair<uint32_t, uint32_t>> runs = unread_between(a.block, b.block);
                if (runs.empty())
                    continue;
                uint64_t unread = 0;
                size_t largest = 0;
                for (size_t r = 0; r < runs.size(); ++r) {
                    unread += runs[r].second - runs[r].first;
                    if (runs[r].second - runs[r].first > runs[largest].second - runs[largest].first)
                        largest = r;
                }
                note("finding where track %u's index points lie", b.order / 100);
                if (unread <= FILL_LIMIT) {
                    for (const auto& run : runs)
                        read(run.first, run.second);
                } else {
                    uint32_t middle = runs[largest].first + (runs[largest].second - runs[largest].first) / 2;
                    read(middle, middle + per_command_ < runs[largest].second ? middle + per_command_ : runs[largest].second);
                }
                changed = true;
            }
        }
    }

    // A track whose codes read so far (two seconds in and on, its end with
    // the next track's start included) hold more than one ISRC is read whole,
    // so that its majority is that of all its frames.
    void read_tracks_with_second_codes() {
        std::vector<sample> all = samples();
        unsigned done = 0;  // the last track looked at
        for (size_t i = 0; i < all.size(); ++i) {
            unsigned track = all[i].order / 100;
            if (all[i].start < 0 || track == done)
                continue;  // not the first sample of a track's index 01 and above
            done = track;
            uint32_t from = (uint32_t)all[i].start + AFTER_START, to = end_;
            for (size_t j = i + 1; j < all.size(); ++j)
                if (all[j].order / 100 != track) {
                    to = all[j].block;
                    break;
                }
            std::set<std::string> codes;
            std::string code;
            for (auto it = blocks_.lower_bound(from); it != blocks_.end() && it->first < to; ++it)
                if (it->second.readable && is_isrc_frame(it->second.q, &code))
                    codes.insert(code);
            if (codes.size() > 1 && track < 100) {
                note("reading all of track %u: it carries more than one ISRC", track);
                read((uint32_t)all[i].start, to);
            }
        }
    }
};

alignas(SECTOR_BUFFER_ALIGNMENT) uint8_t reader::buffer_[READ_CD_MOST * SECTOR_BUFFER_SIZE];

void show_waiting(void* bar) {
    progress_note((progress*)bar, "waiting for the drive");
}

}  // namespace

int sheet_read_drive(drive_handle handle, bool full, sheet* s, progress* bar, FILE* notes, read_failure* failure,
                     uint32_t* failed_block) {
    sheet_reading* r = &s->reading;
    progress_note(bar, "reading the table of contents");
    read_failure toc_failure;
    toc_notes toc_said;  // not shown yet
    r->toc_known = read_disc_toc(handle, &r->toc, &toc_failure, show_waiting, bar, &toc_said) == 0;
    if (!r->toc_known && (becoming_ready(&toc_failure) || no_medium(&toc_failure))) {
        progress_end(bar);
        *failure = toc_failure;  // no disc, or one the drive never got ready to read
        return READ_NOTHING;
    }
    reader disc(handle, s, bar);
    if (r->toc_known) {
        // CD-Text, in one command; a drive or disc without it gives none.
        static uint8_t answer[4 + CD_TEXT_PACKS * CD_TEXT_PACK];
        uint32_t length = 0;
        read_failure ignored;
        r->cd_text_asked = true;
        if (read_toc(handle, TOC_FORMAT_CD_TEXT, 0, answer, sizeof answer, &length, &ignored) == 0 && length >= 4) {
            uint32_t said = ((uint32_t)answer[0] << 8 | answer[1]) + 2;
            r->cd_text_packs = ((said < length ? said : length) - 4) / CD_TEXT_PACK;
            memcpy(r->cd_text, answer + 4, (size_t)r->cd_text_packs * CD_TEXT_PACK);
        }
        disc.set_end(r->toc.first_session_end < 0 ? 0 : (uint32_t)r->toc.first_session_end);
        r->disc_blocks = (uint32_t)(r->toc.first_session_end < 0 ? 0 : r->toc.first_session_end);
    } else {
        progress_end(bar);
        fprintf(notes, "qscan-sheet: the drive gave no table of contents, so the whole disc is read\n");
        print_read_failure(notes, &toc_failure, false);
        full = true;
    }
    r->method = full ? SHEET_FULL : SHEET_TARGETED;
    if (full)
        disc.read_whole();
    else
        disc.read_targeted(&r->toc);
    progress_end(bar);
    r->blocks = disc.blocks_read();
    r->commands = disc.commands();
    if (!r->toc_known)
        r->disc_blocks = s->end;
    *failure = disc.failure();
    *failed_block = disc.failed_block();
    if (disc.disc_was_changed())
        return READ_DISC_CHANGED;
    if (!disc.anything_read())
        return READ_NOTHING;
    return r->stretches > 0 ? READ_GAPS : READ_WHOLE;
}
