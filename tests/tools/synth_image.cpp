// Writes a synthesized disc image (2448-byte sectors, block 0 first) for the
// emulated drive: the sample disc, the disc a sheet is tried on, the
// mixed-mode disc (a mode-2 data track first), or an album of a given number
// of frames.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "emulated/disc_synth.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s sample|sheet|mixed|FRAMES image-file\n", argv[0]);
        return 2;
    }
    synth_disc disc = strcmp(argv[1], "sample") == 0  ? synth_sample_disc()
                      : strcmp(argv[1], "sheet") == 0 ? synth_sheet_disc()
                      : strcmp(argv[1], "mixed") == 0 ? synth_mixed_mode_disc()
                                                      : synth_album_disc((uint32_t)strtoul(argv[1], NULL, 10));
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) {
        perror(argv[2]);
        return 1;
    }
    uint8_t sector[SECTOR_BUFFER_SIZE];
    uint32_t count = synth_sector_count(disc);
    for (uint32_t lba = 0; lba < count; ++lba) {
        synth_sector(disc, lba, sector);
        if (fwrite(sector, sizeof sector, 1, out) != 1) {
            perror(argv[2]);
            return 1;
        }
    }
    if (fclose(out) != 0) {
        perror(argv[2]);
        return 1;
    }
    return 0;
}
