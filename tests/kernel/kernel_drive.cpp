// qscan-kernel-drive: serves one SCSI logical unit of the kernel's
// target_core_user through its shared command ring, as the CD drive whose
// firmware is cd_target.cpp. Runs inside the kernel rig's guest.
//
//   qscan-kernel-drive /dev/uioN (--disc IMAGE | --sample | --no-disc) [--drive KIND] [--faults LIST]
//                      [--log FILE]
//
// KIND is one of QSCAN_EMULATED_DRIVE's (strict when not given).
//
// The kernel advances the ring's head past the entries it queues and
// signals the uio node; ring_server.cpp answers each entry in place and
// advances the tail; a write to the uio node tells the kernel.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "emulated/disc_image.h"
#include "emulated/disc_synth.h"
#include "emulated/emulated_drive.h"
#include "tests/kernel/cd_target.h"
#include "tests/kernel/ring_server.h"

namespace {

volatile sig_atomic_t stopping = 0;

void stop(int) {
    stopping = 1;
}

// The region's size, as the uio driver publishes it for map 0.
size_t map_size(const char* uio_path) {
    const char* name = strrchr(uio_path, '/');
    std::string sysfs = std::string("/sys/class/uio") + (name ? name : "/") + "/maps/map0/size";
    FILE* f = fopen(sysfs.c_str(), "r");
    unsigned long long size = 0;
    if (f == NULL || fscanf(f, "%llx", &size) != 1)
        size = 0;
    if (f)
        fclose(f);
    return (size_t)size;
}

// Reads the arguments after the uio node: the disc goes into the emulated
// drive of that kind with its faults, and the log's path into *log_path.
bool read_arguments(int argc, char** argv, std::string* log_path, std::string* error) {
    bool disc_given = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--sample") {
            emulated_insert_synth_disc(synth_sample_disc());
            disc_given = true;
        } else if (a == "--no-disc") {
            disc_given = true;
        } else if (a == "--disc" && i + 1 < argc) {
            emulated_disc disc;
            if (!emulated_open_image_file(argv[++i], &disc, error))
                return false;
            emulated_insert_disc(std::move(disc));
            disc_given = true;
        } else if (a == "--drive" && i + 1 < argc) {
            emulated_drive_kind kind;
            if (!emulated_parse_drive_kind(argv[++i], &kind, error))
                return false;
            emulated_set_drive_kind(kind);
        } else if (a == "--faults" && i + 1 < argc) {
            std::vector<std::pair<uint32_t, emulated_fault>> faults;
            if (!emulated_parse_faults(argv[++i], &faults, error))
                return false;
            for (const auto& f : faults) {
                // A target cannot make the initiator's own call fail, nor
                // answer CHECK CONDITION without sense data that a kernel
                // would take as it is; and a kernel takes no unit that
                // refuses INQUIRY, which it sends before anything else.
                if (f.second == FAULT_CALL_FAILS || f.second == FAULT_NO_SENSE || f.second == FAULT_INQUIRY_REFUSED) {
                    *error = "the faults 'call', 'no-sense' and 'inquiry-refused' cannot be played through a kernel";
                    return false;
                }
                emulated_inject_fault(f.first, f.second);
            }
        } else if (a == "--log" && i + 1 < argc) {
            *log_path = argv[++i];
        } else {
            *error = "unknown argument " + a;
            return false;
        }
    }
    if (!disc_given)
        *error = "say which disc: --disc IMAGE, --sample or --no-disc";
    return disc_given;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr,
                "usage: %s /dev/uioN (--disc IMAGE | --sample | --no-disc) [--drive KIND] [--faults LIST] "
                "[--log FILE]\n",
                argv[0]);
        return 2;
    }
    std::string log_path, error;
    if (!read_arguments(argc, argv, &log_path, &error)) {
        fprintf(stderr, "qscan-kernel-drive: %s\n", error.c_str());
        return 2;
    }
    FILE* log = log_path.empty() ? NULL : fopen(log_path.c_str(), "w");
    if (log)
        setvbuf(log, NULL, _IOLBF, 0);

    int fd = open(argv[1], O_RDWR | O_CLOEXEC);
    size_t size = map_size(argv[1]);
    if (fd < 0 || size == 0) {
        fprintf(stderr, "qscan-kernel-drive: cannot open %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    uint8_t* region = (uint8_t*)mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (region == MAP_FAILED) {
        fprintf(stderr, "qscan-kernel-drive: cannot map %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    ring_server server;
    if (!ring_server_start(&server, region, size, log, &error)) {
        fprintf(stderr, "qscan-kernel-drive: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    // Without SA_RESTART, so that the wait on the uio node ends at once.
    struct sigaction on_stop = {};
    on_stop.sa_handler = stop;
    sigaction(SIGTERM, &on_stop, NULL);
    sigaction(SIGINT, &on_stop, NULL);

    auto started = std::chrono::steady_clock::now();
    // The time from the first READ CD to the last, for the time per sector.
    uint64_t first_read_cd = 0, last_read_cd = 0;
    std::chrono::steady_clock::time_point first_read_cd_at, last_read_cd_at;
    // The kernel may have queued its first command (INQUIRY) before we got
    // here, so look at the ring before the first wait.
    while (!stopping) {
        int served = ring_server_serve(&server, &error);
        if (served < 0) {
            fprintf(stderr, "qscan-kernel-drive: %s\n", error.c_str());
            return 1;
        }
        if (target_read_cd_count() != last_read_cd) {
            last_read_cd = target_read_cd_count();
            last_read_cd_at = std::chrono::steady_clock::now();
            if (first_read_cd == 0) {
                first_read_cd = last_read_cd;
                first_read_cd_at = last_read_cd_at;
            }
        }
        if (served > 0) {
            uint32_t wake = 0;
            if (write(fd, &wake, sizeof wake) != (ssize_t)sizeof wake)
                break;
        }
        uint32_t events;
        if (read(fd, &events, sizeof events) != (ssize_t)sizeof events && errno != EINTR)
            break;
    }
    if (log) {
        double seconds = std::chrono::duration<double>(last_read_cd_at - first_read_cd_at).count();
        fprintf(log, "%llu READ CD commands", (unsigned long long)last_read_cd);
        if (last_read_cd > first_read_cd)
            fprintf(log, ", %.3f ms each", 1000 * seconds / (double)(last_read_cd - first_read_cd));
        fprintf(log, "; drive up %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    return 0;
}
