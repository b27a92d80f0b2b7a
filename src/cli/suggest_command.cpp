// zoomreel-cli suggest: a speed curve and a colour divisor curve for a selection, from its keyframes' measures,
// printed as TOML in the form of "show" and, with --apply, written as "set" writes.
#include <cmath>
#include <cstdio>
#include <span>
#include <filesystem>
#include <string>

#include "cli/arguments.h"
#include "cli/cli_commands.h"
#include "cli/command_support.h"
#include "settings/curve_suggestion.h"
#include "keyframes/keyframe_measures.h"
#include "output/beat_fit.h"
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

/// Prints the suggested curves of `kinds` with a first comment line and, with --apply, writes them.
void finish(const Parsed& parsed, const KeyframeList& list, FolderSettings& settings, const FolderSettings& suggested,
            std::span<const CurveKind> kinds, const std::string& comment) {
    const std::string text = comment + "\n" + curvesToToml(suggested, kinds);
    if (flag(parsed, "--apply")) {
        // Through the text, with every check of "import", so that what is written is what was printed.
        SettingsFileSet changed{};
        require(applySettingsToml(text, "the suggestion", settings, changed));
        require(saveFolderSettings(list, settings, changed));
    }
    std::fputs(text.c_str(), stdout);
}

/// suggest --audio: the speed fitted to the beats, or the colour rotation pulsing with them.
int suggestFromBeats(const Parsed& parsed) {
    const auto perKeyframe = option(parsed, "--beats-per-keyframe");
    const auto pulse = option(parsed, "--colour-pulse");
    if (perKeyframe.has_value() == pulse.has_value()) {
        throw UsageError{"With --audio give either --beats-per-keyframe N|auto or --colour-pulse AMOUNT."};
    }
    if (option(parsed, "--duration") || option(parsed, "--frames")) {
        throw UsageError{"--duration and --frames do not go with --audio: the beats decide the duration."};
    }
    int beatsEach = 0;  // 0: auto
    if (perKeyframe && *perKeyframe != "auto") {
        beatsEach = parseInt(*perKeyframe, "the beats per keyframe");
        if (beatsEach < 1) throw InputError{"The beats per keyframe must be at least 1 (or auto)."};
    }
    const double amount = pulse ? parseFloat(*pulse, "the colour pulse") : 0.0;
    if (pulse && !std::isfinite(amount)) throw InputError{"The colour pulse must be a number."};

    const KeyframeList list = readSelection(parsed, "suggest");
    const int start = list.selectionStart;
    const int end = list.selectionEnd;
    require(checkSuggestionSelection(start, end));
    const auto directory = std::filesystem::current_path();
    VideoParameters video;
    LoadVideoParameters(directory, video);
    if (video.fps < 1) throw InputError{"The frames per second of \"VFS.qvs\" must be at least 1."};
    BeatAnalysis analysis;
    require(soundtrackBeats(*option(parsed, "--audio"), directory, analysis));
    // The movie begins where the video parameters start it in the soundtrack.
    const double audioStart = video.soundtrackStart;

    FolderSettings settings = loadFolderSettings(list);
    FolderSettings suggested = settings;
    const WalkLimits limits{start, end, list.keyframeCount(), false};
    const KeyPointCurve speed = movieSpeedCurve(list, false);
    char comment[160];
    if (pulse) {
        KeyPointCurve rotation = settings.curves.colorRotateCurve;
        const BeatTimeline timeline(speed, limits, video.fps);
        const CurveSuggestion colours = colourPulse(rotation, timeline, analysis, audioStart, amount, start, end);
        require(colours.status);
        suggested.curves.colorRotateCurve = colours.curve;
        std::snprintf(comment, sizeof comment, "# Colour pulse for keyframes %d to %d at %.1f beats per minute.",
                      start, end, analysis.tempo);
        const CurveKind kinds[] = {CurveKind::ColorRotate};
        finish(parsed, list, settings, suggested, kinds, comment);
        return kExitOk;
    }

    BeatFitRequest request;
    request.limits = limits;
    request.fps = video.fps;
    request.speed = speed;
    request.beats = beatsFrom(analysis, audioStart);
    if (beatsEach > 0) {
        request.beatsPerKeyframe.assign(static_cast<std::size_t>(end - start), beatsEach);
    } else {
        const MeasuresOutcome measures = keyframeMeasures(list, start, end);
        require(measures.status);
        SpeedRequest detail;
        detail.selectionStart = start;
        detail.selectionEnd = end;
        detail.speed = speed;
        detail.colorDivisor = settings.curves.colorDivisorCurve;
        if (detail.colorDivisor.empty()) insertPoint(detail.colorDivisor, 0.0f, settings.colorDivisorDefault);
        detail.colorSensitivity = settings.palette.colorSensitivity;
        require(beatsFollowingKeyframes(measures.measures, detail,
                                        [&](const KeyPointCurve& c) { return countMovieFrames(c, limits); },
                                        request.beats, video.fps, request.beatsPerKeyframe));
    }
    const CurveSuggestion fit = fitSpeedToBeats(request);
    require(fit.status);
    suggested.curves.speedCurve = fit.curve;
    std::snprintf(comment, sizeof comment, "# Fitted to %.1f beats per minute for keyframes %d to %d: %d frames, %s at %d frames per second.",
                  analysis.tempo, start, end, fit.frames, durationText(fit.frames, video.fps).c_str(), video.fps);
    const CurveKind kinds[] = {CurveKind::Speed};
    finish(parsed, list, settings, suggested, kinds, comment);
    return kExitOk;
}

}  // namespace

int runSuggest(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {"--from", "--to", "--duration", "--frames", "--audio",
                                           "--beats-per-keyframe", "--colour-pulse"}, {"--apply"});
        if (parsed.positional.size() != 1) throw UsageError{"The command \"suggest\" takes one folder."};
        if (option(parsed, "--audio")) return suggestFromBeats(parsed);
        if (option(parsed, "--beats-per-keyframe") || option(parsed, "--colour-pulse")) {
            throw UsageError{"--beats-per-keyframe and --colour-pulse need --audio FILE."};
        }
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
        finish(parsed, list, settings, suggested, kinds,
               "# Suggested for keyframes " + std::to_string(start) + " to " + std::to_string(end) + ": " +
                   std::to_string(speed.frames) + " frames, " + durationText(speed.frames, video.fps) + " at " +
                   std::to_string(video.fps) + " frames per second.");
        return kExitOk;
    });
}

}  // namespace zoomreel::cli
