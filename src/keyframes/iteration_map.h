#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace zoomreel {

/// One QVB iteration map as the outside renderer writes it (little-endian, packed): "QVB", width W, height H,
/// W columns of H int32 counts (y = 0 is the top row), divisor, colour count N, N colours of 3 bytes, iteration
/// limit, W columns of H float32 fractions.
///
/// The conversion keeps one instance: the first map read fixes W, H and N, and the tables are reused for every
/// later map.
struct IterationMap {
    int width = 0;
    int height = 0;
    std::vector<std::int32_t> counts;  ///< column-major: counts[x * height + y], y = 0 at the top
    int divisor = 1;                   ///< 0 in the file is read as 1
    int colorCount = 0;
    std::vector<std::uint8_t> colors;  ///< 3 bytes per colour, all-black entries read as (60, 60, 60)
    int iterationLimit = 0;
    std::vector<float> fractions;      ///< same order as `counts`

    std::int32_t count(int x, int y) const { return counts[static_cast<std::size_t>(x) * height + y]; }
    float fraction(int x, int y) const { return fractions[static_cast<std::size_t>(x) * height + y]; }
};

/// Outcomes of a map read. 0 to 5 are the renderer-format checks with their fixed messages; the others are
/// failures this program reports on top of them, each naming the file.
enum class MapReadOutcome {
    Ok = 0,
    InvalidMagic = 1,
    SizeMismatch = 2,
    CountsIncomplete = 3,
    ColorCountMismatch = 4,
    FractionsIncomplete = 5,
    CannotOpen = 6,
    NoColors = 7,
};

struct MapReadResult {
    MapReadOutcome outcome = MapReadOutcome::Ok;
    std::string message;  ///< empty on success
    bool ok() const { return outcome == MapReadOutcome::Ok; }
};

/// Reads the map at `path` into `map`. With `firstMap` set, W, H and N are taken from the file and the tables
/// sized for them; otherwise they must equal those already in `map`. Every size is checked against the file's
/// length before anything is allocated, so a damaged or hostile file yields an outcome, never a crash or a huge
/// allocation. The file is closed on return whatever the outcome.
MapReadResult readIterationMap(const std::filesystem::path& path, bool firstMap, IterationMap& map);

/// Writes `map` as a QVB file (through a temporary file and a rename). The sample generator and tests use it.
Status writeIterationMap(const std::filesystem::path& path, const IterationMap& map);

/// The number the file name begins with: its leading digits among the first five characters (00012 gives 12),
/// 0 when it begins with none.
int parseMapNumber(std::string_view fileName);

struct Zoom {
    float mantissa = 1.0f;
    int exponent = 0;
};

/// The zoom written in a map's name after the five digits and the separator, as "<mantissa>e<exponent>.":
/// 00001_1.25e27.qvb gives 1.25 and 27. Empty when the name has no such field.
std::optional<Zoom> parseZoomField(std::string_view fileName);

/// The zoom of the next, twice wider map: the mantissa halved in single precision, renormalised to stay >= 1.
Zoom halveZoom(Zoom zoom);

}  // namespace zoomreel
