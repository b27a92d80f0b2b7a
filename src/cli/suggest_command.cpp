// zoomreel-cli suggest: a speed curve and a colour divisor curve for a selection, from its keyframes' measures,
// printed as TOML in the form of "show" and, with --apply, written as "set" writes.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/arguments.h"
#include "cli/cli_commands.h"
#include "cli/command_support.h"
#include "keyframes/curve_suggestion.h"
#include "keyframes/keyframe_measures.h"
#include "output/movie_driver.h"
#include "settings/settings_toml.h"
#include "settings/video_parameters.h"

namespace zoomreel::cli {
namespace {

/// "mm:ss.hh" of n frames, the hundredths truncated, as the speed editor shows durations.
std::string durationText(int frames, int fps) {
    const double seconds = static_cast<double>(frames) / fps;
    const int whole = static_cast<int>(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d.%02d", whole / 60, whole % 60,
                  static_cast<int>((seconds - whole) * 100));
    return text;
}

void require(const Status& status) {
    if (!status) throw InputError{status.message};
}

}  // namespace

int runSuggest(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {"--from", "--to", "--duration", "--frames"}, {"--apply"});
        if (parsed.positional.size() != 1) throw UsageError{"The command \"suggest\" takes one folder."};
        const auto duration = option(parsed, "--duration");
        const auto frameOption = option(parsed, "--frames");
        if (duration && frameOption) throw UsageError{"Give --duration MM:SS or --frames N, not both."};
        const KeyframeList list = readSelection(parsed, "suggest");
        const int start = list.selectionStart;
        const int end = list.selectionEnd;
        require(checkSuggestionSelection(start, end));

        VideoParameters video;
        LoadVideoParameters(std::filesystem::current_path(), video);
        if (video.fps < 1) {
            throw InputError{"The frames per second of \"VFS.qvs\" must be at least 1, not " +
                             std::to_string(video.fps) + "."};
        }
        const WalkLimits limits{start, end, list.keyframeCount(), false};
        auto countFrames = [&](const KeyPointCurve& speed) { return countMovieFrames(speed, limits); };
        SpeedRequest request;
        request.selectionStart = start;
        request.selectionEnd = end;
        request.speed = movieSpeedCurve(list, false);
        if (duration) {
            const auto seconds = parseDuration(*duration);
            if (!seconds) throw InputError{"Cannot read a duration MM:SS from \"" + *duration + "\"."};
            request.frames = framesOfDuration(*seconds, video.fps);
        } else if (frameOption) {
            request.frames = parseInt(*frameOption, "the number of frames");
            if (request.frames < 0) throw InputError{"The number of frames cannot be negative."};
        } else {
            request.frames = countFrames(request.speed);  // as many as the selection has today
        }

        require(checkSpeedFrames(request, countFrames));  // before the keyframes are read

        const MeasuresOutcome measures = keyframeMeasures(list, start, end);
        require(measures.status);
        if (!measures.kept) std::fprintf(stderr, "The measures are not kept: %s\n", measures.kept.message.c_str());

        FolderSettings settings = loadFolderSettings(list);
        KeyPointCurve divisor = settings.curves.colorDivisorCurve;
        if (divisor.empty()) insertPoint(divisor, 0.0f, settings.colorDivisorDefault);
        const CurveSuggestion colours = suggestColorDivisor(measures.measures, start, end, divisor);
        require(colours.status);
        // The speed follows the detail of the colours the suggested divisor gives.
        request.colorDivisor = colours.curve;
        request.colorSensitivity = settings.palette.colorSensitivity;
        const CurveSuggestion speed = suggestSpeed(measures.measures, request, countFrames);
        require(speed.status);

        FolderSettings suggested = settings;
        suggested.curves.speedCurve = speed.curve;
        suggested.curves.colorDivisorCurve = colours.curve;
        const CurveKind kinds[] = {CurveKind::Speed, CurveKind::ColorDivisor};
        const std::string text = "# Suggested for keyframes " + std::to_string(start) + " to " + std::to_string(end) +
                                 ": " + std::to_string(speed.frames) + " frames, " +
                                 durationText(speed.frames, video.fps) + " at " + std::to_string(video.fps) +
                                 " frames per second.\n" + curvesToToml(suggested, kinds);
        if (flag(parsed, "--apply")) {
            // Through the text, with every check of "import", so that what is written is what was printed.
            SettingsFileSet changed{};
            require(applySettingsToml(text, "the suggestion", settings, changed));
            require(saveFolderSettings(list, settings, changed));
        }
        std::fputs(text.c_str(), stdout);
        return kExitOk;
    });
}

}  // namespace zoomreel::cli
