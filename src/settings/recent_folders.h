#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/status.h"

namespace zoomreel {

inline constexpr char kRecentFoldersFileName[] = "zor.fld";
inline constexpr int kMaxRecentFolders = 10;
/// What the desktop program shows, in a box captioned "ZOR", when the list cannot be written.
inline constexpr char kRecentFoldersWriteError[] = "Error opening zor.fld";

/// The folders opened lately, oldest first, kept in "zor.fld" in the working directory.
struct RecentFolders {
    std::vector<std::string> entries;
};

/// Up to 10 folders from "zor.fld" in `directory`, one per line; empty lines are skipped. No file, no folders.
RecentFolders loadRecentFolders(const std::filesystem::path& directory);

/// Adds `folder` as the newest entry unless an entry is byte for byte the same, dropping the oldest when the
/// list is full, and rewrites "zor.fld" through a temporary file and a rename. When the file cannot be written
/// the list keeps the new entry, the old file stays, and the failure says why.
Status addRecentFolder(RecentFolders& recent, const std::string& folder, const std::filesystem::path& directory);

}  // namespace zoomreel
