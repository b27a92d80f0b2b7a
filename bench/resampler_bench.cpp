// The area-averaging stretch against libswscale's area scaler, both single-threaded, on frame sizes the movie
// writer meets. Prints swscale's time over ours per case at the end (above 1 means ours is faster).

#include "platform/resampler.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using zoomreel::PixelRect;
using zoomreel::Raster;

struct ScaleCase {
    int srcWidth, srcHeight, dstWidth, dstHeight;
    std::string name() const {
        return std::to_string(srcWidth) + "x" + std::to_string(srcHeight) + "_to_" + std::to_string(dstWidth) + "x" +
               std::to_string(dstHeight);
    }
};

const ScaleCase kCases[] = {{1920, 1080, 1280, 720}, {1920, 1080, 160, 90}, {1200, 675, 1280, 720}};

// Smooth colour ramps with fine noise: like a rendered fractal frame, neither flat nor pure noise.
Raster makeContent(int width, int height, unsigned seed) {
    Raster r(width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = r.rowFromTop(y);
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const double v = double(y) / height;
            const double base[3] = {120 + 100 * std::sin(7 * u + 3 * v), 128 + 90 * std::cos(5 * v - 2 * u),
                                    255 * u * v};
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = static_cast<std::uint8_t>(std::clamp(base[c] + noise(rng), 0.0, 255.0));
        }
    }
    return r;
}

// Straightforward double-precision area average of the whole picture, for the check before timing.
std::vector<std::vector<std::pair<int, double>>> coverage(int from, int to) {
    std::vector<std::vector<std::pair<int, double>>> taps(static_cast<std::size_t>(to));
    for (int i = 0; i < to; ++i) {
        const double lo = double(i) * from / to;
        const double hi = double(i + 1) * from / to;
        for (int j = static_cast<int>(lo); j < hi; ++j) {
            const double overlap = std::min(hi, j + 1.0) - std::max(lo, double(j));
            if (overlap > 0) taps[i].emplace_back(j, overlap / (hi - lo));
        }
    }
    return taps;
}

int worstDifferenceFromReference(const Raster& src, const Raster& ours) {
    const auto columns = coverage(src.width(), ours.width());
    const auto rows = coverage(src.height(), ours.height());
    int worst = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (const auto& [sy, wy] : rows[y])
                    for (const auto& [sx, wx] : columns[x]) sum += wy * wx * src.rowFromTop(sy)[3 * sx + c];
                worst = std::max(worst, std::abs(int(std::lround(sum)) - ours.rowFromTop(y)[3 * x + c]));
            }
    return worst;
}

void BM_Ours(benchmark::State& state, ScaleCase c) {
    const Raster src = makeContent(c.srcWidth, c.srcHeight, 1);
    Raster dst(c.dstWidth, c.dstHeight);
    zoomreel::stretchAreaAverage(src, dst);
    if (const int worst = worstDifferenceFromReference(src, dst); worst > 1) {
        state.SkipWithError(("differs from the reference by " + std::to_string(worst)).c_str());
        return;
    }
    for (auto _ : state) {
        zoomreel::stretchAreaAverage(src, dst);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * c.dstWidth * c.dstHeight);  // destination pixels per second
}

void BM_Swscale(benchmark::State& state, ScaleCase c) {
    const Raster src = makeContent(c.srcWidth, c.srcHeight, 1);
    Raster dst(c.dstWidth, c.dstHeight);
    SwsContext* sws = sws_alloc_context();
    av_opt_set_int(sws, "srcw", c.srcWidth, 0);
    av_opt_set_int(sws, "srch", c.srcHeight, 0);
    av_opt_set_int(sws, "src_format", AV_PIX_FMT_BGR24, 0);
    av_opt_set_int(sws, "dstw", c.dstWidth, 0);
    av_opt_set_int(sws, "dsth", c.dstHeight, 0);
    av_opt_set_int(sws, "dst_format", AV_PIX_FMT_BGR24, 0);
    av_opt_set_int(sws, "sws_flags", SWS_AREA, 0);
    // Older libswscale has no slice threads and is single-threaded anyway.
    const bool threadsSet = av_opt_set_int(sws, "threads", 1, 0) >= 0;
    if (sws_init_context(sws, nullptr, nullptr) < 0) {
        sws_freeContext(sws);
        state.SkipWithError("libswscale cannot build this scaler");
        return;
    }
    // Rows are stored bottom-up: start at the top row and step backwards, as the movie writer does.
    const std::uint8_t* srcPlanes[4] = {src.rowFromTop(0)};
    const int srcStrides[4] = {-src.strideBytes()};
    std::uint8_t* dstPlanes[4] = {dst.rowFromTop(0)};
    const int dstStrides[4] = {-dst.strideBytes()};
    for (auto _ : state) {
        sws_scale(sws, srcPlanes, srcStrides, 0, c.srcHeight, dstPlanes, dstStrides);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * c.dstWidth * c.dstHeight);
    state.SetLabel(threadsSet ? "threads=1" : "no threads option");
    sws_freeContext(sws);
}

// Keeps each benchmark's time (the median when repeated) to print the ratios after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median) {
                std::string name = run.run_name.function_name;
                if (median || times_.count(name) == 0) times_[name] = run.GetAdjustedCPUTime();
            }
        }
    }
    void printRatios() const {
        std::printf("\nswscale time / our time (above 1: ours faster)\n");
        for (const ScaleCase& c : kCases) {
            const auto ours = times_.find("BM_Ours_" + c.name());
            const auto theirs = times_.find("BM_Swscale_" + c.name());
            if (ours == times_.end() || theirs == times_.end() || ours->second <= 0) continue;
            std::printf("  %-24s %.2f\n", c.name().c_str(), theirs->second / ours->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    for (const ScaleCase& c : kCases) {
        benchmark::RegisterBenchmark(("BM_Ours_" + c.name()).c_str(), BM_Ours, c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BM_Swscale_" + c.name()).c_str(), BM_Swscale, c)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
