// Entry point of qscan-emu: the scanner on the emulated drive, whose D: holds
// the disc image named by QSCAN_EMULATED_DISC or else the built-in sample
// disc, meets the faults listed in QSCAN_EMULATED_FAULTS, and reads as fast
// as QSCAN_EMULATED_SPEED says.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "main.h"
#include "emulated/disc_synth.h"
#include "emulated/disc_image.h"
#include "emulated/emulated_drive.h"

namespace {

// Slower than any drive, and slow enough: below it the pacing's arithmetic
// would leave the range of its clock.
const double SLOWEST_SPEED = 0.1;

// A drive speed: a number from SLOWEST_SPEED up, decimals allowed ("10", "2.5").
bool parse_speed(const char* text, double* speed) {
    const char* p = text;
    size_t digits = strspn(p, "0123456789");
    p += digits;
    if (*p == '.') {
        size_t decimals = strspn(p + 1, "0123456789");
        digits += decimals;
        p += 1 + decimals;
    }
    if (digits == 0 || *p != '\0')
        return false;
    *speed = strtod(text, NULL);
    return *speed >= SLOWEST_SPEED;
}

}  // namespace

int main(int argc, char** argv) {
    const char* image = getenv("QSCAN_EMULATED_DISC");
    std::string error;
    if (image != NULL && image[0] != '\0') {
        emulated_disc disc;
        if (!emulated_open_image_file(image, &disc, &error)) {
            fprintf(stderr, "qscan-emu: %s\n", error.c_str());
            return 1;
        }
        emulated_insert_disc(std::move(disc));
    } else {
        emulated_insert_synth_disc(synth_sample_disc());
    }
    const char* fault_list = getenv("QSCAN_EMULATED_FAULTS");
    std::vector<std::pair<uint32_t, emulated_fault>> faults;
    if (fault_list != NULL && !emulated_parse_faults(fault_list, &faults, &error)) {
        fprintf(stderr, "qscan-emu: QSCAN_EMULATED_FAULTS: %s\n", error.c_str());
        return 1;
    }
    for (const auto& fault : faults)
        emulated_inject_fault(fault.first, fault.second);
    const char* speed_text = getenv("QSCAN_EMULATED_SPEED");
    double speed = 0;
    if (speed_text != NULL && !parse_speed(speed_text, &speed)) {
        fprintf(stderr, "qscan-emu: QSCAN_EMULATED_SPEED must be a number of times 75 sectors a second, "
                        "%g or more, such as 10 or 2.5, not '%s'\n", SLOWEST_SPEED, speed_text);
        return 1;
    }
    emulated_set_speed(speed);
    return qscan_main(argc, argv);
}
