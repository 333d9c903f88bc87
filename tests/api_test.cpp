// libqscan's C interface as a program uses it: saved scans from a file, a
// stream and memory, reads of the emulated drive, every failure's record,
// and the parts of a disc against the sheet's JSON.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "emulated/emulated_drive.h"
#include "sheet/qscan.h"
#include "sheet/qscan_sheet.h"
#include "support.h"

namespace {

using nlohmann::json;

typedef std::unique_ptr<qscan_disc, void (*)(qscan_disc*)> disc_ptr;

disc_ptr owned(qscan_disc* d) {
    return disc_ptr(d, qscan_disc_free);
}

// A form of the disc as the library writes it; "" after a failure.
std::string form_of(const qscan_disc* d, int form, const char* image = NULL) {
    char* text = NULL;
    size_t length = 0;
    qscan_error e;
    if (qscan_disc_form(d, form, image, &text, &length, NULL, &e) != QSCAN_OK) {
        ADD_FAILURE() << e.message;
        return "";
    }
    std::string out(text, length);
    qscan_free(text);
    return out;
}

json json_of(const qscan_disc* d) {
    return json::parse(form_of(d, QSCAN_FORM_JSON));
}

// qscan -r's report of the disc in the emulated drive.
std::string report_of(const synth_disc& disc) {
    emulated_reset();
    emulated_insert_synth_disc(disc);
    run_result r = run_qscan({"-r", "D:"});
    EXPECT_EQ(0, r.status) << r.err;
    return r.out;
}

// The disc read from the emulated drive, which holds `disc`.
disc_ptr read_drive(const synth_disc& disc, unsigned flags = 0) {
    emulated_reset();
    emulated_insert_synth_disc(disc);
    qscan_disc* d = NULL;
    qscan_error e;
    EXPECT_EQ(QSCAN_OK, qscan_read_drive("D:", flags, NULL, NULL, NULL, &d, &e)) << e.message;
    return owned(d);
}

synth_disc with_lead_out(synth_disc d) {
    d.lead_out = 150;
    return d;
}

// Pregaps, an index 2, ISRCs on some tracks and the previous track's code
// at a start, a catalogue number, pre-emphasis and a copy flag.
synth_disc coded_disc() {
    synth_disc d;
    d.mcn = "1234567890128";
    d.isrc_latch = 30;
    d.tracks = {{0, 1200, 0x0, "ZZQSC2600001"}, {150, 1500, 0x1, "ZZQSC2600002"}, {100, 900, 0x2, ""},
                {150, 1000, 0x0, "ZZQSC2600004"}};
    d.tracks[1].indexes = {600};
    d.lead_out = 150;
    return d;
}

class ApiTest : public TempDirTest {
protected:
    std::string file(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        return dir + "/" + name;
    }
};

TEST_F(ApiTest, VersionsAreTheHeadersAndTheProjects) {
    EXPECT_EQ(QSCAN_API_VERSION, qscan_api_version());
    EXPECT_STREQ(QSCAN_PROJECT_VERSION, qscan_version());
}

// What a program asks before it reads: whether its argument is a drive,
// and whether an image name can stand in a cue sheet.
TEST_F(ApiTest, NamesOfDrivesAndImages) {
    const struct {
        const char* name;
        bool drive, image;
    } cases[] = {
        {"D:", true, true},       {"d:", true, true},           {"D", false, true},
        {"album.q", false, true}, {"a\"b.bin", false, false}, {"", false, false},
        {"tab\there", false, false}, {"/dev/null", false, true},  // the emulated drive has no node
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.drive, (bool)qscan_names_drive(c.name));
        EXPECT_EQ(c.image, (bool)qscan_image_name_usable(c.name));
    }
    EXPECT_FALSE(qscan_names_drive(NULL));
    EXPECT_FALSE(qscan_image_name_usable(NULL));
}

// A file, a stream and bytes in memory give one sheet, and it is the one
// qscan-sheet prints for the file, in every form.
TEST_F(ApiTest, ThreeSourcesOneSheet) {
    const struct {
        const char* name;
        synth_disc disc;
    } cases[] = {
        {"the sample disc", synth_sample_disc()},
        {"hidden track, indexes 2 and 3, a data track", synth_sheet_disc()},
        {"codes, flags and pregaps", coded_disc()},
    };
    const struct {
        const char* option;
        int form;
    } forms[] = {{"--json", QSCAN_FORM_JSON}, {"--cue", QSCAN_FORM_CUE}, {"--svg", QSCAN_FORM_SVG}, {"--toc", QSCAN_FORM_TOC},
                  {"", QSCAN_FORM_TEXT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string report = report_of(c.disc);
        std::string path = file("disc.q", report);
        qscan_disc *from_file = NULL, *from_stream = NULL, *from_memory = NULL;
        ASSERT_EQ(QSCAN_OK, qscan_read_scan_file(path.c_str(), &from_file, NULL));
        FILE* in = fopen(path.c_str(), "rb");
        ASSERT_NE(nullptr, in);
        ASSERT_EQ(QSCAN_OK, qscan_read_scan_stream(in, &from_stream, NULL));
        fclose(in);
        ASSERT_EQ(QSCAN_OK, qscan_read_scan_memory(report.data(), report.size(), &from_memory, NULL));
        disc_ptr a = owned(from_file), b = owned(from_stream), m = owned(from_memory);
        for (const auto& f : forms) {
            SCOPED_TRACE(f.option);
            std::vector<std::string> args;
            if (f.option[0] != '\0')
                args.push_back(f.option);
            args.push_back(path);
            run_result program = run_main(qscan_sheet_main, "qscan-sheet", args);
            ASSERT_EQ(0, program.status) << program.err;
            EXPECT_EQ(program.out, form_of(a.get(), f.form));
            EXPECT_EQ(program.out, form_of(b.get(), f.form));
            EXPECT_EQ(program.out, form_of(m.get(), f.form));
        }
    }
}

// Each record the library hands out says what the JSON says.
void expect_parts_as_json(const qscan_disc* d) {
    json j = json_of(d);
    qscan_summary s;
    ASSERT_EQ(QSCAN_OK, qscan_disc_summary(d, &s));
    EXPECT_EQ(j["tracks"].front()["number"], s.first_track);
    EXPECT_EQ(j["tracks"].back()["number"], s.last_track);
    EXPECT_EQ(j["lead_out"].is_null() ? json(-1) : j["lead_out"], s.lead_out);
    EXPECT_EQ(j["complete"], (bool)s.complete);
    EXPECT_EQ(j["sectors"], s.sectors);
    EXPECT_EQ(j["crc_errors"].is_null() ? json(-1) : j["crc_errors"], s.crc_errors);
    EXPECT_EQ(j["mcn"].is_null() ? json("") : j["mcn"]["code"], s.mcn);
    for (const json& t : j["tracks"]) {
        int n = t["number"];
        SCOPED_TRACE("track " + std::to_string(n));
        qscan_track track;
        ASSERT_EQ(QSCAN_OK, qscan_disc_track(d, n, &track));
        EXPECT_EQ(t["data"], (bool)track.data);
        EXPECT_EQ(t["length"].is_null() ? json(-1) : t["length"], track.length);
        json flags = json::array();
        for (const auto& f : {std::make_pair(QSCAN_FLAG_DCP, "DCP"), std::make_pair(QSCAN_FLAG_PRE, "PRE"),
                              std::make_pair(QSCAN_FLAG_4CH, "4CH")})
            if (track.flags & f.first)
                flags.push_back(f.second);
        EXPECT_EQ(t["flags"], flags);
        for (const json& i : t["indexes"]) {
            qscan_index index;
            ASSERT_EQ(QSCAN_OK, qscan_track_index(d, n, i["number"], &index));
            EXPECT_EQ(i["block"], index.block);
            EXPECT_EQ(i["exact"], (bool)index.exact);
            EXPECT_EQ(i["earliest_block"], index.earliest_block);
        }
        EXPECT_EQ(!t["isrc"].is_null(), (bool)track.has_isrc);
        int place = 0;
        qscan_code code;
        if (track.has_isrc) {
            ASSERT_EQ(QSCAN_OK, qscan_track_code(d, n, place++, &code));
            EXPECT_EQ(t["isrc"]["code"], code.code);
            EXPECT_EQ(t["isrc"]["frames"], code.frames);
        }
        for (const json& other : t["other_isrcs"]) {
            ASSERT_EQ(QSCAN_OK, qscan_track_code(d, n, place++, &code));
            EXPECT_EQ(other["code"], code.code);
            EXPECT_EQ(other["first_block"], code.first_block);
            EXPECT_EQ(other["also_track"].is_null() ? json(0) : other["also_track"], code.also_track);
        }
        EXPECT_EQ(QSCAN_ERROR_ARGUMENT, qscan_track_code(d, n, place, &code)) << "a code past the last";
    }
    qscan_ids ids;
    qscan_error e;
    if (j["ids"].is_null()) {
        EXPECT_EQ(QSCAN_ERROR_ARGUMENT, qscan_disc_ids(d, &ids, &e));
        EXPECT_EQ(j["ids_missing_why"], e.message);
    } else {
        ASSERT_EQ(QSCAN_OK, qscan_disc_ids(d, &ids, &e)) << e.message;
        EXPECT_EQ(j["ids"]["musicbrainz"], ids.musicbrainz);
        EXPECT_EQ(j["ids"]["musicbrainz_url"], ids.musicbrainz_url);
        EXPECT_EQ(j["ids"]["freedb"], ids.freedb);
        EXPECT_EQ(j["ids"]["accuraterip"]["file"], ids.accuraterip_file);
    }
}

TEST_F(ApiTest, PartsOfADiscAreTheSheets) {
    const struct {
        const char* name;
        std::function<disc_ptr()> read;
    } cases[] = {
        {"a saved scan of codes, flags and pregaps",
         [] {
             std::string r = report_of(coded_disc());
             qscan_disc* d = NULL;
             EXPECT_EQ(QSCAN_OK, qscan_read_scan_memory(r.data(), r.size(), &d, NULL));
             return owned(d);
         }},
        {"a drive's read of the same disc", [] { return read_drive(coded_disc()); }},
        {"a drive's whole read of a disc with a data track", [] { return read_drive(synth_sheet_disc(), QSCAN_READ_FULL); }},
        {"a saved scan without its lead-out: no identifiers",
         [] {
             std::string r = report_of(synth_sample_disc());
             qscan_disc* d = NULL;
             EXPECT_EQ(QSCAN_OK, qscan_read_scan_memory(r.data(), r.size() / 2, &d, NULL));
             return owned(d);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        disc_ptr d = c.read();
        ASSERT_NE(nullptr, d);
        expect_parts_as_json(d.get());
    }
}

// A drive's read through the library is qscan-sheet's read of the drive.
TEST_F(ApiTest, ADrivesReadIsTheProgramsRead) {
    for (unsigned flags : {0u, (unsigned)QSCAN_READ_FULL}) {
        SCOPED_TRACE(flags ? "whole disc" : "targeted");
        disc_ptr d = read_drive(coded_disc(), flags);
        ASSERT_NE(nullptr, d);
        emulated_reset();
        emulated_insert_synth_disc(coded_disc());
        run_result program = run_main(qscan_sheet_main, "qscan-sheet",
                                      flags ? std::vector<std::string>{"--json", "--full", "D:"}
                                            : std::vector<std::string>{"--json", "D:"});
        ASSERT_EQ(0, program.status) << program.err;
        EXPECT_EQ(program.out, form_of(d.get(), QSCAN_FORM_JSON));
        qscan_summary s;
        ASSERT_EQ(QSCAN_OK, qscan_disc_summary(d.get(), &s));
        EXPECT_TRUE(s.from_drive);
        EXPECT_STREQ("QSCAN", s.drive_vendor);
        EXPECT_EQ(QSCAN_Q_RAW, s.subchannel);
    }
}

// What a failure's record holds: the result, the drive's sense data and
// the block, the saved scan's line, the system's error, the message.
TEST_F(ApiTest, FailuresSayWhy) {
    std::string report = report_of(with_lead_out(synth_sample_disc()));
    size_t third_line = report.find('\n', report.find('\n') + 1) + 1;
    std::string garbled = report.substr(0, third_line) + "hello\n" + report.substr(third_line);
    size_t lines = (size_t)std::count(report.begin(), report.end(), '\n');
    // Every frame's CRC broken: a nibble of its first Q byte turned.
    std::string no_crc = report;
    for (size_t at = 0; at < no_crc.size(); at = no_crc.find('\n', at) + 1)
        no_crc[at + 1] = no_crc[at + 1] == '0' ? '8' : '0';
    // The first blocks of track 1's pregap alone: no track's index 01.
    synth_disc hidden = synth_sample_disc();
    hidden.tracks[0].pregap = 300;
    std::string pregap_only = report_of(hidden).substr(0, 100 * 37);

    const auto scan = [](const std::string& bytes) {
        return [bytes](qscan_disc** d, qscan_error* e) {
            return qscan_read_scan_memory(bytes.data(), bytes.size(), d, e);
        };
    };
    const auto drive = [](std::function<void()> set_up, unsigned flags) {
        return [set_up, flags](qscan_disc** d, qscan_error* e) {
            emulated_reset();
            emulated_insert_synth_disc(with_lead_out(synth_sample_disc()));
            set_up();
            return qscan_read_drive("D:", flags, NULL, NULL, NULL, d, e);
        };
    };
    const auto stop_at_once = [](void*, unsigned long long, unsigned long long, const char*) { return 1; };
    const struct {
        const char* name;
        std::function<int(qscan_disc**, qscan_error*)> call;
        int result;
        int sense;  // key << 16 | asc << 8 | ascq, or -1 for none
        long long block, line;
        int system_error;
        std::string message;  // its start
    } cases[] = {
        {"a line that is not the report's", scan(garbled), QSCAN_ERROR_SCAN, -1, -1, 3, 0,
         "line 3: not a line of qscan's report: \"hello\""},
        {"two scans in one file", scan(report + report), QSCAN_ERROR_SCAN, -1, -1, (long long)lines + 1, 0,
         "line " + std::to_string(lines + 1) + ": the disc starts again here (disc time 00:02.00 after "},
        {"nothing in the input", scan(""), QSCAN_ERROR_SCAN, -1, -1, -1, 0, "no sectors in the input"},
        {"no frame passes its CRC check", scan(no_crc), QSCAN_ERROR_NOT_RAW, -1, -1, -1, 0,
         "no Q frame passed its CRC check"},
        {"a file that is not there",
         [this](qscan_disc** d, qscan_error* e) { return qscan_read_scan_file((dir + "/none.q").c_str(), d, e); },
         QSCAN_ERROR_INPUT, -1, -1, -1, ENOENT, ""},
        {"no place for the disc", [](qscan_disc** d, qscan_error* e) {
             *d = NULL;
             return qscan_read_scan_file("x.q", NULL, e);
         },
         QSCAN_ERROR_ARGUMENT, -1, -1, -1, 0, "qscan_read_scan_file:"},
        {"flags the library does not know",
         [](qscan_disc** d, qscan_error* e) { return qscan_read_drive("D:", 8, NULL, NULL, NULL, d, e); },
         QSCAN_ERROR_ARGUMENT, -1, -1, -1, 0, "qscan_read_drive:"},
        {"a drive that is not there",
         [](qscan_disc** d, qscan_error* e) { return qscan_read_drive("Q:", 0, NULL, NULL, NULL, d, e); },
         QSCAN_ERROR_OPEN, -1, -1, -1, EINVAL, "failed to open device: Invalid argument"},
        {"an empty drive", drive([] { emulated_eject(); }, 0), QSCAN_ERROR_READ, 0x023a00, -1, -1, 0,
         "failed to read device: Input/output error"},
        {"a disc that ends before its first block", drive([] { emulated_insert_image({}); }, 0), QSCAN_ERROR_READ,
         0x052100, -1, -1, 0, "failed to read device: Input/output error"},
        {"a disc taken out in the middle", drive([] { emulated_inject_fault(3000, FAULT_NOT_READY); }, QSCAN_READ_FULL),
         QSCAN_ERROR_DISC_GONE, 0x023a00, 3000, -1, 0, "the drive says at block 3000 that it has no disc ready"},
        {"a disc changed in the middle",
         drive([] { emulated_inject_fault(3100, FAULT_UNIT_ATTENTION); }, QSCAN_READ_FULL), QSCAN_ERROR_DISC_CHANGED,
         0x062800, 3100, -1, 0, "the drive says at block 3100 that the disc may have changed"},
        {"a progress function that asks to stop",
         [stop_at_once](qscan_disc** d, qscan_error* e) {
             emulated_reset();
             emulated_insert_synth_disc(synth_sample_disc());
             return qscan_read_drive("D:", 0, stop_at_once, NULL, NULL, d, e);
         },
         QSCAN_ERROR_STOPPED, -1, -1, -1, 0, "the read was stopped"},
        {"a cue sheet of a disc without a track's index 01",
         [pregap_only](qscan_disc** d, qscan_error* e) {
             qscan_disc* disc = NULL;
             int rc = qscan_read_scan_memory(pregap_only.data(), pregap_only.size(), &disc, e);
             if (rc != QSCAN_OK)
                 return rc;
             char* text = NULL;
             rc = qscan_disc_form(disc, QSCAN_FORM_CUE, NULL, &text, NULL, NULL, e);
             EXPECT_EQ(nullptr, text);
             qscan_disc_free(disc);
             *d = NULL;
             return rc;
         },
         QSCAN_ERROR_NO_TRACK, -1, -1, -1, 0,
         "no track's index 01 was reached (track 1 is seen in its pregap alone), so no cue sheet"},
        {"a form the library does not know",
         [report](qscan_disc** d, qscan_error* e) {
             qscan_disc* disc = NULL;
             EXPECT_EQ(QSCAN_OK, qscan_read_scan_memory(report.data(), report.size(), &disc, e));
             char* text = NULL;
             int rc = qscan_disc_form(disc, 99, NULL, &text, NULL, NULL, e);
             qscan_disc_free(disc);
             *d = NULL;
             return rc;
         },
         QSCAN_ERROR_ARGUMENT, -1, -1, -1, 0, "qscan_disc_form:"},
        {"an image name with a quote",
         [report](qscan_disc** d, qscan_error* e) {
             qscan_disc* disc = NULL;
             EXPECT_EQ(QSCAN_OK, qscan_read_scan_memory(report.data(), report.size(), &disc, e));
             char* text = NULL;
             int rc = qscan_disc_form(disc, QSCAN_FORM_CUE, "a\"b.bin", &text, NULL, NULL, e);
             qscan_disc_free(disc);
             *d = NULL;
             return rc;
         },
         QSCAN_ERROR_ARGUMENT, -1, -1, -1, 0, "an image name must not"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qscan_disc* d = (qscan_disc*)&c;  // anything but NULL: a failure must set it to NULL
        qscan_error e;
        int rc = c.call(&d, &e);
        EXPECT_EQ(c.result, rc);
        EXPECT_EQ(c.result, e.result);
        EXPECT_EQ(nullptr, d);
        EXPECT_EQ(c.sense >= 0, (bool)e.has_sense);
        if (c.sense >= 0) {
            EXPECT_EQ(c.sense >> 16, e.sense_key);
            EXPECT_EQ((c.sense >> 8) & 0xFF, e.asc);
            EXPECT_EQ(c.sense & 0xFF, e.ascq);
            EXPECT_NE('\0', e.detail[0]) << "the drive's words";
        }
        EXPECT_EQ(c.block, e.block);
        EXPECT_EQ(c.line, e.line);
        EXPECT_EQ(c.system_error, e.system_error);
        EXPECT_EQ(c.message, std::string(e.message).substr(0, c.message.size()));
    }
}

// The progress function hears blocks read rise to the total; the note
// function hears each line of the disc's notes as the read comes to it.
TEST_F(ApiTest, ProgressAndNotes) {
    struct heard {
        std::vector<std::pair<unsigned long long, unsigned long long>> progress;
        std::string notes;
    } h;
    emulated_reset();
    emulated_insert_synth_disc(with_lead_out(synth_sample_disc()));
    emulated_inject_fault(0, FAULT_CD_TEXT_SHORT);
    qscan_disc* d = NULL;
    qscan_error e;
    ASSERT_EQ(QSCAN_OK, qscan_read_drive(
                            "D:", QSCAN_READ_FULL,
                            [](void* c, unsigned long long done, unsigned long long total, const char* what) {
                                if (strcmp(what, QSCAN_WAITING) != 0)
                                    ((heard*)c)->progress.push_back({done, total});
                                return 0;
                            },
                            [](void* c, const char* line) { ((heard*)c)->notes += std::string(line) + "\n"; }, &h,
                            &d, &e))
        << e.message;
    disc_ptr disc = owned(d);
    EXPECT_EQ(h.notes, qscan_disc_notes(d));
    EXPECT_NE(std::string::npos, h.notes.find("CD-Text is malformed")) << h.notes;
    ASSERT_FALSE(h.progress.empty());
    for (size_t i = 1; i < h.progress.size(); ++i)
        EXPECT_LE(h.progress[i - 1].first, h.progress[i].first) << "at call " << i;
    EXPECT_EQ(h.progress.back().first, h.progress.back().second);
    EXPECT_GT(h.progress.back().first, 0u);
}

// What a disc lacks, stretch by stretch, as the JSON lists it.
TEST_F(ApiTest, StretchesTheSheetLacks) {
    std::string report = report_of(with_lead_out(synth_sample_disc()));
    std::string holed = report.substr(0, 4000 * 37) + report.substr(4100 * 37);
    qscan_disc* d = NULL;
    ASSERT_EQ(QSCAN_OK, qscan_read_scan_memory(holed.data(), holed.size(), &d, NULL));
    disc_ptr from_scan = owned(d);
    emulated_reset();
    emulated_insert_synth_disc(with_lead_out(synth_sample_disc()));
    for (uint32_t b : {5000u, 5001u, 7000u})
        emulated_inject_fault(b, FAULT_MEDIUM);
    ASSERT_EQ(QSCAN_OK, qscan_read_drive("D:", QSCAN_READ_FULL, NULL, NULL, NULL, &d, NULL));
    disc_ptr from_drive = owned(d);
    const struct {
        const char* name;
        const qscan_disc* disc;
        int kind;
        const char* key;
        bool unreadable;
    } cases[] = {
        {"lines a saved scan lost", from_scan.get(), 1, "missing", false},
        {"blocks a drive could not read", from_drive.get(), 0, "unreadable", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        json listed = json_of(c.disc)["read"][c.key];
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(c.unreadable, (bool)qscan_disc_unreadable(c.disc));
        int place = 0;
        long long first, last;
        for (const json& s : listed) {
            ASSERT_EQ(QSCAN_OK, qscan_disc_stretch(c.disc, c.kind, place++, &first, &last));
            EXPECT_EQ(s.is_array() ? s[0] : s["first_block"], first);
            EXPECT_EQ(s.is_array() ? s[1] : s["last_block"], last);
        }
        EXPECT_EQ(QSCAN_ERROR_ARGUMENT, qscan_disc_stretch(c.disc, c.kind, place, &first, &last));
    }
}

// Discs read at once in several threads are each read right: saved scans,
// and the one drive, which takes one call at a time.
TEST_F(ApiTest, ReadsInFourThreads) {
    const synth_disc discs[] = {synth_sample_disc(), coded_disc()};
    std::string reports[2], expected_scan[2];
    for (int i = 0; i < 2; ++i) {
        reports[i] = report_of(discs[i]);
        qscan_disc* d = NULL;
        ASSERT_EQ(QSCAN_OK, qscan_read_scan_memory(reports[i].data(), reports[i].size(), &d, NULL));
        expected_scan[i] = form_of(owned(d).get(), QSCAN_FORM_JSON);
    }
    std::string expected_drive = form_of(read_drive(coded_disc()).get(), QSCAN_FORM_JSON);
    emulated_reset();
    emulated_insert_synth_disc(coded_disc());
    std::string got[4];
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                qscan_disc* d = NULL;
                int rc = t < 2 ? qscan_read_scan_memory(reports[t].data(), reports[t].size(), &d, NULL)
                               : qscan_read_drive("D:", 0, NULL, NULL, NULL, &d, NULL);
                std::string j = rc == QSCAN_OK ? form_of(d, QSCAN_FORM_JSON) : "failed";
                qscan_disc_free(d);
                if (round == 0 || j != got[t])
                    got[t] += j;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(expected_scan[0], got[0]);
    EXPECT_EQ(expected_scan[1], got[1]);
    EXPECT_EQ(expected_drive, got[2]);
    EXPECT_EQ(expected_drive, got[3]);
}

}  // namespace
