// Entry point of qscan-emu: the scanner on the emulated drive, whose D: holds
// the disc image named by QSCAN_EMULATED_DISC or else the built-in sample
// disc, and meets the faults listed in QSCAN_EMULATED_FAULTS.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "main.h"
#include "emulated/disc_synth.h"
#include "emulated/disc_image.h"
#include "emulated/emulated_drive.h"

int main(int argc, char** argv) {
    const char* image = getenv("QSCAN_EMULATED_DISC");
    std::string error;
    if (image != NULL && image[0] != '\0') {
        if (!emulated_insert_image_file(image, &error)) {
            fprintf(stderr, "qscan-emu: %s\n", error.c_str());
            return 1;
        }
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
    return qscan_main(argc, argv);
}
