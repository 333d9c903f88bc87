// Hostile input: malformed command lines, every drive fault at the start,
// middle and end of a disc, frames that pass their CRC with out-of-range
// values, and many random discs checked against their descriptions.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <regex>

#include "emulated/emulated_drive.h"
#include "support.h"

namespace {

// The options a command line gives: none at all is the default, -i.
report_options options_for(const std::string& switches) {
    return options_from(switches.empty() ? "i" : switches);
}

// Splits output taken with -r into one chunk per block: each raw line starts one.
std::vector<std::string> per_sector(const std::string& out) {
    static const std::regex raw_line("([0-9a-f]{2} ){12}");
    std::vector<std::string> chunks;
    for (const std::string& line : split_lines(out)) {
        if (std::regex_match(line, raw_line) || chunks.empty())
            chunks.emplace_back();
        chunks.back() += line + "\n";
    }
    return chunks;
}

synth_disc test_disc() {
    synth_disc d = synth_album_disc(2 * 60 * 75 + 3000);  // three tracks
    d.raw_q[1234] = {0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    d.raw_q[4321] = {0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return d;
}

class HardeningTest : public ::testing::Test {
protected:
    synth_disc disc = test_disc();

    void SetUp() override {
        emulated_reset();
        emulated_insert_synth_disc(disc);
    }
    void TearDown() override { emulated_reset(); }

    std::string output_of(const std::string& switches) {
        return expected_output(disc, options_for(switches));
    }
};

TEST_F(HardeningTest, EmptyArgumentVector) {
    char* no_arguments[] = {nullptr};
    run_result r = capture([&] { return qscan_main(0, no_arguments); });
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(USAGE, r.out);

    char empty[] = "";
    char* empty_name[] = {empty, nullptr};
    r = capture([&] { return qscan_main(1, empty_name); });
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(USAGE, r.out);
}

// Every byte as an option's second character: the six letters select their
// report, everything else (the string end included) is a usage error.
TEST_F(HardeningTest, EveryOptionCharacter) {
    for (int c = 0; c < 256; ++c) {
        std::string option = "-";
        if (c != 0)
            option += (char)c;
        run_result r = run_qscan({option, "D:"});
        if (c != 0 && strchr("rptcie", c) != nullptr) {
            EXPECT_EQ(0, r.status) << c;
            EXPECT_EQ(output_of(std::string(1, (char)c)), r.out) << c;
        } else {
            EXPECT_EQ(1, r.status) << c;
            EXPECT_EQ(USAGE, r.out) << c;
            EXPECT_EQ("", r.err) << c;
        }
    }
}

TEST_F(HardeningTest, AnythingAfterTheOptionLetterIsIgnored) {
    const std::string near_limit(131072 - 1 - 2, 'x');  // the kernel's limit for one argument, with "-p" and NUL
    const std::string tails[] = {"x", "-", "p", "e", "\x01", "\x7F", "\x80", "\xFF", "--", " D:", near_limit};
    for (char letter : std::string("rptcie")) {
        std::string want = output_of(std::string(1, letter));
        for (const std::string& tail : tails) {
            run_result r = run_qscan({std::string("-") + letter + tail, "D:"});
            EXPECT_EQ(0, r.status) << letter << " + " << tail.size() << " bytes";
            EXPECT_EQ(want, r.out) << letter << " + " << tail.size() << " bytes";
        }
    }
}

TEST_F(HardeningTest, MalformedCommandLines) {
    const std::string huge(131071, 'D');
    const std::vector<std::string> usage_errors[] = {
        {},
        {"-"},
        {"--"},
        {"---"},
        {"-", "D:"},
        {"--", "D:"},
        {"-p", "-", "D:"},
        {"-p", "--", "D:"},
        {"-p"},
        {"-r", "-p", "-t", "-c", "-i", "-e"},
        {"D:", "-p"},
        {"D:", "D:"},
        {"D:", ""},
        {"", ""},
        {"D:", huge},
        {"-\xC4", "D:"},
        {"-\xFF", "D:"},
        {"-" + huge},
        {std::string(131071, '-'), "D:"},
    };
    for (const auto& args : usage_errors) {
        run_result r = run_qscan(args);
        EXPECT_EQ(1, r.status) << args.size() << " arguments";
        EXPECT_EQ(USAGE, r.out) << args.size() << " arguments";
        EXPECT_EQ("", r.err);
    }
}

TEST_F(HardeningTest, DriveNamesThatCannotBeOpened) {
    const std::string names[] = {"", "D", ":", "D:\\", "DE:", "D::", "d;", "\xC4:", "\xFF:",
                                 "\x80", "D:\x80", "\xC3\x84:", "C:", "c:", "1:", "Z:", " :",
                                 std::string(131071, 'D'), "D:" + std::string(131069, 'x')};
    for (const std::string& name : names) {
        for (const char* option : {"-i", "-r"}) {
            run_result r = run_qscan({option, name});
            EXPECT_EQ(1, r.status) << name.size() << " bytes";
            EXPECT_EQ("", r.out);
            EXPECT_EQ(OPEN_FAILED, r.err);
        }
    }
}

TEST_F(HardeningTest, ManyOptions) {
    std::vector<std::string> args(200000, "-e");
    args.push_back("D:");
    run_result r = run_qscan(args);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(output_of("e"), r.out);

    args.back() = "-x";
    args.push_back("D:");
    r = run_qscan(args);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(USAGE, r.out);

    std::vector<std::string> all;
    for (int i = 0; i < 1000; ++i)
        for (const char* o : {"-r", "-p", "-t", "-c", "-i", "-e"})
            all.push_back(o);
    all.push_back("D:");
    r = run_qscan(all);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(output_of("rptcie"), r.out);
}

// Every fault, at block 0, at block 1 and in the middle, with the default
// report, every report switch, and -r: exact output (every block before the
// fault reported), error lines and status. A drive that says the block is
// not there ends the scan as the end of the disc does when it refuses its
// table of contents, and is a read error before the end the table puts it
// at; every other failure is told, with what the drive said, and the status
// says the scan failed.
TEST_F(HardeningTest, FaultMatrix) {
    const uint32_t count = synth_sector_count(disc);
    const std::string wrong_count = "the pass-through call returned an unexpected count of bytes (" +
                                    std::to_string(sizeof(SCSI_PASS_THROUGH_DIRECT) / 2) + ")\n";
    const struct {
        emulated_fault fault;
        bool end_of_disc;  // later in the disc: the end, silently
        std::string reason;
    } faults[] = {
        {FAULT_MEDIUM, false, "drive reports: medium error, unrecovered read error (03/11/05)\n"},
        {FAULT_HARDWARE, false, "drive reports: hardware error, internal target failure (04/44/00)\n"},
        {FAULT_NOT_READY, false, "drive reports: not ready, medium not present (02/3a/00)\n"},
        {FAULT_CALL_FAILS, false, "the pass-through call to the drive failed\n"},
        {FAULT_SHORT_TRANSFER, false, "2352 of 2448 bytes arrived\n"},
        {FAULT_WRONG_BYTES_RETURNED, false, wrong_count},
        {FAULT_ILLEGAL, true, "drive reports: illegal request, logical block address out of range (05/21/00)\n"},
        {FAULT_END_OF_AREA, true,
         "drive reports: illegal request, end of user area encountered on this track (05/63/00)\n"},
        {FAULT_ILLEGAL_MODE, true, "drive reports: illegal request, illegal mode for this track (05/64/00)\n"},
        {FAULT_BLANK, true, "drive reports: blank check (08/00/00)\n"},
        {FAULT_NO_SENSE, true, "drive reports an error but not which (no sense data)\n"},
        {FAULT_NO_SUBCHANNEL, false,
         "drive reports: illegal request, invalid field in command block (05/24/00)\n"
         "the drive may not support reading raw subchannel data\n"},
        {FAULT_INVALID_OPCODE, false,
         "drive reports: illegal request, invalid command operation code (05/20/00)\n"
         "the drive may not support reading raw subchannel data\n"},
        {FAULT_ABORTED_ALWAYS, false,
         "drive reports: aborted command, the drive or its connection gave up on the command (0b/47/00)\n"},
        {FAULT_DEFERRED, false,
         "drive reports: medium error, unrecovered read error (03/11/05), a deferred error (about an earlier "
         "command)\n"},
        {FAULT_SHORT_SENSE, false, "drive reports: medium error (03)\n"},
    };
    const std::string toc_end =
        "the disc's table of contents puts its end at block " + std::to_string(synth_lead_out_start(disc)) + "\n";
    int cases = 0;
    for (const auto& f : faults) {
        for (uint32_t at : {0u, 1u, count / 2}) {
            for (const char* switches : {"", "rptcie", "r"}) {
                for (bool toc_refused : {false, true}) {
                    if (toc_refused && (!f.end_of_disc || at == 0))
                        continue;
                    emulated_reset();
                    emulated_insert_synth_disc(disc);
                    emulated_inject_fault(at, f.fault);
                    if (toc_refused)
                        emulated_inject_fault(0, FAULT_TOC_REFUSED);
                    run_result r = run_qscan(arguments_for(switches));
                    std::string where = "fault " + std::to_string(f.fault) + " at " + std::to_string(at) + " -" +
                                        switches + (toc_refused ? ", no table of contents" : "");
                    EXPECT_EQ(expected_output(disc, options_for(switches), at), r.out) << where;
                    std::string reason = f.reason;
                    if (f.fault == FAULT_NO_SUBCHANNEL || f.fault == FAULT_INVALID_OPCODE)  // the hint: first read only
                        reason = reason.substr(0, reason.find('\n') + 1);
                    if (at == 0) {
                        EXPECT_EQ(1, r.status) << where;
                        EXPECT_EQ(READ_FAILED + f.reason, r.err) << where;
                    } else if (toc_refused) {
                        EXPECT_EQ(0, r.status) << where;
                        EXPECT_EQ("", r.err) << where;
                    } else {
                        EXPECT_EQ(1, r.status) << where;
                        EXPECT_EQ("failed to read sector " + std::to_string(at) + ": Input/output error\n" + reason +
                                      (f.end_of_disc ? toc_end : ""),
                                  r.err) << where;
                    }
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(16 * 3 * 3 + 5 * 2 * 3, cases);
}

// A disc change at block 0 changes nothing: the read
// is sent again and the scan goes on; so does an ABORTED COMMAND once. A
// RECOVERED ERROR delivered the data: it is used as read. A disc change
// after block 0 is a read error: what follows may come from another disc.
TEST_F(HardeningTest, AnswersThatAreNotFinalChangeNothing) {
    const uint32_t count = synth_sector_count(disc);
    for (emulated_fault fault : {FAULT_UNIT_ATTENTION, FAULT_ABORTED, FAULT_RECOVERED}) {
        for (uint32_t at : {0u, 1u, count / 2, count - 1}) {
            emulated_reset();
            emulated_insert_synth_disc(disc);
            emulated_inject_fault(at, fault);
            run_result r = run_qscan(arguments_for("rptcie"));
            std::string where = "fault " + std::to_string(fault) + " at " + std::to_string(at);
            if (fault == FAULT_UNIT_ATTENTION && at > 0) {
                EXPECT_EQ(1, r.status) << where;
                EXPECT_EQ("failed to read sector " + std::to_string(at) + ": Input/output error\ndrive reports: "
                          "unit attention, not ready to ready change, medium may have changed (06/28/00)\n", r.err)
                    << where;
                continue;
            }
            EXPECT_EQ(0, r.status) << where;
            EXPECT_EQ("", r.err) << where;
            EXPECT_EQ(output_of("rptcie"), r.out) << where;
        }
    }
}

// A disc that ends in a lead-out: drives that read on into it and then fail
// with a medium error have still reached the end of the disc.
TEST_F(HardeningTest, LeadOut) {
    synth_disc d;
    d.tracks = {{0, 300, 0, "ZZQSC2600001"}, {150, 400, 0, "ZZQSC2600002"}};
    d.lead_out = 100;
    const uint32_t lead_out_start = 850, count = 950;
    ASSERT_EQ(count, synth_sector_count(d));
    struct {
        uint32_t at;
        int status;
    } cases[] = {{count, 0}, {lead_out_start + 10, 0}, {lead_out_start + 1, 0}, {lead_out_start, 1}};
    for (auto c : cases) {
        emulated_reset();
        emulated_insert_synth_disc(d);
        emulated_inject_fault(c.at, FAULT_MEDIUM);
        run_result r = run_qscan({"-t", "-i", "D:"});
        EXPECT_EQ(c.status, r.status) << c.at;
        EXPECT_EQ(expected_output(d, options_from("ti"), c.at), r.out) << c.at;
        EXPECT_EQ(c.status ? "failed to read sector 850: Input/output error\n"
                             "drive reports: medium error, unrecovered read error (03/11/05)\n"
                           : "",
                  r.err) << c.at;
    }
    // Every lead-out frame is reported as the disc carries it.
    emulated_reset();
    emulated_insert_synth_disc(d);
    run_result r = run_qscan({"-t", "D:"});
    EXPECT_NE(std::string::npos, r.out.find("110.01 00:00.00 00:13.25\n"));
    EXPECT_NE(std::string::npos, r.out.find("110.01 00:01.24 00:14.49\n"));
    // Track byte B0 decodes to 110 too, but only AA is the lead-out: a read
    // error after it cuts the scan short.
    d.raw_q[600] = {0x01, 0xB0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
    emulated_reset();
    emulated_insert_synth_disc(d);
    emulated_inject_fault(601, FAULT_MEDIUM);
    r = run_qscan({"-t", "D:"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.out.find("110.01 00:00.00 00:10.00\n")) << r.out;
    EXPECT_EQ(0u, r.err.find("failed to read sector 601: Input/output error\n")) << r.err;
}

// Q bytes 0-9 of frames that pass their CRC but hold values out of range.
struct bad_frame {
    const char* what;
    std::array<uint8_t, 10> q;
};

std::array<uint8_t, 10> isrc_q(uint8_t frame_byte) {
    synth_disc d;
    d.tracks = {{0, 1, 0, "ZZQSC2600001"}};
    d.isrc_phase = 0;
    std::array<uint8_t, 12> q = synth_q(d, 0);
    std::array<uint8_t, 10> data;
    memcpy(data.data(), q.data(), 10);
    data[9] = frame_byte;
    return data;
}

const bad_frame BAD_FRAMES[] = {
    {"track time seconds nibble above 9", {0x01, 0x01, 0x01, 0x00, 0x7A, 0x00, 0x00, 0x00, 0x02, 0x00}},
    {"disc time seconds and frames 99", {0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x99, 0x99}},
    {"everything 165", {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"disc time frames 75", {0x01, 0x01, 0x01, 0x00, 0x00, 0x75, 0x00, 0x00, 0x02, 0x75}},
    {"disc time seconds 60, frames 100", {0x01, 0x02, 0x01, 0x00, 0x60, 0xA0, 0x00, 0x00, 0x60, 0xA0}},
    {"track 0, index 0xAB", {0x01, 0x00, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}},
    {"catalogue number frame 75", {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0x00, 0x75}},
    {"catalogue number frame 165", {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0x00, 0xFF}},
    {"catalogue digits above 9", {0x02, 0xAB, 0xCD, 0xEF, 0xFA, 0xBC, 0xDE, 0xF0, 0x00, 0x10}},
    {"ISRC frame 99", isrc_q(0x99)},
    {"ISRC frame 0xA5", isrc_q(0xA5)},
};

unsigned bcd(uint8_t b) {
    return (b >> 4) * 10u + (b & 0x0Fu);
}

// The -p line of a bad frame, decoded here by the rules a user reads off the frame.
std::string frame_line(const std::array<uint8_t, 10>& q) {
    char line[64];
    switch (q[0] & 0x0F) {
    case 1:
        snprintf(line, sizeof line, "1 %2u.%02u %02u:%02u.%02u %02u:%02u.%02u\n", bcd(q[1]), bcd(q[2]),
                 bcd(q[3]), bcd(q[4]), bcd(q[5]), bcd(q[7]), bcd(q[8]), bcd(q[9]));
        return line;
    case 2: {
        std::string digits;
        for (int i = 0; i < 13; ++i)
            digits += (char)('0' + ((i % 2 == 0) ? q[1 + i / 2] >> 4 : q[1 + i / 2] & 0x0F));
        return "2 " + digits + " " + std::to_string(bcd(q[9])) + "\n";
    }
    default:
        return "3 ZZ-QSC-26-00001 " + std::to_string(bcd(q[9])) + "\n";
    }
}

// Seconds below 60 and frames below 75 in both times of a -c or -i line,
// and the disc-time frames it was brought into line with.
void expect_sane_position(const std::string& chunk, unsigned abs_f, const std::string& where) {
    static const std::regex code_line(R"(([ 0-9]{2,3})\.(\d+) (\d+):(\d+)\.(\d+) (\d+):(\d+)\.(\d+) : .*)");
    for (const std::string& line : split_lines(chunk)) {
        std::smatch m;
        if (!std::regex_match(line, m, code_line))
            continue;
        EXPECT_LT(std::stoi(m[4]), 60) << where << ": " << line;
        EXPECT_LT(std::stoi(m[5]), 75) << where << ": " << line;
        EXPECT_LT(std::stoi(m[7]), 60) << where << ": " << line;
        EXPECT_EQ(abs_f, (unsigned)std::stoi(m[8])) << where << ": " << line;
    }
}

// Alone and in runs, at the start of a disc and after good frames: the scan
// reaches the end, every block is reported, and once an intact position frame
// follows, every line is again the truth.
TEST_F(HardeningTest, OutOfRangeFramesThatPassTheCrc) {
    int discs = 0;
    for (const bad_frame& bad : BAD_FRAMES) {
        for (uint32_t start : {0u, 24u, 500u}) {
            for (uint32_t run : {1u, 3u, 100u}) {
                synth_disc d = synth_album_disc(1500);
                for (uint32_t lba = start; lba < start + run; ++lba)
                    d.raw_q[lba] = bad.q;
                emulated_reset();
                emulated_insert_synth_disc(d);
                run_result r = run_qscan({"-r", "-p", "-t", "-c", "-i", "-e", "D:"});
                std::string where = std::string(bad.what) + " x" + std::to_string(run) + " at " +
                                    std::to_string(start);
                ASSERT_EQ(0, r.status) << where;
                EXPECT_EQ("", r.err) << where;

                std::vector<std::string> got = per_sector(r.out);
                auto want = expected_sectors(d, options_from("rptcie"));
                ASSERT_EQ(want.size(), got.size()) << where;
                for (uint32_t lba = 0; lba < got.size(); ++lba) {
                    synth_sector_info info = synth_describe(d, lba);
                    if (want[lba]) {
                        ASSERT_EQ(*want[lba], got[lba]) << where << ", block " << lba;
                    } else if (info.kind == SYNTH_RAW) {
                        EXPECT_NE(std::string::npos, got[lba].find(frame_line(bad.q))) << where;
                    } else {
                        expect_sane_position(got[lba], info.abs_frames % 75, where);
                    }
                }
                ++discs;
            }
        }
    }
    EXPECT_EQ(11 * 3 * 3, discs);
}

// The handling chosen for out-of-range times, line by line: a time taken
// over as decoded is shown as decoded, then normalised (99 frames are a
// second and 24 frames) as soon as it moves; a frame number of 75 or more
// cannot be matched and counts as one frame.
TEST_F(HardeningTest, OutOfRangeHandlingExactly) {
    synth_disc d;
    d.tracks = {{0, 8, 0, "ZZQSC2600001"}};
    d.mcn = "1234567890128";
    d.mcn_phase = 3;
    d.isrc_phase = 1;
    d.raw_q[0] = {0x01, 0x01, 0x01, 0x00, 0x00, 0x99, 0x00, 0x00, 0x02, 0x99};  // frames 99
    d.raw_q[5] = {0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x80, 0x00, 0x99};  // frame number 99
    emulated_reset();
    emulated_insert_synth_disc(d);
    run_result r = run_qscan({"-p", "-t", "-c", "-i", "D:"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("1  1.01 00:00.99 00:02.99\n"
              " 1.01 00:00.99 00:02.99\n"
              "3 ZZ-QSC-26-00001 1\n"
              // 00:00.99 and 00:02.99 are 00:01.24 and 00:03.24; 52 frames on to frame 1.
              " 1.01 00:02.01 00:04.01 : ZZ-QSC-26-00001\n"
              "1  1.01 00:00.02 00:02.02\n"
              " 1.01 00:00.02 00:02.02\n"
              "2 1234567890128 3\n"
              " 1.01 00:00.03 00:02.03 : 1234567890128\n"
              "1  1.01 00:00.04 00:02.04\n"
              " 1.01 00:00.04 00:02.04\n"
              "2 1234567890128 99\n"
              " 1.01 00:00.05 00:02.05 : 1234567890128\n"  // frame 99 cannot be reached: one frame on
              "1  1.01 00:00.06 00:02.06\n"
              " 1.01 00:00.06 00:02.06\n"
              "1  1.01 00:00.07 00:02.07\n"
              " 1.01 00:00.07 00:02.07\n",
              r.out);
}

// Random discs with in-range values: every catalogue number and ISRC printed
// is the one the description puts at that block, and so is the position,
// within the limits of what a running position can know.
TEST(RandomDiscs, ReportsMatchTheirDescriptions) {
    std::mt19937 rng(20261209);
    auto pick = [&](uint32_t lo, uint32_t hi) { return lo + (uint32_t)(rng() % (hi - lo + 1)); };
    auto code_chars = [&](const char* alphabet, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += alphabet[rng() % strlen(alphabet)];
        return s;
    };
    const char* digits = "0123456789";
    const char* alnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    int lines_checked = 0;
    for (int n = 0; n < 60; ++n) {
        synth_disc d;
        d.noise_seed = rng();
        d.noise = rng() % 4 != 0;
        if (rng() % 5 != 0)
            d.mcn = code_chars(digits, 13);
        d.mcn_period = pick(2, 100);
        d.mcn_phase = pick(0, d.mcn_period - 1);
        d.isrc_period = pick(2, 100);
        d.isrc_phase = pick(0, d.isrc_period - 1);
        uint32_t tracks = pick(1, 6);
        for (uint32_t t = 0; t < tracks; ++t) {
            synth_track tr;
            tr.pregap = t == 0 ? 0 : pick(0, 200);
            tr.length = pick(1, 700);
            tr.control = (uint8_t)(rng() % 16);
            if (rng() % 4 != 0)
                tr.isrc = code_chars(alnum, 5) + code_chars(digits, 7);
            d.tracks.push_back(tr);
        }
        uint32_t count = synth_sector_count(d);
        for (uint32_t k = pick(0, 30); k > 0; --k)
            d.damaged.insert(pick(0, count - 1));
        for (uint32_t k = pick(0, 5); k > 0; --k) {
            std::array<uint8_t, 10> q;
            for (uint8_t& b : q)
                b = (uint8_t)rng();
            q[0] = (uint8_t)((q[0] & 0xF0) | (rng() % 2 ? 0 : pick(4, 15)));
            d.raw_q[pick(0, count - 1)] = q;
        }

        emulated_reset();
        emulated_insert_synth_disc(d);
        run_result r = run_qscan({"-r", "-p", "-t", "-c", "-i", "-e", "D:"});
        ASSERT_EQ(0, r.status) << "disc " << n;
        ASSERT_EQ(expected_output(d, options_from("rptcie")), r.out) << "disc " << n;

        // The same, stated as the property a user relies on.
        r = run_qscan({"-r", "-c", "-i", "D:"});
        std::vector<std::string> chunks = per_sector(r.out);
        ASSERT_EQ(count, chunks.size());
        int last_position = -1;  // the last block with an intact position frame
        for (uint32_t lba = 0; lba < count; ++lba) {
            synth_sector_info info = synth_describe(d, lba);
            if (info.damaged)
                continue;
            if (info.kind == SYNTH_POSITION)
                last_position = (int)lba;
            if (info.kind != SYNTH_MCN && info.kind != SYNTH_ISRC)
                continue;
            std::vector<std::string> lines = split_lines(chunks[lba]);
            ASSERT_EQ(2u, lines.size()) << "disc " << n << " block " << lba;
            const std::string& line = lines[1];
            std::string code = info.kind == SYNTH_MCN ? info.code : grouped_isrc(info.code);
            EXPECT_EQ(code, line.substr(line.find(" : ") + 3)) << line;
            char disc_time[16];
            snprintf(disc_time, sizeof disc_time, "%02u:%02u.%02u", info.abs_frames / 4500,
                     info.abs_frames / 75 % 60, info.abs_frames % 75);
            EXPECT_EQ(disc_time, line.substr(15, 8)) << line;
            // Track and index are the sector's own unless the disc moved into
            // another index since the last position frame; the running track
            // time is the true one wherever it counts up.
            synth_sector_info before = last_position >= 0 ? synth_describe(d, (uint32_t)last_position)
                                                          : synth_sector_info{};
            bool same_index = last_position < 0 ? info.track == 1 && info.index == 1
                                                : before.track == info.track && before.index == info.index;
            if (same_index) {
                char position[8];
                snprintf(position, sizeof position, "%2u.%02u", printed_track(info.track), info.index);
                EXPECT_EQ(position, line.substr(0, 5)) << line;
                if (info.index != 0) {
                    char track_time[16];
                    snprintf(track_time, sizeof track_time, "%02u:%02u.%02u", info.rel_frames / 4500,
                             info.rel_frames / 75 % 60, info.rel_frames % 75);
                    EXPECT_EQ(track_time, line.substr(6, 8)) << line;
                }
            }
            ++lines_checked;
        }
    }
    EXPECT_GT(lines_checked, 1000);
}

}  // namespace
