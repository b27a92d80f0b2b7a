// The keyframe check and the keyframe measures of the standard workload (8 keyframes of 1920 x 1080 from the
// sample generator, converted) against the file work they cannot avoid: reading every keyframe's full map once,
// into one buffer that is kept from map to map. The goal for each is 1.5 times that floor; the check that takes
// the measures from its own reading as well is timed beside them. Both are measured twice: with the keyframes
// read from the disk (each run starts with the files dropped from the system's file cache, as after a
// conversion of a long zoom or a reboot) and with the keyframes in that cache, where reading is a plain copy in
// memory and the comparison, which has to look at every value as well, weighs most.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "keyframes/keyframe_check.h"
#include "keyframes/keyframe_file.h"
#include "settings/curve_suggestion.h"
#include "keyframes/keyframe_measures.h"
#include "output/movie_driver.h"
#include "standard_workload.h"

namespace zoomreel {
namespace {

using bench::prepare;
using bench::workload;

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

/// The measures of every keyframe, none of them kept before.
void BM_MeasureKeyframes(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(list.folder / kMeasuresFileName);
        state.ResumeTiming();
        prepare(state, list);
        const MeasuresOutcome outcome = keyframeMeasures(list, 0, list.keyframeCount() - 1);
        if (!outcome.status || outcome.measured != list.keyframeCount()) state.SkipWithError("measuring failed");
    }
    state.SetBytesProcessed(state.iterations() * list.keyframeCount() * 8LL * list.width * list.height);
}
BENCHMARK(BM_MeasureKeyframes)->ArgName("from_disk")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The check with the measures taken from its bands, as "zoomreel-cli check" and "convert" run it.
void BM_CheckAndMeasureKeyframes(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(list.folder / kMeasuresFileName);
        state.ResumeTiming();
        prepare(state, list);
        MeasuresCollector measures(list);
        CheckCallbacks callbacks;
        callbacks.band = [&](int k, int first, int rows, const double* values) { measures.band(k, first, rows, values); };
        const KeyframeCheck check = checkKeyframes(list, callbacks);
        if (!check.allAgree() || !measures.save()) state.SkipWithError("the check or the measures failed");
    }
    state.SetBytesProcessed(state.iterations() * list.keyframeCount() * 8LL * list.width * list.height);
}
BENCHMARK(BM_CheckAndMeasureKeyframes)->ArgName("from_disk")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// One map measured in memory, without file access.
void BM_MeasureMap(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    std::vector<double> map;
    if (!readFullMap(keyframeFilePath(list, 4), list.layout, map).ok) {
        state.SkipWithError("read failed");
        return;
    }
    for (auto _ : state) {
        const KeyframeMeasures measures = measureMap(map, list.width, list.height);
        benchmark::DoNotOptimize(measures.valueShare);
    }
}
BENCHMARK(BM_MeasureMap)->Unit(benchmark::kMillisecond)->UseRealTime();

/// Both suggestions for a selection of 100 keyframes from their measures (the workload's, over and over): the
/// divisor, then the speed that follows it, scaled to 60 seconds at 30 frames per second with the movie's own walk.
/// The goal is under 10 ms.
void BM_SuggestHundredKeyframes(benchmark::State& state) {
    const KeyframeList& list = workload().list;
    const MeasuresOutcome measured = keyframeMeasures(list, 0, list.keyframeCount() - 1);
    if (!measured.status) {
        state.SkipWithError("measuring failed");
        return;
    }
    constexpr int kKeyframes = 100;
    std::vector<KeyframeMeasures> measures;
    for (int k = 0; k < kKeyframes; ++k) measures.push_back(measured.measures[k % measured.measures.size()]);
    const WalkLimits limits{0, kKeyframes - 1, kKeyframes, false};
    const FrameCounter countFrames = [&](const KeyPointCurve& speed) { return countMovieFrames(speed, limits); };
    SpeedRequest request;
    request.selectionEnd = kKeyframes - 1;
    request.frames = 60 * 30;
    request.speed = KeyPointCurve{{{0.0f, 40.0f}}};
    const KeyPointCurve divisor{{{0.0f, 2.0f}}};
    for (auto _ : state) {
        const CurveSuggestion colours = suggestColorDivisor(measures, 0, kKeyframes - 1, divisor);
        request.colorDivisor = colours.curve;
        const CurveSuggestion speed = suggestSpeed(measures, request, countFrames);
        if (!speed.status || speed.frames != request.frames) state.SkipWithError("no suggestion of 1800 frames");
        benchmark::DoNotOptimize(speed.curve);
    }
}
BENCHMARK(BM_SuggestHundredKeyframes)->Unit(benchmark::kMillisecond)->UseRealTime();

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
