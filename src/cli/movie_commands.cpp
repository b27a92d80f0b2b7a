// The movie commands of zoomreel-cli: render, frame and codecs.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/arguments.h"
#include "cli/cli_commands.h"
#include "cli/command_support.h"
#include "keyframes/keyframe_list.h"
#include "output/avi_writer.h"
#include "output/movie_driver.h"
#include "render/frame_renderer.h"
#include "settings/video_parameters.h"

namespace zoomreel::cli {
namespace {

const std::vector<std::string> kMovieOptions = {"--from",  "--to",      "--width",   "--height3d",
                                                "--fps",   "--frames-per-movie",   "--codec",
                                                "--quality", "--keyframe-interval", "--at", "--out",
                                                "--container", "--audio", "--audio-start"};
const std::vector<std::string> kMovieFlags = {"--zoom-text", "--no-zoom-text", "--keyframe-by-keyframe",
                                              "--flip-horizontal", "--flip-vertical", "--resume"};

/// What the command line asks of a movie or a frame.
struct MovieSetup {
    KeyframeList list;
    MovieRequest request;
    CompressorChoice codec;  ///< the answer to the compressor dialog
};

MovieSetup readMovieSetup(const Parsed& parsed, const char* command) {
    MovieSetup setup;
    setup.list = readSelection(parsed, command);

    // The video parameters of the working directory, with this run's overrides; nothing is saved.
    VideoParameters& video = setup.request.video;
    LoadVideoParameters(std::filesystem::current_path(), video);
    auto bounded = [&](const char* name, const char* what, int low, int high, std::int32_t& field) {
        if (auto v = option(parsed, name)) {
            const int value = parseInt(*v, what);
            if (value < low || value > high) {
                throw InputError{std::string("The ") + what + " must be between " + std::to_string(low) + " and " +
                                 std::to_string(high) + ", not " + std::to_string(value) + "."};
            }
            field = value;
        }
    };
    bounded("--width", "frame width", 1, kMaxFrameSide, video.finalWidth);
    bounded("--height3d", "3D frame height", 1, kMaxFrameSide, video.height3D);
    bounded("--fps", "frame rate", 1, 1000, video.fps);
    if (auto v = option(parsed, "--frames-per-movie")) video.framesPerMovie = parseInt(*v, "the frames per movie");
    if (flag(parsed, "--zoom-text")) video.showZoomText = 1;
    if (flag(parsed, "--no-zoom-text")) video.showZoomText = 0;

    readMovieFileOptions(parsed, video);
    setup.codec.compressor = defaultCompressorFor(video.container);
    if (auto v = option(parsed, "--codec")) {
        const std::optional<FourCC> code = findCompressor(*v);
        if (!code) throw InputError{"Unknown codec \"" + *v + "\". Run \"zoomreel-cli codecs\" for the list."};
        setup.codec.compressor = *code;
    }
    // A codec the container cannot hold is told at once; the frame size is checked when it is known.
    if (Status fits = checkMovieFormat(video.container, setup.codec.compressor, 0, 0); !fits) {
        throw InputError{fits.message};
    }
    std::int32_t quality = setup.codec.quality / 100;
    bounded("--quality", "quality", 0, 100, quality);
    setup.codec.quality = quality * 100;
    bounded("--keyframe-interval", "key-frame interval", 0, 1 << 30, setup.codec.keyFrameEvery);

    setup.request.keyframes = &setup.list;
    setup.request.keyframeByKeyframe = flag(parsed, "--keyframe-by-keyframe");
    setup.request.flipHorizontal = flag(parsed, "--flip-horizontal");
    setup.request.flipVertical = flag(parsed, "--flip-vertical");
    return setup;
}

/// "[#######.............]  12/100 frames  0:42 left" on one terminal line. `done` counts the frames of the whole
/// movie, `madeNow` those this run made in `elapsedSeconds`, from which the time left is told.
void drawProgress(int done, int total, int madeNow, double elapsedSeconds) {
    constexpr int kBar = 30;
    const int filled = total > 0 ? std::min(kBar, static_cast<int>(std::int64_t{done} * kBar / total)) : kBar;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBar - filled), '.');
    const double left = madeNow > 0 ? elapsedSeconds / madeNow * std::max(0, total - done) : 0.0;
    const auto seconds = static_cast<long long>(left + 0.5);
    std::fprintf(stderr, "\r[%s] %d/%d frames  %lld:%02lld left ", bar.c_str(), done, total, seconds / 60,
                 seconds % 60);
}

MovieCallbacks commandLineCallbacks(const MovieSetup& setup) {
    MovieCallbacks callbacks;
    const CompressorChoice codec = setup.codec;
    callbacks.chooseCompressor = [codec](const CompressorRequest&) { return std::optional<CompressorChoice>(codec); };
    callbacks.showMessage = [](MessageIcon, const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    return callbacks;
}

}  // namespace

int runRender(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, kMovieOptions, kMovieFlags);
        if (option(parsed, "--at") || option(parsed, "--out")) {
            throw UsageError{"The options --at and --out belong to the command \"frame\"."};
        }
        MovieSetup setup = readMovieSetup(parsed, "render");
        setup.request.keyframes = &setup.list;
        const WalkLimits limits{setup.list.selectionStart, setup.list.selectionEnd, setup.list.keyframeCount(),
                                setup.request.keyframeByKeyframe};
        const int total = countMovieFrames(movieSpeedCurve(setup.list, limits.keyframeByKeyframe), limits);

        if (flag(parsed, "--resume")) {
            // The same movie, or nothing: every file stays as it is when it cannot go on.
            StoppedMovie stopped = findStoppedMovie(setup.request, setup.request.video, &setup.codec);
            if (stopped.state == StoppedMovie::State::None) throw InputError{stopped.message};
            if (stopped.state != StoppedMovie::State::Found) {
                throw InputError{stopped.message +
                                 " Nothing was changed; render without --resume to make the movie from its first "
                                 "frame."};
            }
            setup.request.resume = std::move(stopped.record);
        }

        MovieDriver driver;
        MovieCallbacks callbacks = commandLineCallbacks(setup);
        const bool terminal = stderrIsTerminal();
        const auto started = std::chrono::steady_clock::now();
        if (terminal) {
            callbacks.frameDone = [&](const MovieProgress& progress, const Raster&) {
                const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
                drawProgress(progress.framesBefore + progress.framesComputed, total, progress.framesComputed,
                             elapsed.count());
            };
        }
        MovieOutcome outcome;
        {
            const InterruptAsAbort interrupt(driver.abortRequested);
            outcome = MovieThread(driver, setup.request, callbacks);
        }
        if (terminal && outcome.framesComputed > 0) std::fputc('\n', stderr);
        for (const auto& file : outcome.files) std::printf("%s\n", file.string().c_str());
        if (!outcome.status) return kExitFailure;  // the message is already shown
        if (outcome.aborted) {
            std::fprintf(stderr, "%s after %d frames written into %zu movie files.\n",
                         InterruptAsAbort::interrupted() ? "Interrupted" : "Aborted", outcome.framesWritten, outcome.files.size());
            return kExitInterrupted;
        }
        return kExitOk;
    });
}

int runFrame(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, kMovieOptions, kMovieFlags);
        const auto at = option(parsed, "--at");
        const auto out = option(parsed, "--out");
        if (!at || !out) throw UsageError{"The command \"frame\" needs --at X and --out FILE.png."};
        if (flag(parsed, "--resume")) throw UsageError{"The option --resume belongs to the command \"render\"."};
        MovieSetup setup = readMovieSetup(parsed, "frame");
        setup.request.keyframes = &setup.list;
        const float target = parseFloat(*at, "the frame position");
        if (!(target >= static_cast<float>(setup.list.selectionStart) &&
              target <= static_cast<float>(setup.list.selectionEnd))) {
            throw InputError{"Frame must be in selection!"};
        }
        MovieDriver driver;
        driver.singleFrameTarget = target;
        MovieCallbacks callbacks = commandLineCallbacks(setup);
        Raster shown;
        float position = -1;
        callbacks.frameDone = [&](const MovieProgress& progress, const Raster& image) {
            shown = image;
            position = progress.h;
        };
        const MovieOutcome outcome = MovieThread(driver, setup.request, callbacks);
        if (!outcome.status) return kExitFailure;
        if (shown.empty()) {
            throw InputError{"No frame of the movie lies above " + *at + " in the selection " +
                             std::to_string(setup.list.selectionStart) + " to " +
                             std::to_string(setup.list.selectionEnd) + "."};
        }
        if (Status written = writePng(shown, *out); !written) throw InputError{written.message};
        std::printf("%.6f\n", static_cast<double>(position));
        return kExitOk;
    });
}

int runCodecs(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {});
        if (!parsed.positional.empty()) throw UsageError{"The command \"codecs\" takes no arguments."};
        for (const CompressorInfo& info : availableCompressors()) {
            std::string containers;
            for (const MovieContainer container : info.containers) {
                containers += (containers.empty() ? "" : " ") + std::string(containerName(container));
            }
            const std::string code = info.code == kUncompressed ? "raw" : fourCCText(info.code);
            std::printf("%-4s  %-34s  %s\n", code.c_str(), info.description.c_str(), containers.c_str());
        }
        return kExitOk;
    });
}

}  // namespace zoomreel::cli
