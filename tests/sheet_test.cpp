// qscan-sheet as a user runs it: synthesized discs scanned by qscan-emu -r,
// the sheet read back from its JSON and cue sheet, and every refusal.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctype.h>

#include <fstream>
#include <functional>
#include <map>

#include <nlohmann/json.hpp>

#include "emulated/emulated_drive.h"
#include "disc/cd_text.h"
#include "drive/read_disc_toc.h"
#include "sheet/disc_ids.h"
#include "sheet/qscan_sheet.h"
#include "sheet/report_reader.h"
#include "sheet/sheet.h"
#include "report_lines.h"
#include "support.h"

namespace {

using nlohmann::json;

// The ISRCs of one track: code to frames, first and last block.
typedef std::map<std::string, std::array<uint32_t, 3>> code_tally;

// What the sheet must find on a disc, worked out from its description: an
// ISRC frame is in the track of the last intact position frame; a CRC error
// is in the track whose row holds its block, from the track's first index to
// the next track's.
struct disc_model {
    std::map<unsigned, code_tally> isrcs;
    std::map<unsigned, uint32_t> crc_errors;
    uint32_t out_of_place = 0;
};

// The track whose row holds block b (0 for none): from its first index to
// the next track's, the last one to the lead-out or the end of the scan.
unsigned row_of(const json& sheet, uint32_t b) {
    unsigned row = 0;
    for (const json& t : sheet["tracks"])
        if (t["indexes"][0]["block"] <= b)
            row = t["number"];
    return b < (sheet["lead_out"].is_null() ? sheet["sectors"] : sheet["lead_out"]) ? row : 0;
}

disc_model model_of(const synth_disc& d, const json& sheet) {
    disc_model m;
    unsigned running = 0;
    for (uint32_t b = 0; b < synth_sector_count(d); ++b) {
        if (d.damaged.count(b)) {
            ++m.crc_errors[row_of(sheet, b)];
            continue;
        }
        bool shifted = b - d.shift_first < d.shift_count;
        synth_sector_info info = synth_describe(d, shifted ? b - 1 : b);
        if (info.kind == SYNTH_POSITION) {
            running = info.track;
            m.out_of_place += shifted;
        } else if (info.kind == SYNTH_ISRC && running >= 1 && running <= 99) {
            auto& entry = m.isrcs[running][info.code];
            entry = {entry[0] + 1, entry[0] ? entry[1] : b, b};
        }
    }
    return m;
}

// qscan -r's report of a disc, from the synthesizer's own Q frames.
std::string raw_report(const synth_disc& d) {
    std::string text;
    char line[40];
    for (uint32_t b = 0; b < synth_sector_count(d); ++b) {
        std::array<uint8_t, 12> q = synth_q(d, b);
        snprintf(line, sizeof line, "%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x \n", q[0], q[1], q[2],
                 q[3], q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
        text += line;
    }
    return text;
}

// Q bytes 0-9 of a position frame: control and ADR 1, then BCD bytes.
std::array<uint8_t, 10> position_q(uint8_t track, uint8_t index, uint32_t rel, uint32_t abs) {
    auto bcd = [](uint32_t v) { return (uint8_t)(v / 10 * 16 + v % 10); };
    return {0x01, track, index, bcd(rel / 4500), bcd(rel / 75 % 60), bcd(rel % 75), 0,
            bcd(abs / 4500), bcd(abs / 75 % 60), bcd(abs % 75)};
}

class SheetTest : public TempDirTest {
protected:
    // Runs a shell command, its standard output into `out` unless the
    // command sends it elsewhere.
    run_result sh(const std::string& command, bool own_output = false) {
        int status = system((command + (own_output ? "" : " >'" + dir + "/out'") + " 2>'" + dir + "/err'").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir + "/out"), slurp(dir + "/err")};
    }

    std::string file(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        return dir + "/" + name;
    }

    // qscan-emu's report of the disc with the given switches, in a file.
    std::string scan(const synth_disc& d, const std::string& switches = "-r") {
        std::vector<uint8_t> image = synth_image(d);
        std::string img = file("disc.img", std::string(image.begin(), image.end()));
        run_result r = sh("QSCAN_EMULATED_DISC='" + img + "' '" QSCAN_EMU "' " + switches + " D:");
        EXPECT_EQ(0, r.status) << r.err;
        return file("disc.q", r.out);
    }

    run_result sheet(const std::string& args, bool own_output = false) {
        return sh("'" QSCAN_SHEET "' " + args, own_output);
    }

    json sheet_json(const std::string& report) {
        run_result r = sheet("--json '" + report + "'");
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ("", r.err);
        return json::parse(r.out);
    }
};

// The index points of a sheet as "track.index@block", '~' after a start
// that is not exact: "1.01@0 2.00@3000~".
std::string index_points(const json& sheet) {
    std::string text;
    for (const json& t : sheet["tracks"])
        for (const json& i : t["indexes"]) {
            char point[48];
            snprintf(point, sizeof point, "%s%d.%02d@%u%s", text.empty() ? "" : " ", t["number"].get<int>(),
                     i["number"].get<int>(), i["block"].get<unsigned>(), i["exact"].get<bool>() ? "" : "~");
            text += point;
        }
    return text;
}

synth_disc pregaps_and_indexes(bool countdown_to_one) {
    synth_disc d;
    d.mcn = "1234567890128";
    d.tracks = {{0, 1000, 0, "ZZQSC2600001"}, {150, 1200}, {1, 500}, {87, 400}, {165, 300}};
    d.tracks[1].indexes = {300, 700};
    d.countdown_to_one = countdown_to_one;
    return d;
}

// A hidden first track; a catalogue-number frame on the first block of
// track 2's pregap, with a damaged frame before it; an ISRC frame on the
// first block of its index 2.
synth_disc codes_on_first_blocks() {
    synth_disc d;
    d.mcn = "1234567890128";
    d.mcn_phase = 0;
    d.isrc_phase = 50;
    d.tracks = {{300, 1000, 0, "ZZQSC2600001"}, {150, 1000, 0, "ZZQSC2600002"}};
    d.tracks[1].indexes = {200};
    d.damaged = {1299};
    return d;
}

// The previous track's code in a track's first frames, a track without
// ISRC, one with two codes in equal numbers, a catalogue number of zeros.
synth_disc isrcs() {
    synth_disc d;
    d.mcn = "0000000000000";
    d.isrc_period = 10;
    d.isrc_phase = 5;
    d.isrc_latch = 40;
    d.tracks = {{0, 600, 0, "ZZQSC2600001"}, {150, 600, 0, "ZZQSC2600002"}, {150, 300}, {150, 400, 0, "ZZQSC2600004"}};
    d.tracks[3].second_isrc = "ZZQSC2600099";
    d.tracks[3].second_isrc_from = 200;
    return d;
}

synth_disc flags_and_damage() {
    synth_disc d;
    for (uint8_t control : {0x0, 0x1, 0x2, 0x3, 0x8, 0x4, 0x5, 0xE})
        d.tracks.push_back({d.tracks.empty() ? 0u : 150u, 300, control});
    d.damaged = {10, 11, 460, 2000};
    d.lead_out = 300;
    // A first frame with the copy bit, as a copy-managed disc toggles it:
    // the track's nibble is that of most of its frames.
    d.raw_q[0] = {0x21, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};
    return d;
}

// Across the start of track 2: its first frame of index 0 comes a block
// late, after a frame that is out of place.
synth_disc shifted_stretch() {
    synth_disc d = synth_sample_disc();
    d.shift_first = 2990;
    d.shift_count = 20;
    return d;
}

// Each disc through qscan-emu -r and qscan-sheet --json: its index points
// as worked out by hand, and its codes, CRC errors and frames out of place
// as its description implies. A stretch of blocks that carry the Q of the
// block before each is a drive's frames out of place, not a line repeated
// at its start and one lost at its end: the frames undo the change, and its
// lines stay on their blocks.
TEST_F(SheetTest, DiscsThroughThePipeline) {
    struct {
        const char* name;
        synth_disc disc;
        const char* indexes;
        uint32_t repeated = 0;  // lines left out as repeats, and as many blocks missing
    } cases[] = {
        {"pregaps of 150, 1, 87 and 165 counting down to 0", pregaps_and_indexes(false),
         "1.01@0 2.00@1000 2.01@1150 2.02@1450 2.03@1850 3.00@2350 3.01@2351 4.00@2851 4.01@2938 5.00@3338 5.01@3503"},
        {"the same counting down to 1", pregaps_and_indexes(true),
         "1.01@0 2.00@1000 2.01@1150 2.02@1450 2.03@1850 3.00@2350 3.01@2351 4.00@2851 4.01@2938 5.00@3338 5.01@3503"},
        {"codes on first blocks", codes_on_first_blocks(), "1.00@0~ 1.01@300 2.00@1301~ 2.01@1450 2.02@1651~"},
        {"ISRCs", isrcs(), "1.01@0 2.00@600 2.01@750 3.00@1350 3.01@1500 4.00@1800 4.01@1950"},
        {"flags and damage", flags_and_damage(),
         "1.01@0 2.00@300 2.01@450 3.00@750 3.01@900 4.00@1200 4.01@1350 5.00@1650 5.01@1800 6.00@2100 "
         "6.01@2250 7.00@2550 7.01@2700 8.00@3000 8.01@3150"},
        {"a shifted stretch", shifted_stretch(), "1.01@0 2.00@3001~ 2.01@3150 3.00@6526~ 3.01@6675 4.00@8175 4.01@8325",
         0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        run_result r = sheet("--json '" + scan(c.disc) + "'");
        ASSERT_EQ(0, r.status) << r.err;
        json s = json::parse(r.out);
        disc_model m = model_of(c.disc, s);
        EXPECT_EQ(c.indexes, index_points(s));
        EXPECT_EQ(synth_sector_count(c.disc) - c.repeated, s["sectors"]);
        EXPECT_EQ(c.repeated, s["read"]["repeated_lines"]["count"]);
        EXPECT_EQ(c.repeated, s["read"]["missing_blocks"]);
        EXPECT_EQ(c.repeated > 0, r.err.find(" repeat") != std::string::npos) << r.err;
        EXPECT_EQ(c.disc.damaged.size(), s["crc_errors"]);
        EXPECT_EQ(c.repeated > 0 ? 0 : m.out_of_place, s["frames_out_of_place"]);
        if (c.disc.lead_out)
            EXPECT_EQ(synth_sector_count(c.disc) - c.disc.lead_out, s["lead_out"]);
        else
            EXPECT_TRUE(s["lead_out"].is_null());
        ASSERT_EQ(c.disc.tracks.size(), s["tracks"].size());
        for (const json& t : s["tracks"]) {
            unsigned n = t["number"];
            SCOPED_TRACE("track " + std::to_string(n));
            EXPECT_EQ(c.disc.tracks[n - 1].control, t["control"]);
            EXPECT_EQ(m.crc_errors[n], t["crc_errors"]);
            code_tally found;
            const code_tally& want = m.isrcs[n];
            for (const json& code : t["other_isrcs"])
                found[code["code"]] = {code["frames"], code["first_block"], code["last_block"]};
            if (want.empty()) {
                EXPECT_TRUE(t["isrc"].is_null());
                continue;
            }
            const json& isrc = t["isrc"];
            found[isrc["code"]] = {isrc["frames"], isrc["first_block"], isrc["last_block"]};
            EXPECT_EQ(want, found);
            // The majority, the first seen of a tie.
            for (const auto& other : want)
                EXPECT_TRUE(other.second[0] < isrc["frames"] ||
                            (other.second[0] == isrc["frames"] && other.second[1] >= isrc["first_block"]));
        }
    }
}

const char SAMPLE_POINTS[] = "1.01@0 2.00@3000 2.01@3150 3.00@6526~ 3.01@6675 4.00@8175 4.01@8325";

synth_disc sample_with(const std::function<void(synth_disc*)>& change) {
    synth_disc d = synth_sample_disc();
    change(&d);
    return d;
}

void damage(synth_disc* d, uint32_t from, uint32_t to) {
    for (uint32_t b = from; b < to; ++b)
        d->damaged.insert(b);
}

// What the sheet makes of one report, in every form.
struct sheet_forms {
    json sheet;
    run_result text, cue;
};

// What real drives and real users deliver, each case as a report of a disc
// (with what a drive or an editor did to it) and what the sheet must say.
TEST_F(SheetTest, WhatRealDrivesDeliver) {
    struct {
        const char* name;
        synth_disc disc;
        std::function<std::string(std::string)> report;  // from the disc's clean report; NULL: as it is
        std::function<void(const sheet_forms&)> check;
    } cases[] = {
        {"one frame is no track: track byte 1A, an in-place track 5, index byte 0A",
         sample_with([](synth_disc* d) {
             d->raw_q[4000] = position_q(0x1A, 0x01, 850, 4150);
             d->raw_q[5000] = position_q(0x05, 0x01, 0, 5150);
             d->raw_q[5500] = position_q(0x02, 0x0A, 2350, 5650);
         }),
         NULL,
         [](const sheet_forms& f) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(f.sheet));
             EXPECT_EQ(2, f.sheet["malformed_position_frames"]);
             EXPECT_EQ(json::parse(R"({"count": 1, "blocks": [5000]})"), f.sheet["stray_frames"]);
             EXPECT_EQ(std::string::npos, f.cue.out.find("TRACK 05"));
         }},
        {"track byte B0 is no lead-out", sample_with([](synth_disc* d) { d->raw_q[497] = position_q(0xB0, 0x01, 0, 647); }),
         [](std::string r) { return r.substr(0, 2600 * 37); },
         [](const sheet_forms& f) {
             EXPECT_TRUE(f.sheet["lead_out"].is_null());
             EXPECT_FALSE(f.sheet["complete"]);
             EXPECT_EQ(1, f.sheet["malformed_position_frames"]);
         }},
        {"block 0 carries the Q of the block before it",
         sample_with([](synth_disc* d) { d->raw_q[0] = position_q(0x01, 0x00, 0, 149); }), NULL,
         [](const sheet_forms& f) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(f.sheet));
             EXPECT_EQ(0, f.sheet["q_offset"]);
             EXPECT_EQ(json::parse(R"({"count": 1, "blocks": [0]})"), f.sheet["stray_frames"]);
         }},
        {"an in-place track 1 index 00 at block 700",
         sample_with([](synth_disc* d) { d->raw_q[700] = position_q(0x01, 0x00, 0, 850); }), NULL,
         [](const sheet_forms& f) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(f.sheet));
             EXPECT_EQ(1, f.sheet["stray_frames"]["count"]);
             EXPECT_EQ(std::string::npos, f.text.out.find("hidden track"));
         }},
        {"CRC errors in the blocks of the track that holds them", sample_with([](synth_disc* d) { damage(d, 3000, 6506); }),
         NULL,
         [](const sheet_forms& f) {
             // Track 2's pregap may lie anywhere in the damage: listed, not exact, from its first block.
             EXPECT_EQ("1.01@0 2.00@3150~ 2.01@3150 3.00@6526~ 3.01@6675 4.00@8175 4.01@8325", index_points(f.sheet));
             EXPECT_EQ(3000, f.sheet["tracks"][1]["indexes"][0]["earliest_block"]);
             std::vector<uint32_t> rows;
             for (const json& t : f.sheet["tracks"])
                 rows.push_back(t["crc_errors"]);
             EXPECT_EQ((std::vector<uint32_t>{152, 3356, 1, 0}), rows);  // where it may lie is in track 1's row
         }},
        {"a first track first seen at block 6526", sample_with([](synth_disc* d) { damage(d, 0, 6526); }), NULL,
         [](const sheet_forms& f) {
             EXPECT_EQ("3.00@6526~ 3.01@6675 4.00@8175 4.01@8325", index_points(f.sheet));
             EXPECT_EQ(0, f.sheet["tracks"][0]["indexes"][0]["earliest_block"]);
             EXPECT_EQ(6526, f.sheet["crc_errors_before_first_track"]);
             EXPECT_NE(std::string::npos, f.text.out.find("Track 3 index 00 may begin as early as block 0")) << f.text.out;
         }},
        {"a track that was not seen", sample_with([](synth_disc* d) { damage(d, 6526, 8175); }), NULL,
         [](const sheet_forms& f) {
             EXPECT_EQ(json::array({3}), f.sheet["missing_tracks"]);
             EXPECT_NE(std::string::npos, f.text.out.find("\nTrack 3 was not seen.\n"));
             EXPECT_NE(std::string::npos, f.cue.out.find("TRACK 02 AUDIO\n    ISRC ZZQSC2600002\n    INDEX 00 00:40:00\n"
                                                         "    INDEX 01 00:42:00\n  TRACK 04"));
             EXPECT_EQ(0u, f.cue.err.find("qscan-sheet: track 3 was not seen; the cue sheet numbers its tracks as the "
                                          "disc does\n"))
                 << f.cue.err;
         }},
        {"codes of zeros and of characters no code has",
         sample_with([](synth_disc* d) {
             d->tracks[1].isrc = "000000000000";
             d->tracks[2].isrc = "OeBhm5200000";
         }),
         NULL,
         [](const sheet_forms& f) {
             std::vector<bool> well_formed;
             for (const json& t : f.sheet["tracks"])
                 well_formed.push_back(t["isrc"]["well_formed"]);
             EXPECT_EQ((std::vector<bool>{true, false, false, true}), well_formed);
             EXPECT_EQ(std::string::npos, f.cue.out.find("ISRC 000000000000"));
             EXPECT_NE(std::string::npos,
                       f.cue.err.find("qscan-sheet: track 2: no ISRC written: 000000000000 is twelve zeros, which is "
                                      "no code\n"))
                 << f.cue.err;
             EXPECT_NE(std::string::npos,
                       f.cue.err.find("qscan-sheet: track 3: no ISRC written: OeBhm5200000 is not a well-formed code\n"))
                 << f.cue.err;
             EXPECT_EQ(std::string::npos, f.cue.out.find("OeBhm"));
             EXPECT_NE(std::string::npos, f.text.out.find("Track 2: its ISRC is twelve zeros"));
         }},
        {"a catalogue number whose check digit is wrong, and one ISRC on two tracks",
         sample_with([](synth_disc* d) {
             d->mcn = "1234567890123";
             d->tracks[2].isrc = d->tracks[1].isrc;
         }),
         NULL,
         [](const sheet_forms& f) {
             EXPECT_EQ(std::string::npos, f.cue.out.find("CATALOG")) << f.cue.out;
             EXPECT_NE(std::string::npos, f.cue.err.find("qscan-sheet: no catalogue number written: "
                                                         "1234567890123 is no EAN-13 (not thirteen digits, or its "
                                                         "check digit is wrong)\n"))
                 << f.cue.err;
             EXPECT_NE(std::string::npos, f.cue.err.find("qscan-sheet: track 2's ISRC ZZQSC2600002 is written for "
                                                         "track 3 too: the disc carries one code on both\n"))
                 << f.cue.err;
         }},
        {"an ISRC frame before any position frame",
         sample_with([](synth_disc* d) { d->raw_q[0] = {0x03, 0xE9, 0x04, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00}; }), NULL,
         [](const sheet_forms& f) { EXPECT_EQ(1, f.sheet["isrc_frames_outside_tracks"]); }},
        {"a scan stopped with Ctrl-C in the middle of a line", synth_sample_disc(),
         [](std::string r) { return r.substr(0, 1439 * 37 + 10); },
         [](const sheet_forms& f) {
             EXPECT_EQ(1439, f.sheet["sectors"]);
             EXPECT_EQ(0, f.text.status);
             EXPECT_EQ("qscan-sheet: the input ends in the middle of line 1440: the scan was interrupted\n", f.text.err);
         }},
        {"raw lines an editor left without their last blank, in upper case", synth_sample_disc(),
         [](std::string r) {
             std::string edited;
             for (std::string& line : split_lines(r)) {
                 for (char& c : line)
                     c = (char)toupper(c);
                 edited += line.substr(0, line.size() - 1) + "\n";
             }
             return edited;
         },
         [](const sheet_forms& f) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(f.sheet));
             EXPECT_EQ(8925, f.sheet["sectors"]);
         }},
        {"every flag in a row of 79 characters", sample_with([](synth_disc* d) {
             d->tracks[3].control = 0xB;
             damage(d, 8400, 9900);
         }),
         NULL,
         [](const sheet_forms& f) {
             size_t table = f.text.out.rfind('\n', f.text.out.find("Pregap, index 00")) + 1;
             for (const std::string& line : split_lines(f.text.out.substr(table, f.text.out.find("\n\n", table) - table)))
                 EXPECT_GE(79u, line.size()) << line;
             EXPECT_NE(std::string::npos, f.text.out.find("DCP 4CH PRE")) << f.text.out;
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string report = raw_report(c.disc);
        std::string path = file("disc.q", c.report ? c.report(report) : report);
        sheet_forms f = {json(), sheet("'" + path + "'"), sheet("--cue '" + path + "'")};
        run_result j = sheet("--json '" + path + "'");
        ASSERT_EQ(0, j.status) << j.err;
        f.sheet = json::parse(j.out);
        for (const std::string& line : split_lines(f.cue.err)) {
            EXPECT_EQ(0u, line.find("qscan-sheet: ")) << line;
            EXPECT_FALSE(isupper((unsigned char)line[strlen("qscan-sheet: ")])) << line;  // a note begins in lower case
        }
        c.check(f);
    }
}

// A scan that a read error cut short says so: the same words as a saved
// scan that was interrupted, and never "complete".
TEST_F(SheetTest, ScanCutShortByAReadError) {
    scan(synth_sample_disc());
    run_result r = sh("QSCAN_EMULATED_FAULTS=5000:medium QSCAN_EMULATED_DISC='" + dir + "/disc.img' '" QSCAN_EMU
                      "' -r D: 2>/dev/null | '" QSCAN_SHEET "'");
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.out.find("The scan did not reach the lead-out: the last track may be cut short."));
    EXPECT_NE(std::string::npos, r.out.find("Sectors read: 5000\n"));
}

// Drives that return the Q of the block before or after each block give the
// sheet of a drive whose Q is in place, but for the offset they show.
TEST_F(SheetTest, DrivesWhoseQLagsOrLeads) {
    synth_disc clean = synth_sheet_disc();
    json want = sheet_json(file("clean.q", raw_report(clean)));
    for (int offset : {-1, 1}) {
        SCOPED_TRACE(offset);
        std::string report;
        synth_disc d = clean;
        d.lead_out += 1;  // a block more to take the last block's Q from
        std::string shifted = raw_report(d);
        uint32_t blocks = synth_sector_count(clean);
        // Block b carries the Q of block b + offset; block 0 that of block
        // -1, a frame of track 1's pregap, when the drive lags.
        std::array<uint8_t, 12> before = synth_with_crc(position_q(0x01, 0x00, 301, 149));
        for (uint32_t b = 0; b < blocks; ++b) {
            if (offset < 0 && b == 0) {
                char line[40];
                snprintf(line, sizeof line, "%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x \n",
                         before[0], before[1], before[2], before[3], before[4], before[5], before[6], before[7],
                         before[8], before[9], before[10], before[11]);
                report += line;
            } else {
                report += shifted.substr((size_t)(b + offset) * 37, 37);
            }
        }
        json got = sheet_json(file("shifted.q", report));
        EXPECT_EQ(offset, got["q_offset"]);
        EXPECT_EQ(index_points(want), index_points(got));
        EXPECT_EQ(want["lead_out"], got["lead_out"]);
        for (size_t t = 0; t < want["tracks"].size(); ++t)
            EXPECT_EQ(want["tracks"][t]["isrc"]["code"], got["tracks"][t]["isrc"]["code"]);
        EXPECT_EQ(want["mcn"]["code"], got["mcn"]["code"]);
    }
}

// 50,000 random CRC errors on an 80-minute album and one forged frame (a
// good CRC, wrong content) of each kind a drive lets through: the same
// tracks, index 01 blocks and lead-out as the clean disc, and every other
// index start within the range the sheet gives it.
TEST_F(SheetTest, DamagedDiscWithForgedFrames) {
    synth_disc clean = synth_album_disc(80 * 60 * 75);
    clean.damaged.clear();
    clean.tracks[2].indexes = {6000, 9000};
    clean.tracks[5].pregap = 600;
    clean.lead_out = 150;
    json want = sheet_json(file("clean.q", raw_report(clean)));
    synth_disc d = clean;
    d.raw_q[1000] = position_q(0x1A, 0x01, 850, 1150);    // track byte not BCD
    d.raw_q[50000] = position_q(0x25, 0x01, 0, 50150);    // an in-place track 25
    d.raw_q[100000] = position_q(0x07, 0x0A, 0, 100150);  // index byte not BCD
    d.raw_q[150000] = position_q(0xB0, 0x01, 0, 150150);  // B0, no lead-out
    d.raw_q[200000] = position_q(0x01, 0x00, 0, 200150);  // track 1's pregap, long after it
    d.raw_q[250000] = position_q(0x14, 0x02, 0, 250150);  // an index 02 no other frame shows
    uint64_t x = 12345;
    while (d.damaged.size() < 50000) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        uint32_t b = (uint32_t)(x >> 33) % synth_sector_count(d);
        if (!d.raw_q.count(b))
            d.damaged.insert(b);
    }
    json got = sheet_json(file("damaged.q", raw_report(d)));
    EXPECT_EQ(want["lead_out"], got["lead_out"]);
    ASSERT_EQ(want["tracks"].size(), got["tracks"].size());
    for (size_t t = 0; t < want["tracks"].size(); ++t) {
        const json &w = want["tracks"][t], &g = got["tracks"][t];
        SCOPED_TRACE(w["number"].dump());
        EXPECT_EQ(w["number"], g["number"]);
        EXPECT_EQ(w["isrc"]["code"], g["isrc"]["code"]);
        std::map<int, uint32_t> truth;
        for (const json& i : w["indexes"])
            truth[i["number"]] = i["block"];
        for (const json& i : g["indexes"]) {
            ASSERT_TRUE(truth.count(i["number"])) << i.dump();
            uint32_t block = truth[i["number"]];
            if (i["number"] == 1) {
                EXPECT_EQ(block, i["block"]);
            }
            EXPECT_LE(i["earliest_block"].get<uint32_t>(), block) << i.dump();
            EXPECT_GE(i["block"].get<uint32_t>(), block) << i.dump();
        }
    }
    EXPECT_EQ(50000, got["crc_errors"]);
    EXPECT_EQ(3, got["malformed_position_frames"]);
}

// qscan-sheet in this process, on the emulated drive with the disc in it.
run_result sheet_here(const std::vector<std::string>& args) {
    return run_main(qscan_sheet_main, "qscan-sheet", args);
}

// What a sheet says about the disc, without how it was read: tracks with
// their flags, index points with `exact`, ISRCs, the catalogue number.
json essentials(const json& sheet, bool first_session_only) {
    json tracks = json::array();
    for (const json& t : sheet["tracks"]) {
        if (first_session_only && t["from_toc"])
            continue;
        json indexes = json::array();
        for (const json& i : t["indexes"])
            indexes.push_back({i["number"], i["block"], i["exact"]});
        tracks.push_back({t["number"], t["flags"], t["data"], indexes, t["isrc"].is_null() ? json() : t["isrc"]["code"]});
    }
    return {{"tracks", tracks}, {"mcn", sheet["mcn"].is_null() ? json() : sheet["mcn"]["code"]}};
}

synth_disc with_lead_out(synth_disc d) {
    d.lead_out = 150;
    return d;
}

// The three ways to a disc's sheet give the same one: qscan -r's report,
// qscan-sheet D: (targeted) and qscan-sheet --full D:; the drive's reads
// know the lead-out even where the drive refuses to read it, and the tracks
// of a later session from the table of contents.
TEST_F(SheetTest, ThreeReadsOneSheet) {
    synth_disc hidden_minutes = with_lead_out(synth_sample_disc());
    hidden_minutes.tracks[0].pregap = 2 * 60 * 75;
    synth_disc deep_indexes = with_lead_out(synth_album_disc(20 * 60 * 75));
    deep_indexes.tracks[1].indexes = {9000, 9001, 17000};
    deep_indexes.tracks[4].indexes = {1};
    synth_disc two_sessions = with_lead_out(synth_sample_disc());
    two_sessions.second_session = 3000;
    synth_disc damaged = with_lead_out(synth_sample_disc());
    damage(&damaged, 2990, 3010);
    damage(&damaged, 6600, 6700);
    synth_disc codes_at_the_end = with_lead_out(synth_album_disc(12 * 60 * 75));
    codes_at_the_end.tracks[1].second_isrc = "ZZQSC2600099";
    codes_at_the_end.tracks[1].second_isrc_from = 5000;
    struct {
        const char* name;
        synth_disc disc;
    } cases[] = {
        {"the sample disc, whose lead-out the drive refuses", synth_sample_disc()},
        {"hidden track, indexes 2 and 3, pregaps of 1 to 165 counting down to 1, a data track",
         synth_sheet_disc()},
        {"pregaps counting down to 0, indexes 2 and 3", with_lead_out(pregaps_and_indexes(false))},
        {"codes on the first blocks of indexes", with_lead_out(codes_on_first_blocks())},
        {"the previous track's code at a track's start", with_lead_out(isrcs())},
        {"two minutes of hidden audio before track 1's index 01", hidden_minutes},
        {"indexes deep in a track, one a block long", deep_indexes},
        {"a second code from the middle of a track on", codes_at_the_end},
        {"a data session after the audio", two_sessions},
        {"damaged stretches across a start", damaged},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        emulated_reset();
        emulated_insert_synth_disc(c.disc);
        json report = sheet_json(file("disc.q", run_qscan({"-r", "D:"}).out));
        json reads[2];
        for (int full = 0; full < 2; ++full) {
            emulated_reset();
            emulated_insert_synth_disc(c.disc);
            run_result r = sheet_here(full ? std::vector<std::string>{"--json", "--full", "D:"}
                                           : std::vector<std::string>{"--json", "D:"});
            ASSERT_EQ(0, r.status) << r.err;
            reads[full] = json::parse(r.out);
            EXPECT_EQ(essentials(report, false), essentials(reads[full], true)) << (full ? "--full" : "targeted");
            EXPECT_TRUE(reads[full]["complete"]);
            EXPECT_EQ(synth_lead_out_start(c.disc), reads[full]["lead_out"]);
        }
        EXPECT_EQ(essentials(reads[0], false), essentials(reads[1], false));
        if (c.disc.lead_out > 0) {
            EXPECT_EQ(report["lead_out"], reads[0]["lead_out"]);
        }
        EXPECT_GT(reads[0]["read"]["commands"], 0);
    }
}

// What a drive does that is not a clean read, and how qscan-sheet D: takes
// it: the status, the first line on standard error, and what the sheet says.
TEST_F(SheetTest, DrivesThatDoNotJustRead) {
    const synth_disc disc = with_lead_out(synth_sample_disc());
    emulated_reset();
    emulated_insert_synth_disc(disc);
    const json clean = essentials(json::parse(sheet_here({"--json", "D:"}).out), false);
    struct {
        const char* name;
        std::function<void()> setup;
        std::vector<std::string> args;
        int status;
        std::string err;  // its first line; "" for none
        std::function<void(const json&)> check;
    } cases[] = {
        {"a drive that refuses its table of contents is read whole", [] { emulated_inject_fault(0, FAULT_TOC_REFUSED); },
         {"--json", "D:"}, 0,
         "qscan-sheet: the drive gave no table of contents (drive reports: illegal request, invalid command operation "
         "code (05/20/00)), so the whole disc is read",
         [&](const json& s) {
             EXPECT_EQ("full", s["read"]["method"]);
             EXPECT_EQ(clean, essentials(s, false));
             EXPECT_TRUE(s["toc"].is_null());
         }},
        {"a drive still becoming ready is waited for", [] { emulated_inject_fault(0, FAULT_BECOMING_READY); },
         {"--json", "D:"}, 0, "",
         [&](const json& s) {
             EXPECT_EQ(clean, essentials(s, false));
             EXPECT_EQ(5u * READY_POLL_MS, emulated_slept_ms());  // five refusals, a wait after each
         }},
        {"a system that takes five sectors a transfer", [] { emulated_set_max_sectors(5); }, {"--json", "--full", "D:"}, 0,
         "",
         [&](const json& s) {
             EXPECT_EQ(clean, essentials(s, false));
             EXPECT_GE(s["read"]["commands"].get<uint32_t>(), synth_sector_count(disc) / 5);
         }},
        {"blocks the drive cannot read", [] { for (uint32_t b : {3100u, 3101u, 5000u}) emulated_inject_fault(b, FAULT_MEDIUM); },
         {"--json", "--full", "D:"}, 1, "qscan-sheet: some blocks of the disc could not be read: the sheet says which",
         [&](const json& s) {
             EXPECT_EQ(json::parse("[[3100, 3101], [5000, 5000]]"), s["read"]["unreadable"]);
             EXPECT_EQ(clean, essentials(s, false));
         }},
        {"an end of the disc before the one its table of contents gives", [] { emulated_inject_fault(3100, FAULT_ILLEGAL); },
         {"--json", "D:"}, 1, "qscan-sheet: some blocks of the disc could not be read: the sheet says which",
         [&](const json& s) { EXPECT_EQ(json::parse("[[3100, 3100]]"), s["read"]["unreadable"]); }},
        {"a disc change in the middle", [] { emulated_inject_fault(3100, FAULT_UNIT_ATTENTION); }, {"--json", "D:"}, 1,
         "qscan-sheet: the drive says at block 3100 that the disc may have changed: a sheet would mix two discs", NULL},
        {"an empty drive", [] { emulated_eject(); }, {"D:"}, 1, "failed to read device: Input/output error", NULL},
        {"a drive that is not there", [] {}, {"E:"}, 1, "failed to open device: Invalid argument", NULL},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        emulated_reset();
        emulated_insert_synth_disc(disc);
        c.setup();
        run_result r = sheet_here(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.err, r.err.substr(0, r.err.find('\n'))) << r.err;
        if (c.check)
            c.check(json::parse(r.out));
        else
            EXPECT_EQ("", r.out);
    }
    EXPECT_EQ(2, sheet("--full '" + file("disc.q", raw_report(disc)) + "'").status);  // --full goes with a drive
}

// A sheet's index points as "track.index@block", '*' after one that is
// not exact, '~' after one the table of contents gives.
std::string points_of(const json& sheet) {
    std::string text;
    for (const json& t : sheet["tracks"])
        for (const json& i : t["indexes"])
            text += std::to_string(t["number"].get<int>()) + "." + std::to_string(i["number"].get<int>()) + "@" +
                    std::to_string(i["block"].get<uint32_t>()) + (i["exact"] ? "" : "*") +
                    (i["source"] == "toc" ? "~" : "") + " ";
    return text;
}

// Each track's ISRC and the catalogue number, with where each came from.
std::string codes_of(const json& sheet) {
    std::string text;
    for (const json& t : sheet["tracks"])
        text += t["isrc"].is_null() ? "- " : t["isrc"]["code"].get<std::string>() + "/" +
                                                 t["isrc"]["source"].get<std::string>() + " ";
    return text + (sheet["mcn"].is_null() ? "-" : sheet["mcn"]["code"].get<std::string>() + "/" +
                                                      sheet["mcn"]["source"].get<std::string>());
}

// Every kind of drive gives the strict drive's sheet, in at most a few
// commands more: raw P-W refused, CRCs left out, times in binary, all-zero
// raw Q, code frames filled in with positions, no subchannel at all. Where
// the drive fills code frames in, a start the frame before shows may lie a
// block earlier; where it gives no subchannel, the index points are the
// table of contents' and the codes the drive's own report.
TEST_F(SheetTest, EveryKindOfDrive) {
    struct {
        const char* name;
        synth_disc disc;
    } discs[] = {
        {"the sample disc", with_lead_out(synth_sample_disc())},
        {"hidden track, indexes 2 and 3, short pregaps, a second code, a data track", synth_sheet_disc()},
        {"a mode-2 data track first", synth_mixed_mode_disc()},
    };
    const struct {
        emulated_drive_kind kind;
        const char* subchannel;
        unsigned more_commands;  // READ CDs more than the strict drive's, at most
    } kinds[] = {
        {DRIVE_NO_RAW, "formatted", 2},          {DRIVE_FORMATTED_NO_CRC, "formatted-unchecked", 4},
        {DRIVE_FORMATTED_BINARY, "formatted-unchecked", 4}, {DRIVE_ZERO_Q, "formatted", 4},
        {DRIVE_NO_CODES, "raw", 0},              {DRIVE_NO_SUBCHANNEL, "none", 4},
    };
    for (auto& d : discs) {
        SCOPED_TRACE(d.name);
        emulated_reset();
        emulated_insert_synth_disc(d.disc);
        run_result strict_run = sheet_here({"--json", "D:"});
        ASSERT_EQ(0, strict_run.status) << strict_run.err;
        json strict = json::parse(strict_run.out);
        uint64_t strict_commands = emulated_stats()->read_cd_commands;
        EXPECT_EQ("raw", strict["read"]["subchannel"]);
        EXPECT_EQ("QSCAN", strict["drive"]["vendor"]);
        for (const auto& k : kinds) {
            SCOPED_TRACE(k.subchannel);
            emulated_reset();
            emulated_insert_synth_disc(d.disc);
            emulated_set_drive_kind(k.kind);
            run_result r = sheet_here({"--json", "D:"});
            ASSERT_EQ(0, r.status) << r.err;
            json got = json::parse(r.out);
            EXPECT_EQ(k.subchannel, got["read"]["subchannel"]);
            EXPECT_LE(emulated_stats()->read_cd_commands, strict_commands + k.more_commands);
            emulated_reset();
            emulated_insert_synth_disc(d.disc);
            emulated_set_drive_kind(k.kind);
            // Said of the drive that fills its code frames in alone.
            EXPECT_EQ(k.kind == DRIVE_NO_CODES,
                      sheet_here({"D:"}).out.find("fills code frames in") != std::string::npos);
            if (k.kind == DRIVE_NO_SUBCHANNEL) {
                std::string toc_points;  // audio before track 1's index 01 is its index 00, from block 0
                for (const json& t : strict["toc"]["tracks"])
                    toc_points += (t["number"] == 1 && t["block"] > 0 ? "1.0@0*~ " : "") +
                                  std::to_string(t["number"].get<int>()) + ".1@" +
                                  std::to_string(t["block"].get<int>()) + "*~ ";
                EXPECT_EQ(toc_points, points_of(got));
                EXPECT_EQ(strict["lead_out"], got["lead_out"]);
                EXPECT_TRUE(got["crc_errors"].is_null());
                std::string want = codes_of(strict);
                for (size_t at; (at = want.find("/q")) != std::string::npos;)
                    want.replace(at, 2, "/drive");
                EXPECT_EQ(want, codes_of(got));
                continue;
            }
            if (k.kind == DRIVE_NO_CODES) {
                // The same points and codes; the codes the drive's report.
                json a = essentials(strict, false), b = essentials(got, false);
                for (json* e : {&a, &b})
                    for (json& t : (*e)["tracks"])
                        for (json& i : t[3])
                            i[2] = nullptr;
                EXPECT_EQ(a, b);
                for (const json& t : got["tracks"]) {
                    if (!t["isrc"].is_null()) {
                        EXPECT_EQ("drive", t["isrc"]["source"]);
                    }
                }
                for (size_t t = 0; t < got["tracks"].size(); ++t)
                    for (size_t i = 0; i < got["tracks"][t]["indexes"].size(); ++i) {
                        const json &g = got["tracks"][t]["indexes"][i], &w = strict["tracks"][t]["indexes"][i];
                        EXPECT_TRUE(!g["exact"] || w["exact"]) << g;  // never more sure than the strict drive
                        EXPECT_LE(g["earliest_block"], w["earliest_block"]) << g;
                    }
                continue;
            }
            EXPECT_EQ(essentials(strict, false), essentials(got, false));
            EXPECT_EQ(strict["lead_out"], got["lead_out"]);
        }
    }
}

// Answers that are short, wrong or impossible, and what a drive does that
// is no read: each with what qscan-sheet D: says first on standard error,
// its status, what the sheet says, and the commands it took.
TEST_F(SheetTest, DriveAnswersAndEvents) {
    const synth_disc disc = with_lead_out(synth_sample_disc());
    emulated_reset();
    emulated_insert_synth_disc(disc);
    const json clean = json::parse(sheet_here({"--json", "D:"}).out);
    const uint64_t clean_commands = emulated_stats()->commands;
    emulated_reset();
    emulated_insert_synth_disc(disc);
    sheet_here({"--json", "--full", "D:"});
    const uint64_t full_read_cds = emulated_stats()->read_cd_commands;
    auto impossible_toc = [&] {
        emulated_disc d;
        d.sector_count = synth_sector_count(disc);
        d.has_toc = true;
        d.toc = synth_toc(disc);
        std::swap(d.toc.track[1].start, d.toc.track[2].start);  // starts that do not rise
        d.fetch = [disc](uint32_t lba, uint8_t* sector) {
            synth_sector(disc, lba, sector);
            return true;
        };
        emulated_insert_disc(std::move(d));
    };
    struct {
        const char* name;
        std::function<void()> setup;
        std::vector<std::string> args;
        int status;
        std::string err;  // its first line
        uint64_t most_commands;  // of any kind
        std::function<void(const json&)> check;
    } cases[] = {
        {"a CD-Text answer whose length field says 0", [] { emulated_inject_fault(0, FAULT_CD_TEXT_SHORT); },
         {"--json", "D:"}, 0, "qscan-sheet: the drive's CD-Text is malformed: its length field says 0 bytes",
         clean_commands,
         [&](const json& s) {
             EXPECT_TRUE(s["cd_text"].is_null());
             EXPECT_EQ("the drive's CD-Text is malformed: its length field says 0 bytes", s["cd_text_missing_why"]);
             EXPECT_EQ(essentials(clean, false), essentials(s, false));
         }},
        {"a table of contents whose length field says 2", [] { emulated_inject_fault(0, FAULT_TOC_SHORT); },
         {"--json", "D:"}, 0, "qscan-sheet: the drive's table of contents is malformed: it lists no track",
         full_read_cds + 8,
         [&](const json& s) {
             EXPECT_EQ("full", s["read"]["method"]);
             EXPECT_TRUE(s["toc"].is_null());
             EXPECT_EQ(essentials(clean, false), essentials(s, false));
         }},
        {"a table of contents no disc can have", impossible_toc, {"--json", "D:"}, 0,
         "qscan-sheet: the drive's table of contents cannot be right (track 3 starts at block 3150, before track 2 at "
         "block 6675), so the whole disc is read",
         full_read_cds + 12,
         [&](const json& s) {
             EXPECT_TRUE(s["ids"].is_null());
             EXPECT_EQ(0u, s["ids_missing_why"].get<std::string>().find(
                               "the drive's table of contents cannot be right: track 3"));
             EXPECT_EQ(essentials(clean, false), essentials(s, false));
         }},
        {"a drive that refuses INQUIRY", [] { emulated_inject_fault(0, FAULT_INQUIRY_REFUSED); }, {"--json", "D:"},
         0, "", clean_commands,
         [&](const json& s) {
             EXPECT_TRUE(s["drive"].is_null());
             EXPECT_EQ(essentials(clean, false), essentials(s, false));
         }},
        {"an empty drive, said at once", [] { emulated_eject(); }, {"D:"}, 1,
         "failed to read device: Input/output error", 2, NULL},
        {"a disc taken out mid-read", [] { emulated_inject_fault(3000, FAULT_NOT_READY); }, {"--full", "D:"}, 1,
         "qscan-sheet: the drive says at block 3000 that it has no disc ready any more: no sheet",
         3000 / READ_CD_MOST + 1 + 3 + 8, NULL},
        {"one block refused, in a whole-disc read", [] { emulated_inject_fault(4000, FAULT_NO_SUBCHANNEL); },
         {"--json", "--full", "D:"}, 1, "qscan-sheet: some blocks of the disc could not be read: the sheet says which",
         full_read_cds + 8 + 4,
         [&](const json& s) { EXPECT_EQ(json::parse("[[4000, 4000]]"), s["read"]["unreadable"]); }},
        {"one block's pass-through call failing, in a whole-disc read",
         [] { emulated_inject_fault(4000, FAULT_CALL_FAILS); }, {"--json", "--full", "D:"}, 1,
         "qscan-sheet: some blocks of the disc could not be read: the sheet says which", full_read_cds + 8 + 30,
         [&](const json& s) { EXPECT_EQ(json::parse("[[4000, 4000]]"), s["read"]["unreadable"]); }},
        {"a system that takes 15 sectors a transfer", [] { emulated_set_max_sectors(15); }, {"--json", "D:"}, 0, "",
         clean_commands * 2,
         [&](const json& s) {
             EXPECT_EQ(clean["cd_text"], s["cd_text"]);
             EXPECT_EQ(essentials(clean, false), essentials(s, false));
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        emulated_reset();
        emulated_insert_synth_disc(disc);
        c.setup();
        run_result r = sheet_here(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.err, r.err.substr(0, r.err.find('\n'))) << r.err;
        EXPECT_LE(emulated_stats()->commands, c.most_commands);
        EXPECT_EQ(0u, emulated_slept_ms());
        if (c.check)
            c.check(json::parse(r.out));
        else
            EXPECT_EQ("", r.out);
    }
}

// A data track's mode from its sectors' headers, in every form.
TEST_F(SheetTest, DataTrackModes) {
    emulated_reset();
    emulated_insert_synth_disc(synth_mixed_mode_disc());
    json s = json::parse(sheet_here({"--json", "D:"}).out);
    EXPECT_EQ(2, s["tracks"][0]["mode"]);
    EXPECT_TRUE(s["tracks"][1]["mode"].is_null());
    emulated_reset();
    emulated_insert_synth_disc(synth_mixed_mode_disc());
    EXPECT_NE(std::string::npos, sheet_here({"--cue", "D:"}).out.find("TRACK 01 MODE2/2352"));
    emulated_reset();
    emulated_insert_synth_disc(synth_mixed_mode_disc());
    EXPECT_NE(std::string::npos, sheet_here({"D:"}).out.find("data, mode 2"));
}

// A report without its lines `from` to `to` (counted from 0).
std::string without_lines(const std::string& report, size_t from, size_t to) {
    return report.substr(0, from * 37) + report.substr(to * 37);
}

// A raw line whose Q bytes are replaced by `q`, with their CRC.
std::string raw_line(const std::array<uint8_t, 12>& q) {
    char line[40];
    snprintf(line, sizeof line, "%02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x \n", q[0], q[1], q[2], q[3],
             q[4], q[5], q[6], q[7], q[8], q[9], q[10], q[11]);
    return line;
}

// Scans that went wrong on their way to the sheet, each with the sheet's
// answer and status, its text, JSON and cue sheet agreeing.
TEST_F(SheetTest, ScansGoneWrong) {
    const synth_disc disc = synth_sample_disc();
    const std::string clean = raw_report(disc);
    std::string deinterleaved;  // every line's 96 bits laid down channel after channel, as a .sub holds them
    for (uint32_t b = 0; b < 100; ++b) {
        std::array<uint8_t, 12> q = synth_q(disc, b), bytes{};
        for (int bit = 0; bit < 96; ++bit)  // the Q channel's bits as raw P-W's bit 6 of every 8th
            if (q[(size_t)bit / 8] & (0x80 >> (bit % 8)))
                bytes[(size_t)(bit / 8 % 12)] |= (uint8_t)(bit % 2 ? 0x40 : 0x01);
        deinterleaved += raw_line(bytes);
    }
    struct {
        const char* name;
        std::string report;
        int status;
        std::string err;  // its first line
        std::function<void(const json&, const std::string& text, const std::string& cue)> check;
    } cases[] = {
        {"two scans in one file", clean + clean, 1,
         "qscan-sheet: line 8926: the disc starts again here (disc time 00:02.00 after 02:00.74): two scans in one "
         "file?", NULL},
        {"six copies", clean + clean + clean + clean + clean + clean, 1,
         "qscan-sheet: line 8926: the disc starts again here (disc time 00:02.00 after 02:00.74): two scans in one "
         "file?", NULL},
        {"lines repeated", without_lines(clean, 5000, 8925) + clean.substr(4990 * 37), 1,
         "qscan-sheet: line 5001: the disc starts again here (disc time 01:08.40 after 01:08.49): two scans in one "
         "file?", NULL},
        {"100 lines lost in a track", without_lines(clean, 4000, 4100), 0, "",
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(json::parse(R"([{"first_block": 4000, "last_block": 4099, "after_line": 4000}])"),
                       s["read"]["missing"]);
             EXPECT_EQ(8825, s["sectors"]);
             EXPECT_NE(std::string::npos, text.find("Missing from the scan: blocks 4000 to 4099 (after line 4000)"));
         }},
        {"lines lost across a start", without_lines(clean, 2990, 3100), 0, "",
         [](const json& s, const std::string&, const std::string& cue) {
             EXPECT_EQ("1.01@0 2.00@3100~ 2.01@3150 3.00@6526~ 3.01@6675 4.00@8175 4.01@8325", index_points(s));
             EXPECT_EQ(2990, s["tracks"][1]["indexes"][0]["earliest_block"]);
             EXPECT_NE(std::string::npos, cue.find("    INDEX 00 00:41:25\n")) << cue;
         }},
        {"a pregap whose every frame is damaged",
         [&] {
             std::string r = clean;
             for (size_t b = 3000; b < 3150; ++b)
                 r.replace(b * 37, 37, "00 00 00 00 00 00 00 00 00 00 00 00 \n");
             return r;
         }(),
         0, "",
         [](const json& s, const std::string& text, const std::string& cue) {
             const json& pregap = s["tracks"][1]["indexes"][0];
             EXPECT_EQ(0, pregap["number"]);
             EXPECT_EQ(3150, pregap["block"]);
             EXPECT_EQ(3000, pregap["earliest_block"]);
             EXPECT_FALSE(pregap["exact"]);
             EXPECT_TRUE(pregap["may_not_exist"]);
             EXPECT_NE(std::string::npos,
                       text.find("* Track 2 may have a pregap from as early as block 3000 to block 3150, where no "
                                 "good position frame shows what the disc holds; it may not exist, so track 1's "
                                 "length is 00:40.00 at least and 00:42.00 (its row) at most.\n"))
                 << text;
             EXPECT_EQ(3150, s["tracks"][0]["length"]);
             EXPECT_EQ(std::string::npos, cue.find("TRACK 02 AUDIO\n    ISRC ZZQSC2600002\n    INDEX 00")) << cue;
         }},
        {"1 line lost in a track", without_lines(clean, 5000, 5001), 0, "",
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(json::parse(R"([{"first_block": 5000, "last_block": 5000, "after_line": 5000}])"),
                       s["read"]["missing"]);
             EXPECT_EQ(0, s["frames_out_of_place"]);
             EXPECT_NE(std::string::npos, text.find("Missing from the scan: block 5000 (after line 5000)")) << text;
         }},
        {"2 lines lost where a pregap begins: its start is not exact", without_lines(clean, 2999, 3001), 0, "",
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ("1.01@0 2.00@3001~ 2.01@3150 3.00@6526~ 3.01@6675 4.00@8175 4.01@8325", index_points(s));
             EXPECT_EQ(2999, s["tracks"][1]["indexes"][0]["earliest_block"]);
             EXPECT_NE(std::string::npos, text.find("Missing from the scan: blocks 2999 to 3000 (after line 2999)"))
                 << text;
             EXPECT_NE(std::string::npos, text.find("* Track 2 index 00 may begin as early as block 2999: the blocks "
                                                    "before block 3001 show no good position frame.\n"))
                 << text;
         }},
        {"5 lines lost before a catalogue-number frame, which stays after the hole", without_lines(clean, 5020, 5025),
         0, "",
         [](const json& s, const std::string&, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(json::parse(R"([{"first_block": 5020, "last_block": 5024, "after_line": 5020}])"),
                       s["read"]["missing"]);
             EXPECT_EQ(8920, s["sectors"]);
             EXPECT_EQ(0, s["frames_out_of_place"]);
         }},
        {"1 line repeated", clean.substr(0, 5000 * 37) + clean.substr(4999 * 37), 0,
         "qscan-sheet: 1 line repeats a block the scan holds already, line 5001 (disc time 01:08.49): left out",
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(json::parse(R"({"count": 1, "first_line": 5001})"), s["read"]["repeated_lines"]);
             EXPECT_EQ(8925, s["sectors"]);
             EXPECT_EQ(json::array(), s["read"]["missing"]);
             EXPECT_EQ(0, s["frames_out_of_place"]);
             EXPECT_NE(std::string::npos,
                       text.find("\n1 line repeats a block the scan holds already, line 5001 (disc time 01:08.49): "
                                 "left out.\n"))
                 << text;
         }},
        {"3 lines repeated across a pregap's start", clean.substr(0, 3001 * 37) + clean.substr(2998 * 37), 0,
         "qscan-sheet: 3 lines repeat blocks the scan holds already, the first at line 3002 (disc time 00:41.73): left "
         "out",
         [](const json& s, const std::string&, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(json::parse(R"({"count": 3, "first_line": 3002})"), s["read"]["repeated_lines"]);
             EXPECT_EQ(8925, s["sectors"]);
             EXPECT_EQ(0, s["frames_out_of_place"]);
         }},
        {"a line repeated, and 2000 lines on one lost: each said",
         clean.substr(0, 5000 * 37) + clean.substr(4999 * 37, 2001 * 37) + clean.substr(7001 * 37), 0,
         "qscan-sheet: 1 line repeats a block the scan holds already, line 5001 (disc time 01:08.49): left out",
         [](const json& s, const std::string&, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(json::parse(R"({"count": 1, "first_line": 5001})"), s["read"]["repeated_lines"]);
             EXPECT_EQ(json::parse(R"([{"first_block": 7000, "last_block": 7000, "after_line": 7001}])"),
                       s["read"]["missing"]);
         }},
        {"a line repeated, and 20 lines on one lost: a stretch of frames a block late, as drives give them",
         clean.substr(0, 5000 * 37) + clean.substr(4999 * 37, 21 * 37) + clean.substr(5021 * 37), 0, "",
         [](const json& s, const std::string&, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(0, s["read"]["repeated_lines"]["count"]);
             EXPECT_EQ(json::array(), s["read"]["missing"]);
             EXPECT_EQ(21, s["frames_out_of_place"]);
         }},
        {"the first 2 lines lost, as a drive whose Q leads by 2 shows", clean.substr(2 * 37), 0, "",
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(2, s["q_offset"]);
             EXPECT_NE(std::string::npos,
                       text.find("This drive's Q leads the block by 2 (or the scan's first 2 lines are lost): "))
                 << text;
             // Where the last track's length ends, on the disc's time.
             EXPECT_EQ(8325 + 600, s["tracks"][3]["indexes"][1]["block"].get<int>() + s["tracks"][3]["length"].get<int>());
             EXPECT_NE(std::string::npos, text.find("the last track ends where the scan did, after block 8924 (02:00.74)"))
                 << text;
         }},
        {"one frame with a good CRC and a wrong time, ahead and behind, moves nothing",
         [&] {
             std::string r = clean;
             r.replace(5000 * 37, 37, raw_line(synth_with_crc(position_q(0x02, 0x01, 1850 + 3, 5150 + 3))));
             r.replace(6000 * 37, 37, raw_line(synth_with_crc(position_q(0x02, 0x01, 2850 - 2, 6150 - 2))));
             return r;
         }(),
         0, "",
         [](const json& s, const std::string&, const std::string&) {
             EXPECT_EQ(SAMPLE_POINTS, index_points(s));
             EXPECT_EQ(8925, s["sectors"]);
             EXPECT_EQ(json::array(), s["read"]["missing"]);
             EXPECT_EQ(0, s["read"]["repeated_lines"]["count"]);
             EXPECT_EQ(2, s["frames_out_of_place"]);
         }},
        {"de-interleaved subchannel, not raw P-W", deinterleaved, 1, std::string("qscan-sheet: ") + NO_GOOD_Q_FRAME,
         NULL},
        {"a scan cut off in a pregap", clean.substr(0, 6600 * 37), 0, "",
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_FALSE(s["complete"]);
             EXPECT_NE(std::string::npos, text.find("Track 3: no ISRC in the blocks read (the scan ends in it)"))
                 << text;
             EXPECT_EQ(std::string::npos, text.find("No ISRC")) << text;
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = file("disc.q", c.report);
        run_result text = sheet("'" + path + "'"), j = sheet("--json '" + path + "'"),
                   cue = sheet("--cue '" + path + "'");
        for (const run_result* r : {&text, &j}) {
            EXPECT_EQ(c.status, r->status);
            EXPECT_EQ(c.err, r->err.substr(0, r->err.find('\n'))) << r->err;
        }
        EXPECT_EQ(c.status, cue.status);
        if (!c.check) {
            EXPECT_EQ("", text.out + j.out + cue.out);
            continue;
        }
        c.check(json::parse(j.out), text.out, cue.out);
    }
}

// Codes as real discs are mastered, and as their CD-Text gives them: the
// sheet reports what the disc carries and says where it looks wrong.
TEST_F(SheetTest, CodesAsMastered) {
    // CD-Text's codes as the sample disc gives them: its UPC and every ISRC.
    auto with_text_codes = [](synth_disc* d) {
        d->text[0].upc = d->mcn;
        for (const synth_track& t : d->tracks)
            d->text[0].isrcs.push_back(t.isrc);
    };
    struct {
        const char* name;
        std::function<void(synth_disc*)> change;  // of the sample disc, with a lead-out
        std::function<void(const json&, const std::string& text, const std::string& cue)> check;
        int spoiled_code = -1;  // the track (0: the disc) whose CD-Text code's first pack fails its CRC
    } cases[] = {
        {"CD-Text's UPC lost with a damaged pack", with_text_codes,
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(json::parse(R"([{"track": 0, "cd_text": null, "q": "1234567890128", "lost": true}])"),
                       s["cd_text"]["codes_against_q"]);
             EXPECT_NE(std::string::npos, text.find("The disc: CD-Text's UPC/EAN is lost (a damaged pack), so it is "
                                                    "not set against the Q frames' catalogue number.\n"))
                 << text;
             EXPECT_EQ(std::string::npos, text.find("UPC/EAN and ISRCs agree")) << text;
             EXPECT_EQ(std::string::npos, text.find("\"\"")) << text;
         },
         0},
        {"CD-Text's ISRC of track 3 lost with a damaged pack", with_text_codes,
         [](const json& s, const std::string& text, const std::string&) {
             bool track_3_lost = false;
             for (const json& d : s["cd_text"]["codes_against_q"]) {
                 EXPECT_TRUE(d["lost"]) << d;  // the other codes agree
                 EXPECT_TRUE(d["cd_text"].is_null()) << d;
                 track_3_lost = track_3_lost || d["track"] == 3;
             }
             EXPECT_TRUE(track_3_lost) << s["cd_text"];
             EXPECT_NE(std::string::npos, text.find("Track 3: CD-Text's ISRC is lost (a damaged pack)")) << text;
             EXPECT_NE(std::string::npos, text.find("CD-Text's other codes agree with the Q frames'.\n")) << text;
             EXPECT_EQ(std::string::npos, text.find("CD-Text gives ISRC \"\"")) << text;
         },
         3},
        {"CD-Text with ISRCs for some tracks alone: none for the others, not \"\"",
         [](synth_disc* d) {
             d->text[0].isrcs = {d->tracks[0].isrc, "", d->tracks[2].isrc, d->tracks[3].isrc};
         },
         [](const json&, const std::string& text, const std::string&) {
             EXPECT_NE(std::string::npos, text.find("Track 2: CD-Text gives no ISRC, the Q frames \"ZZQSC2600002\".\n"))
                 << text;
             EXPECT_EQ(std::string::npos, text.find("\"\"")) << text;
         }},
        {"a track whose own code fills its first second, the next track's the rest",
         [](synth_disc* d) {
             d->tracks[2].second_isrc = d->tracks[3].isrc;
             d->tracks[2].second_isrc_from = 75;
         },
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ("ZZQSC2600004", s["tracks"][2]["isrc"]["code"]);
             EXPECT_EQ(json::parse("[4]"), s["tracks"][2]["isrc"]["also_on_tracks"]);
             EXPECT_EQ(json::parse("[3]"), s["tracks"][3]["isrc"]["also_on_tracks"]);
             EXPECT_NE(std::string::npos,
                       text.find("Tracks 3 and 4 carry the same ISRC ZZ-QSC-26-00004; track 3 also carries "
                                 "ZZ-QSC-26-00003 in 1 frame, at block 6675, which may be the one meant.\n"))
                 << text;
             EXPECT_EQ(std::string::npos, text.find("Track 3 also carries")) << text;  // said once
         }},
        {"tracks that begin with the previous track's code", [](synth_disc* d) { d->isrc_latch = 40; },
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(1, s["tracks"][1]["other_isrcs"][0]["also_track"]);
             EXPECT_EQ(json::array(), s["tracks"][1]["isrc"]["also_on_tracks"]);
             EXPECT_NE(std::string::npos, text.find("(track 1's code)")) << text;
         }},
        {"a track so short that the previous track's code, latched, fills most of its frames",
         [](synth_disc* d) {
             d->isrc_latch = 40;
             d->isrc_period = 10;
             d->isrc_phase = 5;
             d->tracks[2].length = 60;
         },
         [](const json& s, const std::string& text, const std::string&) {
             ASSERT_FALSE(s["tracks"][2]["isrc"].is_null()) << text;
             EXPECT_EQ("ZZQSC2600002", s["tracks"][2]["isrc"]["code"]);  // the majority, as the frames carry it
             EXPECT_EQ(json::parse("[2]"), s["tracks"][2]["isrc"]["also_on_tracks"]);
             EXPECT_NE(std::string::npos,
                       text.find("Tracks 2 and 3 carry the same ISRC ZZ-QSC-26-00002; track 3 also carries "
                                 "ZZ-QSC-26-00003 in 1 frame, at block 6715, which may be the one meant.\n"))
                 << text;
             EXPECT_EQ(std::string::npos, text.find("Track 3 also carries")) << text;  // said once
         }},
        {"a catalogue number whose check digit is wrong", [](synth_disc* d) { d->mcn = "1234567890123"; },
         [](const json& s, const std::string& text, const std::string& cue) {
             EXPECT_FALSE(s["mcn"]["well_formed"]);
             EXPECT_NE(std::string::npos, text.find("check digit is wrong")) << text;
             EXPECT_EQ(std::string::npos, cue.find("CATALOG"));
         }},
        {"an ISRC whose country is no two letters", [](synth_disc* d) { d->tracks[1].isrc = "Z9QSC2600002"; },
         [](const json& s, const std::string& text, const std::string& cue) {
             EXPECT_FALSE(s["tracks"][1]["isrc"]["well_formed"]);
             EXPECT_NE(std::string::npos, text.find("Track 2: its ISRC is not a well-formed code")) << text;
             EXPECT_EQ(std::string::npos, cue.find("ISRC Z9QSC2600002"));
         }},
        {"CD-Text's codes as pressed: a 12-digit UPC and hyphenated ISRCs",
         [](synth_disc* d) {
             d->mcn = "0036000291452";
             d->text[0].upc = "036000291452";
             for (const synth_track& t : d->tracks)
                 d->text[0].isrcs.push_back(t.isrc.substr(0, 2) + "-" + t.isrc.substr(2, 3) + "-" + t.isrc.substr(5, 2) +
                                            "-" + t.isrc.substr(7));
         },
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_EQ(json::array(), s["cd_text"]["codes_against_q"]);
             EXPECT_NE(std::string::npos, text.find("CD-Text's UPC/EAN and ISRCs agree with the Q frames' codes"));
         }},
        {"ISRCs only in CD-Text",
         [](synth_disc* d) {
             for (synth_track& t : d->tracks) {
                 d->text[0].isrcs.push_back(t.isrc);
                 t.isrc.clear();
             }
         },
         [](const json& s, const std::string& text, const std::string& cue) {
             EXPECT_EQ("ZZQSC2600001", s["tracks"][0]["isrc"]["code"]);
             EXPECT_EQ("cd-text", s["tracks"][0]["isrc"]["source"]);
             EXPECT_NE(std::string::npos, text.find("ZZ-QSC-26-00001#")) << text;
             EXPECT_EQ(std::string::npos, cue.find("ISRC ZZQSC")) << cue;
             EXPECT_EQ(std::string::npos, text.find("No ISRC")) << text;
             // Each code once, in its row, and one footnote for the mark.
             for (const char* code : {"00001", "00002", "00003", "00004"})
                 EXPECT_EQ(text.find(code), text.rfind(code)) << code << text;
             EXPECT_NE(std::string::npos, text.find("\n# The track's ISRC as its CD-Text gives it: no Q frame read "
                                                    "carries it, and the cue sheet leaves it out.\n"))
                 << text;
             EXPECT_EQ(text.find("\n# "), text.rfind("\n# ")) << text;
             EXPECT_EQ(4u, s["cd_text"]["codes_against_q"].size());  // still every difference, for scripts
         }},
        {"one track's ISRC only in CD-Text",
         [](synth_disc* d) {
             for (const synth_track& t : d->tracks)
                 d->text[0].isrcs.push_back(t.isrc);
             d->tracks[1].isrc.clear();
         },
         [](const json&, const std::string& text, const std::string&) {
             EXPECT_NE(std::string::npos, text.find("ZZ-QSC-26-00002#")) << text;
             EXPECT_EQ(text.find("00002"), text.rfind("00002")) << text;
             EXPECT_EQ(std::string::npos, text.find("Track 2: CD-Text gives")) << text;
             EXPECT_NE(std::string::npos, text.find("\n# The track's ISRC as its CD-Text gives it")) << text;
         }},
        {"no track with an ISRC", [](synth_disc* d) { for (synth_track& t : d->tracks) t.isrc.clear(); },
         [](const json&, const std::string& text, const std::string&) {
             EXPECT_NE(std::string::npos, text.find("No track carries an ISRC.\n")) << text;
             EXPECT_EQ(std::string::npos, text.find("Track 1")) << text;
         }},
        {"an enhanced CD: its data track carries no code and is not said to", [](synth_disc* d) { d->second_session = 3000; },
         [](const json& s, const std::string& text, const std::string&) {
             EXPECT_TRUE(s["tracks"][4]["isrc"].is_null());
             EXPECT_EQ(std::string::npos, text.find("Track 5:")) << text;
             EXPECT_EQ(std::string::npos, text.find("No ISRC")) << text;
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        synth_disc d = with_lead_out(synth_sample_disc());
        c.change(&d);
        std::string forms[3];
        const std::vector<std::string> args[3] = {{"D:"}, {"--json", "D:"}, {"--cue", "D:"}};
        std::vector<std::array<uint8_t, 16>> packs = synth_cd_text(d);
        size_t spoiled = 0;
        while (c.spoiled_code >= 0 && spoiled < packs.size() &&
               !(packs[spoiled][0] == 0x8E && packs[spoiled][1] == c.spoiled_code))
            ++spoiled;
        if (c.spoiled_code >= 0) {
            ASSERT_LT(spoiled, packs.size());
        }
        for (int i = 0; i < 3; ++i) {
            emulated_reset();
            emulated_insert_synth_disc(d);
            if (c.spoiled_code >= 0)
                emulated_inject_fault((uint32_t)spoiled, FAULT_CD_TEXT_CRC);
            run_result r = sheet_here(args[i]);
            ASSERT_EQ(0, r.status) << r.err;
            forms[i] = r.out;
        }
        c.check(json::parse(forms[1]), forms[0], forms[2]);
    }
}

TEST_F(SheetTest, FlagsAndLength) {
    json s = sheet_json(scan(flags_and_damage()));
    std::vector<std::string> flags;
    for (const json& t : s["tracks"])
        flags.push_back(t["flags"].dump() + (t["data"].get<bool>() ? " data" : ""));
    EXPECT_EQ((std::vector<std::string>{"[]", "[\"PRE\"]", "[\"DCP\"]", "[\"DCP\",\"PRE\"]", "[\"4CH\"]",
                                        "[] data", "[] data", "[\"DCP\"] data"}),
              flags);
    EXPECT_EQ(300, s["tracks"][0]["length"]);
    EXPECT_EQ(300, s["tracks"][7]["length"]);  // up to the lead-out, not the end of the scan
}

// Every report line beside the raw ones is passed over, CRLF line ends
// (qscan.exe through a pipe) read as LF ones do, and blank lines at the end
// are passed over.
TEST_F(SheetTest, SameSheetFromEveryFormOfTheReport) {
    synth_disc d = codes_on_first_blocks();
    json want = sheet_json(scan(d));
    EXPECT_EQ(want, sheet_json(scan(d, "-r -p -t -c -i -e")));
    std::string crlf;
    for (const std::string& line : split_lines(slurp(scan(d, "-r -c -i"))))
        crlf += line + "\r\n";
    EXPECT_EQ(want, sheet_json(file("crlf.q", crlf)));
    EXPECT_EQ(want, sheet_json(file("blank-end.q", crlf + "\r\n \t\n\n")));  // an editor's blank lines at the end
    run_result piped = sh("QSCAN_EMULATED_DISC='" + dir + "/disc.img' '" QSCAN_EMU "' -r -e D: | '" QSCAN_SHEET
                          "' --json");
    EXPECT_EQ(want, json::parse(piped.out));
}

TEST_F(SheetTest, CueSheet) {
    synth_disc d = codes_on_first_blocks();
    d.tracks[0].control = 0x3;
    run_result r = sheet("--cue --image 'my disc.bin' " + scan(d));
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("CATALOG 1234567890128\n"
              "FILE \"my disc.bin\" BINARY\n"
              "  TRACK 01 AUDIO\n"
              "    FLAGS DCP PRE\n"
              "    ISRC ZZQSC2600001\n"
              "    INDEX 00 00:00:00\n"
              "    INDEX 01 00:04:00\n"
              "  TRACK 02 AUDIO\n"
              "    ISRC ZZQSC2600002\n"
              "    INDEX 00 00:17:26\n"
              "    INDEX 01 00:19:25\n"
              "    INDEX 02 00:22:01\n",
              r.out);
    // Thirteen zeros are no catalogue number.
    r = sheet("--cue " + scan(isrcs()));
    EXPECT_EQ("FILE \"disc.bin\" BINARY\n", r.out.substr(0, r.out.find('\n') + 1));
    // A scan that ends in track 2's pregap: no TRACK without its INDEX 01.
    r = sh("head -n 1350 '" + scan(codes_on_first_blocks()) + "' | '" QSCAN_SHEET "' --cue");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(std::string::npos, r.out.find("TRACK 02")) << r.out;
    EXPECT_EQ("qscan-sheet: track 1 index 00 at disc time 00:02.00 (block 0) is not exact: it may begin before "
              "block 0, where the read of the disc starts\nqscan-sheet: track 2 left out of the cue sheet: its index 01 was not "
              "seen\n",
              r.err);
    // An image of audio in a WAVE file is named so, by its name's end in any case.
    std::string report = scan(d);
    const struct {
        const char* name;
        const char* type;
    } images[] = {{"Album.WAV", "WAVE"}, {"album.wav", "WAVE"}, {"a.Wav", "WAVE"}, {"wav", "BINARY"},
                  {"album.wave", "BINARY"}, {".wav.bin", "BINARY"}};
    for (const auto& image : images) {
        r = sheet("--cue --image '" + std::string(image.name) + "' " + report);
        EXPECT_NE(std::string::npos, r.out.find("FILE \"" + std::string(image.name) + "\" " + image.type + "\n")) << r.out;
    }
    // A scan that ends in track 1's pregap has a track, but none a cue sheet can hold.
    r = sh("head -n 200 '" + scan(codes_on_first_blocks()) + "' | '" QSCAN_SHEET "' --cue");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("qscan-sheet: no track's index 01 was reached (track 1 is seen in its pregap alone), so no cue sheet: "
              "every track needs its index 01\n",
              r.err);
    r = sheet("--cue --image 'Album.WAV' " + report);
    EXPECT_EQ(std::string::npos, r.err.find("WAVE file")) << r.err;
    // A CD-Text quote, which no cue field can hold, is written as a single one and said so.
    emulated_reset();
    emulated_insert_synth_disc(synth_sample_disc());
    r = sheet_here({"--cue", "D:"});
    EXPECT_NE(std::string::npos, r.out.find("    TITLE \"Second 'Best'\"\n")) << r.out;
    EXPECT_NE(std::string::npos,
              r.err.find("qscan-sheet: track 2's CD-Text TITLE holds a double quote, written as a single one\n"))
        << r.err;
    // One with a data track, which no WAVE file holds, is refused.
    d.tracks[1].control = 0x4;
    r = sheet("--cue --image album.wav " + scan(d));
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("qscan-sheet: track 2 is a data track, which an image of audio in a WAVE file cannot hold: name an image "
              "of raw 2352-byte sectors\n",
              r.err);
}

// The text says each thing once: every line a case needs is there, and what
// another line says already is not.
TEST_F(SheetTest, TextForAPerson) {
    // The sheet of a disc (the sample disc, with a lead-out, changed) as the given kind of drive reads it.
    auto from_drive = [](emulated_drive_kind kind, const std::function<void(synth_disc*)>& change,
                         const synth_disc& disc = with_lead_out(synth_sample_disc())) {
        synth_disc d = disc;
        change(&d);
        emulated_reset();
        emulated_insert_synth_disc(d);
        emulated_set_drive_kind(kind);
        run_result r = sheet_here({"D:"});
        EXPECT_EQ(0, r.status) << r.err;
        return r.out;
    };
    auto keep = [](synth_disc*) {};
    struct {
        const char* name;
        std::function<std::string()> text;
        std::vector<std::string> lines;   // each in the text
        std::vector<std::string> absent;  // none in it
    } cases[] = {
        {"codes of other tracks, a track without one, two in one track, a catalogue number of zeros",
         [&] {
             run_result r = sheet(scan(isrcs()));
             EXPECT_EQ(0, r.status);
             return r.out;
         },
         {
             "Catalogue number: 0000000000000\n",
             "  2  00:10.00    600  00:12.00    750   00:08.00  ZZ-QSC-26-00002             0\n",
             "Track 2 also carries ZZ-QSC-26-00001 in 4 frames, blocks 755 to 785 (track 1's code).\n",
             "No ISRC: track 3.\n",
             "The catalogue number is thirteen zeros: the disc carries no real number.\n",
             "Lead-out: not seen; the last track ends where the scan did, after block 2349 (00:33.24)\n",
         },
         {}},
        {"a drive that fills code frames in: one footnote for the catalogue number and the ISRCs",
         [&] { return from_drive(DRIVE_NO_CODES, keep); },
         {
             "Catalogue number: 1234567890128^\n",
             "  2 00:42.00   3000* 00:44.00   3150  00:45.01 ZZ-QSC-26-00002^            0\n",
             "^ The drive's own report of the catalogue number and of the ISRCs marked so (READ SUB-CHANNEL): no "
             "Q frame read carries them.\n",
         },
         {"^ The catalogue number is the drive's own report", "^ The drive's own report of the track's ISRC"}},
        {"a catalogue number alone the drive's own report",
         [&] { return from_drive(DRIVE_NO_CODES, [](synth_disc* d) { for (synth_track& t : d->tracks) t.isrc.clear(); }); },
         {"^ The catalogue number is the drive's own report (READ SUB-CHANNEL): no Q frame read carries it.\n"},
         {"ISRC (READ SUB-CHANNEL)"}},
        {"starts the drive's filled-in code frames may put a block late, in one line",
         [&] { return from_drive(DRIVE_NO_CODES, keep); },
         {"* Tracks 2, 3 and 4 index 00 may begin a block earlier (as early as blocks 2999, 6525 and 8174): the "
          "frame in the block before each may be a code frame the drive filled in with a position.\n"},
         {"* Track 2", "* Track 3", "* Track 4"}},
        {"such starts of index 00 and of index 02 and 03, in one line",
         [&] { return from_drive(DRIVE_NO_CODES, keep, synth_sheet_disc()); },
         {"* Track 1 index 00 is seen from block 0, where the read starts: a hidden track or a long first pregap, "
          "which may begin before it.\n",
          "* Track 1 index 02, track 1 index 03, track 2 index 00, track 3 index 00, track 4 index 00 and track 5 "
          "index 00 may begin a block earlier (as early as blocks 1799, 2549, 3299, 5849, 7650 and 9737): the "
          "frame in the block before each may be a code frame the drive filled in with a position.\n"},
         {"* Track 2", "* Tracks"}},
        {"a saved scan without a code frame, in one line",
         [&] {
             synth_disc d = with_lead_out(synth_sample_disc());
             d.mcn.clear();
             for (synth_track& t : d.tracks)
                 t.isrc.clear();
             return sheet("'" + scan(d) + "'").out;
         },
         {"No frame of the scan carries a catalogue number or an ISRC: the disc carries none, or the drive filled "
          "its code frames in with positions of its own (then each start may lie a block earlier, and qscan-sheet "
          "D: asks such a drive for its codes).\n"},
         {"No ISRC", "No track carries an ISRC"}},
        {"such a scan that ends in a track, in one line too",
         [&] {
             synth_disc d = with_lead_out(synth_sample_disc());
             d.mcn.clear();
             for (synth_track& t : d.tracks)
                 t.isrc.clear();
             return sheet("'" + file("cut.q", slurp(scan(d)).substr(0, 7000 * 37)) + "'").out;
         },
         {"No frame of the scan carries a catalogue number or an ISRC",
          "Lead-out: not seen; the last track ends where the scan did, after block 6999 (01:35.24)\n"},
         {"No ISRC", "No track carries an ISRC", "no ISRC in the blocks read"}},
        {"one such start, as before",
         [&] {
             return from_drive(DRIVE_NO_CODES, [](synth_disc* d) { d->tracks.resize(2); },
                               synth_mixed_mode_disc());
         },
         {"* Track 2 index 00 may begin as early as block 1199: the frame in the block before may be a code frame "
          "the drive filled in with a position.\n"},
         {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text();
        for (const std::string& line : c.lines)
            EXPECT_NE(std::string::npos, text.find(line)) << line << text;
        for (const std::string& words : c.absent)
            EXPECT_EQ(std::string::npos, text.find(words)) << words << text;
        for (const char* mark : {"\n^ ", "\n# "}) {  // a mark's footnote once at most
            size_t footnotes = 0;
            for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
                ++footnotes;
            EXPECT_GE(1u, footnotes) << mark << text;
        }
    }
}

// What qscan-sheet refuses, and how it says so; nothing on standard output.
TEST_F(SheetTest, Refusals) {
    const std::string raw = "01 01 01 00 00 00 00 00 02 00 5a 28 \n";
    struct {
        std::string input;
        std::string err;
    } cases[] = {
        {raw + "hello\n", "line 2: not a line of qscan's report: \"hello\""},
        {raw + " 1.01 00:00.00 00:02.0\n", "line 2: not a line of qscan's report: \" 1.01 00:00.00 00:02.0\""},
        {raw + "01.01 00:00.00 00:02.00\n", "line 2: not a line of qscan's report: \"01.01 00:00.00 00:02.00\""},
        {raw + "\n" + raw, "line 2 is empty: a saved scan has blank lines at its end alone"},
        {raw + " \t\r\n\n" + raw, "line 2 is empty: a saved scan has blank lines at its end alone"},
        {"00 00 00 00 00 00 00 00 00 00 00 00 \n", NO_GOOD_Q_FRAME},
        {"03 00 00 00 00 00 00 00 00 00 4e 30 \n", NO_GOOD_POSITION_FRAME},
        {std::string(100000, 'x'), "line 1: not a line of qscan's report: \"" + std::string(40, 'x') + "...\""},
        {std::string("41 01 01\0 00", 12) + "\n", "line 1: not a line of qscan's report: \"41 01 01? 00\""},
        {"", "no sectors in the input"},
        {"crc error in sector 0\n 1.01 00:00.00 00:02.00\n", "no sectors in the input"},
    };
    for (auto& c : cases) {
        run_result r = sheet("< '" + file("in.q", c.input) + "'");
        EXPECT_EQ(1, r.status) << c.err;
        EXPECT_EQ("", r.out) << c.err;
        EXPECT_EQ("qscan-sheet: " + c.err + "\n", r.err);
    }
    run_result r = sheet("'" + dir + "/missing.q'");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("qscan-sheet: " + dir + "/missing.q: No such file or directory\n", r.err);
    r = sheet("'" + dir + "'");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("qscan-sheet: " + dir + ": Is a directory\n", r.err);
    r = sheet("--cue " + file("bad.q", raw));
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0u, r.err.find("qscan-sheet: no track in the input")) << r.err;
    r = sheet(file("ok.q", raw) + " >/dev/full", true);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("qscan-sheet: write error: No space left on device\n", r.err);
}

TEST_F(SheetTest, CommandLine) {
    const std::string usage =
        "Usage: qscan-sheet [--cue [--image NAME] | --toc [--image NAME] | --json | --svg] [--full] [DRIVE | FILE]\n";
    run_result r = sheet("--help");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(usage, r.out.substr(0, usage.size()));
    r = sheet("--version");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.out.find("qscan-sheet "));
    for (const char* args : {"--cue --json", "--json --cue", "--svg --cue", "--toc --cue", "--svgx", "-x", "--image a.bin",
                             "--json --image a.bin", "--cue --image", "--cue --image 'a\"b'", "a.q b.q"}) {
        r = sheet(std::string(args) + " </dev/null");
        EXPECT_EQ(2, r.status) << args;
        EXPECT_EQ("", r.out) << args;
        EXPECT_EQ(0u, r.err.find("qscan-sheet: ")) << args;
        EXPECT_EQ(usage, r.err.substr(r.err.size() - std::min(r.err.size(), usage.size()))) << args;
    }
}

// A layout from index 01 starts and a lead-out, in blocks.
id_layout layout_of(const std::vector<int32_t>& starts, int32_t lead_out) {
    id_layout d = {};
    d.first = 1;
    d.last = (int)starts.size();
    for (size_t i = 0; i < starts.size(); ++i)
        d.start[i + 1] = starts[i];
    d.lead_out = lead_out;
    return d;
}

// The identifiers against published values; an enhanced CD, whose audio
// session MusicBrainz counts alone.
TEST(DiscIds, PublishedVectorsAndAnEnhancedCd) {
    std::vector<int32_t> offsets = {150,    9700,   25887,  39297,  53795,  63735,  77517,  94877,
                                    107270, 123552, 135522, 148422, 161197, 174790, 192022, 205545,
                                    218010, 228700, 239590, 255470, 266932, 288750};
    for (int32_t& o : offsets)
        o -= 150;
    disc_ids ids;
    id_layout published = layout_of(offsets, 303602 - 150);
    ASSERT_TRUE(compute_disc_ids(&published, &ids));
    EXPECT_EQ("xUp1F2NkfP8s8jaeFn_Av3jNEI4-", ids.musicbrainz);
    EXPECT_EQ("370fce16", ids.freedb);
    EXPECT_EQ("1+22+303602+150+9700+25887+39297+53795+63735+77517+94877+107270+123552+135522+148422+161197+"
              "174790+192022+205545+218010+228700+239590+255470+266932+288750",
              ids.musicbrainz_toc);
    EXPECT_EQ("https://musicbrainz.org/cdtoc/attach?toc=" + ids.musicbrainz_toc + "&tracks=22&id=" + ids.musicbrainz,
              ids.musicbrainz_url);

    id_layout accuraterip = layout_of({0, 28324, 46110, 66767, 78047, 88735, 109991, 130209, 147045, 162154, 180653,
                                       198027, 218771}, 238034);
    ASSERT_TRUE(compute_disc_ids(&accuraterip, &ids));
    EXPECT_EQ("dBAR-013-0019d4c3-00fe8924-b90c650d.bin", ids.accuraterip_file);

    // The same 13 tracks and a data session: MusicBrainz sees the audio
    // session (it ends 11,400 blocks before the data track), freedb every
    // track, AccurateRip the audio tracks, both with the real lead-out.
    id_layout enhanced = accuraterip;
    enhanced.last = 14;
    enhanced.start[14] = 238034 + SESSION_GAP_BLOCKS;
    enhanced.data[14] = true;
    enhanced.lead_out = enhanced.start[14] + 20000;
    enhanced.enhanced = true;
    disc_ids with_data;
    ASSERT_TRUE(compute_disc_ids(&enhanced, &with_data));
    EXPECT_EQ(0u, with_data.musicbrainz_toc.find("1+13+238184+150+28474+"));
    EXPECT_EQ(ids.musicbrainz_toc, with_data.musicbrainz_toc);
    EXPECT_EQ(ids.musicbrainz, with_data.musicbrainz);
    EXPECT_EQ("0e", with_data.freedb.substr(6));  // 14 tracks
    EXPECT_EQ(0u, with_data.accuraterip_file.find("dBAR-013-"));
}

// The size information and text packs of a three-track disc, as published.
TEST(CdText, TheWorkedExample) {
    const std::vector<uint8_t> packs = from_hex("8f002a000101030006050405070601024865"
                                                "8f012b0000000000000006032c000000c020"
                                                "8f022c000000000009000000000000001145"
                                                "80000000414c42554d00534f4e47310041d2");
    ASSERT_EQ(4u * CD_TEXT_PACK, packs.size());
    cd_text text;
    decode_cd_text(packs.data(), 4, &text);
    EXPECT_EQ(0u, text.bad_packs);
    ASSERT_EQ(1u, text.blocks.size());
    const cd_text_block& b = text.blocks[0];
    EXPECT_EQ(CHARACTERS_ASCII, b.character_code);
    EXPECT_EQ(1u, b.first_track);
    EXPECT_EQ(3u, b.last_track);
    EXPECT_STREQ("English", cd_text_language(b.language));
    EXPECT_EQ("ALBUM", b.text[0][TEXT_TITLE]);
    EXPECT_EQ("SONG1", b.text[1][TEXT_TITLE]);
}

// CD-Text from a CloneCD set through qscan-sheet-emu D: in two languages
// and a double-byte block; a TAB for the previous track's text, a text
// across packs, and a pack whose CRC fails.
TEST_F(SheetTest, CdTextFromACloneCdSet) {
    synth_disc d = synth_sample_disc();
    synth_text english, german, japanese;
    english.title = "Caf\xE9 Songs";
    english.performer = "The Ensemble";
    english.titles = {"A title long enough to run across two packs", "\t", "Third", "Fourth"};
    german.language = 0x08;
    german.title = "Lieder";
    german.titles = {"Erstes", "Zweites", "Drittes", "Viertes"};
    japanese.language = 0x69;
    japanese.character_code = 0x80;
    japanese.title = "\x83\x41\x83\x62";
    d.text = {english, german, japanese};
    std::vector<std::array<uint8_t, 16>> packs = synth_cd_text(d);
    size_t spoiled = 0;  // the German titles' pack that holds "s\0Zweites\0Dr"
    while (spoiled < packs.size() && memcmp(&packs[spoiled][4], "s\0Zweites\0Dr", 12) != 0)
        ++spoiled;
    ASSERT_LT(spoiled, packs.size());
    std::string ccd = "[CloneCD]\nVersion=3\n[CDText]\nEntries=" + std::to_string(packs.size()) + "\n";
    for (size_t i = 0; i < packs.size(); ++i) {
        ccd += "Entry " + std::to_string(i) + "=";
        for (uint8_t byte : packs[i]) {
            char hex[4];
            snprintf(hex, sizeof hex, "%02x ", byte);
            ccd += hex;
        }
        ccd += "\n";
    }
    std::string main_channel, subchannel;
    for (uint32_t b = 0; b < synth_sector_count(d); ++b) {
        uint8_t sector[SECTOR_BUFFER_SIZE];
        synth_sector(d, b, sector);
        main_channel.append((const char*)sector, SECTOR_MAIN_SIZE);
        for (int channel = 0; channel < 8; ++channel)  // de-interleaved, as a .sub holds it
            for (int byte = 0; byte < 12; ++byte) {
                uint8_t bits = 0;
                for (int bit = 0; bit < 8; ++bit)
                    bits = (uint8_t)(bits << 1 | (sector[SECTOR_MAIN_SIZE + byte * 8 + bit] >> (7 - channel) & 1));
                subchannel += (char)bits;
            }
    }
    file("set.img", main_channel);
    file("set.sub", subchannel);
    std::string set = file("set.ccd", ccd);
    std::string env = "QSCAN_EMULATED_DISC='" + set + "' QSCAN_EMULATED_FAULTS=" + std::to_string(spoiled) + ":cd-text-crc '" QSCAN_SHEET_EMU "' ";
    run_result j = sh(env + "--json D:");
    ASSERT_EQ(0, j.status) << j.err;
    json t = json::parse(j.out)["cd_text"];
    EXPECT_EQ(1, t["bad_packs"]);
    ASSERT_EQ(3u, t["blocks"].size());
    const json &en = t["blocks"][0], &de = t["blocks"][1], &ja = t["blocks"][2];
    EXPECT_EQ("English", en["language"]["name"]);
    EXPECT_EQ("Caf\u00e9 Songs", en["disc"]["title"]);
    EXPECT_EQ("A title long enough to run across two packs", en["tracks"][0]["title"]);
    EXPECT_EQ(en["tracks"][0]["title"], en["tracks"][1]["title"]);  // the TAB
    EXPECT_EQ("German", de["language"]["name"]);
    std::vector<std::string> german_titles;
    for (const json& track : de["tracks"])
        german_titles.push_back(track.value("title", "(lost)"));
    // The texts the spoiled pack held a part of are lost whole, none guessed.
    EXPECT_EQ((std::vector<std::string>{"Viertes"}), german_titles);
    EXPECT_EQ(4, de["tracks"][0]["number"]);
    EXPECT_TRUE(ja["double_byte_as_hex"]);
    EXPECT_EQ("8341 8362", ja["disc"]["title"]);
    run_result cue = sh(env + "--cue D:");
    EXPECT_NE(std::string::npos, cue.out.find("TITLE \"Caf\u00e9 Songs\"\nPERFORMER \"The Ensemble\"\nFILE")) << cue.out;
    run_result text = sh(env + "D:");
    for (const std::string& line : std::vector<std::string>{
             "CD-Text: \"Caf\u00e9 Songs\" by The Ensemble (English)\n", "CD-Text block 1 (German): \"Lieder\".\n",
             "CD-Text block 2 (Japanese) is in double-byte characters (MS-JIS)",
             "   2  A title long enough to run across two packs\n",
             "CD-Text: 1 of " + std::to_string(packs.size()) + " packs failed their CRC"})
        EXPECT_NE(std::string::npos, text.out.find(line)) << line << text.out;
}

// Identifiers and CD-Text by how the disc was read: a saved scan has the
// identifiers when it saw the lead-out and every index 01 (assuming one
// session), never CD-Text; a drive's table of contents gives them always,
// an enhanced CD's audio session to MusicBrainz.
TEST_F(SheetTest, IdentifiersAndCdTextByHowTheDiscWasRead) {
    synth_disc enhanced = with_lead_out(synth_sample_disc());
    enhanced.second_session = 3000;
    struct {
        const char* name;
        std::function<json()> sheet;
        const char* ids_missing_why;  // NULL: the identifiers are there
        const char* toc_prefix;       // ... and the MusicBrainz TOC string begins so
        const char* cd_text_missing_why;
    } cases[] = {
        {"a saved scan without the lead-out", [&] { return sheet_json(scan(synth_sample_disc())); },
         "the scan did not reach the lead-out", NULL, "a saved scan holds none (the Q subchannel does not carry it)"},
        {"a saved scan with the lead-out", [&] { return sheet_json(scan(synth_sheet_disc())); }, NULL, "1+5+11553+450+",
         "a saved scan holds none (the Q subchannel does not carry it)"},
        {"an enhanced CD from the drive",
         [&] {
             emulated_reset();
             emulated_insert_synth_disc(enhanced);
             return json::parse(sheet_here({"--json", "D:"}).out);
         },
         NULL, "1+4+9075+150+", NULL},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        json s = c.sheet();
        if (c.ids_missing_why) {
            EXPECT_TRUE(s["ids"].is_null());
            EXPECT_EQ(c.ids_missing_why, s["ids_missing_why"]);
        } else {
            EXPECT_EQ(0u, s["ids"]["musicbrainz_toc"].get<std::string>().find(c.toc_prefix)) << s["ids"].dump();
            EXPECT_EQ(s["toc"].is_null(), s["ids"]["assume_one_session"]);
        }
        if (c.cd_text_missing_why)
            EXPECT_EQ(c.cd_text_missing_why, s["cd_text_missing_why"]);
        else
            EXPECT_EQ("A Sample Disc", s["cd_text"]["blocks"][0]["disc"]["title"]);
    }
}

// Lines that are, and are not, what qscan's formats print.
TEST(PrintedBy, ShapesOfTheFormats) {
    struct {
        const char* text;
        const char* format;
        bool printed;
    } cases[] = {
        {" 1.01 00:00.25 00:02.25", "%2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", true},
        {"165.165 165:165.165 99:00.00", "%2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", true},
        {"1.01 00:00.25 00:02.25", "%2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", false},
        {" 1.1 00:00.25 00:02.25", "%2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", false},
        {" 1.001 00:00.25 00:02.25", "%2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", false},
        {"1  1.01 00:00.25 00:02.25", "%u %2d.%02d %02d:%02d.%02d %02d:%02d.%02d\n", true},
        {"3 ZZ-QSC-26-00001 55", "%u %c%c-%c%c%c-%c%c-%c%c%c%c%c %d\n", true},
        {"3 ZZ-QSC-26-00001 055", "%u %c%c-%c%c%c-%c%c-%c%c%c%c%c %d\n", false},
        {"3 oo-QSC-26-00001 55", "%u %c%c-%c%c%c-%c%c-%c%c%c%c%c %d\n", true},  // code 63 is 'o'
        {"3 zz-QSC-26-00001 55", "%u %c%c-%c%c%c-%c%c-%c%c%c%c%c %d\n", false},
        {"3 ZZ-QSC-26-0000 55", "%u %c%c-%c%c%c-%c%c-%c%c%c%c%c %d\n", false},
        {"crc error in sector 18446744073709551615", "crc error in sector %llu\n", true},
        {"crc error in sector ", "crc error in sector %llu\n", false},
        {"0 unknown mode", "%u unknown mode\n", true},
        {"0 unknown mode ", "%u unknown mode\n", false},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.printed, printed_by(c.text, strlen(c.text), c.format)) << c.text;
}

}  // namespace
