#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/status.h"

namespace zoomreel {

inline constexpr char kVideoFormatFileName[] = "VFS.qvs";
inline constexpr char kVideoBrowserFileName[] = "VBr.qvs";
/// The face name is a 32-byte field with its terminator in the format's home; longer names are cut on reading.
inline constexpr std::size_t kMaxFontNameBytes = 31;

struct TextColor {
    std::uint8_t red = 0;
    std::uint8_t green = 255;
    std::uint8_t blue = 255;
};

/// The settings of the produced video, kept in the working directory.
struct VideoParameters {
    std::int32_t finalWidth = 1280;
    std::int32_t height3D = 720;        ///< frame height with 3D on
    std::int32_t fps = 30;
    std::int32_t framesPerMovie = 1000; ///< frames per AVI file
    std::int32_t showZoomText = 0;
    std::string fontName;               ///< face of the zoom text; empty until the dialog fills in its default
    std::int32_t fontSize = 8;          ///< character height of the zoom text, in pixels
    TextColor textColor;
    std::string videoBrowser;           ///< program started on a preview video; empty disables preview videos
    std::int32_t finalHeight = 720;     ///< 2D frame height, derived at each movie start; not saved
};

/// Reads "VBr.qvs" and then "VFS.qvs" from `directory`. A missing or empty file, a missing line or a line that
/// is not a number leaves its fields as they are; colour lines keep the low byte of their number.
void LoadVideoParameters(const std::filesystem::path& directory, VideoParameters& video);

/// Writes "VBr.qvs" and then "VFS.qvs" into `directory`, each through a temporary file and a rename. Both are
/// attempted; the first failure is returned.
Status SaveVideoParameters(const std::filesystem::path& directory, const VideoParameters& video);

}  // namespace zoomreel
