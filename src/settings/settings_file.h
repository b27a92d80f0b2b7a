#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "platform/file_reader.h"

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

}  // namespace zoomreel
