// The progress line's timing rules, on a clock the test moves: how often it
// looks at the clock, how often it writes, and what it writes.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "progress.h"

namespace {

uint64_t fake_now = 0;
unsigned clock_looks = 0;
uint64_t fake_clock() {
    ++clock_looks;
    return fake_now;
}

// A scan of `sectors` blocks from a drive that takes `ns_per_sector` each;
// returns what the line wrote.
std::string scan(uint32_t sectors, uint64_t ns_per_sector, bool enabled = true, uint8_t minutes = 0,
                 const char* note = NULL) {
    char* text = NULL;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    fake_now = 1000000000;
    clock_looks = 0;
    progress p;
    progress_start(&p, enabled, fake_clock, out);
    if (note != NULL)
        progress_note(&p, note);
    timing running = START_POSITION;
    running.abs.m = minutes;
    for (uint32_t lba = 1; lba <= sectors; ++lba) {
        fake_now += ns_per_sector;
        timing_advance(&running, 1);
        progress_update(&p, lba, &running);
    }
    progress_end(&p);
    fclose(out);
    std::string written(text, size);
    free(text);
    return written;
}

size_t lines_written(const std::string& s) {
    size_t n = 0;
    for (char c : s)
        n += c == '\r';
    return n;
}

TEST(ProgressLine, AtMostFourTimesASecondWhateverTheDrive) {
    const uint64_t MS = 1000000;
    struct {
        const char* drive;
        uint64_t ns_per_sector;
        uint32_t sectors;  // ten seconds' worth
    } drives[] = {
        {"1x", 1000000000 / 75, 750},
        {"52x", 1000000000 / 3900, 39000},
        {"an image file, 10 us a sector", 10000, 1000000},
    };
    for (auto& d : drives) {
        std::string written = scan(d.sectors, d.ns_per_sector);
        size_t lines = lines_written(written) - 1;  // the last is the erasure
        EXPECT_GE(lines, 30u) << d.drive;  // a line waits for the next look at the clock
        EXPECT_LE(lines, 40u) << d.drive;
        // The clock is looked at 30 to 120 ms apart once the look has adapted.
        EXPECT_LE(clock_looks, 10000 * MS / (30 * MS) + 20) << d.drive;
        EXPECT_GE(clock_looks, 10000 * MS / (120 * MS)) << d.drive;
    }
}

TEST(ProgressLine, ThirteenCharactersAtMostAndErasedAtTheEnd) {
    std::string written = scan(1000000, 1000, true, 120);  // far beyond 99.9x, past 100 minutes
    ASSERT_GT(lines_written(written), 1u);
    size_t start = 0;
    for (size_t end; (end = written.find('\r', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, (size_t)PROGRESS_WIDTH) << written.substr(start, end - start);
    EXPECT_NE(std::string::npos, written.find("99.9x\r"));
    EXPECT_EQ(std::string(PROGRESS_WIDTH, ' ') + "\r", written.substr(written.size() - PROGRESS_WIDTH - 1));

    EXPECT_EQ("", scan(100000, 1000, false));  // not a terminal: nothing at all
    EXPECT_EQ(0u, clock_looks);
    EXPECT_EQ("", scan(10, 1000));  // over before the first update: nothing to erase
}

// A note before the scan ("waiting for the drive") is covered by the first
// line, and the note alone is erased whole.
TEST(ProgressLine, NoteCoveredByTheLineAfterIt) {
    std::string written = scan(1000000, 1000, true, 0, "waiting for the drive");
    EXPECT_EQ(0u, written.find("waiting for the drive\r"));
    size_t first = written.find('\r') + 1;
    EXPECT_EQ(21u, written.find('\r', first) - first) << written.substr(first, 30);
    EXPECT_EQ(std::string(21, ' ') + "\r", scan(10, 1000, true, 0, "waiting for the drive").substr(22));
}

}  // namespace
