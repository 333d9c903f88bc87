// Reading a drive for the sheet. First what subchannel the drive gives (raw
// P-W, formatted Q, none), in a few commands. Targeted: a stretch around
// each track's start (the previous track's last frames, a usual pregap, the
// first two seconds), a stretch of each audio track's codes from two
// seconds in, the lead-out; then, wherever agreeing position frames show
// different index points with blocks not read between them, halving to the
// change and reading its last step whole, so that every start is judged on
// the same blocks as a whole-disc scan would judge it. Whole: every block in
// order. Then the codes no frame gave, from the drive's own report.
#include "sheet/read_drive.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "disc/cd_text.h"
#include "drive/answers.h"
#include "drive/read_disc_toc.h"
#include "sheet/drive_q.h"
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
const unsigned PROBE_COMMANDS = 2;     // GOOD commands whose frames decide a subchannel selection
const unsigned PROBE_MOST = 8;         // commands the probe sends at most before it takes raw P-W as it comes

// The most bytes one READ CD of READ_CD_MOST sectors needs, raw P-W being the largest selection.
enum { READ_BUFFER_SIZE = READ_CD_MOST * SECTOR_BUFFER_SIZE };

struct block_read {
    bool readable;
    uint8_t mode;  // the sector's data mode, 0 for none (sector_mode)
    uint8_t q[Q_SIZE];
};

// A position agreeing frames in a row show: the first of them.
struct sample {
    uint32_t block;
    unsigned order;  // track * 100 + index, the lead-out as track 100
    int64_t start;   // for index 01 and above, where the frames' times put index 01
};

bool is_isrc_frame(const uint8_t q[Q_SIZE], std::string* code) {
    q_frame f;
    if (decode_q(q, &f) != 0 || f.adr_control >> 4 != 3)
        return false;
    code->assign(f.isrc.isrc_chars, ISRC_LENGTH);
    return true;
}

// A failure that says the disc may no longer be the one the read began on,
// or is not there any more.
bool disc_changed(const read_failure* f) {
    return f->kind == READ_CHECK_CONDITION && sense_is(&f->sense, MEDIUM_MAY_HAVE_CHANGED);
}
bool disc_gone(const read_failure* f) {
    return no_medium(f) || becoming_ready(f);
}

bool refused_field(const read_failure* f) {
    return f->kind == READ_CHECK_CONDITION && sense_is(&f->sense, INVALID_FIELD_IN_CDB);
}
bool refused_command(const read_failure* f) {
    return f->kind == READ_CHECK_CONDITION && sense_is(&f->sense, INVALID_OPCODE);
}

// A line for the listener, printf-like.
void say(const read_listener* l, const char* format, ...) {
    if (l->say == NULL)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    l->say(l->context, line);
}

// "the drive's CD-Text is malformed: ...".
void say_malformed(const read_listener* l, const char* what, const char* why) {
    say(l, "the drive's %s is malformed: %s", what, why);
}

class reader {
public:
    reader(drive_handle handle, sheet* s, const read_listener* listener)
        : handle_(handle), s_(s), listener_(listener) {}

    // Blocks from `end` on need not be readable: the first session's lead-out.
    void set_end(uint32_t end) {
        end_ = end;
        end_known_ = true;
    }

    // What subchannel the drive gives, found by the first commands at block
    // b: raw P-W while its frames pass their CRC; else formatted Q, its CRCs
    // checked where any matches, else unchecked where its frames agree with
    // their blocks; else none. What it read on the way is kept.
    void probe(uint32_t b) {
        unsigned good = 0, sent = 0;
        bool crc_seen = false, agreement_seen = false;
        for (uint32_t at = b; !decided_ && !stopped_ && sent < PROBE_MOST; ++sent) {
            unsigned n = size_at(at, UINT32_MAX);
            read_failure f;
            int rc = send(at, n, &f);
            if (rc != 0) {
                unsigned arrived = blocks_before_failure(&f, n);
                if (refused_command(&f) && !any_read_) {
                    failure_ = f;
                    decide(SHEET_Q_NONE);  // no READ CD at all
                } else if (refused_field(&f)) {
                    // The selection, or the size: one sector tells which.
                    read_failure one;
                    if (n > 1 && send(at, 1, &one) == 0) {
                        size_refused(at, n);  // the drive takes the selection, not so many sectors
                        continue;
                    }
                    failure_ = f;
                    next_selection();
                    good = 0;
                    crc_seen = agreement_seen = false;
                } else if (f.kind == READ_CALL_FAILED && n > 1 && n > worked_) {
                    size_refused(at, n);  // more than the system takes at once, or a bad block in it
                } else if (stop_for(at + arrived, rc, &f, arrived > 0)) {
                    return;
                } else {
                    at += n;  // a block that cannot be read: the probe looks further on
                }
                continue;
            }
            // GOOD: do the frames pass?
            for (unsigned i = 0; i < n; ++i) {
                uint8_t q[Q_SIZE];
                q_of(at + i, buffer_ + i * sector_size(), q, false);
                crc_seen = crc_seen || q_crc_matches(q);
                agreement_seen = agreement_seen || (selection_ == SUBCHANNEL_FORMATTED_Q &&
                                                    ((q[0] & 0x0F) == 1) &&
                                                    (position_agrees(q, at + i, false) ||
                                                     position_agrees(q, at + i, true)));
            }
            if (crc_seen) {
                decide(selection_ == SUBCHANNEL_RAW ? SHEET_Q_RAW : SHEET_Q_FORMATTED);
                keep(at, n);
                return;
            }
            at += n;
            if (++good < PROBE_COMMANDS)
                continue;
            if (selection_ == SUBCHANNEL_FORMATTED_Q && agreement_seen) {
                decide(SHEET_Q_FORMATTED_UNCHECKED);  // its blocks are read again as the read needs them
                return;
            }
            next_selection();  // frames that pass nothing: all zero, or not what the selection says
            good = 0;
            crc_seen = agreement_seen = false;
        }
        if (!decided_)
            decide(selection_ == SUBCHANNEL_FORMATTED_Q ? SHEET_Q_FORMATTED : SHEET_Q_RAW);  // as it comes
    }

    int q_kind() const { return q_kind_; }

    // Every block in order, straight into the sheet.
    void read_whole() {
        snprintf(what_, sizeof what_, "%s", QSCAN_READING_WHOLE_DISC);
        probe(0);
        if (q_kind_ == SHEET_Q_NONE || stopped_)
            return;
        uint32_t from = flush(true);
        streaming_ = true;
        read_run(from, UINT32_MAX);
    }

    void read_targeted(const disc_toc* toc) {
        std::vector<const toc_track*> tracks;
        for (unsigned i = 0; i < toc->track_count; ++i)
            if (toc->track[i].session == 1)
                tracks.push_back(&toc->track[i]);
        probe(0);
        for (size_t k = 0; k < tracks.size() && !stopped_ && q_kind_ != SHEET_Q_NONE; ++k) {
            uint32_t start = tracks[k]->start < 0 ? 0 : (uint32_t)tracks[k]->start;
            uint32_t next = k + 1 < tracks.size() && tracks[k + 1]->start > 0 ? (uint32_t)tracks[k + 1]->start : end_;
            if (k == 0 && start > BEFORE_START)
                read(0, READ_CD_MOST);  // what the disc holds at its very start: a hidden track's pregap
            note("reading track %u's start", tracks[k]->number);
            read(before(start), start + AFTER_START);
            if (!(tracks[k]->control & CONTROL_DATA) && !codes_filled_in_) {
                note("reading track %u's codes", tracks[k]->number);
                // A whole span without a code frame, on a disc where no
                // frame read carries one: the drive may fill them in. If it
                // reports the code itself, the other tracks' spans are spared.
                if (read_codes(start + AFTER_START, before(next)) >= NO_CODE_SPAN && !any_code_frame() &&
                    ask_isrc(tracks[k]->number))
                    codes_filled_in_ = true;
            }
        }
        if (q_kind_ != SHEET_Q_NONE) {
            note("reading the lead-out");
            read(before(end_), end_ + LEAD_OUT_READ);
            resolve_index_points();
            read_tracks_with_second_codes();
            resolve_index_points();
        }
        flush();
    }

    // A drive without subchannel: each data track's first sector alone, for its mode.
    void read_data_modes(const disc_toc* toc) {
        for (unsigned i = 0; i < toc->track_count && !gone(); ++i) {
            const toc_track* t = &toc->track[i];
            if (t->session != 1 || !(t->control & CONTROL_DATA) || t->start < 0)
                continue;
            read_failure f;
            ++commands_;
            if (read_cd(handle_, (uint32_t)t->start, 1, SUBCHANNEL_NONE, buffer_, &f) == 0)
                sheet_add_mode(s_, (uint32_t)t->start, sector_mode(buffer_));
            else if (stop_for((uint32_t)t->start, EIO, &f))
                return;
        }
    }

    // The codes no frame read gives, from the drive's own report: each audio
    // track of the first session without an ISRC frame, and the catalogue
    // number when no frame of it was read. The tracks are the table of
    // contents' (`toc`), or without one those the frames show. One command
    // each, at most once.
    void read_drive_codes(const disc_toc* toc) {
        for (int n = 1; n <= DISC_TRACKS && !gone(); ++n) {
            const toc_track* entry = toc != NULL ? toc_find(toc, (unsigned)n) : NULL;
            const sheet_track* t = &s_->track[n];
            bool audio = toc != NULL ? entry != NULL && entry->session == 1 && !(entry->control & CONTROL_DATA)
                                     : t->seen && majority(t->control_frames, 16, sizeof t->control_frames[0]) >= 0 &&
                                           !(majority(t->control_frames, 16, sizeof t->control_frames[0]) & CONTROL_DATA);
            if (audio && t->isrcs.count == 0)
                ask_isrc((unsigned)n);
        }
        if (s_->mcns.count > 0 || gone())
            return;
        uint8_t answer[SUBQ_ANSWER_SIZE];
        uint32_t length = 0;
        char why[ANSWER_WHY_SIZE], mcn[MCN_LENGTH];
        bool valid = false;
        read_failure f;
        if (read_subchannel(handle_, SUBQ_CATALOGUE_NUMBER, 0, answer, sizeof answer, &length, &f) != 0)
            return;
        if (!subq_parse_catalogue_number(answer, length, &valid, mcn, why))
            say_malformed(listener_, "catalogue-number report", why);
        else if (valid)
            sheet_add_drive_code(s_, 0, mcn);
    }


    uint32_t commands() const { return commands_; }
    uint32_t lead_out_read() const { return lead_out_read_; }
    bool anything_read() const { return any_read_; }
    // Whether the drive said its disc changed or went: nothing more is asked then.
    bool gone() const { return stop_outcome_ != READ_WHOLE; }
    int stopped_because() const { return stop_outcome_; }
    const read_failure& failure() const { return failure_; }
    uint32_t failed_block() const { return failed_block_; }

private:
    drive_handle handle_;
    sheet* s_;
    const read_listener* listener_;
    char what_[64] = "";       // what is read now, for the listener
    uint64_t planned_ = 0;     // the blocks the read expects to need
    unsigned per_command_ = READ_CD_MOST;  // sectors a command: READ_CD_MOST, or what the system takes
    unsigned worked_ = 0;                  // the most sectors a command delivered
    unsigned retry_size_ = 0;              // a size refused once, to try again from retry_after_ on
    uint32_t retry_after_ = 0;
    int selection_ = SUBCHANNEL_RAW;
    bool decided_ = false;
    int q_kind_ = SHEET_Q_RAW;
    uint32_t end_ = UINT32_MAX;
    bool end_known_ = false;
    bool isrc_asked_[DISC_TRACKS + 1] = {};
    bool codes_filled_in_ = false;  // the drive reports a code no frame carries: its code frames are filled in
    bool streaming_ = false;
    bool stopped_ = false;       // the drive said to stop: the end of the disc, a disc change, a disc gone
    int stop_outcome_ = READ_WHOLE;
    bool past_end_refused_ = false;
    bool any_read_ = false, in_lead_out_ = false;
    uint32_t unreadable_run_ = 0;
    uint32_t commands_ = 0;
    uint32_t lead_out_read_ = 0;  // blocks read from the first session's lead-out on
    read_failure failure_ = {};  // the first failure, or the one that stopped the read
    uint32_t failed_block_ = 0;
    std::map<uint32_t, block_read> blocks_;
    // One read's sectors, aligned for the adapters that need it; one buffer
    // per read, so that reads of several drives may run at once.
    std::unique_ptr<uint8_t[]> storage_{new uint8_t[READ_BUFFER_SIZE + SECTOR_BUFFER_ALIGNMENT]};
    uint8_t* buffer_ = storage_.get() + (SECTOR_BUFFER_ALIGNMENT - (uintptr_t)storage_.get() % SECTOR_BUFFER_ALIGNMENT) %
                                            SECTOR_BUFFER_ALIGNMENT;

    uint32_t before(uint32_t start) const { return start > BEFORE_START ? start - BEFORE_START : 0; }

    // The drive's own report of track n's ISRC, asked once; whether it gave one.
    bool ask_isrc(unsigned n) {
        if (n > DISC_TRACKS || isrc_asked_[n])
            return false;
        isrc_asked_[n] = true;
        uint8_t answer[SUBQ_ANSWER_SIZE];
        uint32_t length = 0;
        char why[ANSWER_WHY_SIZE], isrc[ISRC_LENGTH];
        bool valid = false;
        read_failure f;
        if (read_subchannel(handle_, SUBQ_ISRC, (uint8_t)n, answer, sizeof answer, &length, &f) != 0) {
            stop_for(0, EIO, &f);  // a disc gone
            return false;
        }
        if (!subq_parse_isrc(answer, length, &valid, isrc, why)) {
            char what[48];
            snprintf(what, sizeof what, "ISRC report for track %u", n);
            say_malformed(listener_, what, why);
            return false;
        }
        if (valid)
            sheet_add_drive_code(s_, (int)n, isrc);
        return valid;
    }
    unsigned sector_size() const { return read_cd_sector_size(selection_); }

    void note(const char* format, unsigned number = 0) {
        snprintf(what_, sizeof what_, format, number);
        tell();
    }

    // The listener hears how far the read is; it may ask to stop.
    void tell() {
        uint64_t done = s_->sectors + blocks_.size();
        if (planned_ < done)
            planned_ = done;
        if (listener_->progress != NULL && !stopped_ && listener_->progress(listener_->context, what_, done, planned_)) {
            stopped_ = true;
            stop_outcome_ = READ_STOPPED;
        }
    }

public:
    // The last word to the listener: everything read, done as total.
    void tell_done() {
        uint64_t done = s_->sectors + blocks_.size();
        if (listener_->progress != NULL && !gone())
            listener_->progress(listener_->context, what_, done, done);
    }

    // The blocks the read expects to need, for the listener's total.
    void plan(uint64_t blocks) { planned_ = blocks; }

private:

    int send(uint32_t b, unsigned n, read_failure* f) {
        ++commands_;
        int rc = read_cd(handle_, b, n, selection_, buffer_, f);
        if (rc == 0 && n > worked_)
            worked_ = n;
        if (rc == 0 && n == retry_size_) {  // the size refused once works: it was a block, not the size
            per_command_ = n;
            retry_size_ = 0;
        }
        return rc;
    }

    void decide(int kind) {
        decided_ = true;
        q_kind_ = kind;
        if (kind == SHEET_Q_FORMATTED_UNCHECKED)
            sheet_take_unchecked(s_);
    }

    // Raw P-W refused or useless: formatted Q; that too: none.
    void next_selection() {
        if (selection_ == SUBCHANNEL_RAW)
            selection_ = SUBCHANNEL_FORMATTED_Q;
        else
            decide(SHEET_Q_NONE);
    }

    // The Q bytes of a sector as the sheet takes them: gathered from raw
    // P-W, or formatted Q with binary times turned back into BCD and, when
    // `unchecked`, the CRC the drive leaves out put in.
    void q_of(uint32_t b, const uint8_t* sector, uint8_t q[Q_SIZE], bool unchecked) const {
        const uint8_t* sub = sector + SECTOR_MAIN_SIZE;
        if (selection_ == SUBCHANNEL_RAW) {
            extract_q(sub, q);
            return;
        }
        memcpy(q, sub, Q_SIZE);
        bool checked = q_crc_matches(q);
        if (!checked && !unchecked)
            return;  // a CRC error, as raw P-W shows one
        if (unconvert_binary(q, b) || unchecked)
            q_set_crc(q);
    }

    // The sectors of the last command, from block b, as read.
    void keep(uint32_t b, unsigned n) {
        for (unsigned i = 0; i < n; ++i)
            store(b + i, buffer_ + i * sector_size());
    }

    // The blocks read so far into the sheet, in order; with `from_0`,
    // only those that follow each other from block 0 (a whole-disc read
    // streams on from there). Returns the block after the last fed.
    uint32_t flush(bool from_0 = false) {
        uint32_t next = 0;
        for (const auto& b : blocks_) {
            if (from_0 && b.first != next)
                break;
            if (b.second.readable) {
                sheet_add_mode(s_, b.first, b.second.mode);
                sheet_add(s_, b.first, b.second.q);
            } else {
                sheet_add_unreadable(s_, b.first);
            }
            next = b.first + 1;
        }
        blocks_.clear();
        return next;
    }

    void store(uint32_t b, const uint8_t* sector) {
        uint8_t q[Q_SIZE];
        q_of(b, sector, q, q_kind_ == SHEET_Q_FORMATTED_UNCHECKED);
        q_position p;
        if (q_position_of(q, &p))
            in_lead_out_ = p.track == 0;
        any_read_ = true;
        unreadable_run_ = 0;
        lead_out_read_ += end_known_ && b >= end_;
        if (streaming_) {
            sheet_add_mode(s_, b, sector_mode(sector));
            sheet_add(s_, b, q);
        } else {
            block_read& r = blocks_[b];
            r.readable = true;
            r.mode = sector_mode(sector);
            memcpy(r.q, q, Q_SIZE);
        }
    }

    void store_unreadable(uint32_t b) {
        ++unreadable_run_;
        if (streaming_)
            sheet_add_unreadable(s_, b);
        else
            blocks_[b] = block_read{false, 0, {}};
    }

    // Whether a failure at block b is where the disc ends: the first
    // session's lead-out on, by the table of contents; without one, the
    // drive saying the block is not there, or any failure in the lead-out.
    bool ends_at(uint32_t b, int rc) const {
        if (end_known_)
            return b >= end_;
        return rc == READ_NO_SUCH_BLOCK || in_lead_out_ || unreadable_run_ >= NO_END_RUN;
    }

    // The blocks of an n-block command that arrived before the one that
    // failed, as the system counts them; 0 where it says all or none.
    unsigned blocks_before_failure(const read_failure* f, unsigned n) const {
        unsigned k = f->transferred / sector_size();
        return k < n ? k : 0;
    }

    // A command of n sectors from b refused whole, the first time one of
    // that size was sent: more than the system or the drive takes, or a
    // block in it that fails the whole command (a bridge's failed call). The
    // size is halved; once the read has passed the block that failed, it is
    // tried again, and only a second refusal at another place keeps it so.
    void size_refused(uint32_t b, unsigned n) {
        if (n == retry_size_ && b >= retry_after_) {
            retry_size_ = 0;  // refused again elsewhere: the limit is real
        } else if (n > retry_size_) {
            retry_size_ = n;
            retry_after_ = b + n;
        }
        per_command_ = n / 2 > 0 ? n / 2 : 1;
    }

    // The sectors of the next command from b, before `to`.
    unsigned size_at(uint32_t b, uint32_t to) const {
        unsigned n = retry_size_ > 0 && b >= retry_after_ ? retry_size_ : per_command_;
        return to - b < n ? to - b : n;
    }

    // A failure that stops every read: a disc change or a disc gone after
    // reading began, or the end of the disc.
    bool stop_for(uint32_t b, int rc, const read_failure* f, bool read_began = false) {
        if ((disc_changed(f) && b > 0) || (disc_gone(f) && (any_read_ || read_began))) {
            stopped_ = true;
            stop_outcome_ = disc_changed(f) ? READ_DISC_CHANGED : READ_DISC_GONE;
            failure_ = *f;
            failed_block_ = b;
            return true;
        }
        if (ends_at(b, rc)) {
            if (!any_read_ && !read_began && failure_.kind == READ_OK)
                failure_ = *f;  // why nothing could be read: a disc that ends before its first block
            past_end_refused_ = b >= end_;
            stopped_ = stopped_ || !end_known_ || streaming_;
            return true;
        }
        return false;
    }

    // Blocks [from, to) in commands of up to per_command_ sectors. A size
    // the system or the drive refuses as a whole, the first time a command
    // of that size is sent, is halved, and the size that works is kept; any
    // other failure is read block by block up to the block that fails, that
    // block sent again once and, failing still, unreadable, and the commands
    // go on at full size after it.
    void read_run(uint32_t from, uint32_t to) {
        for (uint32_t b = from; b < to && !stopped_;) {
            if (b >= end_ && past_end_refused_)
                return;
            unsigned n = size_at(b, to);
            read_failure f;
            int rc = send(b, n, &f);
            if (rc == 0) {
                keep(b, n);
                b += n;
                tell();
                continue;
            }
            // An invalid field is the command block's, judged before any
            // block is read (systems do not all say how much arrived with it).
            bool refused_whole = f.kind == READ_CALL_FAILED || refused_field(&f);
            if (n > 1 && n > worked_ && refused_whole) {
                size_refused(b, n);
                continue;
            }
            // The blocks that arrived before the one that failed, as the
            // drive counts them: read again whole, then one a command.
            unsigned before_failure = blocks_before_failure(&f, n);
            if ((disc_changed(&f) || disc_gone(&f)) && stop_for(b + before_failure, rc, &f, before_failure > 0))
                return;
            uint32_t end = b + n;
            if (before_failure > 0 && send(b, before_failure, &f) == 0) {
                keep(b, before_failure);
                b += before_failure;
            }
            b = read_singly(b, end);
        }
    }

    // Blocks [from, to) one a command until one fails (sent again once,
    // then unreadable); returns the block after it, or `to`.
    uint32_t read_singly(uint32_t from, uint32_t to) {
        for (uint32_t b = from; b < to && !stopped_; ++b) {
            read_failure f;
            int rc = send(b, 1, &f);
            if (rc != 0 && !disc_changed(&f) && !disc_gone(&f))
                rc = send(b, 1, &f);
            if (rc == 0) {
                keep(b, 1);
                continue;
            }
            if (!any_read_ && failure_.kind == READ_OK) {
                failure_ = f;
                failed_block_ = b;
            }
            if (stop_for(b, rc, &f))
                return to;
            store_unreadable(b);
            if (retry_size_ > 0)
                retry_after_ = b + 1;  // the block that failed is passed: the size refused once is tried again
            return b + 1;
        }
        return to;
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
    // blocks show none, or `limit`. Returns the blocks spanned without an
    // ISRC frame: 0 when one was read.
    uint32_t read_codes(uint32_t from, uint32_t limit) {
        for (uint32_t at = from; at < limit && !stopped_;) {
            uint32_t to = limit - at < CODE_CHUNK ? limit : at + CODE_CHUNK;
            read(at, to);
            at = to;
            unsigned found = isrc_frames(from, at);
            if (found > 0 && (found >= CODE_FRAMES || at >= limit))
                return 0;
            if (found == 0 && at - from >= NO_CODE_SPAN)
                return at - from;
        }
        return isrc_frames(from, limit) > 0 ? 0 : limit - from;
    }

    // Whether any block read carries a catalogue-number or ISRC frame.
    bool any_code_frame() const {
        for (const auto& b : blocks_) {
            q_frame f;
            if (b.second.readable && decode_q(b.second.q, &f) == 0 && (f.adr_control >> 4 == 2 || f.adr_control >> 4 == 3))
                return true;
        }
        return false;
    }

    // Positions as many frames in a row as the sheet's evidence asks for
    // agree on, each run of blocks read on its own.
    std::vector<sample> samples() const {
        std::vector<sample> found;
        unsigned agreeing = 0;  // frames in a row that agree with `first`
        sample first = {};
        int64_t first_disc = 0;
        uint32_t last_block = 0;
        for (const auto& b : blocks_) {
            if (b.first != last_block + 1)
                agreeing = 0;  // a gap: the run starts again
            last_block = b.first;
            q_position p;
            if (!b.second.readable || !q_position_of(b.second.q, &p))
                continue;
            if (agreeing > 0 && p.order == first.order && p.disc - first_disc == (int64_t)b.first - first.block) {
                if (++agreeing == s_->agreeing)
                    found.push_back(first);
                continue;
            }
            agreeing = 1;
            first = {b.first, p.order, p.index >= 1 ? p.start : -1};
            first_disc = p.disc;
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
            std::map<std::string, unsigned> codes;
            std::string code;
            for (auto it = blocks_.lower_bound(from); it != blocks_.end() && it->first < to; ++it)
                if (it->second.readable && is_isrc_frame(it->second.q, &code))
                    ++codes[code];
            unsigned least = s_->unchecked ? 2 : 1;  // frames of a code before it counts here
            unsigned counted = 0;
            for (const auto& c : codes)
                counted += c.second >= least;
            if (counted > 1 && track < 100) {
                note("reading all of track %u: it carries more than one ISRC", track);
                read((uint32_t)all[i].start, to);
            }
        }
    }
};


// The drive's name; a drive that refuses INQUIRY, or answers it wrong, is unknown.
void read_identity(drive_handle handle, disc_reading* r, const read_listener* l) {
    uint8_t answer[INQUIRY_SIZE];
    uint32_t length = 0;
    read_failure f;
    char why[ANSWER_WHY_SIZE];
    r->drive_asked = true;
    if (inquiry(handle, answer, sizeof answer, &length, &f) != 0)
        return;
    r->drive_known = inquiry_parse(answer, length, length == sizeof answer, &r->drive, why);
    if (!r->drive_known)
        say_malformed(l, "INQUIRY answer", why);
}

// The CD-Text, whole: header first, then what the header names; its ISRCs
// to the sheet, where no frame will give one.
void read_cd_text(drive_handle handle, disc_sheet* d, const read_listener* l) {
    disc_reading* r = &d->reading;
    std::unique_ptr<uint8_t[]> answer(new uint8_t[4 + CD_TEXT_PACKS * CD_TEXT_PACK]);
    uint32_t length = 0;
    bool cut = false;
    read_failure ignored;
    r->cd_text_asked = true;
    if (read_toc_answer(handle, TOC_FORMAT_CD_TEXT, 0, answer.get(), 4 + CD_TEXT_PACKS * CD_TEXT_PACK, &length, &cut,
                        &ignored) != 0)
        return;  // a drive or disc without it
    unsigned packs = 0;
    if (!cd_text_answer_packs(answer.get(), length, cut, &packs, r->cd_text_malformed)) {
        say_malformed(l, "CD-Text", r->cd_text_malformed);
        return;
    }
    if (cut)
        say(l, "the drive's CD-Text is longer than the system takes in one transfer: its first %u packs are read",
            packs);
    r->cd_text_packs = packs;
    memcpy(r->cd_text, answer.get() + 4, (size_t)packs * CD_TEXT_PACK);
    sheet_use_cd_text_codes(d);
}

// About the blocks a targeted read needs: around each track's start, a
// stretch of its codes, the lead-out; for the listener's total.
uint64_t planned_blocks(const disc_toc* toc, uint32_t end) {
    uint64_t blocks = BEFORE_START + LEAD_OUT_READ;
    for (unsigned i = 0; i < toc->track_count; ++i)
        if (toc->track[i].session == 1)
            blocks += BEFORE_START + AFTER_START + (toc->track[i].control & CONTROL_DATA ? 0 : NO_CODE_SPAN);
    return blocks < end ? blocks : end;
}

}  // namespace

int sheet_read_drive(drive_handle handle, bool full, disc_sheet* d, const read_listener* l, read_failure* failure,
                     uint32_t* failed_block) {
    sheet* s = &d->s;
    disc_reading* r = &d->reading;
    r->method = full ? SHEET_FULL : SHEET_TARGETED;  // a drive's read, whole or not as it turns out
    read_identity(handle, r, l);
    if (l->progress != NULL && l->progress(l->context, "reading the table of contents", 0, 0))
        return READ_STOPPED;
    read_failure toc_failure;
    toc_notes toc_lines = {};
    disc_toc toc;
    int toc_rc = read_disc_toc(handle, &toc, &toc_failure, l->waiting, l->context, &toc_lines);
    if (toc_rc == EIO && (becoming_ready(&toc_failure) || no_medium(&toc_failure))) {
        *failure = toc_failure;  // no disc, or one the drive never got ready to read
        return READ_NOTHING;
    }
    for (unsigned i = 0; i < toc_lines.count; ++i)
        say(l, "%s", toc_lines.line[i]);
    if (toc_rc == 0)
        sheet_use_toc(s, &toc);
    bool trusted = sheet_toc_trusted(s);
    reader disc(handle, s, l);
    if (s->toc_known) {
        read_cd_text(handle, d, l);
        r->disc_blocks = (uint32_t)(toc.first_session_end < 0 ? 0 : toc.first_session_end);
    }
    if (trusted) {
        disc.set_end(r->disc_blocks);
    } else {
        if (s->toc_known) {
            say(l, "the drive's table of contents cannot be right (%s), so the whole disc is read", s->toc_impossible);
        } else if (toc_rc == EIO) {
            char words[READ_FAILURE_TEXT_SIZE];
            read_failure_text(&toc_failure, false, words, sizeof words);
            say(l, "the drive gave no table of contents (%s), so the whole disc is read", words);
        } else {
            say(l, "without a table of contents, the whole disc is read");
        }
        full = true;
    }
    r->method = full ? SHEET_FULL : SHEET_TARGETED;
    if (full) {
        disc.plan(trusted ? r->disc_blocks : 0);
        disc.read_whole();
    } else {
        disc.plan(planned_blocks(&toc, r->disc_blocks));
        disc.read_targeted(&toc);
    }
    r->subchannel = disc.q_kind();
    if (r->subchannel == SHEET_Q_NONE) {
        sheet_no_frames(s);
        if (full && trusted)
            say(l, "the drive returns no subchannel with READ CD, so there is no block to read whole");
        if (s->toc_known)
            disc.read_data_modes(&toc);
    }
    r->commands = disc.commands();
    r->lead_out_blocks = disc.lead_out_read();
    if (!trusted)
        r->disc_blocks = s->end;
    *failure = disc.failure();
    *failed_block = disc.failed_block();
    if (disc.gone())
        return disc.stopped_because();
    if (r->subchannel == SHEET_Q_NONE) {
        if (!s->toc_known)
            return READ_NOTHING;  // no subchannel and no table of contents: nothing to make a sheet of
    } else if (!disc.anything_read()) {
        return READ_NOTHING;
    }
    disc.read_drive_codes(trusted ? &toc : NULL);
    if (disc.gone())
        return disc.stopped_because();
    disc.tell_done();
    return s->unreadable_count > 0 ? READ_GAPS : READ_WHOLE;
}
