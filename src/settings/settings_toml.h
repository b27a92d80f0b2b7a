#pragma once

// The settings of a folder as TOML text: printed for `zoomreel-cli show`, read back for `set` and `import`.
// Every number is printed so that it reads back bit for bit, so a setup copied through the text is the same setup.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "keyframes/keyframe_list.h"
#include "platform/status.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/render_settings.h"
#include "settings/video_parameters.h"

namespace zoomreel {

/// The settings files of a folder: the seven curves (in `CurveKind` order), then the four records.
enum class SettingsFile { Palette = kCurveKindCount, Relief, Projection3D, SubtractMinimum };
inline constexpr int kSettingsFileCount = kCurveKindCount + 4;

/// Everything a folder's settings files hold, read as the movie reads them, except that an empty curve stays
/// empty: the default it gets in a movie is `colorDivisorDefault` or `curveDefault`'s.
struct FolderSettings {
    CurveSet curves;
    std::array<bool, kSettingsFileCount> present{};  ///< which files were there
    float colorDivisorDefault = kColorDivisorFallback;
    bool keyframesLoaded = false;  ///< whether `colorDivisorDefault` is keyframe 0's divisor
    Palette palette;
    ReliefSettings relief;
    Projection3DSettings projection;
    SubtractMinimumSettings subtraction;
};

/// Which files a change rewrites.
using SettingsFileSet = std::array<bool, kSettingsFileCount>;

/// Reads the settings files of `list.folder`; a missing file leaves the compiled-in defaults. The colour divisor's
/// default comes from the keyframes when `list` has them loaded.
FolderSettings loadFolderSettings(const KeyframeList& list);

/// The whole setup as TOML, each section after a comment that names its file; `applySettingsToml` accepts it as
/// it stands and gives back the same values bit for bit.
std::string settingsToToml(const FolderSettings& settings);

/// The `[curves]` section with only the curves `kinds`, in that order, as `settingsToToml` prints them.
std::string curvesToToml(const FolderSettings& settings, std::span<const CurveKind> kinds);

/// Applies every setting a TOML document names to `settings` and marks their files in `changed`. Every value is
/// checked first; at the first that is wrong the result is a one-line message naming its key (after `sourceName`
/// and the line), and `settings` and `changed` stay as they were.
Status applySettingsToml(std::string_view text, std::string_view sourceName, FolderSettings& settings,
                         SettingsFileSet& changed);

/// Applies one `KEY=VALUE` of the command line: KEY a dotted key of the TOML form ("3d.zScale", or a whole
/// section such as "relief" with an inline table), VALUE in TOML syntax. Checked as `applySettingsToml` does.
Status applySettingAssignment(std::string_view assignment, FolderSettings& settings, SettingsFileSet& changed);

/// Writes the files marked in `changed` through the savers of their records, stopping at the first failure.
Status saveFolderSettings(const KeyframeList& list, const FolderSettings& settings, const SettingsFileSet& changed);

/// The angle in degrees that `projectionAngleFromDegrees` turns back into `radians` bit for bit, as TOML text.
std::string projectionAngleInDegrees(double radians);

/// The stored angle for an angle in degrees: `degrees` · π / 180 in double precision, as the 3D dialog computes
/// it; when `text` (the number as written) carries more significant digits than a double holds, as
/// `projectionAngleInDegrees` writes where no double gives the stored angle back, the digits are converted in
/// extended precision instead.
double projectionAngleFromDegrees(double degrees, std::string_view text);

/// The program's own settings of the movie files (container, soundtrack and its start) as "zoomreel.toml" holds
/// them, in a [movie] table.
std::string movieFileSettingsToToml(const VideoParameters& video);

/// Reads them back from `text`: a setting that is missing, not of its kind or out of its range (an unknown
/// container, a negative start) leaves its field as it is, as the other video parameters are read.
void applyMovieFileSettingsToml(std::string_view text, VideoParameters& video);

}  // namespace zoomreel
