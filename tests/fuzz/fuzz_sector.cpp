// Fuzz target: arbitrary bytes as a run of 96-byte subchannels, through
// extract_q, decode_q and report_frame, the report switches taken from the
// first byte. Checks that the running position stays a valid time.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "main.h"
#include "subchannel.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == NULL)
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    report_options options = {};
    options.raw = data[0] & 0x01;
    options.frames = data[0] & 0x02;
    options.times = data[0] & 0x04;
    options.catalogue = data[0] & 0x08;
    options.isrc = data[0] & 0x10;
    options.errors = data[0] & 0x20;
    ++data;
    --size;

    timing running = {1, 1, {0, 0, 0}, {0, 2, 0}};
    q_frame frame = {};
    uint8_t q[Q_SIZE];
    for (; size >= SUBCHANNEL_SIZE; data += SUBCHANNEL_SIZE, size -= SUBCHANNEL_SIZE) {
        extract_q(data, q);
        int result = decode_q(q, &frame);
        if (result != 0 && result != Q_CRC_ERROR)
            __builtin_trap();
        report_frame(&options, &running, result, &frame);
        // Only a position frame, taken over as decoded, may leave the running
        // position out of range; every other frame moves it, which normalises.
        bool copied = result == 0 && (frame.adr_control >> 4) == 1;
        if (!copied && (running.rel.s >= 60 || running.rel.f >= 75 || running.abs.s >= 60 ||
                        running.abs.f >= 75))
            __builtin_trap();
    }
    return 0;
}
