// Helpers shared by the tests: running the main routine with its output
// captured, loading synthesized discs, and the report lines a disc
// description implies.
#ifndef QSCAN_TESTS_SUPPORT_H
#define QSCAN_TESTS_SUPPORT_H

#include <stdint.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "main.h"
#include "emulated/disc_synth.h"

// The program's own texts, as a user sees them.
const char USAGE[] = "Usage: qscan [-r] [-p] [-t] [-c] [-i] [-e]  device\n";
const char OPEN_FAILED[] = "failed to open device: Invalid argument\n";
const char READ_FAILED[] = "failed to read device: Input/output error\n";

struct run_result {
    int status;
    std::string out;
    std::string err;
};

// Runs fn with standard output and standard error captured.
run_result capture(const std::function<int()>& fn);

// Runs a program's main routine with argument 0 `name` followed by args.
run_result run_main(int (*main_routine)(int, char**), const char* name, const std::vector<std::string>& args);

// Runs the main routine with argument 0 "qscan" followed by args.
run_result run_qscan(const std::vector<std::string>& args);

// The options a string of switch letters stands for: "pt" is -p -t.
report_options options_from(const std::string& switches);

// The switch letters of one of the 64 combinations: bit 0 is r, then p, t,
// c, i and e.
std::string switches_of(int mask);

// The command line for a string of switch letters and drive D:: "pt" gives
// -p -t D:.
std::vector<std::string> arguments_for(const std::string& switches);

// A track number as qscan prints it: the lead-out's byte AA, which is no
// BCD number, as its nibbles give it, 10 * 10 + 10 = 110.
inline unsigned printed_track(unsigned track) {
    return track == Q_LEAD_OUT_TRACK ? (track >> 4) * 10 + (track & 0x0F) : track;
}

// An ISRC in the four groups it is printed in: CC-RRR-YY-NNNNN.
std::string grouped_isrc(const std::string& isrc);

// The complete standard output the scanner must print for the first
// `sectors` blocks of a disc with only in-range values, derived from the
// description and the synthesizer's own Q encoding, not from the decoder.
std::string expected_output(const synth_disc& disc, const report_options& options,
                            uint32_t sectors = UINT32_MAX);

// The same, block by block. A block whose lines depend on a raw frame of
// modes 1-3 (the frame itself, and catalogue-number and ISRC frames after it
// until the next intact position frame) has no expected lines.
std::vector<std::optional<std::string>> expected_sectors(const synth_disc& disc,
                                                         const report_options& options,
                                                         uint32_t sectors = UINT32_MAX);

// "01 02 ..." or "0102..." to bytes.
std::vector<uint8_t> from_hex(const std::string& hex);

std::vector<std::string> split_lines(const std::string& text);

// A whole file's bytes; empty for a file that cannot be read.
std::string slurp(const std::string& path);

// A test with a folder of its own under /tmp, `dir`, removed after it.
class TempDirTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override;
    void TearDown() override;
};

#endif
