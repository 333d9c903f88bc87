// Benchmarks of the scanner's per-sector work against the cost of touching a
// sector's bytes once, and of whole scans through the emulated drive.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "main.h"
#include "emulated/disc_synth.h"
#include "emulated/disc_image.h"
#include "emulated/emulated_drive.h"
#include "subchannel.h"

namespace {

// The subchannels of the sample disc's first 4096 blocks: position frames
// with catalogue-number, ISRC and damaged frames among them, as a scan meets them.
const std::vector<uint8_t>& sample_subchannels() {
    static std::vector<uint8_t> subs = [] {
        synth_disc disc = synth_sample_disc();
        std::vector<uint8_t> all;
        uint8_t sector[SECTOR_BUFFER_SIZE];
        for (uint32_t lba = 0; lba < 4096; ++lba) {
            synth_sector(disc, lba, sector);
            all.insert(all.end(), sector + SECTOR_MAIN_SIZE, sector + SECTOR_BUFFER_SIZE);
        }
        return all;
    }();
    return subs;
}

// The Q bytes of the first block of the sample disc that carries the kind.
std::array<uint8_t, 12> frame_of(synth_kind kind, bool damaged) {
    synth_disc disc = synth_sample_disc();
    for (uint32_t lba = 0;; ++lba) {
        synth_sector_info info = synth_describe(disc, lba);
        if (info.kind == kind && info.damaged == damaged)
            return synth_q(disc, lba);
    }
}

void BM_copy_sector(benchmark::State& state) {
    alignas(64) static uint8_t from[SECTOR_BUFFER_SIZE], to[SECTOR_BUFFER_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(from);
        memcpy(to, from, sizeof to);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * SECTOR_BUFFER_SIZE);
}
BENCHMARK(BM_copy_sector);

void BM_extract_q(benchmark::State& state) {
    const std::vector<uint8_t>& subs = sample_subchannels();
    uint8_t q[Q_SIZE];
    size_t i = 0;
    for (auto _ : state) {
        extract_q(&subs[i * SUBCHANNEL_SIZE], q);
        benchmark::DoNotOptimize(q);
        i = (i + 1) % 4096;
    }
}
BENCHMARK(BM_extract_q);

void BM_decode_q(benchmark::State& state, synth_kind kind, bool damaged) {
    std::array<uint8_t, 12> q = frame_of(kind, damaged);
    q_frame frame = {};
    for (auto _ : state) {
        benchmark::DoNotOptimize(q);
        int result = decode_q(q.data(), &frame);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK_CAPTURE(BM_decode_q, position, SYNTH_POSITION, false);
BENCHMARK_CAPTURE(BM_decode_q, catalogue, SYNTH_MCN, false);
BENCHMARK_CAPTURE(BM_decode_q, isrc, SYNTH_ISRC, false);
BENCHMARK_CAPTURE(BM_decode_q, crc_error, SYNTH_POSITION, true);

void BM_extract_and_decode(benchmark::State& state) {
    const std::vector<uint8_t>& subs = sample_subchannels();
    uint8_t q[Q_SIZE];
    q_frame frame = {};
    size_t i = 0;
    for (auto _ : state) {
        extract_q(&subs[i * SUBCHANNEL_SIZE], q);
        int result = decode_q(q, &frame);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(frame);
        i = (i + 1) % 4096;
    }
}
BENCHMARK(BM_extract_and_decode);

// extract_q, decode_q and report_frame for one sector, output to /dev/null.
void BM_sector_path(benchmark::State& state, report_options options) {
    const std::vector<uint8_t>& subs = sample_subchannels();
    uint8_t q[Q_SIZE];
    q_frame frame = {};
    timing running = {1, 1, {0, 0, 0}, {0, 2, 0}};
    size_t i = 0;
    for (auto _ : state) {
        extract_q(&subs[i * SUBCHANNEL_SIZE], q);
        int result = decode_q(q, &frame);
        report_frame(&options, &running, result, &frame);
        i = (i + 1) % 4096;
    }
}
BENCHMARK_CAPTURE(BM_sector_path, default, report_options{false, false, false, false, true, false});
BENCHMARK_CAPTURE(BM_sector_path, all_reports, report_options{true, true, true, true, true, true});

// A whole scan of a disc image file through the emulated drive, read sector
// by sector as the scanner asks for it. The images come from bench/run.
void BM_scan_image(benchmark::State& state, const char* variable, std::vector<std::string> args) {
    const char* path = getenv(variable);
    if (path == NULL) {
        state.SkipWithError((std::string(variable) + " names no disc image").c_str());
        return;
    }
    std::string error;
    emulated_disc disc;
    if (!emulated_open_image_file(path, &disc, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    emulated_insert_disc(std::move(disc));
    args.insert(args.begin(), "qscan");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int64_t scanned = 0;
    for (auto _ : state) {
        unsigned before = emulated_counts()->ioctls;
        if (qscan_main((int)args.size(), argv.data()) != 0) {
            state.SkipWithError("scan failed");
            return;
        }
        scanned += emulated_counts()->ioctls - before - 1;  // the last read finds the end
    }
    state.SetItemsProcessed(scanned);  // items_per_second: sectors per second
    emulated_reset();
}
BENCHMARK_CAPTURE(BM_scan_image, 1min_default, "QSCAN_BENCH_SHORT_IMAGE", {"D:"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_scan_image, 1min_all_reports, "QSCAN_BENCH_SHORT_IMAGE",
                  {"-r", "-p", "-t", "-c", "-i", "-e", "D:"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_scan_image, 80min_default, "QSCAN_BENCH_LONG_IMAGE", {"D:"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_scan_image, 80min_all_reports, "QSCAN_BENCH_LONG_IMAGE",
                  {"-r", "-p", "-t", "-c", "-i", "-e", "D:"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

// The scanner prints to standard output, which goes to /dev/null here; the
// benchmark's own table goes to standard error.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (freopen("/dev/null", "w", stdout) == NULL)
        return 1;
    benchmark::ConsoleReporter console;
    console.SetOutputStream(&std::cerr);
    console.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&console);
    benchmark::Shutdown();
    return 0;
}
