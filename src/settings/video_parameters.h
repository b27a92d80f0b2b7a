#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/status.h"

namespace zoomreel {

inline constexpr char kVideoFormatFileName[] = "VFS.qvs";
inline constexpr char kVideoBrowserFileName[] = "VBr.qvs";
/// The program's own settings of the movie files, which "VFS.qvs" has no line for (the container, the
/// soundtrack), in a file of their own beside it, so that "VFS.qvs" keeps its bytes for other programs.
inline constexpr char kMovieFileSettingsFileName[] = "zoomreel.toml";
/// The face name is a 32-byte field with its terminator in the format's home; longer names are cut on reading.
inline constexpr std::size_t kMaxFontNameBytes = 31;

/// The containers a movie can be written in. AVI is the default.
enum class MovieContainer { Avi, Mp4, Matroska };
inline constexpr MovieContainer kAllContainers[] = {MovieContainer::Avi, MovieContainer::Mp4, MovieContainer::Matroska};

/// "avi", "mp4" or "mkv": the container's name on the command line and in the settings, and its files' extension.
const char* containerName(MovieContainer container);
/// The container named `name` ("avi", "mp4", "mkv", in any case).
std::optional<MovieContainer> findContainer(const std::string& name);

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
    MovieContainer container = MovieContainer::Avi;
    std::string soundtrack;             ///< the movie's sound, any file libavformat reads; empty: none
    double soundtrackStart = 0;         ///< where in the soundtrack the movie begins, in seconds
    std::int32_t finalHeight = 720;     ///< 2D frame height, derived at each movie start; not saved
};

/// Reads "VBr.qvs", "VFS.qvs" and then "zoomreel.toml" from `directory`. A missing or empty file, a missing line
/// or a line that is not a number leaves its fields as they are; colour lines keep the low byte of their number;
/// a setting of "zoomreel.toml" that is missing or not of its kind leaves its field as it is.
void LoadVideoParameters(const std::filesystem::path& directory, VideoParameters& video);

/// Writes "VBr.qvs", "VFS.qvs" and then "zoomreel.toml" into `directory`, each through a temporary file and a
/// rename. All are attempted; the first failure is returned.
Status SaveVideoParameters(const std::filesystem::path& directory, const VideoParameters& video);

}  // namespace zoomreel
