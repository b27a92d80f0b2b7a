#include "keyframes/keyframe_list.h"

#include <algorithm>
#include <cctype>

#include "platform/atomic_file.h"

namespace zoomreel {

std::filesystem::path keyframeFilePath(const KeyframeList& list, int k) { return list.folder / list.names.at(k); }

std::vector<std::string> listFilesWithExtension(const std::filesystem::path& folder, const std::string& extension) {
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    };
    const std::string wanted = lower(extension);
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::filesystem::path& path = it->path();
        if (lower(path.extension().string()) == wanted) names.push_back(path.filename().string());
    }
    // Listings come in no particular order here; a keyframe's index is its place in name order.
    std::sort(names.begin(), names.end());
    return names;
}

Status scanKeyframes(KeyframeList& list) {
    list.names = listFilesWithExtension(list.folder, ".qvy");
    list.loaded = false;
    list.summaries.clear();
    if (list.names.empty()) return {};
    return loadKeyframes(list);
}

Status loadKeyframes(KeyframeList& list) {
    std::vector<KeyframeSummary> summaries(list.names.size());
    KeyframeLayout first;
    for (int k = 0; k < list.keyframeCount(); ++k) {
        KeyframeLayout layout;
        Status status = readKeyframeSummary(keyframeFilePath(list, k), summaries[k], layout);
        if (status && k == 0) first = layout;
        if (status && !(layout == first)) {
            status = Status::failure("The keyframe file " + quotedPath(keyframeFilePath(list, k)) +
                                     " does not match the first keyframe (size, colors or preview size differ).");
        }
        if (!status) {
            closeFolder(list);
            return status;
        }
    }
    list.summaries = std::move(summaries);
    list.layout = first;
    list.width = first.width;
    list.height = first.height;
    list.loaded = true;
    return {};
}

void scanMaps(KeyframeList& list) { list.qvbNames = listFilesWithExtension(list.folder, ".qvb"); }

void closeFolder(KeyframeList& list) {
    if (list.names.empty()) return;
    list.names.clear();
    list.summaries.clear();
    list.loaded = false;
    list.layout = {};
    list.width = 0;
    list.height = 0;
    list.selectionStart = -1;
    list.selectionEnd = -1;
}

}  // namespace zoomreel
