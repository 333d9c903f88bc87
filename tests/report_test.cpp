// The frame stage: the per-mode lines each switch selects, their order, and
// how each kind of frame moves the running position.
#include <gtest/gtest.h>
#include <string.h>

#include "main.h"
#include "support.h"

namespace {

q_frame position_frame(timing p) {
    q_frame f{};
    f.adr_control = 0x10;
    f.position = p;
    return f;
}

q_frame mcn_frame(const char* digits, uint8_t abs_f) {
    q_frame f{};
    f.adr_control = 0x20;
    memcpy(f.mcn.mcn_digits, digits, 13);
    f.mcn.abs_f = abs_f;
    return f;
}

q_frame isrc_frame(const char* chars, uint8_t abs_f) {
    q_frame f{};
    f.adr_control = 0x30;
    memcpy(f.isrc.isrc_chars, chars, 12);
    f.isrc.abs_f = abs_f;
    return f;
}

q_frame other_frame(unsigned adr) {
    q_frame f{};
    f.adr_control = (uint8_t)(adr << 4 | 0x4);
    return f;
}

// Runs report_frame once and returns what it printed.
std::string report(const std::string& switches, timing* running, int result, const q_frame& f) {
    report_options o = options_from(switches);
    return capture([&] {
               report_frame(&o, running, result, &f);
               return 0;
           }).out;
}

bool same(const timing& a, const timing& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

TEST(ReportFrame, PositionFramePrintsFrameThenRunningPosition) {
    timing running = {9, 9, {9, 9, 9}, {9, 9, 9}};
    timing p = {1, 1, {0, 2, 5}, {0, 4, 5}};
    EXPECT_EQ("1  1.01 00:02.05 00:04.05\n 1.01 00:02.05 00:04.05\n",
              report("pt", &running, 0, position_frame(p)));
    EXPECT_TRUE(same(p, running));
}

TEST(ReportFrame, TwoDigitTrackAndIndex) {
    timing running = {};
    EXPECT_EQ("1 12.34 01:02.03 45:06.07\n12.34 01:02.03 45:06.07\n",
              report("pt", &running, 0, position_frame({12, 34, {1, 2, 3}, {45, 6, 7}})));
}

TEST(ReportFrame, IsrcOneFrameAfterPosition) {
    timing running = {1, 1, {0, 3, 9}, {0, 5, 10}};
    EXPECT_EQ(" 1.01 00:03.10 00:05.11 : ZZ-QSC-26-00001\n",
              report("i", &running, 0, isrc_frame("ZZQSC2600001", 11)));
}

TEST(ReportFrame, CatalogueResyncAcrossASecond) {
    timing running = {2, 1, {0, 10, 20}, {2, 15, 72}};
    EXPECT_EQ(" 2.01 00:10.26 02:16.03 : 1234567890128\n",
              report("c", &running, 0, mcn_frame("1234567890128", 3)));
}

TEST(ReportFrame, IsrcAtTheSameFrameNumberDoesNotMove) {
    timing running = {3, 1, {1, 0, 0}, {5, 0, 40}};
    timing before = running;
    EXPECT_EQ(" 3.01 01:00.00 05:00.40 : GB-AAA-99-12345\n",
              report("i", &running, 0, isrc_frame("GBAAA9912345", 40)));
    EXPECT_TRUE(same(before, running));
}

TEST(ReportFrame, FailedFrameAdvancesOneFrameSilently) {
    timing running = {1, 1, {0, 59, 74}, {1, 1, 74}};
    q_frame junk = position_frame({7, 7, {7, 7, 7}, {7, 7, 7}});  // must not be looked at
    EXPECT_EQ("", report("rptcie", &running, Q_CRC_ERROR, junk));
    EXPECT_TRUE(same(timing{1, 1, {1, 0, 0}, {1, 2, 0}}, running));
}

TEST(ReportFrame, OtherModesAdvanceOneFrame) {
    for (unsigned adr : {0u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u}) {
        timing running = {4, 1, {0, 0, 74}, {3, 0, 74}};
        EXPECT_EQ("", report("tci", &running, 0, other_frame(adr))) << adr;
        EXPECT_TRUE(same(timing{4, 1, {0, 1, 0}, {3, 1, 0}}, running)) << adr;
        running = {4, 1, {0, 0, 0}, {3, 0, 0}};
        EXPECT_EQ(std::to_string(adr) + " unknown mode\n", report("p", &running, 0, other_frame(adr)));
    }
}

// The -p line shows the frame (its own frame number) before the update; the
// -c or -i line then shows the running position after it.
TEST(ReportFrame, FrameLineComesFirst) {
    timing running = {1, 1, {0, 0, 10}, {0, 2, 10}};
    EXPECT_EQ("2 0000000000017 12\n 1.01 00:00.12 00:02.12 : 0000000000017\n",
              report("pc", &running, 0, mcn_frame("0000000000017", 12)));
    EXPECT_EQ("3 US-XYZ-01-00042 14\n 1.01 00:00.14 00:02.14 : US-XYZ-01-00042\n",
              report("pi", &running, 0, isrc_frame("USXYZ0100042", 14)));
}

// Each switch prints its own lines and no others, for each kind of frame.
TEST(ReportFrame, EverySwitchCombination) {
    const timing start = {1, 1, {0, 0, 0}, {0, 2, 0}};
    const q_frame frames[] = {position_frame({1, 1, {0, 1, 0}, {0, 3, 0}}),
                              mcn_frame("1234567890128", 2), isrc_frame("ZZQSC2600001", 3),
                              other_frame(5)};
    const char* frame_lines[] = {"1  1.01 00:01.00 00:03.00\n", "2 1234567890128 2\n",
                                 "3 ZZ-QSC-26-00001 3\n", "5 unknown mode\n"};
    const char* after_lines[] = {" 1.01 00:01.00 00:03.00\n",
                                 " 1.01 00:01.02 00:03.02 : 1234567890128\n",
                                 " 1.01 00:01.03 00:03.03 : ZZ-QSC-26-00001\n", ""};
    const char after_switch[] = {'t', 'c', 'i', 0};
    for (int mask = 0; mask < 64; ++mask) {
        std::string switches = switches_of(mask);
        timing running = start;
        std::string want, got;
        for (int k = 0; k < 4; ++k) {
            if (switches.find('p') != std::string::npos)
                want += frame_lines[k];
            if (after_switch[k] && switches.find(after_switch[k]) != std::string::npos)
                want += after_lines[k];
            got += report(switches, &running, 0, frames[k]);
        }
        EXPECT_EQ(want, got) << "switches " << switches;
    }
}

// Values that pass the CRC but are out of range are printed as decoded; the
// running position is back in range as soon as it moves.
TEST(ReportFrame, OutOfRangePositionIsShownAsCarried) {
    timing running = {};
    EXPECT_EQ("1 165.165 165:165.165 99:99.99\n165.165 165:165.165 99:99.99\n",
              report("pt", &running, 0, position_frame({165, 165, {165, 165, 165}, {99, 99, 99}})));
    EXPECT_EQ("165.165 167:47.15 100:40.24 : ZZ-QSC-26-00001\n",
              report("i", &running, 0, isrc_frame("ZZQSC2600001", 24)));
}

}  // namespace
