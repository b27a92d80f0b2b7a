#include "output/movie_driver.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#include "platform/atomic_file.h"
#include "settings/settings_file.h"

namespace zoomreel {
namespace {

constexpr float kMakeMovie = -1.0f;

FrameTimings timingsOf(const PhaseClock& clock, bool projection) {
    const auto& t = clock.t;
    FrameTimings timings;
    timings.frame2D = (t[1] - t[0]) / 1000.0;
    if (projection) {
        timings.heightField = (t[2] - t[1]) / 1000.0;
        timings.smoothing = (t[3] - t[2]) / 1000.0;
        timings.shadows = (t[4] - t[3]) / 1000.0;
        timings.projection = (t[5] - t[4]) / 1000.0;
    }
    return timings;
}

/// The frame height of the 2D frame: the keyframes' aspect at the final width, truncated. Sizes the renderer
/// refuses anyway are kept from overflowing here.
int finalHeightFor(const KeyframeList& list, int finalWidth) {
    if (list.width <= 0) return 0;
    const long long height = static_cast<long long>(list.height) * finalWidth / list.width;
    return height > std::numeric_limits<int>::max() || height < 0 ? 0 : static_cast<int>(height);
}

}  // namespace

WalkEnd walkMovieAfter(const KeyPointCurve& speed, const WalkLimits& limits,
                       const std::atomic<std::int32_t>* abortRequested, const WalkStep* after,
                       const std::function<bool(const WalkStep& step)>& step) {
    const auto& p = speed.points;
    const int n = speed.count();
    if (n == 0) return WalkEnd::Completed;
    if (after != nullptr && (after->segment < 0 || after->segment >= n)) return WalkEnd::Completed;
    const auto start = static_cast<float>(limits.selectionStart);
    const auto end = static_cast<float>(limits.selectionEnd);
    const auto last = static_cast<float>(limits.keyframeCount - 1);
    float h = after != nullptr ? after->h : p[0].x;
    bool done = after != nullptr;  // the step at h was made already: only its advance is left
    for (int i = after != nullptr ? after->segment : 0; i < n; ++i) {
        const float xs = p[i].x;
        const float ys = p[i].y;
        const bool lastSegment = i + 1 == n;
        const float xe = lastSegment ? end : p[i + 1].x;
        const float ye = lastSegment ? ys : p[i + 1].y;
        const float lnStart = std::log(loggable(ys));
        const float lnEnd = std::log(loggable(ye));
        while (h < xe || done) {
            float g = 1.0f;
            if (!limits.keyframeByKeyframe) {
                g = lastSegment ? loggable(ys) : std::exp(lnStart + (lnEnd - lnStart) * (h - xs) / (xe - xs));
            }
            if (!done) {
                if (h > end || h >= last) return WalkEnd::Stopped;
                if (abortRequested != nullptr && abortRequested->load() != 0) return WalkEnd::Aborted;
                if (h > start && !step(WalkStep{i, h, g})) return WalkEnd::Ended;
            }
            done = false;
            const float next = h + 1.0f / g;
            if (!(next > h)) return WalkEnd::Stopped;
            h = next;
        }
    }
    return WalkEnd::Completed;
}

WalkEnd walkMovie(const KeyPointCurve& speed, const WalkLimits& limits, const std::atomic<std::int32_t>* abortRequested,
                  const std::function<bool(float h, float g)>& step) {
    return walkMovieAfter(speed, limits, abortRequested, nullptr,
                          [&](const WalkStep& s) { return step(s.h, s.g); });
}

KeyPointCurve movieSpeedCurve(const KeyframeList& list, bool keyframeByKeyframe) {
    KeyPointCurve speed;
    if (keyframeByKeyframe) {
        insertPoint(speed, 0.0f, 1.0f);
    } else {
        loadCurveWithDefault(settingsFilePath(list, "speed.qvs"), speed, kMovieSpeedDefault);
    }
    return speed;
}

int countMovieFrames(const KeyPointCurve& speed, const WalkLimits& limits) {
    int frames = 0;
    walkMovie(speed, limits, nullptr, [&](float, float) {
        ++frames;
        return true;
    });
    return frames;
}

std::string movieFileName(int selectionStart, int selectionEnd, int fileIndex, MovieContainer container) {
    char name[64];
    std::snprintf(name, sizeof name, "film(%d-%d)%03d.%s", selectionStart, selectionEnd, fileIndex,
                  containerName(container));
    return name;
}

std::string movieResumeFileName(int selectionStart, int selectionEnd) {
    char name[64];
    std::snprintf(name, sizeof name, "film(%d-%d).resume", selectionStart, selectionEnd);
    return name;
}

std::string movieTitle(const std::filesystem::path& folder, float h, int selectionStart, int selectionEnd,
                       int fileIndex, int framesInFile, const FrameTimings& timings) {
    char position[96];
    std::snprintf(position, sizeof position, " - Frame: %4.3f - film(%d-%d)%03d-%03d", static_cast<double>(h),
                  selectionStart, selectionEnd, fileIndex, framesInFile);
    char clock[160];
    std::snprintf(clock, sizeof clock, " C(%4.2lfS) N(%4.2lfS) L(%4.2lfS) S(%4.2lf) A(%4.2lfS)", timings.frame2D,
                  timings.heightField, timings.smoothing, timings.shadows, timings.projection);
    return "Zoomreel - " + folder.string() + position + clock;
}

MovieDriver::~MovieDriver() {
    if (thread.joinable()) {
        AbortMovie(*this);
        thread.join();
    }
}

bool StartMovie(MovieDriver& driver, MovieRequest request, MovieCallbacks callbacks) {
    if (driver.running.load()) return false;
    if (driver.thread.joinable()) driver.thread.join();  // the previous run, already ended
    if (callbacks.setMenusRunning) callbacks.setMenusRunning(true);
    driver.abortRequested.store(0);
    driver.running.store(true);
    driver.thread = std::thread([&driver, request = std::move(request), callbacks = std::move(callbacks)] {
        MovieThread(driver, request, callbacks);
    });
    return true;
}

void WaitForMovie(MovieDriver& driver) {
    if (driver.thread.joinable()) driver.thread.join();
}

void loadMovieRun(const MovieRequest& request, const VideoParameters& video, MovieRun& run) {
    const KeyframeList& list = *request.keyframes;
    run.video = video;
    run.video.finalHeight = finalHeightFor(list, video.finalWidth);

    // The curves, palette and settings of the folder, read afresh for every run.
    CurveSet& curves = run.curves;
    auto folderFile = [&](std::string_view name) { return settingsFilePath(list, name); };
    curves.speedCurve = movieSpeedCurve(list, request.keyframeByKeyframe);
    loadCurveWithDefault(folderFile("colordiv.qvs"), curves.colorDivisorCurve, curveDefault(CurveKind::ColorDivisor, list));
    loadCurveWithDefault(folderFile("coloradd.qvs"), curves.colorAddCurve, 0.0f);
    loadCurveWithDefault(folderFile("colorrot.qvs"), curves.colorRotateCurve, 0.0f);
    loadCurveWithDefault(folderFile("EvEchZ3D.qvs"), curves.zScaleEvolution, 1.0f);
    loadCurveWithDefault(folderFile("EvMaxIter3D.qvs"), curves.maxIterEvolution, 1.0f);
    loadCurveWithDefault(folderFile("EvVertDec3D.qvs"), curves.vertShiftEvolution, 1.0f);

    run.palette = request.palette;
    run.colorTable = request.colorTable;
    loadPalette(folderFile(kPaletteFileName), run.palette);
    if (run.palette.usePalette) expandPalette(run.palette, run.colorTable);
    RenderSettings& settings = run.settings;
    settings = RenderSettings();
    settings.keyframes = &list;
    settings.colorTable = &run.colorTable;
    settings.usePalette = run.palette.usePalette != 0;
    settings.subtractMinimum = request.subtractMinimum;
    settings.relief = request.relief;
    settings.projection = request.projection;
    loadSubtractMinimum(folderFile(kSubtractMinimumFileName), settings.subtractMinimum);
    loadRelief(folderFile(kReliefFileName), settings.relief);
    load3D(folderFile(k3DFileName), settings.projection);
    settings.keyframeByKeyframe = request.keyframeByKeyframe;
    settings.flipHorizontal = request.flipHorizontal;
    settings.flipVertical = request.flipVertical;
    settings.finalWidth = run.video.finalWidth;
    settings.finalHeight = run.video.finalHeight;
    settings.height3D = run.video.height3D;
}

namespace {

std::string selectionText(int selectionStart, int selectionEnd) {
    return "keyframes " + std::to_string(selectionStart) + " to " + std::to_string(selectionEnd);
}

/// Whether the stopped movie `record` can go on as the run `run` over the selection of `list`.
StoppedMovie::State checkStoppedMovie(const MovieResume& record, const KeyframeList& list, const MovieRun& run,
                                      const CompressorChoice* codec, std::string& message) {
    using State = StoppedMovie::State;
    const int start = list.selectionStart;
    const int end = list.selectionEnd;
    const std::filesystem::path path = list.folder / movieResumeFileName(start, end);
    if (record.selectionStart != start || record.selectionEnd != end ||
        record.lastSegment >= run.curves.speedCurve.count() ||
        record.carried.visibleRowLast > run.settings.finalHeight ||
        record.carried.visibleRowFirst > run.settings.finalHeight) {
        message = "The record of the stopped movie " + quotedPath(path) + " does not fit this folder.";
        return State::Damaged;
    }
    std::vector<std::string> differ = fingerprintDifferences(
        record.fingerprint, movieFingerprint(run.curves, run.palette, run.colorTable, run.settings, run.video));
    if (codec != nullptr && (codec->compressor != record.compressor || codec->keyFrameEvery != record.keyFrameEvery ||
                             codec->quality / 100 != record.quality)) {
        differ.push_back("codec");
    }
    if (!differ.empty()) {
        std::string names;
        for (std::size_t i = 0; i < differ.size(); ++i) {
            names += (i == 0 ? "" : i + 1 == differ.size() ? " and " : ", ") + differ[i];
        }
        message = "The movie of " + selectionText(start, end) + " was stopped with other settings: " + names +
                  (differ.size() == 1 ? " differs." : " differ.");
        if (differ.back() == "codec") {
            const std::string code = record.compressor == kUncompressed ? "raw" : fourCCText(record.compressor);
            message += " It was made with " + code + ", a key frame every " + std::to_string(record.keyFrameEvery) +
                       " frames, quality " + std::to_string(record.quality) + ".";
        }
        return State::Differs;
    }
    for (int file = 1; file < record.nextFile; ++file) {
        const std::filesystem::path finished = list.folder / movieFileName(start, end, file, run.video.container);
        std::error_code error;
        if (!std::filesystem::is_regular_file(finished, error)) {
            message = "The finished file " + quotedPath(finished) + " of the stopped movie of " +
                      selectionText(start, end) + " is missing.";
            return State::FileMissing;
        }
    }
    return State::Found;
}

}  // namespace

StoppedMovie findStoppedMovie(const MovieRequest& request, const VideoParameters& video,
                              const CompressorChoice* codec) {
    StoppedMovie stopped;
    const KeyframeList& list = *request.keyframes;
    const std::filesystem::path path = list.folder / movieResumeFileName(list.selectionStart, list.selectionEnd);
    bool found = false;
    if (Status read = readMovieResume(path, stopped.record, &found); !read) {
        stopped.state = found ? StoppedMovie::State::Damaged : StoppedMovie::State::None;
        stopped.message = found ? read.message
                                : "There is no stopped movie of " +
                                      selectionText(list.selectionStart, list.selectionEnd) + " in " +
                                      quotedPath(list.folder) + ".";
        return stopped;
    }
    MovieRun run;
    loadMovieRun(request, video, run);
    stopped.state = checkStoppedMovie(stopped.record, list, run, codec, stopped.message);
    return stopped;
}

MovieOutcome MovieThread(MovieDriver& driver, const MovieRequest& request, const MovieCallbacks& callbacks) {
    MovieOutcome outcome;
    const KeyframeList& list = *request.keyframes;
    const bool movieMode = driver.singleFrameTarget.load() == kMakeMovie;
    const int selectionStart = list.selectionStart;
    const int selectionEnd = list.selectionEnd;
    auto say = [&](MessageIcon icon, const std::string& text) {
        if (callbacks.showMessage) callbacks.showMessage(icon, text);
    };

    MovieRun run;
    loadMovieRun(request, callbacks.videoParameters ? callbacks.videoParameters() : request.video, run);
    VideoParameters& video = run.video;
    const int finalWidth = video.finalWidth;
    CurveSet& curves = run.curves;
    RenderSettings& settings = run.settings;
    const bool projection = settings.projection.active != 0;
    const double colorSensitivity = run.palette.colorSensitivity;

    // A resumed movie starts where the frames before its next file left the colour rotation and the renderer.
    const MovieResume* resume = movieMode && request.resume ? &*request.resume : nullptr;
    const std::filesystem::path resumePath = list.folder / movieResumeFileName(selectionStart, selectionEnd);
    const int framesBefore = resume != nullptr ? resume->framesBefore : 0;
    driver.cumulativeRotation = resume != nullptr ? resume->cumulativeRotation : 0;
    driver.renderer.runningMinimum2D = 0;
    driver.renderer.setUpFrom.reset();
    if (resume != nullptr) driver.renderer.setUpFrom = resume->carried;
    // A movie reads the next keyframe while it renders, up to the last its frames can show (a frame at h holds
    // keyframes trunc(h) to trunc(h) + 3); a single frame needs none beyond its own.
    driver.renderer.readAhead = movieMode;
    driver.renderer.readAheadLast = selectionEnd + 3;
    driver.fileIndex = 0;
    driver.framesInFile = 0;
    const MovieContainer container = video.container;
    // The soundtrack, read by the files' writers one after the other; a resumed movie's clock goes on where the
    // stopped one's files left it, so that its later files get the very same samples.
    std::unique_ptr<MovieSound> sound;

    MovieFrameContext context;
    FrameHooks hooks;
    hooks.frameLock = callbacks.frameLock;
    hooks.publishImage = [&](const Raster& image) {
        if (callbacks.publishImage) callbacks.publishImage(&image);
    };
    hooks.requestRepaint = [&] {
        if (callbacks.repaint) callbacks.repaint(false);
    };
    // The first frame's output set-up: the counters and, for a movie, the first file's writer and its codec.
    hooks.setUpOutput = [&]() -> Status {
        driver.fileIndex = resume != nullptr ? resume->nextFile : 1;
        driver.framesInFile = 0;
        if (!movieMode) return {};
        driver.currentWriter = std::make_unique<AviWriter>(
            list.folder / movieFileName(selectionStart, selectionEnd, driver.fileIndex, container),
            resume != nullptr ? resume->compressor : defaultCompressorFor(container), video.fps, container);
        driver.currentWriter->setSound(sound.get(), framesBefore);
        const int frameHeight = projection ? settings.height3D : settings.finalHeight;
        if (resume != nullptr) {
            // The files of a movie share one codec: the stopped movie's.
            driver.currentWriter->keyFrameEvery = resume->keyFrameEvery;
            driver.currentWriter->quality = resume->quality;
            return {};
        }
        driver.currentWriter->ChooseCompressor(callbacks.chooseCompressor, finalWidth, frameHeight);
        // Stopped while the codec was being asked for (the program is closing): no file for a codec nobody
        // chose, and no existing file of that name replaced by one frame.
        if (driver.abortRequested.load() != 0) {
            driver.currentWriter.reset();
            return {};
        }
        // A codec the container cannot hold, or a frame size it cannot take, is told before any frame is made.
        if (Status fits = checkMovieFormat(container, driver.currentWriter->compressor, finalWidth, frameHeight);
            !fits) {
            driver.currentWriter.reset();
            return fits;
        }
        // A movie started afresh is no longer the stopped one that an earlier record describes, whose files it
        // is about to replace.
        std::error_code error;
        if (std::filesystem::exists(resumePath, error)) std::filesystem::remove(resumePath, error);
        if (error) {
            return Status::failure("Cannot remove the record of an earlier stopped movie " + quotedPath(resumePath) +
                                   ": " + error.message());
        }
        return {};
    };

    // Finishes the current writer; a file that could not be finished is reported like any write failure.
    auto releaseWriter = [&](std::unique_ptr<AviWriter> writer) {
        if (!writer) return;
        const bool created = writer->appendMode == 2;
        const AviStatus released = writer->Release();
        if (released != kAviOk) {
            if (outcome.status.ok) outcome.status = Status::failure(writer->failureMessage());
        } else if (created) {
            outcome.files.push_back(writer->fileName());
        }
    };

    const bool selectionValid = list.keyframeCount() > 0 && selectionStart >= 0 && selectionEnd >= selectionStart &&
                                selectionEnd < list.keyframeCount();
    WalkEnd walkEnd = WalkEnd::Completed;
    std::string refusal;
    if (!selectionValid) {
        outcome.status = Status::failure("No Key Frames selected");
    } else if (resume != nullptr &&
               checkStoppedMovie(*resume, list, run, nullptr, refusal) != StoppedMovie::State::Found) {
        // Changed since it was looked for: nothing is written.
        outcome.status = Status::failure(refusal);
    } else if (movieMode && !video.soundtrack.empty() &&
               !(outcome.status = MovieSound::open(video.soundtrack, video.soundtrackStart, container, sound))) {
        // A soundtrack that cannot be used is told before any frame is made.
    } else {
        if (sound && resume != nullptr) {
            sound->clock.anchorFrame = resume->soundAnchorFrame;
            sound->clock.anchorSample = resume->soundAnchorSample;
            sound->clock.fps = video.fps;
        }
        const WalkLimits limits{selectionStart, selectionEnd, list.keyframeCount(), request.keyframeByKeyframe};
        const float target = driver.singleFrameTarget.load();
        WalkStep resumed;
        if (resume != nullptr) resumed = {resume->lastSegment, resume->lastPosition, 0.0f};
        const WalkStep* after = resume != nullptr ? &resumed : nullptr;
        walkEnd = walkMovieAfter(curves.speedCurve, limits, &driver.abortRequested, after, [&](const WalkStep& at) {
            const float h = at.h;
            const float g = at.g;
            const float divisor = evaluateLog(curves.colorDivisorCurve, h);
            const float add = evaluateLinear(curves.colorAddCurve, h);
            const float rotation = evaluateLinear(curves.colorRotateCurve, h);
            if (projection) {
                driver.zScaleFactor = evaluateLog(curves.zScaleEvolution, h);
                driver.maxIterFactor = evaluateLog(curves.maxIterEvolution, h);
                driver.vertShiftFactor = evaluateLog(curves.vertShiftEvolution, h);
            }
            // The rotation curve gives the rotation per keyframe, spread over that keyframe's images.
            driver.cumulativeRotation += rotation / g;
            driver.frameLightAngle = settings.relief.lightDirection;
            const float offset = driver.cumulativeRotation / 10.0f + add;
            if (!movieMode && !(h > target)) return true;

            if (callbacks.videoParameters) {
                const VideoParameters now = callbacks.videoParameters();
                video.fps = now.fps;
                video.framesPerMovie = now.framesPerMovie;
                video.showZoomText = now.showZoomText;
                video.fontName = now.fontName;
                video.fontSize = now.fontSize;
                video.textColor = now.textColor;
            }
            settings.showZoomText = video.showZoomText != 0;
            settings.caption = ZoomCaptionStyle{video.fontName, video.fontSize, video.textColor};
            driver.renderer.inputs = FrameInputs{driver.frameLightAngle, driver.zScaleFactor, driver.maxIterFactor,
                                                 driver.vertShiftFactor};
            const auto colourDivisor = static_cast<float>(static_cast<double>(divisor) * colorSensitivity);
            const auto colourOffset = static_cast<float>(static_cast<double>(offset) / colorSensitivity);
            if (Status s = RenderMovieFrame(driver.renderer, settings, hooks, h, colourDivisor, colourOffset, context);
                !s) {
                outcome.status = s;
                return false;
            }
            ++outcome.framesComputed;
            outcome.lastPosition = h;

            // The output step.
            if (movieMode && driver.currentWriter) {
                const Raster& shown = projection ? context.frame3D : context.frame;
                // The render workers are idle until the next frame: they encode this one.
                driver.currentWriter->encodingPool = driver.renderer.pool.get();
                if (driver.currentWriter->AppendFrame(shown) != kAviOk) {
                    outcome.status = Status::failure(driver.currentWriter->failureMessage());
                    return false;
                }
                ++outcome.framesWritten;
                driver.framesInFile += 1;
                if (driver.framesInFile == video.framesPerMovie) {
                    driver.fileIndex += 1;
                    driver.framesInFile = 0;
                    // The next file keeps the compressor and the settings chosen for it.
                    auto next = std::make_unique<AviWriter>(
                        list.folder / movieFileName(selectionStart, selectionEnd, driver.fileIndex, container),
                        driver.currentWriter->compressor, video.fps, container);
                    next->keyFrameEvery = driver.currentWriter->keyFrameEvery;
                    next->quality = driver.currentWriter->quality;
                    next->setSound(sound.get(), framesBefore + outcome.framesWritten);
                    std::unique_ptr<AviWriter> previous = std::exchange(driver.currentWriter, std::move(next));
                    releaseWriter(std::move(previous));
                    if (!outcome.status) return false;
                    // The finished file is there: a movie stopped from now on goes on with the next one.
                    MovieResume record;
                    record.selectionStart = selectionStart;
                    record.selectionEnd = selectionEnd;
                    record.nextFile = driver.fileIndex;
                    record.framesBefore = framesBefore + outcome.framesWritten;
                    record.lastSegment = at.segment;
                    record.lastPosition = h;
                    record.cumulativeRotation = driver.cumulativeRotation;
                    record.carried = carriedState(driver.renderer);
                    record.compressor = driver.currentWriter->compressor;
                    record.keyFrameEvery = driver.currentWriter->keyFrameEvery;
                    record.quality = driver.currentWriter->quality;
                    record.soundAnchorFrame = driver.currentWriter->soundClock().anchorFrame;
                    record.soundAnchorSample = driver.currentWriter->soundClock().anchorSample;
                    record.fingerprint = movieFingerprint(curves, run.palette, run.colorTable, settings, video);
                    if (Status s = writeMovieResume(resumePath, record); !s) {
                        outcome.status = s;
                        return false;
                    }
                }
            }
            const FrameTimings timings = timingsOf(driver.renderer.clock, projection);
            if (callbacks.setTitle) {
                callbacks.setTitle(movieTitle(list.folder, h, selectionStart, selectionEnd, driver.fileIndex,
                                              driver.framesInFile, timings));
            }
            if (callbacks.frameDone) {
                const MovieProgress progress{h,
                                             outcome.framesComputed,
                                             outcome.framesWritten,
                                             movieMode ? framesBefore : 0,
                                             driver.fileIndex,
                                             driver.framesInFile,
                                             timings};
                callbacks.frameDone(progress, projection ? context.frame3D : context.frame);
            }
            return movieMode;  // "Compute One Frame" ends with its frame
        });
    }
    outcome.aborted = walkEnd == WalkEnd::Aborted;

    // The end of the run, whatever ended it: the image withdrawn before the frames it shows are freed, the
    // movie file finished, the renderer's maps freed so that the next run sets up again.
    if (callbacks.frameLock != nullptr) callbacks.frameLock->lock();
    if (callbacks.publishImage) callbacks.publishImage(nullptr);
    if (callbacks.frameLock != nullptr) callbacks.frameLock->unlock();
    context = MovieFrameContext();
    if (movieMode) releaseWriter(std::move(driver.currentWriter));
    driver.currentWriter.reset();
    freeRenderBuffers(driver.renderer);
    driver.renderer.setUpFrom.reset();
    // Done: nothing is left to go on with. Kept when the movie was stopped or failed.
    if (movieMode && selectionValid && outcome.status && walkEnd != WalkEnd::Aborted) {
        std::error_code ignored;
        std::filesystem::remove(resumePath, ignored);
    }
    // Done before the menus come back, so that the next "Make Video" is taken, and so that the target of a
    // "Compute One Frame" given right after this one is not wiped by this run.
    if (!movieMode) driver.singleFrameTarget.store(kMakeMovie);
    driver.lastOutcome = outcome;
    driver.running.store(false);
    if (callbacks.setMenusRunning) callbacks.setMenusRunning(false);
    if (movieMode && callbacks.repaint) callbacks.repaint(true);
    if (!outcome.status) {
        say(MessageIcon::Error, outcome.status.message);
    } else if (movieMode && driver.abortRequested.load() == 0) {
        say(MessageIcon::Warning, "Movie is done!");
    }
    return outcome;
}

}  // namespace zoomreel
