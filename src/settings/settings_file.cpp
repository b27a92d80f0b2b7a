#include "settings/settings_file.h"

#include <algorithm>
#include <cstdint>

#include "platform/file_reader.h"

namespace zoomreel {

std::filesystem::path settingsFilePath(const KeyframeList& list, std::string_view fileName) {
    return list.folder / std::filesystem::path(fileName);
}

}  // namespace zoomreel
