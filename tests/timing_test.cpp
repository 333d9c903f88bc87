// Disc-time arithmetic: frame carries, position advance and re-synchronisation
// to a frame number, including times that are out of range.
#include <gtest/gtest.h>

#include "subchannel.h"

namespace {

std::string text(const msf& t) {
    char s[16];
    snprintf(s, sizeof s, "%02u:%02u.%02u", t.m, t.s, t.f);
    return s;
}

std::string text(const timing& t) {
    char s[16];
    snprintf(s, sizeof s, "%u.%u ", t.track, t.index);
    return s + text(t.rel) + " " + text(t.abs);
}

TEST(MsfAdd, Carries) {
    struct {
        msf start;
        int n;
        const char* want;
    } cases[] = {
        {{0, 59, 74}, 1, "01:00.00"},     {{0, 58, 74}, 76, "01:00.00"},
        {{0, 30, 10}, 74, "00:31.09"},    {{0, 0, 0}, 4499, "00:59.74"},
        {{0, 0, 0}, 4500, "01:00.00"},    {{0, 59, 74}, 75, "01:00.74"},
        {{12, 34, 56}, 0, "12:34.56"},    {{0, 0, 74}, 1, "00:01.00"},
        {{0, 0, 0}, 74, "00:00.74"},      {{0, 0, 1}, 74, "00:01.00"},
        {{0, 59, 0}, 75, "01:00.00"},     {{1, 2, 3}, 4500 * 3 + 75 * 4 + 5, "04:06.08"},
        {{79, 59, 74}, 1, "80:00.00"},    {{255, 59, 74}, 1, "00:00.00"},  // minutes wrap at 256
        {{200, 0, 0}, 4500 * 100, "44:00.00"},
    };
    for (auto c : cases) {
        msf t = c.start;
        msf_add(&t, c.n);
        EXPECT_EQ(c.want, text(t)) << text(c.start) << " + " << c.n;
    }
}

// Every frame count over a range agrees with counting one frame at a time.
TEST(MsfAdd, AgreesWithSingleSteps) {
    msf stepped = {0, 0, 0};
    for (int n = 1; n <= 3 * 4500; ++n) {
        if (++stepped.f == 75) {
            stepped.f = 0;
            if (++stepped.s == 60) {
                stepped.s = 0;
                ++stepped.m;
            }
        }
        msf direct = {0, 0, 0};
        msf_add(&direct, n);
        ASSERT_EQ(text(stepped), text(direct)) << n;
    }
}

// A time taken over from a frame with out-of-range values is counted for the
// frames it stands for, and comes out in range.
TEST(MsfAdd, OutOfRangeInputComesOutInRange) {
    struct {
        msf start;
        int n;
        const char* want;
    } cases[] = {
        {{0, 61, 80}, 0, "01:02.05"},     {{0, 60, 0}, 0, "01:00.00"},
        {{0, 0, 75}, 1, "00:01.01"},      {{0, 165, 165}, 1, "02:47.16"},
        {{165, 165, 165}, 0, "167:47.15"}, {{255, 165, 165}, 0, "01:47.15"},
        {{0, 99, 99}, 74, "01:41.23"},
    };
    for (auto c : cases) {
        msf t = c.start;
        msf_add(&t, c.n);
        EXPECT_EQ(c.want, text(t)) << text(c.start) << " + " << c.n;
        EXPECT_LT(t.s, 60);
        EXPECT_LT(t.f, 75);
    }
}

TEST(MsfAdd, NegativeCountIsTreatedAsZero) {
    msf t = {3, 4, 5};
    msf_add(&t, -10);
    EXPECT_EQ("03:04.05", text(t));
}

TEST(TimingAdvance, MovesBothTimesAndKeepsTrackAndIndex) {
    timing t = {7, 2, {0, 59, 70}, {12, 59, 74}};
    timing_advance(&t, 6);
    EXPECT_EQ("7.2 01:00.01 13:00.05", text(t));
}

TEST(TimingResync, MovesForwardToTheFrameNumber) {
    struct {
        timing start;
        uint8_t abs_f;
        const char* want;
    } cases[] = {
        {{1, 1, {0, 10, 20}, {2, 15, 72}}, 3, "1.1 00:10.26 02:16.03"},   // 3 - 72 + 75 = 6
        {{1, 1, {0, 10, 20}, {2, 15, 72}}, 72, "1.1 00:10.20 02:15.72"},  // already there
        {{1, 1, {0, 10, 20}, {2, 15, 72}}, 73, "1.1 00:10.21 02:15.73"},
        {{1, 1, {0, 10, 20}, {2, 15, 72}}, 71, "1.1 00:11.19 02:16.71"},  // 74 frames: never back
        {{3, 0, {0, 1, 74}, {5, 59, 74}}, 0, "3.0 00:02.00 06:00.00"},    // index 0: rel still counts up
        {{1, 1, {0, 0, 0}, {0, 2, 0}}, 0, "1.1 00:00.00 00:02.00"},
        {{1, 1, {0, 0, 0}, {0, 2, 0}}, 74, "1.1 00:00.74 00:02.74"},
    };
    for (auto c : cases) {
        timing t = c.start;
        timing_resync(&t, c.abs_f);
        EXPECT_EQ(c.want, text(t)) << text(c.start) << " to " << int(c.abs_f);
        EXPECT_EQ(c.abs_f, t.abs.f);
    }
}

// Out-of-range input from frames that pass their CRC: the position stays a
// valid time and, where the frame number can be reached, lands on it.
TEST(TimingResync, OutOfRangeInputStaysSane) {
    struct {
        timing start;
        uint8_t abs_f;
        const char* want;
    } cases[] = {
        // Running position from a position frame with frames 99: normalised
        // (00:02.99 is 00:03.24), then moved on to frame 30.
        {{1, 1, {0, 0, 99}, {0, 2, 99}}, 30, "1.1 00:01.30 00:03.30"},
        // Seconds 99 and frames 90 (01:40.15) moving to frame 10: 70 frames on.
        {{1, 1, {0, 0, 0}, {0, 99, 90}}, 10, "1.1 00:00.70 01:41.10"},
        // A frame number of 75 or more cannot be matched: counted as one frame.
        {{1, 1, {0, 5, 5}, {0, 7, 5}}, 75, "1.1 00:05.06 00:07.06"},
        {{1, 1, {0, 5, 5}, {0, 7, 5}}, 165, "1.1 00:05.06 00:07.06"},
        {{1, 1, {0, 0, 165}, {0, 165, 165}}, 110, "1.1 00:02.16 02:47.16"},
    };
    for (auto c : cases) {
        timing t = c.start;
        timing_resync(&t, c.abs_f);
        EXPECT_EQ(c.want, text(t)) << text(c.start) << " to " << int(c.abs_f);
        EXPECT_LT(t.abs.s, 60);
        EXPECT_LT(t.abs.f, 75);
        EXPECT_LT(t.rel.s, 60);
        EXPECT_LT(t.rel.f, 75);
    }
}

}  // namespace
