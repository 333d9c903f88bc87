// Entry point of qscan-emu: the scanner on the emulated drive, whose D: holds
// the disc image named by QSCAN_EMULATED_DISC or else the built-in sample disc.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "main.h"
#include "platform/disc_synth.h"
#include "platform/emulated.h"

int main(int argc, char** argv) {
    const char* image = getenv("QSCAN_EMULATED_DISC");
    if (image != NULL && image[0] != '\0') {
        std::string error;
        if (!emulated_insert_image_file(image, &error)) {
            fprintf(stderr, "qscan-emu: %s\n", error.c_str());
            return 1;
        }
    } else {
        emulated_insert_synth_disc(synth_sample_disc());
    }
    return qscan_main(argc, argv);
}
