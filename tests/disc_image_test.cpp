// Disc images in the layouts dumping tools write, written here by the tests'
// own writers and scanned through the emulated drive; and the images that
// must be refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "drive/read_disc_toc.h"
#include "emulated/disc_image.h"
#include "emulated/emulated_drive.h"
#include "support.h"

namespace {

const uint32_t LEAD_IN_RECORDS = 45150;

// Two tracks, a catalogue number, damage, and a lead-out such as dumping
// tools read past the end of a disc.
synth_disc dumped_disc() {
    synth_disc d;
    d.mcn = "4006381333931";
    d.mcn_phase = 40;
    d.isrc_phase = 90;
    d.tracks = {{0, 900, 0, "DEABC0100001"}, {150, 700, 0, "DEABC0100002"}};
    d.damaged = {17, 1000};
    d.lead_out = 100;
    return d;
}

// The raw subchannel of each sector, split into its eight channels, 12 bytes
// each, first bit in the most significant bit: what a .sub file holds.
std::vector<uint8_t> deinterleave(const uint8_t* raw) {
    std::vector<uint8_t> channels(96, 0);
    for (int symbol = 0; symbol < 96; ++symbol)
        for (int channel = 0; channel < 8; ++channel)
            if (raw[symbol] & (0x80 >> channel))
                channels[channel * 12 + symbol / 8] |= (uint8_t)(0x80 >> (symbol % 8));
    return channels;
}

class DiscImageTest : public TempDirTest {
protected:
    synth_disc disc = dumped_disc();

    void SetUp() override {
        TempDirTest::SetUp();
        emulated_reset();
    }
    void TearDown() override {
        emulated_reset();
        TempDirTest::TearDown();
    }

    // Writes the disc in one layout: for each sector, what `part` makes of it.
    std::string write(const std::string& name, size_t leading_zero_bytes,
                      const std::function<std::vector<uint8_t>(const uint8_t*)>& part) {
        std::string path = dir + "/" + name;
        std::ofstream out(path, std::ios::binary);
        std::vector<char> zeros(leading_zero_bytes, 0);
        out.write(zeros.data(), (std::streamsize)zeros.size());
        uint8_t sector[2448];
        for (uint32_t lba = 0; lba < synth_sector_count(disc); ++lba) {
            synth_sector(disc, lba, sector);
            std::vector<uint8_t> bytes = part(sector);
            out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
        }
        return path;
    }
    std::string write_raw(const std::string& name) {
        return write(name, 0, [](const uint8_t* s) { return std::vector<uint8_t>(s, s + 2448); });
    }
    std::string write_main(const std::string& name) {
        return write(name, 0, [](const uint8_t* s) { return std::vector<uint8_t>(s, s + 2352); });
    }
    std::string write_sub(const std::string& name) {
        return write(name, 0, [](const uint8_t* s) { return deinterleave(s + 2352); });
    }
    std::string write_subcode(const std::string& name, uint32_t lead_in = LEAD_IN_RECORDS) {
        return write(name, (size_t)lead_in * 96, [](const uint8_t* s) { return std::vector<uint8_t>(s + 2352, s + 2448); });
    }
    std::string write_text(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    }

    run_result scan(const std::string& path, const std::string& switches) {
        emulated_reset();
        std::string error;
        emulated_disc disc;
        EXPECT_TRUE(emulated_open_image_file(path.c_str(), &disc, &error)) << path << ": " << error;
        emulated_insert_disc(std::move(disc));
        return run_qscan(arguments_for(switches));
    }
};

TEST_F(DiscImageTest, EveryLayoutScansAsTheRawImage) {
    std::string raw = write_raw("disc.bin");
    mkdir((dir + "/set").c_str(), 0755);
    mkdir((dir + "/upper").c_str(), 0755);
    mkdir((dir + "/alone").c_str(), 0755);
    write_main("set/disc.img");
    write_sub("set/disc.sub");
    write_text("set/disc.ccd", "[CloneCD]\nVersion=3\n");
    write_main("upper/DISC.IMG");
    write_sub("upper/DISC.SUB");
    write_text("upper/DISC.CCD", "[CloneCD]\r\nVersion=3\r\n");
    write_sub("alone/disc.Sub");
    write_subcode("disc.subcode");

    const char* layouts[] = {"set/disc.ccd", "set/disc.img", "set/disc.sub", "upper/DISC.CCD",
                             "upper/DISC.IMG", "upper/DISC.SUB", "alone/disc.Sub", "disc.subcode"};
    for (const char* switches : {"", "rptcie", "r"}) {
        run_result want = scan(raw, switches);
        ASSERT_EQ(0, want.status);
        ASSERT_EQ(expected_output(disc, options_from(*switches ? switches : "i")), want.out);
        for (const char* layout : layouts) {
            run_result got = scan(dir + "/" + layout, switches);
            EXPECT_EQ(0, got.status) << layout << " -" << switches;
            EXPECT_EQ("", got.err) << layout << " -" << switches;
            EXPECT_EQ(want.out, got.out) << layout << " -" << switches;
        }
    }
}

// A CloneCD control file's entries for a table of contents, as dumping tools
// write them: A0, A1 and A2 of each session, then its tracks.
std::string clonecd_entries(const disc_toc& toc) {
    std::string text = "[CloneCD]\nVersion=3\n[Disc]\nSessions=" + std::to_string(toc.sessions) + "\n";
    int n = 0;
    auto entry = [&](unsigned session, unsigned point, unsigned control, int32_t plba) {
        char lines[160];
        snprintf(lines, sizeof lines, "[Entry %d]\nSession=%u\nPoint=0x%02x\nADR=0x01\nControl=0x%02x\nTrackNo=0\nPLBA=%d\n",
                 n++, session, point, control, plba);
        text += lines;
    };
    for (unsigned session = 1; session <= toc.sessions; ++session) {
        int32_t end = session == 1 ? toc.first_session_end : toc.lead_out;
        entry(session, 0xA2, 0, end);
        for (unsigned i = 0; i < toc.track_count; ++i)
            if (toc.track[i].session == session)
                entry(session, toc.track[i].number, toc.track[i].control, toc.track[i].start);
    }
    return text;
}

// A table of contents as text: "1@0 c0 s1, 2@1050 c0 s1; lead-out 1750, first session's 1750".
std::string toc_text(const disc_toc& toc) {
    std::string text;
    for (unsigned i = 0; i < toc.track_count; ++i)
        text += std::to_string(toc.track[i].number) + "@" + std::to_string(toc.track[i].start) + " c" +
                std::to_string(toc.track[i].control) + " s" + std::to_string(toc.track[i].session) + ", ";
    return text + "lead-out " + std::to_string(toc.lead_out) + ", first session's " +
           std::to_string(toc.first_session_end);
}

// Every layout answers READ TOC: a set with a control file that lists the
// table of contents from its entries (here a second session the dump does
// not hold), every other dump from its own Q frames, as the disc has it.
TEST_F(DiscImageTest, EveryLayoutAnswersItsTableOfContents) {
    mkdir((dir + "/listed").c_str(), 0755);
    mkdir((dir + "/unlisted").c_str(), 0755);
    write_main("listed/disc.img");
    write_sub("listed/disc.sub");
    synth_disc two_sessions = disc;
    two_sessions.second_session = 1000;
    disc_toc listed = synth_toc(two_sessions);
    write_text("listed/disc.ccd", clonecd_entries(listed));
    write_main("unlisted/disc.img");
    write_sub("unlisted/disc.sub");
    write_text("unlisted/disc.ccd", "[CloneCD]\nVersion=3\n");
    disc_toc own = synth_toc(disc);
    own.lead_out = own.first_session_end = synth_lead_out_start(disc);
    struct {
        std::string path;
        const disc_toc* want;
    } layouts[] = {{dir + "/listed/disc.ccd", &listed}, {dir + "/unlisted/disc.img", &own},
                   {write_raw("disc.bin"), &own},        {write_subcode("disc.subcode"), &own}};
    for (auto& l : layouts) {
        emulated_reset();
        emulated_disc d;
        std::string error;
        ASSERT_TRUE(emulated_open_image_file(l.path.c_str(), &d, &error)) << error;
        emulated_insert_disc(std::move(d));
        drive_handle h = NULL;
        ASSERT_EQ(0, open_drive("D:", &h));
        disc_toc got;
        read_failure f;
        toc_notes notes;
        ASSERT_EQ(0, read_disc_toc(h, &got, &f, NULL, NULL, &notes)) << l.path;
        EXPECT_EQ(0u, notes.count) << l.path;
        EXPECT_EQ(toc_text(*l.want), toc_text(got)) << l.path;
    }
}

// A 2352-byte-sector .img can be a whole number of 2448-byte sectors long
// (here 51 sectors of 2352 bytes are 49 of 2448): the .sub beside it decides.
TEST_F(DiscImageTest, SizeDoesNotDecideTheLayout) {
    disc.tracks = {{0, 51, 0, "DEABC0100001"}};
    disc.lead_out = 0;
    disc.isrc_phase = 3;
    std::string img = write_main("disc.img");
    ASSERT_EQ(0, (51 * 2352) % 2448);
    write_sub("disc.sub");
    EXPECT_EQ(expected_output(disc, options_from("pe")), scan(img, "pe").out);
}

// The drive reads any block asked for, not only the next one.
TEST_F(DiscImageTest, ReadsOutOfOrder) {
    std::vector<std::string> images = {write_raw("disc.bin"), write_subcode("disc.subcode")};
    write_main("disc.img");
    images.push_back(write_sub("disc.sub"));
    const uint32_t last = synth_sector_count(disc) - 1;
    for (const std::string& image : images) {
        emulated_reset();
        std::string error;
        emulated_disc opened;
        ASSERT_TRUE(emulated_open_image_file(image.c_str(), &opened, &error)) << error;
        emulated_insert_disc(std::move(opened));
        drive_handle h = nullptr;
        ASSERT_EQ(0, open_drive("D:", &h));
        for (uint32_t lba : {5u, 2u, last, 0u, 1u, 700u, 699u, last}) {
            uint8_t got[SECTOR_BUFFER_SIZE], want[SECTOR_BUFFER_SIZE];
            read_failure failure;
            ASSERT_EQ(0, read_sector(h, lba, got, &failure)) << image << " block " << lba;
            synth_sector(disc, lba, want);
            bool main_channel = image.find(".subcode") == std::string::npos;  // else zeros
            size_t from = main_channel ? 0 : SECTOR_MAIN_SIZE;
            EXPECT_EQ(0, memcmp(got + from, want + from, SECTOR_BUFFER_SIZE - from)) << image << " block " << lba;
        }
    }
}

TEST_F(DiscImageTest, Refusals) {
    write_text("noimg.sub", std::string(1000, 'x'));  // a .sub of the wrong size, and no .img beside it
    write_text("noimg.ccd", "[CloneCD]\n");
    write_main("nosub.img");
    write_text("nosub.ccd", "[CloneCD]\n");
    write_text("notccd.ccd", "[Disc]\n");
    write_main("short.img");
    write_sub("short.sub");
    truncate((dir + "/short.sub").c_str(), 96 * 100);
    std::string lead_in_only = write_subcode("lead-in.subcode", 0);
    truncate(lead_in_only.c_str(), (off_t)LEAD_IN_RECORDS * 96);
    mkdir((dir + "/folder.bin").c_str(), 0755);
    mkfifo((dir + "/pipe.bin").c_str(), 0644);
    const uint32_t sectors = synth_sector_count(disc);
    struct {
        const char* name;
        std::string message;
    } cases[] = {
        {"noimg.ccd", "disc image " + dir + "/noimg.ccd names a set whose " + dir + "/noimg.img is missing"},
        {"nosub.ccd", "disc image " + dir + "/nosub.ccd names a set whose " + dir + "/nosub.sub is missing"},
        {"notccd.ccd", "disc image " + dir + "/notccd.ccd is not a CloneCD control file: it does not begin with [CloneCD]"},
        {"noimg.sub", "disc image " + dir + "/noimg.sub is 1000 bytes long, not a whole number of 96-byte "
                      "subchannel records"},
        {"short.img", "disc image set " + dir + "/short.img and " + dir + "/short.sub disagree: " +
                          std::to_string(sectors) + " sectors of main channel, 100 of subchannel"},
        {"lead-in.subcode", "subcode file " + dir + "/lead-in.subcode holds 45150 records; block 0 is record 45150, "
                            "so it never reaches the disc"},
        {"folder.bin", "disc image " + dir + "/folder.bin is not a regular file"},
        {"pipe.bin", "disc image " + dir + "/pipe.bin is not a regular file"},
    };
    for (auto& c : cases) {
        std::string command = "QSCAN_EMULATED_DISC='" + dir + "/" + c.name + "' '" QSCAN_EMU "' D: >'" + dir +
                              "/out' 2>'" + dir + "/err' </dev/null";
        int status = system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.name;
        std::ifstream err(dir + "/err");
        std::string line;
        std::getline(err, line);
        EXPECT_EQ("qscan-emu: " + c.message, line) << c.name;
    }
}

// With standard input closed, the image must not take its descriptor.
TEST_F(DiscImageTest, ImageNeverTakesAStandardStreamsDescriptor) {
    std::string raw = write_raw("disc.bin");
    int saved = dup(0);
    ASSERT_GE(saved, 0);
    close(0);
    std::string error;
    emulated_disc disc;
    bool inserted = emulated_open_image_file(raw.c_str(), &disc, &error);
    bool zero_free = fcntl(0, F_GETFD) == -1;
    dup2(saved, 0);
    close(saved);
    EXPECT_TRUE(inserted) << error;
    EXPECT_TRUE(zero_free);
}

}  // namespace
