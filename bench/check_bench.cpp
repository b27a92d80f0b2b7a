// The keyframe check of the standard workload (8 keyframes of 1920 x 1080 from the sample generator, converted)
// against the file work it cannot avoid: reading every keyframe's full map once. The goal is a check within 1.5
// times that floor: the comparison of a pair runs while the next keyframe is read, so reading sets the pace.
#include <benchmark/benchmark.h>

#include <vector>

#include "keyframes/keyframe_check.h"
#include "keyframes/keyframe_file.h"
#include "standard_workload.h"

namespace zoomreel {
namespace {

using bench::workload;

void BM_ReadEveryFullMap(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    std::vector<double> map;
    for (auto _ : state) {
        for (int k = 0; k < list.keyframeCount(); ++k) {
            if (!readFullMap(keyframeFilePath(list, k), list.layout, map).ok) state.SkipWithError("read failed");
        }
        benchmark::DoNotOptimize(map.data());
    }
    state.SetBytesProcessed(state.iterations() * list.keyframeCount() * 8LL * list.width * list.height);
}
BENCHMARK(BM_ReadEveryFullMap)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CheckKeyframes(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    for (auto _ : state) {
        const KeyframeCheck check = checkKeyframes(list);
        if (!check.allAgree()) state.SkipWithError("the clean workload does not agree");
    }
    state.SetBytesProcessed(state.iterations() * list.keyframeCount() * 8LL * list.width * list.height);
}
BENCHMARK(BM_CheckKeyframes)->Unit(benchmark::kMillisecond)->UseRealTime();

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
