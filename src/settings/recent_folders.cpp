#include "settings/recent_folders.h"

#include <algorithm>

#include "platform/atomic_file.h"
#include "settings/settings_file.h"

namespace zoomreel {

RecentFolders loadRecentFolders(const std::filesystem::path& directory) {
    RecentFolders recent;
    // Empty lines are read past rather than counted, so a stray blank line costs no entry.
    const auto lines = readTextLines(directory / kRecentFoldersFileName, 1000, kMaxPathBytes);
    if (!lines) return recent;
    for (const std::string& line : *lines) {
        if (line.empty()) continue;
        recent.entries.push_back(line);
        if (static_cast<int>(recent.entries.size()) == kMaxRecentFolders) break;
    }
    return recent;
}

Status addRecentFolder(RecentFolders& recent, const std::string& folder, const std::filesystem::path& directory) {
    // A path with a line break in it could not be read back as one entry; such a folder is not listed.
    if (folder.empty() || folder.find_first_of("\r\n") != std::string::npos) return {};
    if (std::find(recent.entries.begin(), recent.entries.end(), folder) != recent.entries.end()) return {};
    if (static_cast<int>(recent.entries.size()) >= kMaxRecentFolders) {
        recent.entries.erase(recent.entries.begin(), recent.entries.end() - (kMaxRecentFolders - 1));
    }
    recent.entries.push_back(folder);

    std::string text;
    for (const std::string& entry : recent.entries) {
        text += entry;
        text += kLineEnd;
    }
    AtomicFileWriter out(directory / kRecentFoldersFileName);
    out.write(text.data(), text.size());
    return out.commit();
}

}  // namespace zoomreel
