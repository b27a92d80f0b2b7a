#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/raster.h"
#include "platform/status.h"

namespace zoomreel {

/// QVY keyframe files: little-endian, packed, no header of their own. In order: width W, height H, minimum,
/// maximum, average (float64), zoom mantissa (float32), zoom exponent, a 128 x 72 bottom-up 24-bit thumbnail,
/// colour divisor, preview width SW, preview height SH, colour count N, N colours of 3 bytes, SH rows of SW
/// float64 preview values, H rows of W float64 map values. Both maps store their bottom row first.
inline constexpr int kThumbnailWidth = 128;
inline constexpr int kThumbnailHeight = 72;
inline constexpr std::size_t kThumbnailBytes = 27648;
inline constexpr std::size_t kThumbnailOffset = 40;
inline constexpr std::size_t kColorDivisorOffset = 27688;
inline constexpr std::size_t kPaletteOffset = 27692;
inline constexpr std::size_t kColorTableOffset = 27704;

/// No real map comes near this width or height; the limit keeps every size computed from a damaged file far
/// from overflow.
inline constexpr std::int32_t kMaxMapSide = 1 << 20;

/// What the keyframe list keeps of each keyframe: the header and the thumbnail, no map data.
struct KeyframeSummary {
    double minimum = 1e100;
    double maximum = 0.0;
    double average = 0.0;
    float zoomMantissa = 1.0f;
    std::int32_t zoomExponent = 0;
    Raster thumbnail;  ///< 128 x 72
    std::int32_t colorDivisor = 1;
};

/// The sizes that fix a keyframe file's layout. Every keyframe of a folder shares them.
struct KeyframeLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t previewWidth = 0;
    std::int32_t previewHeight = 0;
    std::int32_t colorCount = 0;

    std::uint64_t previewOffset() const { return kColorTableOffset + 3ull * static_cast<std::uint64_t>(colorCount); }
    std::uint64_t fullMapOffset() const {
        return previewOffset() + 8ull * static_cast<std::uint64_t>(previewWidth) * static_cast<std::uint64_t>(previewHeight);
    }
    std::uint64_t fileSize() const {
        return fullMapOffset() + 8ull * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    }
    friend bool operator==(const KeyframeLayout&, const KeyframeLayout&) = default;
};

/// Everything a keyframe file holds, as the conversion writes it.
struct KeyframeData {
    KeyframeLayout layout;
    double minimum = 1e100;
    double maximum = 0.0;
    double average = 0.0;
    float zoomMantissa = 1.0f;
    std::int32_t zoomExponent = 0;
    std::vector<std::uint8_t> thumbnail;  ///< kThumbnailBytes, bottom row first
    std::int32_t colorDivisor = 1;
    std::vector<std::uint8_t> colors;     ///< 3 * colorCount
    std::vector<double> previewMap;       ///< previewHeight rows of previewWidth values, bottom row first
    std::vector<double> fullMap;          ///< height rows of width values, bottom row first
};

/// Writes the whole file through a temporary file and a rename; a failure names the file and the reason.
Status writeKeyframe(const std::filesystem::path& path, const KeyframeData& data);

/// Reads the layout fields and checks that the file is as long as they say, and that they are sane.
Status readKeyframeLayout(const std::filesystem::path& path, KeyframeLayout& layout);

/// Reads the summary (header, thumbnail, colour divisor) and the layout, with the same checks.
Status readKeyframeSummary(const std::filesystem::path& path, KeyframeSummary& summary, KeyframeLayout& layout);

/// Reads the colour table (3 * N bytes). The file must have `expected` as its layout.
Status readKeyframePalette(const std::filesystem::path& path, const KeyframeLayout& expected,
                           std::vector<std::uint8_t>& colors);

/// Reads the preview map (SH rows of SW values). The file must have `expected` as its layout.
Status readPreviewMap(const std::filesystem::path& path, const KeyframeLayout& expected, std::vector<double>& map);

/// Reads the full map (H rows of W values). The file must have `expected` as its layout.
Status readFullMap(const std::filesystem::path& path, const KeyframeLayout& expected, std::vector<double>& map);

/// Reads a full map a band of rows at a time, for readers that need not hold it whole: the file is opened and
/// its layout checked once, then its rows follow one another, bottom row first.
class FullMapReader {
public:
    FullMapReader() = default;
    ~FullMapReader();
    FullMapReader(const FullMapReader&) = delete;
    FullMapReader& operator=(const FullMapReader&) = delete;

    /// The file must have `expected` as its layout.
    Status open(const std::filesystem::path& path, const KeyframeLayout& expected);
    /// The next `rows` rows (rows * W values) into `out`; never past the last row.
    Status readRows(int rows, double* out);

private:
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    KeyframeLayout layout_;
    int rowsRead_ = 0;
};

}  // namespace zoomreel
