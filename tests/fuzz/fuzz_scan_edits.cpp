// Fuzz target: a disc's saved scan as users hand it over, edited as the
// input draws it: lines lost, lines repeated, lines damaged, the disc
// started again. Checks that a scan holding the disc twice gives no sheet,
// and that no start is marked exact unless the disc's index begins there
// and the scan holds that block and, as a good position frame, the block
// before it (lines placed by their disc times, lost and repeated ones
// between them or not).
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "emulated/disc_synth.h"
#include "sheet/read_scan.h"
#include "sheet/sheet.h"

namespace {

// A line of the edited scan: the block it came from, and whether its frame
// is as the disc has it (not damaged).
struct line {
    uint32_t block;
    bool good;
};

const synth_disc& disc() {
    static synth_disc d = [] {
        synth_disc s;
        s.mcn = "1234567890128";
        s.tracks = {{0, 600, 0, "ZZQSC2600001"}, {150, 500, 0, "ZZQSC2600002"}, {90, 400, 0x2, "ZZQSC2600003"}};
        s.tracks[1].indexes = {200};
        s.lead_out = 100;
        s.isrc_period = 10;
        s.mcn_period = 13;
        return s;
    }();
    return d;
}

uint32_t number(const uint8_t* data, size_t size, size_t* at, uint32_t limit) {
    uint32_t v = 0;
    for (int i = 0; i < 2; ++i)
        v = v << 8 | (*at < size ? data[(*at)++] : 0);
    return limit ? v % limit : 0;
}

// Whether the `n` lines before line `at` are good and each the block after the one before.
bool whole_before(const std::vector<line>& lines, uint32_t at, uint32_t n) {
    if (at < n)
        return false;
    for (uint32_t k = at - n; k < at; ++k)
        if (!lines[k].good || (k > at - n && lines[k].block != lines[k - 1].block + 1))
            return false;
    return true;
}

bool is_good_position(uint32_t block) {
    synth_sector_info info = synth_describe(disc(), block);
    return info.kind == SYNTH_POSITION && !info.damaged;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t blocks = synth_sector_count(disc());
    std::vector<line> lines;
    for (uint32_t b = 0; b < blocks; ++b)
        lines.push_back({b, true});
    bool restarted = false;
    size_t at = 0;
    for (int op = 0; op < 4 && at < size; ++op) {
        uint8_t kind = data[at++] % 4;
        uint32_t from = number(data, size, &at, (uint32_t)lines.size());
        uint32_t length = 1 + number(data, size, &at, 400);
        uint32_t to = from + length < lines.size() ? from + length : (uint32_t)lines.size();
        switch (kind) {
        case 0:  // lost
            if (to - from < lines.size())
                lines.erase(lines.begin() + from, lines.begin() + to);
            break;
        case 1:  // repeated
            lines.insert(lines.begin() + to, lines.begin() + from, lines.begin() + to);
            break;
        case 2:  // damaged
            for (uint32_t i = from; i < to; ++i)
                lines[i].good = false;
            break;
        default:  // the disc again from its start, 50 lines of it at least, after 50 lines that follow each other
            if (length >= 50 && whole_before(lines, from, 50) && lines[from - 1].block > SHEET_OFFSET_RANGE) {
                std::vector<line> again;
                for (uint32_t b = 0; b < length && b < blocks; ++b)
                    again.push_back({b, true});
                lines.insert(lines.begin() + from, again.begin(), again.end());
                restarted = true;
                op = 4;  // the last edit: nothing after it may spoil the disc's second start
            }
            break;
        }
    }
    std::string report;
    for (const line& l : lines) {
        std::array<uint8_t, 12> q = synth_q(disc(), l.block);
        if (!l.good)
            q[3] ^= 0x10;
        char text[40];
        snprintf(text, sizeof text, "%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x \n", q[0], q[1], q[2],
                 q[3], q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
        report += text;
    }
    FILE* in = fmemopen((void*)report.data(), report.size(), "rb");
    if (in == NULL)
        return 0;
    static sheet s;
    sheet_start(&s);
    scan_result r;
    int outcome = sheet_read_scan(in, &s, &r);
    fclose(in);
    if (restarted && outcome != SCAN_STARTS_AGAIN)
        __builtin_trap();  // a sheet of one disc from a scan of it twice
    if (outcome != SCAN_READ)
        return 0;
    sheet_finish(&s);
    for (int n = s.first_track; n <= s.last_track && n > 0; ++n)
        for (int i = 0; i < SHEET_INDEXES; ++i) {
            const sheet_index* index = &s.track[n].index[i];
            if (i == 1 || !index->seen || !index->exact)
                continue;
            // Exact: the index begins there on the disc, and the scan holds
            // the block and the block before it, a good position frame.
            uint32_t b = index->block;
            synth_sector_info here = synth_describe(disc(), b);
            bool begins = b > 0 && b < blocks && here.track == (unsigned)n && here.index == (unsigned)i;
            if (begins) {
                synth_sector_info before = synth_describe(disc(), b - 1);
                begins = before.track != here.track || before.index != here.index;
            }
            bool held = false, before_held = false;
            for (const line& l : lines) {
                held = held || l.block == b;
                before_held = before_held || (l.block + 1 == b && l.good && is_good_position(l.block));
            }
            if (!begins || !held || !before_held)
                __builtin_trap();
        }
    return 0;
}
