// qscan-emu as a user runs it: the built-in sample disc, disc image files
// named by QSCAN_EMULATED_DISC, and image files it must refuse.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>

#include "support.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class EmuProgramTest : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override {
        char tmpl[] = "/tmp/qscan-emu-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override { (void)system(("rm -rf '" + dir + "'").c_str()); }

    // Runs qscan-emu with the given image (none: the sample disc) and arguments.
    run_result run(const char* image, const std::string& args) {
        std::string command;
        if (image)
            command = std::string("QSCAN_EMULATED_DISC='") + image + "' ";
        else
            command = "env -u QSCAN_EMULATED_DISC ";
        command += "'" QSCAN_EMU "' " + args + " >'" + dir + "/out' 2>'" + dir + "/err'";
        int status = system(command.c_str());
        run_result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(dir + "/out");
        r.err = slurp(dir + "/err");
        return r;
    }

    std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
        return path;
    }
};

TEST_F(EmuProgramTest, SampleDiscShowsItsIsrcs) {
    run_result r = run(nullptr, "D:");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(expected_output(synth_sample_disc(), options_from("i")), r.out);
    for (const char* isrc : {"ZZ-QSC-26-00001", "ZZ-QSC-26-00002", "ZZ-QSC-26-00003", "ZZ-QSC-26-00004"})
        EXPECT_NE(std::string::npos, r.out.find(isrc)) << isrc;
}

TEST_F(EmuProgramTest, SampleDiscEveryReport) {
    run_result r = run(nullptr, "-r -p -t -c -i -e D:");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(expected_output(synth_sample_disc(), options_from("rptcie")), r.out);
}

TEST_F(EmuProgramTest, ImageFile) {
    synth_disc d;
    d.mcn = "0000000000017";
    d.mcn_phase = 3;
    d.tracks = {{0, 300, 0, "FRAAA0000001"}, {150, 200, 0, "FRAAA0000002"}};
    d.damaged = {10, 400};
    std::string path = write_file("disc.img", synth_image(d));
    run_result r = run(path.c_str(), "-c -i -e D:");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(expected_output(d, options_from("cie")), r.out);
}

TEST_F(EmuProgramTest, RefusedImages) {
    std::string missing = dir + "/missing.img";
    run_result r = run(missing.c_str(), "D:");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("qscan-emu: cannot open disc image " + missing + ": No such file or directory\n", r.err);

    std::string odd = write_file("odd.img", std::vector<uint8_t>(2448 * 2 + 1));
    r = run(odd.c_str(), "D:");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("qscan-emu: disc image " + odd + " is 4897 bytes long, not a whole number of 2448-byte sectors\n",
              r.err);
}

TEST_F(EmuProgramTest, EmptyImageIsADiscThatCannotBeRead) {
    std::string empty = write_file("empty.img", {});
    run_result r = run(empty.c_str(), "D:");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("failed to read device: Input/output error\n", r.err);
}

}  // namespace
