// Fuzz target: arbitrary bytes split at NUL into an argument vector (none at
// all for empty input), run through the main routine with the emulated drive
// holding a short disc.
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "main.h"
#include "emulated/disc_synth.h"
#include "emulated/emulated_drive.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == NULL)
        return 1;
    synth_disc disc;
    disc.tracks = {{0, 30, 0, "ZZQSC2600001"}, {5, 20, 0, "ZZQSC2600002"}};
    disc.mcn = "1234567890128";
    disc.mcn_period = disc.isrc_period = 10;
    disc.mcn_phase = 2;
    disc.isrc_phase = 7;
    disc.damaged = {4};
    emulated_insert_image(synth_image(disc));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0)
                args.emplace_back();
            else
                args.back() += (char)data[i];
        }
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int status = qscan_main((int)args.size(), argv.data());
    if (status != 0 && status != 1)
        __builtin_trap();
    clearerr(stdout);
    return 0;
}
