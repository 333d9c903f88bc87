// qscan-kernel-drive: serves one SCSI logical unit of the kernel's
// target_core_user through its shared command ring, as the CD drive whose
// firmware is cd_target.cpp. Runs inside the kernel rig's guest.
//
//   qscan-kernel-drive /dev/uioN (--disc IMAGE | --sample | --no-disc) [--faults LIST] [--log FILE]
//
// The ring (see the kernel's target_core_user.h and tcmu-design.rst): the
// mailbox at the start of the mapped region gives the command ring's offset
// and size; the kernel advances cmd_head past the entries it queues, we
// answer each entry in place and advance cmd_tail, then write to the uio
// node to tell the kernel. Every offset is from the start of the region.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "emulated/disc_image.h"
#include "emulated/disc_synth.h"
#include "emulated/emulated_drive.h"
#include "tests/kernel/cd_target.h"
#include "tests/kernel/tcmu_ring.h"

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

uint32_t get32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
uint64_t get64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The two fields the kernel and we take turns at: read with acquire, so the
// entries it published are seen whole; written with release, so our answers
// are whole before the kernel sees the tail move.
uint32_t load_head(uint8_t* region) {
    return __atomic_load_n((uint32_t*)(region + TCMU_MAILBOX_CMD_HEAD_AT), __ATOMIC_ACQUIRE);
}
void store_tail(uint8_t* region, uint32_t tail) {
    __atomic_store_n((uint32_t*)(region + TCMU_MAILBOX_CMD_TAIL_AT), tail, __ATOMIC_RELEASE);
}

// Answers one command entry in place.
void serve(uint8_t* region, uint8_t* entry, FILE* log) {
    const uint8_t* cdb = region + get64(entry + TCMU_REQ_CDB_OFF_AT);
    unsigned group = cdb[0] >> 5;  // the operation code's group gives the block's length
    size_t cdb_length = group == 0 ? 6 : group == 4 ? 16 : group == 5 ? 12 : 10;
    struct vector {
        uint64_t offset, length;
    };
    std::vector<vector> iov(get32(entry + TCMU_REQ_IOV_CNT_AT));
    uint64_t room = 0;
    for (size_t i = 0; i < iov.size(); ++i) {
        iov[i].offset = get64(entry + TCMU_REQ_IOV_AT + i * TCMU_IOV_SIZE);
        iov[i].length = get64(entry + TCMU_REQ_IOV_AT + i * TCMU_IOV_SIZE + 8);
        room += iov[i].length;
    }

    std::vector<uint8_t> data(room);
    target_response response;
    target_execute(cdb, cdb_length, data.data(), (uint32_t)room, &response);
    if (log) {
        fprintf(log, "cdb");
        for (size_t i = 0; i < cdb_length; ++i)
            fprintf(log, " %02x", cdb[i]);
        fprintf(log, ": status %02x, %u of %llu bytes", response.status, response.length,
                (unsigned long long)room);
        if (response.sense_length)
            fprintf(log, ", sense %x/%02x/%02x", response.sense[2] & 0x0F, response.sense[12],
                    response.sense[13]);
        fprintf(log, "\n");
    }

    uint64_t at = 0;  // the data goes into the data area the vectors name
    for (const vector& v : iov) {
        uint64_t n = std::min<uint64_t>(v.length, response.length - std::min<uint64_t>(at, response.length));
        memcpy(region + v.offset, data.data() + at, n);
        at += n;
    }
    // The response overlays the request: everything needed was read above.
    memset(entry + TCMU_RSP_SCSI_STATUS_AT, 0, TCMU_RSP_SENSE_AT + TCMU_RSP_SENSE_SIZE - TCMU_RSP_SCSI_STATUS_AT);
    entry[TCMU_RSP_SCSI_STATUS_AT] = response.status;
    memcpy(entry + TCMU_RSP_SENSE_AT, response.sense, std::min<uint32_t>(response.sense_length, TCMU_RSP_SENSE_SIZE));
    if (response.length < room) {  // a short transfer: the kernel reports the residual
        entry[TCMU_ENTRY_UFLAGS_AT] |= TCMU_UFLAG_READ_LEN_SET;
        memcpy(entry + TCMU_RSP_READ_LEN_AT, &response.length, sizeof response.length);
    }
}

// Reads the arguments after the uio node: the disc goes into the emulated
// drive with its faults, and the log's path into *log_path.
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
            if (!emulated_insert_image_file(argv[++i], error))
                return false;
            disc_given = true;
        } else if (a == "--faults" && i + 1 < argc) {
            std::vector<std::pair<uint32_t, emulated_fault>> faults;
            if (!emulated_parse_faults(argv[++i], &faults, error))
                return false;
            for (const auto& f : faults) {
                // A target cannot make the initiator's own call fail, nor
                // answer CHECK CONDITION without sense data that a kernel
                // would take as it is.
                if (f.second == FAULT_CALL_FAILS || f.second == FAULT_NO_SENSE) {
                    *error = "the faults 'call' and 'no-sense' cannot be played through a kernel";
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
        fprintf(stderr, "usage: %s /dev/uioN (--disc IMAGE | --sample | --no-disc) [--faults LIST] [--log FILE]\n",
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
    if (region[TCMU_MAILBOX_VERSION_AT] != TCMU_MAILBOX_VERSION_2) {
        fprintf(stderr, "qscan-kernel-drive: mailbox version %u, expected %u\n",
                region[TCMU_MAILBOX_VERSION_AT], TCMU_MAILBOX_VERSION_2);
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
    uint8_t* ring = region + get32(region + TCMU_MAILBOX_CMDR_OFF_AT);
    const uint32_t ring_size = get32(region + TCMU_MAILBOX_CMDR_SIZE_AT);
    uint32_t tail = get32(region + TCMU_MAILBOX_CMD_TAIL_AT);
    // The kernel may have queued its first command (INQUIRY) before we got
    // here, so look at the ring before the first wait.
    while (!stopping) {
        uint32_t head = load_head(region);
        bool served = false;
        while (tail != head) {
            uint8_t* entry = ring + tail;
            uint32_t len_op = get32(entry + TCMU_ENTRY_LEN_OP_AT);
            if ((len_op & TCMU_ENTRY_OP_MASK) == TCMU_ENTRY_OP_CMD) {
                serve(region, entry, log);
                served = true;
                if (target_read_cd_count() != last_read_cd) {
                    last_read_cd = target_read_cd_count();
                    last_read_cd_at = std::chrono::steady_clock::now();
                    if (first_read_cd == 0) {
                        first_read_cd = last_read_cd;
                        first_read_cd_at = last_read_cd_at;
                    }
                }
            }
            // Padding and task-management notices need no answer.
            tail = (tail + (len_op & ~(uint32_t)TCMU_ENTRY_OP_MASK)) % ring_size;
            store_tail(region, tail);
        }
        if (served) {
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
