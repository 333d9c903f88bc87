// The whole program on the emulated drive: command lines, complete output for
// synthesized and real frames, and the scan's end at every kind of drive fault.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "emulated/emulated_drive.h"
#include "support.h"

namespace {


// Two tracks in 13 blocks: a catalogue number at block 2, a damaged frame at
// block 4, a three-block pregap at blocks 6-8 with a mode-5 frame at block 7,
// and an ISRC at block 11.
synth_disc small_disc() {
    synth_disc d;
    d.mcn = "1234567890128";
    d.mcn_phase = 2;
    d.isrc_phase = 11;
    d.tracks = {{0, 6, 0, "ZZQSC2600001"}, {3, 4, 0, "ZZQSC2600002"}};
    d.damaged = {4};
    d.raw_q[7] = {0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    return d;
}

// Longer discs with every feature, for output derived from the description.
synth_disc long_disc(uint32_t seed) {
    synth_disc d;
    d.noise_seed = seed;
    d.mcn = "0724354027126";
    d.mcn_phase = seed % 100;
    d.isrc_phase = (seed * 7 + 50) % 100;
    d.tracks = {{0, 1000 + seed % 300, 0x0, "USABC9912345"},
                {150, 700, 0x2, "GBXYZ0100001"},
                {75, 1200, 0x4, ""},
                {200, 520, 0x1, "JPQRS8800777"}};
    d.damaged = {0, 1, 2, 99, 1400, 1401, 2999, 3000 + seed % 500};
    d.raw_q[500 + seed] = {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    d.raw_q[900] = {0x4F, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    return d;
}

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulated_reset();
        emulated_insert_synth_disc(small_disc());
    }
    void TearDown() override { emulated_reset(); }
};

TEST_F(ScanTest, SmallDiscEveryReport) {
    run_result r = run_qscan({"-p", "-t", "-c", "-i", "-e", "D:"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ("1  1.01 00:00.00 00:02.00\n"
              " 1.01 00:00.00 00:02.00\n"
              "1  1.01 00:00.01 00:02.01\n"
              " 1.01 00:00.01 00:02.01\n"
              "2 1234567890128 2\n"
              " 1.01 00:00.02 00:02.02 : 1234567890128\n"
              "1  1.01 00:00.03 00:02.03\n"
              " 1.01 00:00.03 00:02.03\n"
              "crc error in sector 4\n"
              "1  1.01 00:00.05 00:02.05\n"
              " 1.01 00:00.05 00:02.05\n"
              "1  2.00 00:00.02 00:02.06\n"
              " 2.00 00:00.02 00:02.06\n"
              "5 unknown mode\n"
              "1  2.00 00:00.00 00:02.08\n"
              " 2.00 00:00.00 00:02.08\n"
              "1  2.01 00:00.00 00:02.09\n"
              " 2.01 00:00.00 00:02.09\n"
              "1  2.01 00:00.01 00:02.10\n"
              " 2.01 00:00.01 00:02.10\n"
              "3 ZZ-QSC-26-00002 11\n"
              " 2.01 00:00.02 00:02.11 : ZZ-QSC-26-00002\n"
              "1  2.01 00:00.03 00:02.12\n"
              " 2.01 00:00.03 00:02.12\n",
              r.out);
    // The model the longer discs are checked against agrees with the hand-written lines.
    EXPECT_EQ(r.out, expected_output(small_disc(), options_from("ptcie")));
}

TEST_F(ScanTest, SmallDiscRawLines) {
    run_result r = run_qscan({"-r", "D:"});
    std::vector<std::string> lines = split_lines(r.out);
    ASSERT_EQ(13u, lines.size());  // any option turns the default ISRC lines off
    EXPECT_EQ("01 01 01 00 00 00 00 00 02 00 5a 28 ", lines[0]);
    EXPECT_EQ("05 01 02 03 04 05 06 07 08 09 ", lines[7].substr(0, 30));
    EXPECT_EQ(r.out, expected_output(small_disc(), options_from("r")));
}

TEST_F(ScanTest, CommandLines) {
    const std::string isrc_only = expected_output(small_disc(), options_from("i"));
    const std::string frames_only = expected_output(small_disc(), options_from("p"));
    ASSERT_NE("", isrc_only);
    struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{}, 1, USAGE, ""},
        {{"D:"}, 0, isrc_only, ""},
        {{"d:"}, 0, isrc_only, ""},
        {{"-i", "D:"}, 0, isrc_only, ""},
        {{"-i", "-i", "D:"}, 0, isrc_only, ""},
        {{"-p", "D:"}, 0, frames_only, ""},
        {{"-px", "D:"}, 0, frames_only, ""},
        {{"-pi", "D:"}, 0, frames_only, ""},  // only the second character counts
        {{"-p", "-p", "D:"}, 0, frames_only, ""},
        {{"-p", "-i", "D:"}, 0, expected_output(small_disc(), options_from("pi")), ""},
        {{"-e", "D:"}, 0, "crc error in sector 4\n", ""},
        {{"-t", "-e", "D:"}, 0, expected_output(small_disc(), options_from("te")), ""},
        {{"-x", "D:"}, 1, USAGE, ""},
        {{"-P", "D:"}, 1, USAGE, ""},
        {{"-I", "D:"}, 1, USAGE, ""},
        {{"-", "D:"}, 1, USAGE, ""},
        {{"-"}, 1, USAGE, ""},
        {{"--", "D:"}, 1, USAGE, ""},
        {{"-p", "-z", "D:"}, 1, USAGE, ""},
        {{"-p"}, 1, USAGE, ""},
        {{"-p", "-c"}, 1, USAGE, ""},
        {{"D:", "-p"}, 1, USAGE, ""},
        {{"D:", "E:"}, 1, USAGE, ""},
        {{"-p", "D:", "D:"}, 1, USAGE, ""},
        {{""}, 1, "", OPEN_FAILED},
        {{"-p", ""}, 1, "", OPEN_FAILED},
        {{"D"}, 1, "", OPEN_FAILED},
        {{"D:\\"}, 1, "", OPEN_FAILED},
        {{"DE:"}, 1, "", OPEN_FAILED},
        {{"C:"}, 1, "", OPEN_FAILED},
        {{"E:"}, 1, "", OPEN_FAILED},
        {{"1:"}, 1, "", OPEN_FAILED},
        {{"-c", "C:"}, 1, "", OPEN_FAILED},
        {{"/dev/sr0"}, 1, "", OPEN_FAILED},  // the emulated drive is named by its letter alone
    };
    for (auto& c : cases) {
        std::string shown;
        for (auto& a : c.args)
            shown += "'" + a + "' ";
        run_result r = run_qscan(c.args);
        EXPECT_EQ(c.status, r.status) << shown;
        EXPECT_EQ(c.out, r.out) << shown;
        EXPECT_EQ(c.err, r.err) << shown;
    }
}

TEST_F(ScanTest, UsageNamesTheProgramAsCalled) {
    std::string name = "/usr/local/bin/qscan";
    char* argv[] = {&name[0], nullptr};
    run_result r = capture([&] { return qscan_main(1, argv); });
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Usage: /usr/local/bin/qscan [-r] [-p] [-t] [-c] [-i] [-e]  device\n", r.out);
}

// A damaged frame at block 7: one 36-character
// line per block, and the error line right after the eighth.
TEST_F(ScanTest, RawAndErrorLinesInterleave) {
    synth_disc d;
    d.tracks = {{0, 20, 0, ""}};
    d.damaged = {7};
    emulated_insert_synth_disc(d);
    std::vector<std::string> lines = split_lines(run_qscan({"-r", "-e", "D:"}).out);
    ASSERT_EQ(21u, lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == 8) {
            EXPECT_EQ("crc error in sector 7", lines[i]);
            continue;
        }
        EXPECT_EQ(36u, lines[i].size()) << i;
        EXPECT_EQ(' ', lines[i].back());
    }
}

TEST_F(ScanTest, LongDiscsEveryOptionCombination) {
    for (uint32_t seed : {1u, 77u}) {
        synth_disc d = long_disc(seed);
        emulated_insert_synth_disc(d);
        for (int mask = 1; mask < 64; ++mask) {
            std::string switches = switches_of(mask);
            run_result r = run_qscan(arguments_for(switches));
            ASSERT_EQ(0, r.status) << switches;
            ASSERT_EQ(expected_output(d, options_from(switches)), r.out) << "seed " << seed << " -" << switches;
        }
    }
}

TEST_F(ScanTest, SampleDisc) {
    synth_disc sample = synth_sample_disc();
    emulated_insert_synth_disc(sample);
    run_result r = run_qscan({"D:"});
    EXPECT_EQ(expected_output(sample, options_from("i")), r.out);
    EXPECT_EQ(0, r.status);
    r = run_qscan({"-c", "-i", "-e", "D:"});
    EXPECT_EQ(expected_output(sample, options_from("cie")), r.out);
    EXPECT_NE(std::string::npos, r.out.find(" 1.01 00:00.25 00:02.25 : 1234567890128\n"));
    EXPECT_NE(std::string::npos, r.out.find(" 1.01 00:01.00 00:03.00 : ZZ-QSC-26-00001\n"));
}

// Frames quoted from real discs, laid into sectors and scanned with -p -e.
TEST_F(ScanTest, RealFramesThroughTheWholeProgram) {
    std::ifstream file(QSCAN_TEST_DATA "/real_q_frames.tsv");
    ASSERT_TRUE(file);
    std::vector<uint8_t> image;
    std::string want, line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string hex, verdict, p_line;
        std::getline(fields, hex, '\t');
        std::getline(fields, verdict, '\t');
        std::getline(fields, p_line, '\t');
        uint32_t lba = (uint32_t)(image.size() / SECTOR_BUFFER_SIZE);
        std::vector<uint8_t> bytes = from_hex(hex);
        std::array<uint8_t, 12> q;
        std::copy(bytes.begin(), bytes.end(), q.begin());
        image.resize(image.size() + SECTOR_BUFFER_SIZE, 0x3F);  // R-W bits set, P clear
        synth_lay_down_q(q, &image[image.size() - 96]);
        want += verdict == "ok" ? p_line + "\n" : "crc error in sector " + std::to_string(lba) + "\n";
    }
    emulated_insert_image(image);
    run_result r = run_qscan({"-p", "-e", "D:"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(want, r.out);
}

TEST_F(ScanTest, SectorBufferIsPageAligned) {
    run_result r = run_qscan({"-e", "D:"});
    ASSERT_EQ(0, r.status);
    uintptr_t address = (uintptr_t)emulated_last_call()->request.DataBuffer;
    EXPECT_EQ(0u, address % 4096) << std::hex << address;
}

// A disc taken out, or a drive not ready, after reading began is a read
// error that cut the scan short, in the lead-out too; other failures there
// are the end of the disc.
TEST_F(ScanTest, DiscTakenOutOrDriveNotReadyAfterReadingBegan) {
    synth_disc d;
    d.tracks = {{0, 300, 0, "ZZQSC2600001"}, {150, 400, 0, "ZZQSC2600002"}};
    d.lead_out = 100;
    const uint32_t lead_out_start = 850;
    const uint8_t not_ready[18] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x00};
    const struct {
        const char* what;
        uint32_t at;
        bool custom;  // the not-ready sense above, else FAULT_NOT_READY or FAULT_MEDIUM
        emulated_fault fault;
        int status;
        const char* reason;
    } cases[] = {
        {"the disc taken out in the lead-out", lead_out_start + 10, false, FAULT_NOT_READY, 1,
         "drive reports: not ready, medium not present (02/3a/00)\n"},
        {"the disc taken out at block 1", 1, false, FAULT_NOT_READY, 1,
         "drive reports: not ready, medium not present (02/3a/00)\n"},
        {"a drive not ready in the lead-out", lead_out_start + 50, true, FAULT_NONE, 1,
         "drive reports: not ready, logical unit not ready (02/04/00)\n"},
        {"a medium error in the lead-out", lead_out_start + 10, false, FAULT_MEDIUM, 0, ""},
    };
    for (const auto& c : cases) {
        emulated_reset();
        emulated_insert_synth_disc(d);
        if (c.custom)
            emulated_inject_sense(c.at, not_ready, sizeof not_ready, sizeof not_ready);
        else
            emulated_inject_fault(c.at, c.fault);
        run_result r = run_qscan({"-t", "-i", "D:"});
        EXPECT_EQ(c.status, r.status) << c.what;
        EXPECT_EQ(expected_output(d, options_from("ti"), c.at), r.out) << c.what;
        std::string err = c.status ? "failed to read sector " + std::to_string(c.at) + ": Input/output error\n" +
                                         c.reason
                                   : "";
        EXPECT_EQ(err, r.err) << c.what;
    }
}

// A disc whose track 1 has a pregap from block 0 (a hidden track): before
// the first position frame the running position is in that pregap, its
// track time counting down to index 01, not track 1's index 01.
TEST_F(ScanTest, CodesBeforeTheFirstPositionFrameOfAHiddenTrack) {
    synth_disc d;
    d.mcn = "1234567890128";
    d.tracks = {{9000, 300, 0, "ZZQSC2600001"}, {150, 200, 0, "ZZQSC2600002"}};
    // Catalogue-number frames at blocks 0 and 1, before any position frame.
    d.raw_q[0] = {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x80, 0x00, 0x00};
    d.raw_q[1] = {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x80, 0x00, 0x01};
    emulated_insert_synth_disc(d);
    run_result r = run_qscan({"-t", "-c", "D:"});
    EXPECT_EQ(0, r.status);
    std::vector<std::string> lines = split_lines(r.out);
    ASSERT_LE(3u, lines.size());
    EXPECT_EQ(" 1.00 01:59.74 00:02.00 : 1234567890128", lines[0]);
    EXPECT_EQ(" 1.00 02:00.00 00:02.01 : 1234567890128", lines[1]);  // the running time counts up, as in any pregap
    EXPECT_EQ(" 1.00 01:59.72 00:02.02", lines[2]);                   // the disc's own, counting down
    // Without a table of contents, block 0's own position, as ever.
    emulated_inject_fault(0, FAULT_TOC_REFUSED);
    lines = split_lines(run_qscan({"-t", "-c", "D:"}).out);
    ASSERT_LE(1u, lines.size());
    EXPECT_EQ(" 1.01 00:00.00 00:02.00 : 1234567890128", lines[0]);
}

TEST_F(ScanTest, EmptyDrive) {
    emulated_eject();
    for (const char* option : {"-r", "-p", "-e", "-i"}) {
        run_result r = run_qscan({option, "D:"});
        EXPECT_EQ(1, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(std::string(READ_FAILED) + "drive reports: not ready, medium not present (02/3a/00)\n", r.err);
    }
    EXPECT_EQ(0u, emulated_slept_ms());  // said at once: a drive that never said it was loading is empty
}

}  // namespace
