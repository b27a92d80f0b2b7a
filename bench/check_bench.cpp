// The keyframe check of the standard workload (8 keyframes of 1920 x 1080 from the sample generator, converted)
// against the file work it cannot avoid: reading every keyframe's full map once, into one buffer that is kept
// from map to map. The goal is a check within 1.5 times that floor. Both are measured twice: with the keyframes
// read from the disk (each run starts with the files dropped from the system's file cache, as after a
// conversion of a long zoom or a reboot) and with the keyframes in that cache, where reading is a plain copy in
// memory and the comparison, which has to look at every value as well, weighs most.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "keyframes/keyframe_check.h"
#include "keyframes/keyframe_file.h"
#include "standard_workload.h"

namespace zoomreel {
namespace {

using bench::workload;

/// Drops the keyframe files from the file cache (they are written out first), so that the next reading comes
/// from the disk. Arg(1) of the benchmarks asks for it.
void dropFromCache(const KeyframeList& list) {
    for (int k = 0; k < list.keyframeCount(); ++k) {
        const int fd = ::open(keyframeFilePath(list, k).c_str(), O_RDONLY);
        if (fd < 0) continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void prepare(benchmark::State& state, const KeyframeList& list) {
    if (state.range(0) == 0) return;
    state.PauseTiming();
    dropFromCache(list);
    state.ResumeTiming();
}

void BM_ReadEveryFullMap(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    std::vector<double> map;
    for (auto _ : state) {
        prepare(state, list);
        for (int k = 0; k < list.keyframeCount(); ++k) {
            if (!readFullMap(keyframeFilePath(list, k), list.layout, map).ok) state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(map.data());
    }
    state.SetBytesProcessed(state.iterations() * list.keyframeCount() * 8LL * list.width * list.height);
}
BENCHMARK(BM_ReadEveryFullMap)->ArgName("from_disk")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CheckKeyframes(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    for (auto _ : state) {
        prepare(state, list);
        const KeyframeCheck check = checkKeyframes(list);
        if (!check.allAgree()) state.SkipWithError("the clean workload does not agree");
    }
    state.SetBytesProcessed(state.iterations() * list.keyframeCount() * 8LL * list.width * list.height);
}
BENCHMARK(BM_CheckKeyframes)->ArgName("from_disk")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// One pair compared in memory, without file access: what the reading has to hide.
void BM_ComparePair(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    std::vector<double> wider, deeper;
    if (!readFullMap(keyframeFilePath(list, 4), list.layout, wider).ok ||
        !readFullMap(keyframeFilePath(list, 5), list.layout, deeper).ok) {
        state.SkipWithError("read failed");
        return;
    }
    const double widerMaximum = mapMaximum(wider);
    for (auto _ : state) {
        const PairCheck pair = compareKeyframes(wider, widerMaximum, deeper, list.width, list.height);
        benchmark::DoNotOptimize(pair.disagreeingShare);
    }
}
BENCHMARK(BM_ComparePair)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zoomreel

BENCHMARK_MAIN();
