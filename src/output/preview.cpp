#include "output/preview.h"

#include <cmath>
#include <memory>
#include <utility>

#include "platform/detached_process.h"
#include "settings/render_settings.h"
#include "settings/settings_file.h"

namespace zoomreel {
namespace {

const KeyPointCurve* curveNamed(const PreviewSetup& setup, PreviewCurve curve) {
    switch (curve) {
        case PreviewCurve::Speed: return &setup.speed;
        case PreviewCurve::ColorDivisor: return &setup.colorDivisor;
        case PreviewCurve::ColorAdd: return &setup.colorAdd;
        case PreviewCurve::ColorRotate: return &setup.colorRotate;
        case PreviewCurve::None: break;
    }
    return nullptr;
}

/// The colour curves at f over the rotation sum, as the renderer takes them: the divisor times the colour
/// sensitivity and the offset divided by it, formed in double and rounded to single, as a movie does.
Status renderWithColours(PreviewRenderer& renderer, const KeyframeList& keyframes, const PreviewSetup& setup, float f,
                         float rotationSum) {
    const float divisor = evaluateLog(setup.colorDivisor, f);
    const float offset = rotationSum / 10.0f + evaluateLinear(setup.colorAdd, f);
    const PreviewSettings settings{&keyframes, &setup.colorTable, setup.usePalette, setup.subtractMinimum};
    return RenderPreviewFrame(renderer, settings, f, static_cast<float>(divisor * setup.colorSensitivity),
                              static_cast<float>(offset / setup.colorSensitivity));
}

}  // namespace

std::string previewFileName(MovieContainer container) { return std::string("preview.") + containerName(container); }

PreviewSetup loadPreviewSetup(const KeyframeList& list) {
    PreviewSetup setup;
    auto folderFile = [&](std::string_view name) { return settingsFilePath(list, name); };
    loadCurveWithDefault(folderFile("speed.qvs"), setup.speed, kEditorSpeedDefault);
    loadCurveWithDefault(folderFile("colordiv.qvs"), setup.colorDivisor, curveDefault(CurveKind::ColorDivisor, list));
    loadCurveWithDefault(folderFile("coloradd.qvs"), setup.colorAdd, 0.0f);
    loadCurveWithDefault(folderFile("colorrot.qvs"), setup.colorRotate, 0.0f);
    Palette palette;
    loadPalette(folderFile(kPaletteFileName), palette);
    setup.usePalette = palette.usePalette != 0;
    if (setup.usePalette) expandPalette(palette, setup.colorTable);
    setup.colorSensitivity = palette.colorSensitivity;
    SubtractMinimumSettings subtraction;
    loadSubtractMinimum(folderFile(kSubtractMinimumFileName), subtraction);
    setup.subtractMinimum = subtraction.subtract != 0;
    return setup;
}

void PreviewSource::edit(const std::function<void(PreviewSetup&)>& change) {
    std::lock_guard lock(mutex_);
    change(setup_);
}

PreviewSetup PreviewSource::copy() const {
    std::lock_guard lock(mutex_);
    return setup_;
}

std::optional<float> PreviewSource::pointX(PreviewCurve curve, int index) const {
    std::lock_guard lock(mutex_);
    const KeyPointCurve* points = curveNamed(setup_, curve);
    if (points == nullptr || index < 0 || index >= points->count()) return std::nullopt;
    return points->points[index].x;
}

void walkPreview(const KeyPointCurve& speed, float end, const std::function<bool(float l, float v)>& step) {
    const int n = speed.count();
    if (n == 0) return;
    const auto& p = speed.points;
    float l = p[0].x;
    float v = loggable(p[0].y);
    long long steps = 0;
    for (int j = 0; j < n; ++j) {
        const KeyPoint from = p[j];
        const KeyPoint to = j + 1 < n ? p[j + 1] : KeyPoint{end, p[n - 1].y};
        const float lnFrom = std::log(loggable(from.y));
        const float lnTo = std::log(loggable(to.y));
        while (l < to.x) {
            const float next = l + 1.0f / v;
            if (!(next > l) || ++steps > kMaxSpeedSteps) return;
            l = next;
            v = loggable(std::exp(lnFrom + (lnTo - lnFrom) * (l - from.x) / (to.x - from.x)));
            if (!step(l, v)) return;
        }
    }
}

float previewRotationAt(const PreviewSetup& setup, float selectionEnd, float f) {
    float sum = 0;
    walkPreview(setup.speed, selectionEnd, [&](float l, float v) {
        if (l >= f) return false;
        sum += evaluateLinear(setup.colorRotate, l) / v;
        return true;
    });
    return sum;
}

Status renderFramePreview(PreviewRenderer& renderer, const KeyframeList& keyframes, const PreviewSetup& setup,
                          float f) {
    const float rotation = previewRotationAt(setup, static_cast<float>(keyframes.selectionEnd), f);
    return renderWithColours(renderer, keyframes, setup, f, rotation);
}

FramePreview::FramePreview(const KeyframeList& keyframes, const PreviewSource& source, PreviewFrameSink sink)
    : keyframes_(keyframes), source_(source), sink_(std::move(sink)) {}

FramePreview::~FramePreview() { stop(); }

void FramePreview::start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = false;
    }
    thread_ = std::thread([this] { run(); });
}

void FramePreview::requestPosition(float f) {
    {
        std::lock_guard lock(mutex_);
        if (stopRequested_) return;
        previewRequest_ = f;
        previewCommand_ = -1;
    }
    wake_.notify_one();
}

void FramePreview::requestPoint(PreviewCurve curve, int index) {
    {
        std::lock_guard lock(mutex_);
        if (stopRequested_ || index < 0) return;
        previewCurve_ = curve;
        previewCommand_ = index;
        previewRequest_ = -1.0f;
    }
    wake_.notify_one();
}

void FramePreview::stop() {
    if (!thread_.joinable()) return;
    {
        // Sticky until the thread has ended: no later request replaces it.
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_one();
    thread_.join();
    std::lock_guard lock(mutex_);
    previewRequest_ = -1.0f;
    previewCommand_ = -1;
}

Status FramePreview::lastStatus() const {
    std::lock_guard lock(mutex_);
    return lastStatus_;
}

void FramePreview::run() {
    PreviewRenderer renderer;
    int lastKeyframe = -1;
    float lastPosition = -1.0f;
    for (;;) {
        float f = -1.0f;
        std::optional<std::pair<PreviewCurve, int>> point;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopRequested_ || previewRequest_ >= 0 || previewCommand_ >= 0; });
            if (stopRequested_) break;
            if (previewRequest_ >= 0) {
                f = previewRequest_;
            } else {
                point.emplace(previewCurve_, previewCommand_);
            }
            previewRequest_ = -1.0f;
            previewCommand_ = -1;
        }
        // The point's x as it is now, so that a point being dragged is followed; another curve's point, or one
        // that is gone, renders the last position again.
        if (point) f = source_.pointX(point->first, point->second).value_or(lastPosition);
        if (!(f >= 0)) continue;
        const int keyframe = static_cast<int>(f);
        if (lastKeyframe != -1 && keyframe != lastKeyframe) releasePreviewRenderer(renderer);
        const PreviewSetup setup = source_.copy();
        const Status status = renderFramePreview(renderer, keyframes_, setup, f);
        {
            std::lock_guard lock(mutex_);
            lastStatus_ = status;
        }
        if (status) {
            framesRendered_.fetch_add(1);
            if (sink_) sink_(renderer.frame, f);
        }
        lastKeyframe = keyframe;
        lastPosition = f;
    }
    releasePreviewRenderer(renderer);
}

PreviewVideoOutcome PreviewVideoThread(const PreviewVideoRequest& request, const PreviewVideoCallbacks& callbacks,
                                       const std::atomic<std::int32_t>& abort) {
    PreviewVideoOutcome outcome;
    const KeyframeList& list = *request.keyframes;
    const PreviewSetup& setup = request.setup;
    const auto start = static_cast<float>(list.selectionStart);
    const auto end = static_cast<float>(list.selectionEnd);
    const auto last = static_cast<float>(list.keyframeCount() - 1);
    PreviewRenderer renderer;
    std::unique_ptr<AviWriter> writer;
    float cumulativeRotation = 0;
    std::unique_ptr<MovieSound> sound;
    if (!request.soundtrack.empty()) {
        outcome.status = MovieSound::open(request.soundtrack, request.soundtrackStart, request.container, sound);
    }

    if (outcome.status) walkPreview(setup.speed, end, [&](float l, float v) {
        if (abort.load() != 0) {
            outcome.aborted = true;
            return false;
        }
        if (l > end || l >= last) return false;
        if (!(l > start)) return true;
        cumulativeRotation += evaluateLinear(setup.colorRotate, l) / v;
        if (Status s = renderWithColours(renderer, list, setup, l, cumulativeRotation); !s) {
            outcome.status = s;
            return false;
        }
        if (!writer) {
            writer = std::make_unique<AviWriter>(request.file, defaultCompressorFor(request.container),
                                                 request.frameRate, request.container);
            writer->setSound(sound.get(), 0);
            writer->ChooseCompressor(request.chooseCompressor, renderer.frame.width(), renderer.frame.height());
            if (Status fits = checkMovieFormat(request.container, writer->compressor, renderer.frame.width(),
                                               renderer.frame.height());
                !fits) {
                outcome.status = fits;
                return false;
            }
        }
        if (callbacks.showFrame) callbacks.showFrame(renderer.frame, l);
        if (writer->AppendFrame(renderer.frame) != kAviOk) {
            outcome.status = Status::failure(writer->failureMessage());
            return false;
        }
        ++outcome.framesWritten;
        return true;
    });

    releasePreviewRenderer(renderer);
    if (writer) {
        if (writer->Release() != kAviOk && outcome.status) outcome.status = Status::failure(writer->failureMessage());
        writer.reset();
    }
    // The browser plays what this run wrote; a file that failed, or none at all, would show an older video.
    if (!request.videoBrowser.empty() && outcome.status && outcome.framesWritten > 0) {
        outcome.browser = startDetachedProgram(request.videoBrowser, {request.file.string()});
        outcome.browserStarted = outcome.browser.ok;
    }
    if (callbacks.ended) callbacks.ended(outcome);
    return outcome;
}

PreviewVideo::~PreviewVideo() {
    abort();
    wait();
}

bool PreviewVideo::start(PreviewVideoRequest request, PreviewVideoCallbacks callbacks) {
    if (previewVideoRunning.load() != 0) return false;
    wait();  // the previous video, which has already told its end
    previewVideoAbort.store(0);
    previewVideoRunning.store(1);
    thread_ = std::thread([this, request = std::move(request), callbacks = std::move(callbacks)] {
        PreviewVideoCallbacks own = callbacks;
        // The flags are down before the editor hears of the end, so that it may start the next video at once.
        own.ended = [this, &callbacks](const PreviewVideoOutcome& outcome) {
            previewVideoRunning.store(0);
            previewVideoAbort.store(0);
            if (callbacks.ended) callbacks.ended(outcome);
        };
        PreviewVideoThread(request, own, previewVideoAbort);
    });
    return true;
}

void PreviewVideo::wait() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace zoomreel
