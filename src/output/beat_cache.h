#pragma once

// The file that keeps the last beat analyses, so that a soundtrack is analysed once: binary, little-endian, a
// magic, a count, then per entry the soundtrack's absolute path, size and modification time and its analysis.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "output/beat_analysis.h"

namespace zoomreel {

struct BeatCacheEntry {
    std::string path;             ///< absolute
    std::uint64_t size = 0;
    std::int64_t modified = 0;    ///< the file clock's count
    BeatAnalysis analysis;
};

/// The entries of the cache file, at most `kBeatCacheEntries`; none for a file that is missing, damaged or cut
/// short anywhere.
std::vector<BeatCacheEntry> readBeatCache(const std::filesystem::path& file);

/// Writes the entries through a temporary file and a rename.
Status writeBeatCache(const std::filesystem::path& file, const std::vector<BeatCacheEntry>& entries);

}  // namespace zoomreel
