// Fuzz target: the whole program on the emulated drive with a fuzzed disc and
// fuzzed drive faults. Input: the report switches, up to 4 faults (block
// and kind), then one sector per 12 bytes: Q bytes 0-9, a flag byte (bit 0:
// give the frame a matching CRC, else take the next byte pair as the CRC;
// bits 1-7: noise for the other subchannel bits).
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "main.h"
#include "platform/disc_synth.h"
#include "platform/emulated.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == NULL)
        return 1;
    return 0;
}

namespace {

void lay_down(const std::array<uint8_t, 12>& q, uint8_t noise, uint8_t* sector) {
    memset(sector, noise, 2352);
    uint8_t* sub = sector + 2352;
    for (int i = 0; i < 96; ++i)
        sub[i] = (uint8_t)(noise * (i + 1));
    synth_lay_down_q(q, sub);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const char* switches[] = {"-r", "-p", "-t", "-c", "-i", "-e"};
    std::vector<std::string> args = {"qscan"};
    for (int b = 0; b < 6; ++b)
        if (data[0] & (1 << b))
            args.push_back(switches[b]);
    args.push_back((data[0] & 0x80) ? "d:" : "D:");

    emulated_reset();
    size_t faults = data[1] % 5;
    size_t pos = 2;
    uint32_t first_fault = UINT32_MAX;
    for (size_t k = 0; k < faults && pos + 3 <= size; ++k, pos += 3) {
        uint32_t lba = (uint32_t)(data[pos] | data[pos + 1] << 8);
        emulated_inject_fault(lba, (emulated_fault)(1 + data[pos + 2] % 4));
        first_fault = lba < first_fault ? lba : first_fault;
    }

    std::vector<uint8_t> image;
    while (pos + 11 <= size) {
        std::array<uint8_t, 10> body;
        memcpy(body.data(), data + pos, 10);
        uint8_t flag = data[pos + 10];
        pos += 11;
        std::array<uint8_t, 12> q = synth_with_crc(body);
        if (!(flag & 1) && pos + 2 <= size) {
            q[10] = data[pos];
            q[11] = data[pos + 1];
            pos += 2;
        }
        image.resize(image.size() + SYNTH_SECTOR_SIZE);
        lay_down(q, (uint8_t)(flag >> 1), &image[image.size() - SYNTH_SECTOR_SIZE]);
    }
    emulated_insert_image(image);

    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int status = qscan_main((int)args.size(), argv.data());

    // One read per block from block 0, ending with the first that fails (a
    // fault or the end of the disc); the run fails only if that is block 0.
    uint32_t sectors = (uint32_t)(image.size() / SYNTH_SECTOR_SIZE);
    uint32_t end = first_fault < sectors ? first_fault : sectors;
    if (emulated_counts()->ioctls != end + 1 || status != (end == 0 ? 1 : 0))
        __builtin_trap();
    clearerr(stdout);
    return 0;
}
