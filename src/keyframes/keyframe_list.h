#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "keyframes/keyframe_file.h"
#include "platform/status.h"

namespace zoomreel {

/// The opened folder as the program sees it: its keyframe files in ascending name order (a keyframe's index is
/// its place in that order), their summaries once loaded, the map size, the user's selection and the folder's
/// QVB maps while a conversion is pending. One instance, owned by the front end.
struct KeyframeList {
    std::filesystem::path folder;
    std::vector<std::string> names;       ///< keyframe file names; during a conversion, the names being written
    bool loaded = false;                  ///< summaries of every keyframe in place
    std::vector<KeyframeSummary> summaries;
    KeyframeLayout layout;                ///< of keyframe 0, shared by the whole folder once loaded
    int width = 0;
    int height = 0;
    int selectionStart = -1;
    int selectionEnd = -1;
    int propertiesKeyframe = 0;
    std::vector<std::string> qvbNames;    ///< the folder's maps, for the conversion

    int keyframeCount() const { return static_cast<int>(names.size()); }
    int qvbCount() const { return static_cast<int>(qvbNames.size()); }
};

/// The folder path and keyframe name k.
std::filesystem::path keyframeFilePath(const KeyframeList& list, int k);

/// Names of the regular files in `folder` whose extension is `extension` (compared without regard to case, as
/// the listing of the maps' home platform does), in ascending byte order of name. A missing or unreadable folder
/// gives none.
std::vector<std::string> listFilesWithExtension(const std::filesystem::path& folder, const std::string& extension);

/// Lists the folder's ".qvy" files into `names` (count 0 when there are none) and, when there are any, loads them.
Status scanKeyframes(KeyframeList& list);

/// Reads every keyframe's summary and thumbnail. Every file must be complete and share keyframe 0's layout; at
/// the first that is not, the folder is closed (no keyframes) and the message names that file.
Status loadKeyframes(KeyframeList& list);

/// Lists the folder's ".qvb" maps into `qvbNames`.
void scanMaps(KeyframeList& list);

/// Forgets the keyframes: no names or summaries, size 0 x 0, no selection. Does nothing without keyframes. The
/// folder path stays.
void closeFolder(KeyframeList& list);

}  // namespace zoomreel
