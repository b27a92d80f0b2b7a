#pragma once

// The codecs and containers movies can be written with on this machine, and the checks made before a movie
// starts.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "settings/video_parameters.h"

namespace zoomreel {

/// "avi", "avi and mkv", "avi, mp4 and mkv".
std::string containerNames(const std::vector<MovieContainer>& containers);
/// "an AVI file", "an MP4 file", "a Matroska file".
std::string containerFileText(MovieContainer container);

/// A compressor, named by the four characters an AVI file stores for it.
using FourCC = std::array<char, 4>;
constexpr FourCC makeFourCC(const char (&text)[5]) { return {text[0], text[1], text[2], text[3]}; }
std::string fourCCText(const FourCC& code);

/// Microsoft Video 1, the compressor every movie starts with.
inline constexpr FourCC kDefaultCompressor = makeFourCC("MSVC");
/// Full frames: the 24-bit pixels as they are, rows bottom-up.
inline constexpr FourCC kUncompressed = makeFourCC("DIB ");

struct CompressorInfo {
    FourCC code{};
    std::string description;
    std::vector<MovieContainer> containers;  ///< that it goes in
};

/// The compressors this machine can write, the default first, then full frames, then whichever of the others
/// FFmpeg offers here.
const std::vector<CompressorInfo>& availableCompressors();
/// Those of them that `container` takes.
std::vector<CompressorInfo> compressorsFor(MovieContainer container);
/// The compressor named `text` (its FourCC, in any case, "raw" for full frames, "AV1" for AV01), if it is
/// available.
std::optional<FourCC> findCompressor(const std::string& text);
/// The compressor a movie in `container` starts with: Microsoft Video 1 where it fits, else H.264.
FourCC defaultCompressorFor(MovieContainer container);
/// Whether frames of width x height can be written with `code` in `container`, told before any frame is made: a
/// codec the container cannot hold, one missing on this machine, and an odd side with a 4:2:0 codec each give a
/// one-line message that says so (and which containers the codec fits).
Status checkMovieFormat(MovieContainer container, const FourCC& code, int width, int height);

/// Keeps FFmpeg's own messages off the terminal: the last error-level one on the calling thread is kept instead,
/// for the detail of a failure.
void keepLibraryMessages();

}  // namespace zoomreel
