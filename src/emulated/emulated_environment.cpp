// The emulated drive as the QSCAN_EMULATED_* variables set it up: the disc
// image or the sample disc, the kind of drive, faults, speed, a transfer
// limit, statistics.
#include "emulated/emulated_environment.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "emulated/disc_image.h"
#include "emulated/disc_synth.h"
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

const char* stats_path = NULL;

// The drive's statistics, for the modelled time of a read.
void write_stats() {
    FILE* f = fopen(stats_path, "w");
    if (f == NULL)
        return;
    const emulated_statistics* s = emulated_stats();
    fprintf(f, "{\"commands\": %llu, \"read_cd_commands\": %llu, \"blocks\": %llu, \"seeks\": %llu}\n",
            (unsigned long long)s->commands, (unsigned long long)s->read_cd_commands, (unsigned long long)s->blocks,
            (unsigned long long)s->seeks);
    fclose(f);
}

}  // namespace

int emulated_environment(const char* program) {
    const char* image = getenv("QSCAN_EMULATED_DISC");
    std::string error;
    if (image != NULL && strcmp(image, "none") == 0) {
        // An empty drive: no disc goes in.
    } else if (image != NULL && image[0] != '\0') {
        emulated_disc disc;
        if (!emulated_open_image_file(image, &disc, &error)) {
            fprintf(stderr, "%s: %s\n", program, error.c_str());
            return 1;
        }
        emulated_insert_disc(std::move(disc));
    } else {
        emulated_insert_synth_disc(synth_sample_disc());
    }
    const char* kind_name = getenv("QSCAN_EMULATED_DRIVE");
    emulated_drive_kind kind = DRIVE_STRICT;
    if (kind_name != NULL && kind_name[0] != '\0' && !emulated_parse_drive_kind(kind_name, &kind, &error)) {
        fprintf(stderr, "%s: QSCAN_EMULATED_DRIVE: %s\n", program, error.c_str());
        return 1;
    }
    emulated_set_drive_kind(kind);
    const char* fault_list = getenv("QSCAN_EMULATED_FAULTS");
    std::vector<std::pair<uint32_t, emulated_fault>> faults;
    if (fault_list != NULL && !emulated_parse_faults(fault_list, &faults, &error)) {
        fprintf(stderr, "%s: QSCAN_EMULATED_FAULTS: %s\n", program, error.c_str());
        return 1;
    }
    for (const auto& fault : faults)
        emulated_inject_fault(fault.first, fault.second);
    const char* speed_text = getenv("QSCAN_EMULATED_SPEED");
    double speed = 0;
    if (speed_text != NULL && !parse_speed(speed_text, &speed)) {
        fprintf(stderr, "%s: QSCAN_EMULATED_SPEED must be a number of times 75 sectors a second, "
                        "%g or more, such as 10 or 2.5, not '%s'\n", program, SLOWEST_SPEED, speed_text);
        return 1;
    }
    emulated_set_speed(speed);
    const char* max_text = getenv("QSCAN_EMULATED_MAX_SECTORS");
    if (max_text != NULL) {
        char* end = NULL;
        unsigned long max = strtoul(max_text, &end, 10);
        if (max_text[0] < '1' || max_text[0] > '9' || *end != '\0' || max > READ_CD_MOST) {
            fprintf(stderr, "%s: QSCAN_EMULATED_MAX_SECTORS must be a number of sectors from 1 to %d, not '%s'\n",
                    program, READ_CD_MOST, max_text);
            return 1;
        }
        emulated_set_max_sectors((unsigned)max);
    }
    stats_path = getenv("QSCAN_EMULATED_STATS");
    if (stats_path != NULL && stats_path[0] != '\0') {
        // Tried now, so that a file that cannot be written is said at once,
        // not lost at exit.
        FILE* f = fopen(stats_path, "w");
        if (f == NULL) {
            fprintf(stderr, "%s: QSCAN_EMULATED_STATS: cannot write %s: %s\n", program, stats_path, strerror(errno));
            return 1;
        }
        fclose(f);
        atexit(write_stats);
    }
    return 0;
}
