// qscan-sheet --toc: TOC files of synthesized discs, read from the emulated
// drive or from a saved scan, line by line as the format has them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <functional>

#include "emulated/emulated_drive.h"
#include "sheet/qscan_sheet.h"
#include "support.h"

namespace {

// Where the sheet comes from: the emulated drive, or a saved scan of the
// disc's first `lines` blocks.
struct source {
    bool drive;
    uint32_t lines;
};
const source DRIVE = {true, 0};
const source SCAN = {false, UINT32_MAX};
source scan_of(uint32_t lines) {
    return {false, lines};
}

struct toc_case {
    const char* name;
    synth_disc disc;
    source from;
    std::vector<std::string> args;     // before the input
    int status;
    std::vector<std::string> present;  // stretches of standard output, each found in it
    std::vector<std::string> absent;
    std::string err;                   // all of standard error
};

synth_disc with(synth_disc d, const std::function<void(synth_disc*)>& change) {
    change(&d);
    return d;
}

// A hidden first track with index 02 and 03; pregaps of 150, 1 and 87
// blocks; a lead-out.
synth_disc pregaps_and_indexes() {
    synth_disc d;
    d.mcn = "1234567890128";
    d.tracks = {{300, 1000, 0, "ZZQSC2600001"}, {150, 1200, 0, "ZZQSC2600002"}, {1, 500}, {87, 400}};
    d.tracks[0].indexes = {400, 700};
    d.lead_out = 75;
    return d;
}

// Every flag on audio tracks, and on data tracks of mode 1 the copy bit and
// the one that means "recorded incrementally" there.
synth_disc flags() {
    synth_disc d;
    for (uint8_t control : {0x1, 0x2, 0x8, 0xB, 0x0, 0x6, 0x5})
        d.tracks.push_back({d.tracks.empty() ? 0u : 150u, 400, control});
    return d;
}

// CD-Text with every kind of text the format has, in two languages, and a
// block in double-byte characters.
synth_disc cd_text_disc() {
    synth_disc d;
    d.tracks = {{0, 400}, {150, 400}};
    synth_text english, german, japanese;
    english.title = "Say \"Hi\" \\ Caf\xE9";
    english.performer = "P";
    english.titles = {"One", "Two"};
    english.more[0x83] = {"", {"C1"}};                          // a composer on track 1 alone
    english.more[0x85] = {"a\tb", {}};                          // a message
    english.more[0x86] = {"XY12345", {}};                       // a disc ID
    english.more[0x87] = {std::string("\x00\x19", 2) + "Rock", {}};  // genre 25, and its text
    german.language = 0x08;
    german.title = "Lieder";
    german.titles = {"Eins", "Zwei"};
    japanese.language = 0x69;
    japanese.character_code = 0x80;
    japanese.title = "\x83\x41";
    d.text = {english, german, japanese};
    return d;
}

// A hidden track and a track after it: a scan that ends in its pregap has
// not seen its index 01.
synth_disc hidden_track() {
    synth_disc d;
    d.tracks = {{300, 1000, 0, "ZZQSC2600001"}, {150, 1000, 0, "ZZQSC2600002"}};
    return d;
}

class TocFileTest : public TempDirTest {
protected:
    run_result toc_of(const toc_case& c) {
        std::vector<std::string> args = {"--toc"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.from.drive) {
            emulated_reset();
            emulated_insert_synth_disc(c.disc);
            args.push_back("D:");
        } else {
            std::string path = dir + "/disc.q";
            std::ofstream(path, std::ios::binary) << expected_output(c.disc, options_from("r"), c.from.lines);
            args.push_back(path);
        }
        return run_main(qscan_sheet_main, "qscan-sheet", args);
    }
};

TEST_F(TocFileTest, DiscsAsTocFiles) {
    const std::string inexact_hidden = "qscan-sheet: track 1 index 00 at disc time 00:02.00 (block 0) is not exact: it "
                                       "may begin before block 0, where the read of the disc starts\n";
    const toc_case cases[] = {
        {"pregaps, a hidden track and indexes 02 and 03, to the lead-out", pregaps_and_indexes(), SCAN, {}, 0,
         {"CD_DA\nCATALOG \"1234567890128\"\n\n// Track 1\nTRACK AUDIO\nISRC \"ZZQSC2600001\"\n"
          "FILE \"disc.bin\" SWAP #0 0 00:17:25\nSTART 00:04:00\nINDEX 00:05:25\nINDEX 00:09:25\n\n",
          "// Track 2\nTRACK AUDIO\nISRC \"ZZQSC2600002\"\nFILE \"disc.bin\" SWAP #3057600 0 00:18:00\n"
          "START 00:02:00\n\n",
          "// Track 3\nTRACK AUDIO\nFILE \"disc.bin\" SWAP #6232800 0 00:06:51\nSTART 00:00:01\n\n",
          "// Track 4\nTRACK AUDIO\nFILE \"disc.bin\" SWAP #7411152 0 00:06:37\nSTART 00:01:12\n"},
         {"CD_TEXT"},
         inexact_hidden},
        {"flags of audio and of data tracks", flags(), DRIVE, {}, 0,
         {"CD_ROM\n",
          "// Track 1\nTRACK AUDIO\nPRE_EMPHASIS\nFILE",
          "// Track 2\nTRACK AUDIO\nCOPY\nFILE",
          "// Track 3\nTRACK AUDIO\nFOUR_CHANNEL_AUDIO\nFILE",
          "// Track 4\nTRACK AUDIO\nCOPY\nFOUR_CHANNEL_AUDIO\nPRE_EMPHASIS\nFILE",
          "// Track 5\nTRACK AUDIO\nFILE",
          "// Track 6\nTRACK MODE1_RAW\nCOPY\nDATAFILE \"disc.bin\" #6115200 00:07:25\nSTART 00:02:00\n",
          "// Track 7\nTRACK MODE1_RAW\nDATAFILE \"disc.bin\" #7408800 00:07:25\nSTART 00:02:00\n"},
         {"CD_DA", "CD_ROM_XA"},
         ""},
        {"a data track of mode 2 first", synth_mixed_mode_disc(), DRIVE, {}, 0,
         {"CD_ROM_XA\nCATALOG \"0724384960254\"\n\n// Track 1\nTRACK MODE2_RAW\nDATAFILE \"disc.bin\" #0 00:16:00\n\n"
          "// Track 2\nTRACK AUDIO\nISRC \"ZZQSC2600102\"\nFILE \"disc.bin\" SWAP #2822400 0 00:22:00\n"
          "START 00:02:00\n"},
         {},
         ""},
        {"a data track whose sectors a saved scan does not hold", flags(), SCAN, {}, 0,
         {"// Track 6\nTRACK MODE1_RAW\nCOPY\nDATAFILE"},
         {},
         "qscan-sheet: track 6 written as MODE1_RAW: no sector of it read shows its mode\n"
         "qscan-sheet: track 7 written as MODE1_RAW: no sector of it read shows its mode\n"},
        {"codes not well formed left out",
         with(synth_sample_disc(), [](synth_disc* d) {
             d->mcn = "1234567890123";  // its check digit is wrong
             d->tracks[1].isrc = "Z9QSC2600002";
             d->tracks[2].isrc = "000000000000";
         }),
         DRIVE, {}, 0,
         {"CD_DA\nCD_TEXT {\n", "TRACK AUDIO\nISRC \"ZZQSC2600001\"\n", "TRACK AUDIO\nCOPY\nISRC \"ZZQSC2600004\"\n"},
         {"CATALOG", "ISRC \"Z9", "ISRC \"000"},
         "qscan-sheet: track 3 index 00 at disc time 01:29.01 (block 6526) is not exact: it may begin as early as disc "
         "time 01:29.00 (block 6525)\nqscan-sheet: no catalogue number written: 1234567890123 is no EAN-13 (not thirteen "
         "digits, or its check digit is wrong)\nqscan-sheet: track 2: no ISRC written: Z9QSC2600002 is not a well-formed "
         "code\nqscan-sheet: track 3: no ISRC written: 000000000000 is twelve zeros, which is no code\n"},
        {"CD-Text of every kind, escaped; a double-byte block left out", cd_text_disc(), DRIVE, {}, 0,
         {"CD_DA\nCD_TEXT {\n  LANGUAGE_MAP {\n    0 : 9\n    1 : 8\n  }\n"
          "  LANGUAGE 0 {\n    TITLE \"Say \\\"Hi\\\" \\134 Caf\\351\"\n    PERFORMER \"P\"\n    COMPOSER \"\"\n"
          "    MESSAGE \"a\\011b\"\n    DISC_ID \"XY12345\"\n    GENRE { 0, 25, 82, 111, 99, 107, 0 }\n"
          "    UPC_EAN \"\"\n  }\n  LANGUAGE 1 {\n    TITLE \"Lieder\"\n  }\n}\n\n",
          "// Track 1\nTRACK AUDIO\nCD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"One\"\n    PERFORMER \"\"\n"
          "    COMPOSER \"C1\"\n    ISRC \"\"\n  }\n  LANGUAGE 1 {\n    TITLE \"Eins\"\n  }\n}\nFILE",
          "// Track 2\nTRACK AUDIO\nCD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"Two\"\n    PERFORMER \"\"\n"
          "    COMPOSER \"\"\n    ISRC \"\"\n  }\n  LANGUAGE 1 {\n    TITLE \"Zwei\"\n  }\n}\nFILE"},
         {"LANGUAGE 2"},
         "qscan-sheet: CD-Text block 2 (Japanese) left out of the TOC file: it is in double-byte characters, which a "
         "TOC file cannot declare\n"},
        {"a track the scan saw only the pregap of", hidden_track(), scan_of(1350), {}, 0,
         {"CD_DA\n\n// Track 1\nTRACK AUDIO\nISRC \"ZZQSC2600001\"\nFILE \"disc.bin\" SWAP #0 0 00:18:00\n"
          "START 00:04:00\n"},
         {"// Track 2"},
         inexact_hidden + "qscan-sheet: track 2 left out of the TOC file: its index 01 was not seen\n"},
        {"a track not seen",
         with(synth_sample_disc(), [](synth_disc* d) {
             for (uint32_t b = 6526; b < 8175; ++b)
                 d->damaged.insert(b);
         }),
         SCAN, {}, 0,
         {"// Track 2\nTRACK AUDIO\nISRC \"ZZQSC2600002\"\nFILE \"disc.bin\" SWAP #7056000 0 01:09:00\n"
          "START 00:02:00\n\n// Track 4\n"},
         {"// Track 3"},
         "qscan-sheet: track 3 was not seen; the TOC file numbers its tracks one after another from 1, as every TOC file "
         "does\nqscan-sheet: track 4 index 00 at disc time 01:51.00 (block 8175) is not exact: it may begin as early as "
         "disc time 01:29.00 (block 6525)\n"},
        {"an image name with a backslash and a letter beyond ASCII", synth_sample_disc(), DRIVE,
         {"--image", "C:\\discs\\caf\xC3\xA9.bin"}, 0,
         {"FILE \"C:\\134discs\\134caf\\303\\251.bin\" SWAP #0 0 00:40:00\n"},
         {},
         "qscan-sheet: track 3 index 00 at disc time 01:29.01 (block 6526) is not exact: it may begin as early as disc "
         "time 01:29.00 (block 6525)\n"},
        {"audio in a WAVE file, counted from its first sample", synth_sample_disc(), DRIVE, {"--image", "Album.WAV"}, 0,
         {"FILE \"Album.WAV\" 00:00:00 00:40:00\n\n",
          "FILE \"Album.WAV\" 00:40:00 00:47:01\nSTART 00:02:00\n\n"},
         {"SWAP", "#"},
         "qscan-sheet: track 3 index 00 at disc time 01:29.01 (block 6526) is not exact: it may begin as early as disc "
         "time 01:29.00 (block 6525)\n"},
        {"a data track, which a WAVE file cannot hold", synth_mixed_mode_disc(), DRIVE, {"--image", "mixed.wav"}, 1,
         {},
         {"TRACK"},
         "qscan-sheet: track 1 is a data track, which an image of audio in a WAVE file cannot hold: name an image of "
         "raw 2352-byte sectors\n"},
        {"a quote in the image's name", synth_sample_disc(), DRIVE, {"--image", "a\"b.bin"}, 2, {}, {"TRACK"},
         "qscan-sheet: an image name must not be empty or hold a quote or a control character: a\"b.bin\n"
         "Usage: qscan-sheet [--cue [--image NAME] | --toc [--image NAME] | --json | --svg] [--full] [DRIVE | FILE]\n"},
    };
    for (const toc_case& c : cases) {
        SCOPED_TRACE(c.name);
        run_result r = toc_of(c);
        EXPECT_EQ(c.status, r.status);
        for (const std::string& p : c.present)
            EXPECT_NE(std::string::npos, r.out.find(p)) << p << "\n--- in ---\n" << r.out;
        for (const std::string& a : c.absent)
            EXPECT_EQ(std::string::npos, r.out.find(a)) << a << "\n--- in ---\n" << r.out;
        EXPECT_EQ(c.err, r.err);
    }
}

// A scan with no track whose index 01 it saw: no TOC file, as no cue sheet.
TEST_F(TocFileTest, NoTrack) {
    std::string path = dir + "/bad.q";
    std::ofstream(path, std::ios::binary) << "01 01 01 00 00 00 00 00 02 00 5a 28 \n";
    run_result r = run_main(qscan_sheet_main, "qscan-sheet", {"--toc", path});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("qscan-sheet: no track in the input (no good position frame of index 01 or above carries a track "
              "number), so no TOC file\n",
              r.err);
}

// The program as a user runs it, on the emulated drive's sample disc.
TEST_F(TocFileTest, TheSampleDiscThroughTheProgram) {
    int status = system(("env -u QSCAN_EMULATED_DISC -u QSCAN_EMULATED_FAULTS '" QSCAN_SHEET_EMU "' --toc D: >'" + dir +
                         "/out' 2>'" + dir + "/err'")
                            .c_str());
    EXPECT_EQ(0, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ("CD_DA\n"
              "CATALOG \"1234567890128\"\n"
              "CD_TEXT {\n"
              "  LANGUAGE_MAP {\n"
              "    0 : 9\n"
              "  }\n"
              "  LANGUAGE 0 {\n"
              "    TITLE \"A Sample Disc\"\n"
              "    PERFORMER \"The Emulated Drive\"\n"
              "  }\n"
              "}\n"
              "\n"
              "// Track 1\n"
              "TRACK AUDIO\n"
              "ISRC \"ZZQSC2600001\"\n"
              "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"First Light\"\n    PERFORMER \"\"\n  }\n}\n"
              "FILE \"disc.bin\" SWAP #0 0 00:40:00\n"
              "\n"
              "// Track 2\n"
              "TRACK AUDIO\n"
              "ISRC \"ZZQSC2600002\"\n"
              "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"Second \\\"Best\\\"\"\n    PERFORMER \"\"\n  }\n}\n"
              "FILE \"disc.bin\" SWAP #7056000 0 00:47:01\n"
              "START 00:02:00\n"
              "\n"
              "// Track 3\n"
              "TRACK AUDIO\n"
              "ISRC \"ZZQSC2600003\"\n"
              "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"Third\"\n    PERFORMER \"\"\n  }\n}\n"
              "FILE \"disc.bin\" SWAP #15349152 0 00:21:74\n"
              "START 00:01:74\n"
              "\n"
              "// Track 4\n"
              "TRACK AUDIO\n"
              "COPY\n"
              "ISRC \"ZZQSC2600004\"\n"
              "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"Fourth and Last\"\n    PERFORMER \"\"\n  }\n}\n"
              "FILE \"disc.bin\" SWAP #19227600 0 00:10:00\n"
              "START 00:02:00\n",
              slurp(dir + "/out"));
    EXPECT_EQ("qscan-sheet: track 3 index 00 at disc time 01:29.01 (block 6526) is not exact: it may begin as early as "
              "disc time 01:29.00 (block 6525)\n",
              slurp(dir + "/err"));
}

}  // namespace
