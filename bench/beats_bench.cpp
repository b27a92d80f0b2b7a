// What finding the beats of a soundtrack costs: a minute of 44.1 kHz drums over a held chord at 124 beats per
// minute, analysed from its samples and decoded from a WAV file and analysed (without the cache), against its
// duration (goal: at least 100 times real time).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

#include "output/beat_analysis.h"

namespace zoomreel {
namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;
constexpr double kTempo = 124;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Kick on every beat, a noise snare on two and four, a chord under it all.
std::vector<float> drums() {
    std::vector<float> out(static_cast<std::size_t>(kRate) * kSeconds);
    std::uint32_t noise = 12345;
    const double period = 60.0 / kTempo;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / kRate;
        const double beat = std::fmod(t, period);
        const auto number = static_cast<long>(t / period);
        noise = noise * 1664525u + 1013904223u;
        const double white = double(noise >> 8) / double(1 << 24) * 2 - 1;
        double v = 0.6 * std::sin(2 * std::numbers::pi * 55 * beat) * std::exp(-beat * 25);
        if (number % 2 == 1) v += 0.35 * white * std::exp(-beat * 30);
        v += 0.08 * (std::sin(2 * std::numbers::pi * 220 * t) + std::sin(2 * std::numbers::pi * 277 * t));
        out[i] = static_cast<float>(v);
    }
    return out;
}

void writeWav(const std::filesystem::path& path, const std::vector<float>& samples) {
    std::ofstream out(path, std::ios::binary);
    auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.put(static_cast<char>(value >> (8 * i)));
    };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out << "RIFF";
    put(36 + bytes, 4);
    out << "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(kRate, 4), put(kRate * 2, 4), put(2, 2), put(16, 2);
    out << "data";
    put(bytes, 4);
    for (const float s : samples) put(static_cast<std::uint16_t>(static_cast<std::int16_t>(s * 32000)), 2);
}

void BM_BeatsOfSamples(benchmark::State& state) {
    const std::vector<float> samples = drums();
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        BeatAnalysis analysis;
        if (!analyseBeats(samples, kRate, analysis) || std::abs(analysis.tempo - kTempo) > 0.5) std::abort();
        seconds += secondsSince(start);
    }
    state.counters["analysis_x_realtime"] = kSeconds / (seconds / static_cast<double>(state.iterations()));
}

void BM_BeatsOfWavFile(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() / "zoomreel-beats-bench.wav";
    writeWav(file, drums());
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        BeatAnalysis analysis;
        if (!analyseSoundtrack(file, analysis)) std::abort();
        seconds += secondsSince(start);
    }
    std::filesystem::remove(file);
    state.counters["decode_analysis_x_realtime"] = kSeconds / (seconds / static_cast<double>(state.iterations()));
}

BENCHMARK(BM_BeatsOfSamples)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_BeatsOfWavFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace zoomreel

BENCHMARK_MAIN();
