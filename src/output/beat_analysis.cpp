#include "output/beat_analysis.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>

#include "output/beat_cache.h"
#include "output/soundtrack.h"

extern "C" {
#include <aubio/aubio.h>
}

namespace zoomreel {
namespace {

constexpr int kWindow = 1024;
/// Samples per block of the fine energy envelope that beats are placed on: 1.5 ms at 44.1 kHz.
constexpr int kBlock = 64;
/// Blocks before the one measured whose loudest is the level an attack rises from.
constexpr int kRiseLookBack = 4;

Status noBeat() {
    return Status::failure("No beat can be found in the soundtrack (it is silent, noise or too short).");
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

/// How sharply the sound gets louder at each block: the rise of its energy over the loudest of the few blocks
/// before it, relative to the sound's mean energy. Clicks and drum hits rise by many times the mean; noise and
/// held notes barely rise at all.
class Attacks {
public:
    /// From the energy of every block of `kBlock` samples.
    Attacks(const std::vector<double>& energy, int sampleRate) : blockSeconds_(double(kBlock) / sampleRate) {
        const std::size_t blocks = energy.size();
        double total = 0;
        for (const double e : energy) total += e;
        const double mean = blocks > 0 ? total / double(blocks) : 0;
        rise_.assign(blocks, 0.0f);
        if (mean <= 0) return;
        for (std::size_t b = 0; b < blocks; ++b) {
            double before = 0;
            for (std::size_t k = 1; k <= kRiseLookBack && k <= b; ++k) before = std::max(before, energy[b - k]);
            rise_[b] = static_cast<float>(std::max(0.0, energy[b] - before) / mean);
        }
    }

    struct Peak {
        double seconds = 0;
        double rise = 0;
    };

    /// The sharpest attack within `halfWidth` seconds of `seconds`.
    Peak strongest(double seconds, double halfWidth) const {
        const auto n = static_cast<std::int64_t>(rise_.size());
        const auto from = std::max<std::int64_t>(0, std::llround((seconds - halfWidth) / blockSeconds_));
        const auto to = std::min<std::int64_t>(n - 1, std::llround((seconds + halfWidth) / blockSeconds_));
        Peak peak{seconds, 0};
        for (auto b = from; b <= to; ++b) {
            if (rise_[static_cast<std::size_t>(b)] > peak.rise) peak = {double(b) * blockSeconds_, rise_[static_cast<std::size_t>(b)]};
        }
        return peak;
    }

    double duration() const { return double(rise_.size()) * blockSeconds_; }

private:
    double blockSeconds_;
    std::vector<float> rise_;
};

/// The sound taken in as it is decoded, never kept whole (an hour of it would take gigabytes): aubio's beats
/// (seconds), its spectral flux one value per quarter window (at half a window the flux of a sharp attack would
/// depend much on where the hops fall on it) and the energy of every block of `kBlock` samples.
class Listener {
public:
    explicit Listener(int sampleRate)
        : tempo_(new_aubio_tempo("default", kWindow, kOnsetHop, static_cast<uint_t>(sampleRate)), del_aubio_tempo),
          pvoc_(new_aubio_pvoc(kWindow, kStrengthHop), del_aubio_pvoc),
          describe_(new_aubio_specdesc("specflux", kWindow), del_aubio_specdesc),
          in_(new_fvec(kOnsetHop), del_fvec),
          half_(new_fvec(kStrengthHop), del_fvec),
          out_(new_fvec(1), del_fvec),
          value_(new_fvec(1), del_fvec),
          grain_(new_cvec(kWindow), del_cvec) {}

    bool ready() const { return tempo_ && pvoc_ && describe_ && in_ && half_ && out_ && value_ && grain_; }

    void feed(const float* samples, std::size_t count) {
        float* hop = fvec_get_data(in_.get());
        for (std::size_t i = 0; i < count; ++i) {
            hop[filled_++] = samples[i];
            if (filled_ == kOnsetHop) {
                listen();
                filled_ = 0;
            }
        }
    }

    std::vector<double> beats;
    std::vector<float> flux;
    std::vector<double> energy;

private:
    template <typename T>
    using Owned = std::unique_ptr<T, void (*)(T*)>;

    void listen() {
        // Silence is where aubio's default threshold puts it; the attacks decide later what is a beat.
        aubio_tempo_do(tempo_.get(), in_.get(), out_.get());
        if (fvec_get_sample(out_.get(), 0) != 0) beats.push_back(aubio_tempo_get_last_s(tempo_.get()));
        const float* hop = fvec_get_data(in_.get());
        for (int part = 0; part < kOnsetHop / kStrengthHop; ++part) {
            std::memcpy(fvec_get_data(half_.get()), hop + part * kStrengthHop, kStrengthHop * sizeof(float));
            aubio_pvoc_do(pvoc_.get(), half_.get(), grain_.get());
            aubio_specdesc_do(describe_.get(), grain_.get(), value_.get());
            flux.push_back(fvec_get_sample(value_.get(), 0));
        }
        for (int b = 0; b < kOnsetHop; b += kBlock) {
            double e = 0;
            for (int i = b; i < b + kBlock; ++i) e += double(hop[i]) * hop[i];
            energy.push_back(e);
        }
    }

    Owned<aubio_tempo_t> tempo_;
    Owned<aubio_pvoc_t> pvoc_;
    Owned<aubio_specdesc_t> describe_;
    Owned<fvec_t> in_;
    Owned<fvec_t> half_;
    Owned<fvec_t> out_;
    Owned<fvec_t> value_;
    Owned<cvec_t> grain_;
    int filled_ = 0;
};

/// Follows the beat grid from `anchor` in steps of about `period` (forward for +1, backward for -1): each beat
/// goes onto the sharpest attack near where the grid expects it. Inside aubio's span [first, last] a beat that
/// has no attack is filled in on the grid (a break, a held chord); outside it the grid goes on only as long as
/// attacks are there, so a silent lead-in or a fade gets no beats.
void follow(const Attacks& attacks, double anchor, double period, double hitLevel, double first, double last,
            int direction, std::vector<double>& beats) {
    double at = anchor;
    double step = period;
    const double halfWidth = std::min(0.15 * period, 0.04);
    for (;;) {
        const double expected = at + direction * step;
        if (expected < -halfWidth || expected > attacks.duration() + halfWidth) return;
        const Attacks::Peak peak = attacks.strongest(expected, halfWidth);
        const bool hit = peak.rise >= hitLevel;
        if (!hit && (expected < first - period / 2 || expected > last + period / 2)) return;
        const double next = hit ? peak.seconds : expected;
        if (hit) step = std::clamp(0.9 * step + 0.1 * std::abs(next - at), 0.9 * period, 1.1 * period);
        beats.push_back(next);
        at = next;
    }
}

/// The slope of the least-squares line through the beats against their numbers: seconds per beat.
double fittedPeriod(const std::vector<double>& beats) {
    const double n = double(beats.size());
    double sumK = 0, sumT = 0, sumKK = 0, sumKT = 0;
    for (std::size_t k = 0; k < beats.size(); ++k) {
        sumK += double(k);
        sumT += beats[k];
        sumKK += double(k) * double(k);
        sumKT += double(k) * beats[k];
    }
    return (n * sumKT - sumK * sumT) / (n * sumKK - sumK * sumK);
}

/// The beats made exact from what the listener heard.
Status analyseHeard(Listener& heard, int sampleRate, BeatAnalysis& analysis) {
    std::vector<double>& raw = heard.beats;
    BeatAnalysis result;
    result.onsetStep = double(kStrengthHop) / sampleRate;
    result.onsetStrength = std::move(heard.flux);
    // The first beats come before aubio has locked on; keep those after its second beat.
    if (raw.size() < 6) return noBeat();
    std::vector<double> intervals;
    for (std::size_t i = 1; i < raw.size(); ++i) intervals.push_back(raw[i] - raw[i - 1]);
    double period = median(intervals);
    if (!(period > 0.1)) return noBeat();

    const Attacks attacks(heard.energy, sampleRate);
    const double snapWidth = std::min(0.2 * period, 0.08);
    std::vector<Attacks::Peak> snapped;
    for (const double t : raw) snapped.push_back(attacks.strongest(t, snapWidth));
    auto medianRise = [&](double offset, std::size_t from, std::size_t stride) {
        std::vector<double> rises;
        for (std::size_t i = from; i < snapped.size(); i += stride) {
            rises.push_back(attacks.strongest(snapped[i].seconds + offset, snapWidth / 2).rise);
        }
        return median(rises);
    };
    const double onBeat = medianRise(0, 0, 1);
    const double between = medianRise(period / 4, 0, 1);
    // Noise and silence rise as much between the beats as on them.
    if (!(onBeat > 0) || onBeat < 1.5 * between) return noBeat();

    // Half the tempo: attacks as strong halfway between aubio's beats as on them. Twice the tempo: every other
    // beat of aubio's without an attack of its own.
    std::size_t anchor = snapped.size() / 2;
    if (medianRise(period / 2, 0, 1) >= 0.7 * onBeat) {
        period /= 2;
    } else {
        const double even = medianRise(0, 0, 2);
        const double odd = medianRise(0, 1, 2);
        if (std::min(even, odd) < 0.35 * std::max(even, odd)) {
            period *= 2;
            if ((odd > even) != (anchor % 2 == 1)) ++anchor;
        }
    }

    const double hitLevel = 0.3 * onBeat;
    std::vector<double> before, after;
    const double start = snapped[anchor].seconds;
    follow(attacks, start, period, hitLevel, raw.front(), raw.back(), -1, before);
    follow(attacks, start, period, hitLevel, raw.front(), raw.back(), +1, after);
    result.beats.assign(before.rbegin(), before.rend());
    result.beats.push_back(start);
    result.beats.insert(result.beats.end(), after.begin(), after.end());
    if (result.beats.size() < 4) return noBeat();
    result.tempo = 60.0 / fittedPeriod(result.beats);
    if (!(result.tempo > 0) || !std::isfinite(result.tempo)) return noBeat();
    analysis = std::move(result);
    return {};
}

}  // namespace

Status analyseBeats(const std::vector<float>& samples, int sampleRate, BeatAnalysis& analysis) {
    if (sampleRate <= 0) return noBeat();
    Listener listener(sampleRate);
    if (!listener.ready()) return noBeat();
    listener.feed(samples.data(), samples.size());
    return analyseHeard(listener, sampleRate, analysis);
}

Status analyseSoundtrack(const std::filesystem::path& file, BeatAnalysis& analysis) {
    std::unique_ptr<MovieSound> sound;
    // The MP4 form gives planar float samples, which aubio takes.
    if (Status s = MovieSound::open(file, 0, MovieContainer::Mp4, sound); !s) return s;
    const int channels = sound->channels();
    const int rate = sound->sampleRate();
    if (rate <= 0) return noBeat();
    Listener listener(rate);
    if (!listener.ready()) return noBeat();
    constexpr int kChunk = 1 << 14;
    std::vector<std::vector<float>> planes(static_cast<std::size_t>(channels), std::vector<float>(kChunk));
    std::vector<std::uint8_t*> pointers;
    for (auto& plane : planes) pointers.push_back(reinterpret_cast<std::uint8_t*>(plane.data()));
    std::vector<float> mono(kChunk);
    for (std::int64_t at = 0; !sound->exhausted(); at += kChunk) {
        if (Status s = sound->read(at, kChunk, pointers.data()); !s) return s;
        for (int i = 0; i < kChunk; ++i) {
            float sum = 0;
            for (const auto& plane : planes) sum += plane[static_cast<std::size_t>(i)];
            mono[static_cast<std::size_t>(i)] = sum / float(channels);
        }
        listener.feed(mono.data(), mono.size());
    }
    return analyseHeard(listener, rate, analysis);
}

Status soundtrackBeats(const std::filesystem::path& file, const std::filesystem::path& settingsDirectory,
                       BeatAnalysis& analysis) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    const auto size = std::filesystem::file_size(file, error);
    const auto modified = error ? std::int64_t{0}
                                : static_cast<std::int64_t>(std::filesystem::last_write_time(file, error)
                                                                .time_since_epoch()
                                                                .count());
    if (error) return analyseSoundtrack(file, analysis);  // its own message says what is wrong with the file
    const std::filesystem::path cacheFile = settingsDirectory / kBeatCacheFileName;
    std::vector<BeatCacheEntry> entries = readBeatCache(cacheFile);
    const auto same = [&](const BeatCacheEntry& e) { return e.path == absolute.string(); };
    for (const BeatCacheEntry& e : entries) {
        if (same(e) && e.size == size && e.modified == modified) {
            analysis = e.analysis;
            return {};
        }
    }
    if (Status s = analyseSoundtrack(file, analysis); !s) return s;
    std::erase_if(entries, same);
    entries.insert(entries.begin(), BeatCacheEntry{absolute.string(), size, modified, analysis});
    if (entries.size() > kBeatCacheEntries) entries.resize(kBeatCacheEntries);
    writeBeatCache(cacheFile, entries);  // a cache that cannot be written is only a cache
    return {};
}

std::vector<double> beatsFrom(const BeatAnalysis& analysis, double startSeconds) {
    std::vector<double> beats;
    for (const double t : analysis.beats) {
        // A beat a rounding error before the start is on it.
        if (t >= startSeconds - 1e-9) beats.push_back(std::max(0.0, t - startSeconds));
    }
    return beats;
}

}  // namespace zoomreel
