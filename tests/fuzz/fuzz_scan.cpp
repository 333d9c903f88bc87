// Fuzz target: the whole program on the emulated drive with a fuzzed disc and
// fuzzed drive faults. Input: the report switches, up to 4 faults (block
// and kind; the last kind is sense data of the input's own choosing: a
// reported length and 14 sense bytes follow), then one sector per 12 bytes:
// Q bytes 0-9, a flag byte (bit 0: give the frame a matching CRC, else take
// the next byte pair as the CRC; bits 1-7: noise for the other subchannel
// bits).
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <vector>

#include "main.h"
#include "emulated/disc_synth.h"
#include "emulated/emulated_drive.h"

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
    const int KINDS = FAULT_CUSTOM_SENSE;  // FAULT_CALL_FAILS to FAULT_CUSTOM_SENSE
    const size_t SENSE_BYTES = 14;
    size_t faults = data[1] % 5;
    size_t pos = 2;
    std::map<uint32_t, emulated_fault> injected;
    for (size_t k = 0; k < faults && pos + 3 <= size; ++k, pos += 3) {
        uint32_t lba = (uint32_t)(data[pos] | data[pos + 1] << 8);
        emulated_fault fault = (emulated_fault)(1 + data[pos + 2] % KINDS);
        if (fault == FAULT_CUSTOM_SENSE) {
            if (pos + 3 + 1 + SENSE_BYTES > size)
                break;
            emulated_inject_sense(lba, data + pos + 4, SENSE_BYTES, data[pos + 3]);
            pos += 1 + SENSE_BYTES;
        } else {
            emulated_inject_fault(lba, fault);
        }
        injected[lba] = fault;
    }

    std::vector<uint8_t> image;
    bool good_position = false;  // a position frame that passes its CRC: else no scan succeeds
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
        q_frame frame;
        good_position = good_position || (decode_q(q.data(), &frame) == 0 && frame.adr_control >> 4 == 1);
        image.resize(image.size() + SECTOR_BUFFER_SIZE);
        lay_down(q, (uint8_t)(flag >> 1), &image[image.size() - SECTOR_BUFFER_SIZE]);
    }
    emulated_insert_image(image);

    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int status = qscan_main((int)args.size(), argv.data());

    // One READ CD per block from block 0, after the table of contents,
    // ending with the first block whose fault is more than a passing one
    // (a disc change at block 0 or an aborted command once, a recovered
    // error), or past the end of the disc. A passing unit attention or
    // abort costs one more read; an abort every time, or sense data of the
    // input's choosing, up to three. Status 1 whenever block 0 cannot be
    // read; when the disc was read to its end, 0 if a position frame passed
    // its CRC check, else 1 (no disc's raw P-W subchannel).
    uint32_t sectors = (uint32_t)(image.size() / SECTOR_BUFFER_SIZE);
    uint32_t end = sectors;
    unsigned retries = 0;
    for (const auto& f : injected) {
        if (f.first > end)
            break;
        if ((f.second == FAULT_UNIT_ATTENTION && f.first == 0) || f.second == FAULT_ABORTED) {
            ++retries;
            continue;
        }
        if (f.second == FAULT_RECOVERED)
            continue;
        end = f.first;
        break;
    }
    uint64_t reads = emulated_stats()->read_cd_commands, least = end + 1 + retries;
    if (reads < least || reads > least + 3 || (status != 0 && status != 1) ||
        (end == 0 && status != 1) || (end == sectors && end > 0 && injected.count(end) == 0 && status != (good_position ? 0 : 1)))
        __builtin_trap();
    clearerr(stdout);
    return 0;
}
