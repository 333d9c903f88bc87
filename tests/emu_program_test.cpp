// qscan-emu as a user runs it: the built-in sample disc, disc image files
// named by QSCAN_EMULATED_DISC, and image files it must refuse.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "report_lines.h"
#include "support.h"

namespace {

class EmuProgramTest : public TempDirTest {
protected:
    // Runs qscan-emu with the given image (none: the sample disc) and
    // arguments, standard output going to `out` (a shell redirection).
    // `settings`: more of the environment, as NAME='value' pairs.
    run_result run(const char* image, const std::string& args, const std::string& out = "",
                   const std::string& settings = "") {
        std::string command =
            "env -u QSCAN_EMULATED_FAULTS -u QSCAN_EMULATED_SPEED -u QSCAN_EMULATED_MAX_SECTORS -u QSCAN_EMULATED_STATS "
            "-u QSCAN_EMULATED_DRIVE ";
        command += image ? std::string("QSCAN_EMULATED_DISC='") + image + "' " : "-u QSCAN_EMULATED_DISC ";
        command += settings + " ";
        command += "'" QSCAN_EMU "' " + args + " " + (out.empty() ? ">'" + dir + "/out'" : out) +
                   " 2>'" + dir + "/err'";
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

TEST_F(EmuProgramTest, UsageAndOpenFailures) {
    const std::string usage = "Usage: " QSCAN_EMU " [-r] [-p] [-t] [-c] [-i] [-e]  device\n";
    for (const char* args : {"", "-p", "-x D:", "D: -p", "D: E:"}) {
        run_result r = run(nullptr, args);
        EXPECT_EQ(1, r.status) << args;
        EXPECT_EQ(usage, r.out) << args;
        EXPECT_EQ("", r.err) << args;
    }
    for (const char* args : {"C:", "E:", "1:", "DE:", "D", "''", "-i ''"}) {
        run_result r = run(nullptr, args);
        EXPECT_EQ(1, r.status) << args;
        EXPECT_EQ("", r.out) << args;
        EXPECT_EQ("failed to open device: Invalid argument\n", r.err) << args;
    }
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
    EXPECT_EQ("failed to read device: Input/output error\n"
              "drive reports: illegal request, logical block address out of range (05/21/00)\n",
              r.err);
}

// QSCAN_EMULATED_DISC=none: an empty drive, which qscan waits for, then gives up on.
TEST_F(EmuProgramTest, EmptyDrive) {
    run_result r = run("none", "-c D:");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("failed to read device: Input/output error\n"
              "drive reports: not ready, medium not present (02/3a/00)\n",
              r.err);
}

// QSCAN_EMULATED_DRIVE: qscan reads raw P-W, which some kinds of drive
// refuse at the first read; a kind that is none is refused before anything
// is read, with the list of kinds.
TEST_F(EmuProgramTest, DriveKinds) {
    const std::string sample_c = expected_output(synth_sample_disc(), options_from("c"));
    const std::string refused = "failed to read device: Input/output error\n"
                                "drive reports: illegal request, invalid field in command block (05/24/00)\n"
                                "the drive may not support reading raw subchannel data\n";
    struct {
        const char* kind;
        int status;
        std::string out, err;
    } cases[] = {
        {"", 0, sample_c, ""},
        {"strict", 0, sample_c, ""},
        {"no-raw", 1, "", refused},
        {"no-subchannel", 1, "", refused},
        {"zero-q", 1, "", std::string(NO_GOOD_Q_FRAME) + "\n"},  // every frame fails its CRC: no disc's Q
        {"Strict", 1, "", "qscan-emu: QSCAN_EMULATED_DRIVE: unknown drive kind 'Strict' (kinds: strict, no-raw, "
                          "formatted-no-crc, formatted-binary, zero-q, no-codes, no-subchannel)\n"},
    };
    for (auto& c : cases) {
        run_result r = run(nullptr, "-c D:", "", std::string("QSCAN_EMULATED_DRIVE='") + c.kind + "'");
        EXPECT_EQ(c.status, r.status) << c.kind;
        EXPECT_EQ(c.out, r.out) << c.kind;
        EXPECT_EQ(c.err, r.err) << c.kind;
    }
}

// QSCAN_EMULATED_FAULTS as a user writes it: lists that are read, and lists
// that are refused before anything is scanned.
TEST_F(EmuProgramTest, FaultLists) {
    const std::string sample_c = expected_output(synth_sample_disc(), options_from("c"));
    const std::string medium_at_2 = "failed to read sector 2: Input/output error\n"
                                    "drive reports: medium error, unrecovered read error (03/11/05)\n";
    struct {
        const char* faults;
        int status;
        std::string out, err;
    } cases[] = {
        {"", 0, sample_c, ""},
        {"0:unit-attention", 0, sample_c, ""},
        {"0:becoming-ready", 0, sample_c, ""},
        {"2:unit-attention", 1, "", "failed to read sector 2: Input/output error\n"
                                    "drive reports: unit attention, not ready to ready change, medium may have changed "
                                    "(06/28/00)\n"},
        {"2:medium", 1, "", medium_at_2},
        {"4294967295:medium,2:medium", 1, "", medium_at_2},
        {"30:not-ready,40:medium", 1, expected_output(synth_sample_disc(), options_from("c"), 30),
         "failed to read sector 30: Input/output error\n"
         "drive reports: not ready, medium not present (02/3a/00)\n"},
        {"0:no-subchannel", 1, "",
         "failed to read device: Input/output error\n"
         "drive reports: illegal request, invalid field in command block (05/24/00)\n"
         "the drive may not support reading raw subchannel data\n"},
        {"100:illegal", 1, expected_output(synth_sample_disc(), options_from("c"), 100),
         "failed to read sector 100: Input/output error\n"
         "drive reports: illegal request, logical block address out of range (05/21/00)\n"
         "the disc's table of contents puts its end at block 8925\n"},
        {"100:illegal,0:toc-refused", 0, expected_output(synth_sample_disc(), options_from("c"), 100), ""},
        {"3000:no-subchannel", 1, expected_output(synth_sample_disc(), options_from("c"), 3000),
         "failed to read sector 3000: Input/output error\n"
         "drive reports: illegal request, invalid field in command block (05/24/00)\n"},
        {"00000000002:medium", 1, "", medium_at_2},
        {"2:bad", 1, "", "qscan-emu: QSCAN_EMULATED_FAULTS: cannot read fault '2:bad': unknown kind 'bad' "
                         "(kinds: medium, hardware, not-ready, unit-attention, illegal, no-subchannel, "
                         "no-sense, call, short, invalid-opcode, end-of-area, illegal-mode, blank, recovered, "
                         "aborted, aborted-always, deferred, short-sense, becoming-ready, toc-refused, cd-text-crc, "
                         "inquiry-refused, cd-text-short, toc-short)\n"},
        {"-1:medium", 1, "", "qscan-emu: QSCAN_EMULATED_FAULTS: cannot read fault '-1:medium': expected "
                             "a block address in decimal, a colon and a fault kind\n"},
        {"4294967296:medium", 1, "", "qscan-emu: QSCAN_EMULATED_FAULTS: cannot read fault "
                                     "'4294967296:medium': the block address is larger than 4294967295\n"},
        {"2:medium,2:short", 1, "", "qscan-emu: QSCAN_EMULATED_FAULTS: cannot read fault '2:short': "
                                    "block 2 is named twice\n"},
        {"2:medium,", 1, "", "qscan-emu: QSCAN_EMULATED_FAULTS: cannot read the fault list '2:medium,': "
                             "it ends in a comma\n"},
    };
    // Refused lists, each in a form that gives the same message as one above.
    const char* also_refused[] = {"2: medium", " 2:medium", "2:medium x", ":medium", "2", "2;medium", ",2:medium"};
    for (auto& c : cases) {
        run_result r = run(nullptr, "-c D:", "", std::string("QSCAN_EMULATED_FAULTS='") + c.faults + "'");
        EXPECT_EQ(c.status, r.status) << c.faults;
        EXPECT_EQ(c.out, r.out) << c.faults;
        EXPECT_EQ(c.err, r.err) << c.faults;
    }
    for (const char* faults : also_refused) {
        run_result r = run(nullptr, "-c D:", "", std::string("QSCAN_EMULATED_FAULTS='") + faults + "'");
        EXPECT_EQ(1, r.status) << faults;
        EXPECT_EQ("", r.out) << faults;
        EXPECT_EQ(0u, r.err.find("qscan-emu: QSCAN_EMULATED_FAULTS: cannot read")) << r.err;
    }
}

// QSCAN_EMULATED_SPEED: a positive number, decimals allowed; nothing else.
TEST_F(EmuProgramTest, DriveSpeeds) {
    const std::string sample_c = expected_output(synth_sample_disc(), options_from("c"));
    for (const char* speed : {"1000", "2500.5"}) {
        run_result r = run(nullptr, "-c D:", "", std::string("QSCAN_EMULATED_SPEED=") + speed);
        EXPECT_EQ(0, r.status) << speed;
        EXPECT_EQ(sample_c, r.out) << speed;
    }
    for (const char* speed : {"", "0", "0.0", "0.09", "0.00000000000000000001", "-5", "abc", "1e3", "x2", " 2",
                              ".5.5", "."}) {
        run_result r = run(nullptr, "-c D:", "", std::string("QSCAN_EMULATED_SPEED='") + speed + "'");
        EXPECT_EQ(1, r.status) << speed;
        EXPECT_EQ("", r.out) << speed;
        EXPECT_EQ(std::string("qscan-emu: QSCAN_EMULATED_SPEED must be a number of times 75 sectors a second, "
                              "0.1 or more, such as 10 or 2.5, not '") + speed + "'\n", r.err) << speed;
    }
}

// QSCAN_EMULATED_MAX_SECTORS: 1 to 26; QSCAN_EMULATED_STATS: the drive's
// counts when the program ends, one JSON object, in a file it can write.
TEST_F(EmuProgramTest, TransferLimitAndStatistics) {
    const std::string stats = dir + "/stats.json";
    run_result r = run(nullptr, "-c D:", "", "QSCAN_EMULATED_MAX_SECTORS=1 QSCAN_EMULATED_STATS='" + stats + "'");
    EXPECT_EQ(0, r.status) << r.err;
    uint32_t n = synth_sector_count(synth_sample_disc());
    // The table of contents (tracks, sessions: each its header, then the
    // whole answer), every block, the one past the end.
    EXPECT_EQ("{\"commands\": " + std::to_string(n + 5) + ", \"read_cd_commands\": " + std::to_string(n + 1) +
                  ", \"blocks\": " + std::to_string(n + 1) + ", \"seeks\": 1}\n",
              slurp(stats));
    // A file that cannot be written is refused before anything is read.
    struct {
        std::string path, reason;
    } unwritable[] = {{dir + "/no/such/folder/stats.json", "No such file or directory"},
                      {dir, "Is a directory"}};
    for (auto& u : unwritable) {
        r = run(nullptr, "-c D:", "", "QSCAN_EMULATED_STATS='" + u.path + "'");
        EXPECT_EQ(1, r.status) << u.path;
        EXPECT_EQ("", r.out) << u.path;
        EXPECT_EQ("qscan-emu: QSCAN_EMULATED_STATS: cannot write " + u.path + ": " + u.reason + "\n", r.err);
    }
    for (const char* max : {"0", "27", "x", ""}) {
        r = run(nullptr, "-c D:", "", std::string("QSCAN_EMULATED_MAX_SECTORS='") + max + "'");
        EXPECT_EQ(1, r.status) << max;
        EXPECT_EQ(std::string("qscan-emu: QSCAN_EMULATED_MAX_SECTORS must be a number of sectors from 1 to 26, not '") +
                      max + "'\n", r.err);
    }
}

// Reports that cannot be written must not end in a status of success.
TEST_F(EmuProgramTest, OutputThatCannotBeWritten) {
    run_result r = run(nullptr, "-p D:", ">/dev/full");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("write error: No space left on device\n", r.err);

    r = run(nullptr, "D:", ">&-");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("write error: Bad file descriptor\n", r.err);

    // A closed pipe keeps its usual meaning: the process ends at once.
    std::string command = "(env -u QSCAN_EMULATED_DISC '" QSCAN_EMU "' -r -p D:; echo $? >'" + dir +
                          "/status') | head -c 10 >/dev/null";
    ASSERT_EQ(0, system(command.c_str()));
    EXPECT_EQ(std::to_string(128 + SIGPIPE) + "\n", slurp(dir + "/status"));
}

// Started by the kernel with no argument 0 at all, or with a single argument
// at the kernel's limit for one argument (128 KiB with its terminator).
TEST_F(EmuProgramTest, ArgumentVectorsFromTheKernel) {
    auto exec = [&](std::vector<std::string> args) {
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            int out = open((dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            char* envp[] = {nullptr};
            execve(QSCAN_EMU, argv.data(), envp);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(1, exec({}));
    EXPECT_EQ("Usage: qscan [-r] [-p] [-t] [-c] [-i] [-e]  device\n", slurp(dir + "/out"));

    EXPECT_EQ(0, exec({"qscan-emu", "-e" + std::string(131072 - 3, 'x'), "D:"}));
    EXPECT_EQ(expected_output(synth_sample_disc(), options_from("e")), slurp(dir + "/out"));
}

}  // namespace
