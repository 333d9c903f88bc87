// Fuzz target: any bytes as qscan's report, through the sheet's reader, the
// sheet and its four writers. Checks that every block up to the scan's end
// is a line or missing,
// that the sheet's counts agree with each other, that the picture has no
// negative width or height and that the cue sheet's INDEX times rise; the
// sheet's records are fixed in size, so memory is bounded whatever the input.
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
    std::string text, cue, notes, json, svg;
    write_text(&d, &text);
    write_cue(&d, "disc.bin", &cue, &notes);
    write_json(&d, &json);
    write_svg(&d, &svg);
    if (has_negative_size(svg) || !index_times_rise(cue))
        __builtin_trap();
    return 0;
}
