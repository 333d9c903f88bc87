// Helpers shared by the tests: output capture and the report lines a disc
// description implies.
#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>


namespace {

std::string read_all(FILE* f) {
    std::string text;
    rewind(f);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    return text;
}

// Redirects one standard stream's descriptor to a temporary file.
struct redirect {
    int fd;
    int saved;
    FILE* file;

    explicit redirect(int target) : fd(target), saved(dup(target)), file(tmpfile()) {
        if (saved < 0 || file == nullptr || dup2(fileno(file), fd) < 0)
            throw std::runtime_error("cannot redirect output");
    }
    std::string finish() {
        dup2(saved, fd);
        close(saved);
        std::string text = read_all(file);
        fclose(file);
        return text;
    }
};

std::string msf_text(uint32_t frames) {
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u.%02u", frames / 4500 % 256, frames / 75 % 60, frames % 75);
    return text;
}

std::string position_text(unsigned track, unsigned index, uint32_t rel, uint32_t abs) {
    char text[16];
    snprintf(text, sizeof text, "%2u.%02u ", track, index);
    return text + msf_text(rel) + " " + msf_text(abs);
}

}  // namespace

run_result capture(const std::function<int()>& fn) {
    fflush(stdout);
    fflush(stderr);
    redirect out(1), err(2);
    int status = fn();
    fflush(stdout);
    fflush(stderr);
    run_result r;
    r.status = status;
    r.out = out.finish();
    r.err = err.finish();
    return r;
}

run_result run_main(int (*main_routine)(int, char**), const char* name, const std::vector<std::string>& args) {
    std::vector<std::string> storage;
    storage.push_back(name);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return capture([&] { return main_routine((int)storage.size(), argv.data()); });
}

run_result run_qscan(const std::vector<std::string>& args) {
    return run_main(qscan_main, "qscan", args);
}

report_options options_from(const std::string& switches) {
    report_options o = {};
    for (char c : switches) {
        switch (c) {
        case 'r': o.raw = true; break;
        case 'p': o.frames = true; break;
        case 't': o.times = true; break;
        case 'c': o.catalogue = true; break;
        case 'i': o.isrc = true; break;
        case 'e': o.errors = true; break;
        default: break;
        }
    }
    return o;
}

std::string grouped_isrc(const std::string& c) {
    return c.substr(0, 2) + "-" + c.substr(2, 3) + "-" + c.substr(5, 2) + "-" + c.substr(7, 5);
}

std::string switches_of(int mask) {
    std::string switches;
    for (int b = 0; b < 6; ++b)
        if (mask & (1 << b))
            switches += "rptcie"[b];
    return switches;
}

std::vector<std::string> arguments_for(const std::string& switches) {
    std::vector<std::string> args;
    for (char c : switches)
        args.push_back(std::string("-") + c);
    args.push_back("D:");
    return args;
}

std::vector<std::optional<std::string>> expected_sectors(const synth_disc& disc,
                                                         const report_options& o,
                                                         uint32_t sectors) {
    // The last intact position frame: (track, index, track time, block).
    // Until one is seen, the scanner assumes block 0's own position: in
    // track 1's pregap where that lies from block 0, as the table of
    // contents says, the last pregap block 00:00.00.
    uint32_t pregap = disc.tracks.empty() ? 0 : disc.tracks[0].pregap;
    unsigned track = 1, index = pregap > 0 ? 0 : 1;
    uint32_t rel_at_last = pregap > 0 ? pregap - 1 : 0, last_lba = 0;
    bool running_known = true;
    std::vector<std::optional<std::string>> lines;
    uint32_t count = std::min(sectors, synth_sector_count(disc));
    for (uint32_t lba = 0; lba < count; ++lba) {
        synth_sector_info info = synth_describe(disc, lba);
        std::string out;
        if (o.raw) {
            char hex[4];
            for (uint8_t b : synth_q(disc, lba)) {
                snprintf(hex, sizeof hex, "%02x ", b);
                out += hex;
            }
            out += "\n";
        }
        if (info.damaged) {
            if (o.errors)
                out += "crc error in sector " + std::to_string(lba) + "\n";
            lines.push_back(out);
            continue;
        }
        // Between position frames the running track time counts up.
        std::string running = position_text(track, index, rel_at_last + (lba - last_lba), info.abs_frames);
        bool known = true;
        switch (info.kind) {
        case SYNTH_POSITION: {
            std::string here = position_text(printed_track(info.track), info.index, info.rel_frames, info.abs_frames);
            if (o.frames)
                out += "1 " + here + "\n";
            if (o.times)
                out += here + "\n";
            track = printed_track(info.track);
            index = info.index;
            rel_at_last = info.rel_frames;
            last_lba = lba;
            running_known = true;
            break;
        }
        case SYNTH_MCN:
            known = running_known;
            if (o.frames)
                out += "2 " + info.code + " " + std::to_string(info.abs_frames % 75) + "\n";
            if (o.catalogue)
                out += running + " : " + info.code + "\n";
            break;
        case SYNTH_ISRC:
            known = running_known;
            if (o.frames)
                out += "3 " + grouped_isrc(info.code) + " " + std::to_string(info.abs_frames % 75) + "\n";
            if (o.isrc)
                out += running + " : " + grouped_isrc(info.code) + "\n";
            break;
        case SYNTH_RAW: {
            unsigned adr = disc.raw_q.at(lba)[0] & 0x0F;
            if (adr >= 1 && adr <= 3) {  // contents of its own: the model loses track
                known = running_known = false;
            } else if (o.frames) {
                out += std::to_string(adr) + " unknown mode\n";
            }
            break;
        }
        }
        lines.push_back(known ? std::optional<std::string>(out) : std::nullopt);
    }
    return lines;
}

std::string expected_output(const synth_disc& disc, const report_options& o, uint32_t sectors) {
    std::string out;
    for (const auto& lines : expected_sectors(disc, o, sectors)) {
        if (!lines)
            throw std::logic_error("expected_output models raw frames of other modes only");
        out += *lines;
    }
    return out;
}

std::vector<uint8_t> from_hex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    std::string digits;
    for (char c : hex)
        if (isxdigit((unsigned char)c))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back((uint8_t)std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void TempDirTest::SetUp() {
    char tmpl[] = "/tmp/qscan-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
}

void TempDirTest::TearDown() {
    (void)system(("rm -rf '" + dir + "'").c_str());
}
