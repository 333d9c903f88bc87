// Test helper for the emulated platform: a synthesized disc in drive D:.
#include "platform/emulated.h"
#include "support.h"

void insert_synth_disc(const synth_disc& disc) {
    emulated_disc d;
    d.sector_count = synth_sector_count(disc);
    d.fetch = [disc](uint32_t lba, uint8_t* sector) {
        synth_sector(disc, lba, sector);
        return true;
    };
    emulated_insert_disc(d);
}
