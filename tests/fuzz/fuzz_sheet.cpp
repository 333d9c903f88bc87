// Fuzz target: any bytes as qscan's report, through the sheet's reader, the
// sheet and its four writers (output to /dev/null). Checks that every raw
// line became one sector and that the sheet's counts agree with each other;
// the sheet's records are fixed in size, so memory is bounded whatever the input.
#include <stdint.h>
#include <stdio.h>

#include "sheet/report_reader.h"
#include "sheet/sheet.h"
#include "sheet/sheet_writers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == NULL)
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static report_reader reader;
    static sheet s;
    FILE* in = fmemopen((void*)data, size, "rb");
    if (in == NULL)
        return 0;
    reader_start(&reader, in);
    sheet_start(&s);
    uint8_t q[Q_SIZE];
    q_frame frame = {};
    uint32_t sectors = 0;
    int result;
    while ((result = reader_next(&reader, q)) == READER_SECTOR) {
        sheet_add(&s, decode_q(q, &frame), &frame);
        ++sectors;
    }
    fclose(in);
    if (sectors != s.sectors || (result != READER_END && result != READER_NOT_REPORT))
        __builtin_trap();
    sheet_finish(&s);
    uint32_t track_errors = 0;
    for (int n = 1; n <= SHEET_TRACKS; ++n)
        track_errors += s.track[n].crc_errors;
    if (track_errors > s.crc_errors || s.crc_errors > s.sectors || s.out_of_place > s.sectors)
        __builtin_trap();
    write_text(&s, stdout);
    write_cue(&s, "disc.bin", stdout);
    write_json(&s, stdout);
    write_svg(&s, stdout);
    return 0;
}
