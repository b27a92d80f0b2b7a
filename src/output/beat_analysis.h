#pragma once

// The beats of a movie's soundtrack: its tempo, the time of every beat and the onset strength over time, found by
// aubio's tempo tracker and then made exact enough to put keyframes on. aubio locks on after a few seconds, may
// take half or twice the tempo and places its beats on its analysis hops; so its beats are checked for doubling
// and halving against the onsets, moved onto the sharpest attack near each, gaps are filled on the beat grid and
// the grid is carried out to the first and last beat the sound really has.

#include <filesystem>
#include <vector>

#include "platform/status.h"

namespace zoomreel {

/// Samples per step of aubio's tempo tracking and of the onset strength envelope (at the soundtrack's rate).
inline constexpr int kOnsetHop = 512;
inline constexpr int kStrengthHop = 256;

struct BeatAnalysis {
    double tempo = 0;                 ///< beats per minute
    std::vector<double> beats;        ///< seconds from the soundtrack's start, ascending
    double onsetStep = 0;             ///< seconds between two values of `onsetStrength`
    std::vector<float> onsetStrength; ///< aubio's spectral flux, one value per step from the start
};

/// Analyses mono float samples at `sampleRate`. Silence, noise or too short a sound: a "no beat" message.
Status analyseBeats(const std::vector<float>& samples, int sampleRate, BeatAnalysis& analysis);

/// Decodes the soundtrack `file` to mono and analyses it (from its very start).
Status analyseSoundtrack(const std::filesystem::path& file, BeatAnalysis& analysis);

/// The file beside the program's own settings ("zoomreel.toml") that keeps the last analyses.
inline constexpr char kBeatCacheFileName[] = "zoomreel-beats.cache";
inline constexpr int kBeatCacheEntries = 8;

/// The analysis of `file`, from the cache in `settingsDirectory` when it holds one for the file at its present
/// size and modification time, else made and added to the cache (which keeps the 8 used last). A cache that
/// cannot be read or written is passed over: the analysis is then made every time.
Status soundtrackBeats(const std::filesystem::path& file, const std::filesystem::path& settingsDirectory,
                       BeatAnalysis& analysis);

/// The beats at or after `startSeconds`, counted from there (the movie's start in the soundtrack).
std::vector<double> beatsFrom(const BeatAnalysis& analysis, double startSeconds);

}  // namespace zoomreel
