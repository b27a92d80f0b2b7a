#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keyframes/keyframe_list.h"

namespace zoomreel {

/// The file `fileName` among the opened folder's settings.
std::filesystem::path settingsFilePath(const KeyframeList& list, std::string_view fileName);

/// The line end the program writes into its text files; they are read accepting LF and CR LF alike.
#ifdef _WIN32
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

/// Longer than any path the system accepts: the cut that guards against a damaged text file, never a real path's.
inline constexpr std::size_t kMaxPathBytes = 4096;

/// The most of a text file that is read; the program's own are a few hundred bytes.
inline constexpr std::size_t kMaxTextFileBytes = 1 << 20;

/// The lines of a small text file without their line ends (LF or CR LF), at most `maxLines` of them, each cut
/// to `maxLineBytes` without splitting a UTF-8 sequence. A final line without a line end counts. Nothing when
/// the file cannot be opened or is not a regular file.
std::optional<std::vector<std::string>> readTextLines(const std::filesystem::path& path, std::size_t maxLines,
                                                      std::size_t maxLineBytes);

/// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string truncateUtf8(std::string text, std::size_t maxBytes);

}  // namespace zoomreel
