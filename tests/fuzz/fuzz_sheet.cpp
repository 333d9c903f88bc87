// Fuzz target: any bytes as qscan's report, through the sheet's reader, the
// sheet and its five writers. Checks that every block up to the scan's end
// is a line or missing,
// that the sheet's counts agree with each other, that the picture has no
// negative width or height, that the cue sheet's INDEX times rise and that
// the TOC file's stretches tile the image; the sheet's records are fixed in
// size, so memory is bounded whatever the input.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "sheet/read_scan.h"
#include "sheet/sheet.h"
#include "sheet/sheet_writers.h"

namespace {

bool has_negative_size(const std::string& svg) {
    for (const char* attribute : {" width=\"", " height=\""})
        for (size_t at = svg.find(attribute); at != std::string::npos; at = svg.find(attribute, at + 1))
            if (svg[at + strlen(attribute)] == '-')
                return true;
    return false;
}

bool index_times_rise(const std::string& cue) {
    long last = -1;
    for (size_t at = cue.find("    INDEX "); at != std::string::npos; at = cue.find("    INDEX ", at + 1)) {
        unsigned number, m, s, f;
        if (sscanf(cue.c_str() + at, "    INDEX %u %u:%u:%u", &number, &m, &s, &f) != 4)
            return false;
        long frames = (long)(m * 60 + s) * 75 + f;
        if (frames <= last)
            return false;
        last = frames;
    }
    return true;
}

// The TOC file's stretches of the image follow one another from its first
// byte, each a block or more, each pregap (START) shorter than its stretch.
bool toc_stretches_tile(const std::string& toc) {
    unsigned long long next = 0, length = 0;
    for (size_t at = 0; at < toc.size();) {
        size_t end = toc.find('\n', at);
        std::string line = toc.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? toc.size() : end + 1;
        unsigned long long offset;
        unsigned m, s, f;
        if (sscanf(line.c_str(), "FILE \"disc.bin\" SWAP #%llu 0 %u:%u:%u", &offset, &m, &s, &f) == 4 ||
            sscanf(line.c_str(), "DATAFILE \"disc.bin\" #%llu %u:%u:%u", &offset, &m, &s, &f) == 4) {
            length = (unsigned long long)(m * 60 + s) * 75 + f;
            if (offset != next || length == 0 || s >= 60 || f >= 75)
                return false;
            next = offset + length * 2352;
        } else if (sscanf(line.c_str(), "START %u:%u:%u", &m, &s, &f) == 3 &&
                   (unsigned long long)(m * 60 + s) * 75 + f >= length) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static disc_sheet d;
    sheet& s = d.s;
    d.reading.method = SHEET_FROM_REPORT;
    FILE* in = fmemopen((void*)data, size, "rb");
    if (in == NULL)
        return 0;
    sheet_start(&s);
    scan_result r;
    int outcome = sheet_read_scan(in, &s, &r);
    fclose(in);
    if (outcome != SCAN_READ && outcome != SCAN_CUT)
        return 0;
    if (s.sectors + s.missing_blocks != s.end)
        __builtin_trap();  // every block up to the end is a line or missing
    sheet_finish(&s);
    uint32_t track_errors = s.crc_errors_before;
    for (int n = 1; n <= DISC_TRACKS; ++n)
        track_errors += s.track[n].crc_errors;
    if (track_errors > s.crc_errors || s.crc_errors > s.sectors || s.out_of_place > s.sectors)
        __builtin_trap();
    std::string text, cue, notes, json, svg, toc, why;
    write_text(&d, &text);
    write_cue(&d, "disc.bin", &cue, &notes, &why);
    write_json(&d, &json);
    write_svg(&d, &svg);
    write_toc_file(&d, "disc.bin", &toc, &notes, &why);
    if (has_negative_size(svg) || !index_times_rise(cue) || !toc_stretches_tile(toc))
        __builtin_trap();
    return 0;
}
