#pragma once

// Two distinguishable versions of every settings file, saved by the crash child in a loop and by the tests as the
// references the survivors must match byte for byte.

#include <filesystem>
#include <string>

#include "platform/status.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/recent_folders.h"
#include "settings/render_settings.h"
#include "settings/video_parameters.h"

namespace zoomreel::test {

/// Saves every settings file into `folder` with contents that depend on `version` (0 or 1); the first failure is
/// returned. Version 1 makes the variable-length files longer, so that a torn write cannot pass for either.
inline Status saveAllSettings(const std::filesystem::path& folder, int version) {
    Status first;
    auto keep = [&](Status s) { if (first.ok && !s.ok) first = s; };
    KeyPointCurve curve;
    for (int i = 0; i < 4 + 40 * version; ++i) insertPoint(curve, float(i), float(1.0 + version + i * 0.5));
    keep(saveCurve(folder / "speed.qvs", curve));
    keep(saveCurve(folder / "colordiv.qvs", curve));

    Palette palette;
    palette.usePalette = version;
    palette.colorSensitivity = 1.0 + version;
    for (int i = 0; i < 3 + 50 * version; ++i) {
        ColorPoint point;
        point.position = i * 10;
        point.red = static_cast<std::uint8_t>(i * 7 + version);
        palette.points.push_back(point);
    }
    keep(savePalette(folder / kPaletteFileName, palette));

    ReliefSettings relief;
    relief.active = version;
    relief.power = 100.0 + version;
    keep(saveRelief(folder / kReliefFileName, relief));
    Projection3DSettings projection;
    projection.zScale = 70.0 + version;
    keep(save3D(folder / k3DFileName, projection));
    keep(saveSubtractMinimum(folder / kSubtractMinimumFileName, SubtractMinimumSettings{0, 30 + version}));

    VideoParameters video;
    video.fps = 25 + version;
    video.fontName = version == 0 ? "Sans" : std::string(kMaxFontNameBytes, 'x');
    video.videoBrowser = version == 0 ? "" : "/usr/bin/player --with --several --arguments";
    keep(SaveVideoParameters(folder, video));

    // The list is built in memory and written once, so that each version is one fixed file.
    RecentFolders recent;
    const int count = version == 0 ? 2 : kMaxRecentFolders;
    for (int i = 0; i + 1 < count; ++i) {
        recent.entries.push_back("/zoom/folder-" + std::to_string(i) + "-" + std::to_string(version));
    }
    keep(addRecentFolder(recent, "/zoom/last-" + std::to_string(version), folder));
    return first;
}

/// The names `saveAllSettings` writes.
inline const char* const kAllSettingsFiles[] = {"speed.qvs", "colordiv.qvs", kPaletteFileName,
                                                kReliefFileName, k3DFileName, kSubtractMinimumFileName,
                                                kVideoFormatFileName, kVideoBrowserFileName,
                                                kRecentFoldersFileName};

}  // namespace zoomreel::test
