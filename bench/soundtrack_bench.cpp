// What a soundtrack costs. The movie of the standard workload (keyframes 1 to 3 at the default 20 images per
// keyframe, 1280 x 720, 2D) as MP4 with H.264 and a soundtrack, against the same movie as AVI with
// H.264 and no sound, run in turns in one process (goal: at most 1.05 of its time). And the soundtrack alone: one
// minute of 44.1 kHz stereo from FLAC, decoded, and decoded and encoded in each container's codec (AAC, FLAC, PCM),
// against its duration (goal: at least 200 times real time). The encoding is measured as a movie of one 16 x 16
// frame per second with the sound, less the same movie without it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "output/avi_writer.h"
#include "output/movie_driver.h"
#include "output/soundtrack.h"
#include "standard_workload.h"

namespace zoomreel {
namespace {

using bench::workload;

constexpr int kStart = 1;
constexpr int kEnd = 3;
constexpr int kRate = 44100;
constexpr int kSeconds = 60;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

/// A minute of music-like sound: two chords' worth of tones that move, with a little noise, so that the encoders
/// have as much to do as with a real track.
std::vector<std::uint8_t> wavBytes() {
    const std::uint32_t samples = kRate * kSeconds;
    std::vector<std::uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put(out, 36 + samples * 4, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(out, 16, 4);
    put(out, 1, 2);
    put(out, 2, 2);
    put(out, kRate, 4);
    put(out, kRate * 4, 4);
    put(out, 4, 2);
    put(out, 16, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(out, samples * 4, 4);
    std::uint32_t noise = 12345;
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double bar = std::floor(t / 2.0);
        const double root = 220.0 * std::pow(2.0, std::fmod(bar * 5.0, 12.0) / 12.0);
        for (int channel = 0; channel < 2; ++channel) {
            noise = noise * 1664525u + 1013904223u;
            double v = 0;
            for (const double step : {1.0, 1.26, 1.5}) v += std::sin(2 * std::numbers::pi * root * step * (t + channel * 0.001));
            v = v * 6000.0 + static_cast<double>(static_cast<std::int32_t>(noise >> 16) - 32768) / 40.0;
            put(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)), 2);
        }
    }
    return out;
}

/// A movie of one 16 x 16 frame per second for the minute, with the sound from `sound` when it is given.
bool tinyMovie(const std::filesystem::path& file, MovieContainer container, MovieSound* sound) {
    AviWriter writer(file, makeFourCC("MJPG"), 1, container);
    writer.setSound(sound, 0);
    Raster frame(16, 16);
    frame.fill(40, 90, 160);
    bool ok = true;
    for (int i = 0; i < kSeconds && ok; ++i) ok = writer.AppendFrame(frame) == kAviOk;
    ok = writer.Release() == kAviOk && ok;
    std::filesystem::remove(file);
    return ok;
}

/// The minute of sound as FLAC, in a Matroska file made by the writer itself.
const std::filesystem::path& flacSoundtrack() {
    static const std::filesystem::path file = [] {
        const std::filesystem::path wav = workload().folder / "music.wav";
        const std::vector<std::uint8_t> bytes = wavBytes();
        std::FILE* out = std::fopen(wav.c_str(), "wb");
        if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) std::abort();
        std::fclose(out);
        std::unique_ptr<MovieSound> sound;
        if (!MovieSound::open(wav, 0, MovieContainer::Matroska, sound)) std::abort();
        const std::filesystem::path flac = workload().folder / "music.mkv";
        AviWriter writer(flac, makeFourCC("MJPG"), 1, MovieContainer::Matroska);
        writer.setSound(sound.get(), 0);
        Raster frame(16, 16);
        for (int i = 0; i < kSeconds; ++i) {
            if (writer.AppendFrame(frame) != kAviOk) std::abort();
        }
        if (writer.Release() != kAviOk) std::abort();
        std::filesystem::remove(wav);
        return flac;
    }();
    return file;
}

MovieOutcome makeMovie(MovieContainer container, const std::string& soundtrack) {
    bench::Workload& w = workload();
    w.list.selectionStart = kStart;
    w.list.selectionEnd = kEnd;
    MovieRequest request;
    request.keyframes = &w.list;
    request.video.finalWidth = bench::kFinalWidth;
    request.video.height3D = 720;
    request.video.fps = 30;
    request.video.container = container;
    request.video.soundtrack = soundtrack;
    MovieDriver driver;
    MovieCallbacks callbacks;
    // A key frame a second at the command line's default quality: the usual choice for a movie to be watched.
    callbacks.chooseCompressor = [](const CompressorRequest&) {
        return std::optional<CompressorChoice>(CompressorChoice{makeFourCC("H264"), 30, 8500});
    };
    MovieOutcome outcome = MovieThread(driver, request, callbacks);
    for (const auto& file : outcome.files) std::filesystem::remove(file);
    return outcome;
}

void BM_MovieMp4WithSound_vs_AviSilent(benchmark::State& state) {
    const std::string soundtrack = flacSoundtrack().string();
    bench::Workload& w = workload();
    const int frames = countMovieFrames(movieSpeedCurve(w.list, false), {kStart, kEnd, w.list.keyframeCount(), false});
    double withSound = 0, silent = 0;
    int round = 0;
    for (auto _ : state) {
        // In turns, each first every other round, so that neither gets the warmer caches.
        for (int k = 0; k < 2; ++k) {
            const bool sound = (k + round) % 2 == 0;
            const auto start = std::chrono::steady_clock::now();
            const MovieOutcome outcome =
                sound ? makeMovie(MovieContainer::Mp4, soundtrack) : makeMovie(MovieContainer::Avi, {});
            (sound ? withSound : silent) += secondsSince(start);
            if (!outcome.status.ok || outcome.framesWritten != frames) {
                state.SkipWithError(outcome.status.ok ? "frames missing" : outcome.status.message.c_str());
                return;
            }
        }
        ++round;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["frames"] = frames;
    state.counters["mp4_sound_s"] = withSound / n;
    state.counters["avi_silent_s"] = silent / n;
    state.counters["mp4_sound_vs_avi_silent"] = withSound / silent;
}

void soundAlone(benchmark::State& state, MovieContainer container) {
    const std::filesystem::path source = flacSoundtrack();
    const std::filesystem::path file = workload().folder / ("tiny." + std::string(containerName(container)));
    double decoding = 0, withSound = 0, silent = 0;
    for (auto _ : state) {
        // Decoding alone, in the writer's chunks.
        auto start = std::chrono::steady_clock::now();
        std::unique_ptr<MovieSound> sound;
        if (!MovieSound::open(source, 0, container, sound)) std::abort();
        std::vector<float> buffer(4096 * 2);
        std::vector<std::uint8_t*> planes = {reinterpret_cast<std::uint8_t*>(buffer.data()),
                                             reinterpret_cast<std::uint8_t*>(buffer.data() + 4096)};
        const std::int64_t total = static_cast<std::int64_t>(sound->sampleRate()) * kSeconds;
        for (std::int64_t at = 0; at < total; at += 4096) {
            if (!sound->read(at, 4096, planes.data())) std::abort();
        }
        decoding += secondsSince(start);

        start = std::chrono::steady_clock::now();
        sound.reset();
        if (!MovieSound::open(source, 0, container, sound) || !tinyMovie(file, container, sound.get())) std::abort();
        withSound += secondsSince(start);
        start = std::chrono::steady_clock::now();
        if (!tinyMovie(file, container, nullptr)) std::abort();
        silent += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["decode_x_realtime"] = kSeconds / (decoding / n);
    state.counters["decode_encode_x_realtime"] = kSeconds / ((withSound - silent) / n);
}

void BM_SoundAlone_AacInMp4(benchmark::State& state) { soundAlone(state, MovieContainer::Mp4); }
void BM_SoundAlone_FlacInMatroska(benchmark::State& state) { soundAlone(state, MovieContainer::Matroska); }
void BM_SoundAlone_PcmInAvi(benchmark::State& state) { soundAlone(state, MovieContainer::Avi); }

BENCHMARK(BM_MovieMp4WithSound_vs_AviSilent)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SoundAlone_AacInMp4)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SoundAlone_FlacInMatroska)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SoundAlone_PcmInAvi)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace zoomreel

BENCHMARK_MAIN();
