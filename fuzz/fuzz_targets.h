#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zoomreel::fuzz {

/// Each harness writes the bytes where its reader looks for them, reads them the way the program does, and then
/// uses the result as a caller would next. They return 0 whatever the file holds; a fault shows as a crash, a
/// sanitizer report or a hang.
int fuzzQvbMap(const std::uint8_t* data, std::size_t size);
int fuzzQvy(const std::uint8_t* data, std::size_t size);
int fuzzCurve(const std::uint8_t* data, std::size_t size);
int fuzzPalette(const std::uint8_t* data, std::size_t size);
int fuzzRelief(const std::uint8_t* data, std::size_t size);
int fuzzProjection3D(const std::uint8_t* data, std::size_t size);
int fuzzSubtractMinimum(const std::uint8_t* data, std::size_t size);
int fuzzVideoParameters(const std::uint8_t* data, std::size_t size);
int fuzzRecentFolders(const std::uint8_t* data, std::size_t size);
int fuzzMovieResume(const std::uint8_t* data, std::size_t size);
int fuzzBeatCache(const std::uint8_t* data, std::size_t size);
/// The TOML text of `zoomreel-cli import`, from memory: what it accepts must print and read back unchanged.
int fuzzSettingsToml(const std::uint8_t* data, std::size_t size);

using FuzzHarness = int (*)(const std::uint8_t*, std::size_t);

struct FuzzTarget {
    std::string_view name;  ///< also the executable's suffix and the regression folder's name
    FuzzHarness harness;
};

inline constexpr FuzzTarget kFuzzTargets[] = {
    {"qvb_map", fuzzQvbMap},
    {"qvy", fuzzQvy},
    {"curve", fuzzCurve},
    {"palette", fuzzPalette},
    {"relief", fuzzRelief},
    {"projection_3d", fuzzProjection3D},
    {"subtract_minimum", fuzzSubtractMinimum},
    {"video_parameters", fuzzVideoParameters},
    {"recent_folders", fuzzRecentFolders},
    {"movie_resume", fuzzMovieResume},
    {"beat_cache", fuzzBeatCache},
    {"settings_toml", fuzzSettingsToml},
};

/// The split of the video-parameters input into its two files: everything before the first byte 0 goes to
/// "VFS.qvs", the rest to "VBr.qvs" (all to "VFS.qvs" when there is no 0). The seed maker joins files the same way.
inline constexpr std::uint8_t kVideoFileSeparator = 0;

}  // namespace zoomreel::fuzz
