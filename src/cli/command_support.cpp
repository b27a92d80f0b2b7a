#include "cli/command_support.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <csignal>
#include <string>

#include "platform/atomic_file.h"

namespace zoomreel::cli {
namespace {

std::atomic<std::int32_t>* interruptFlag = nullptr;
std::atomic<bool> interruptSeen{false};

extern "C" void onInterrupt(int) {
    interruptSeen.store(true);
    if (interruptFlag != nullptr) interruptFlag->store(1);
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl+C stops at once
}

}  // namespace

KeyframeList readSelection(const Parsed& parsed, const char* command) {
    KeyframeList list;
    list.folder = folderArgument(parsed, command);
    const auto from = option(parsed, "--from");
    const auto to = option(parsed, "--to");
    if (!from || !to) throw UsageError{std::string("The command \"") + command + "\" needs --from S and --to E."};
    const int start = parseInt(*from, "the first keyframe");
    const int end = parseInt(*to, "the last keyframe");
    requireFolder(list.folder);
    if (Status status = scanKeyframes(list); !status) throw InputError{status.message};
    if (list.keyframeCount() == 0) throw InputError{"This folder do not contain any QVY files!"};
    const int last = list.keyframeCount() - 1;
    if (start < 0 || start > last || end < 0 || end > last) {
        throw InputError{"The selection " + std::to_string(start) + " to " + std::to_string(end) +
                         " lies outside the keyframes 0 to " + std::to_string(last) + "."};
    }
    if (start > end) {
        throw InputError{"The selection must start before it ends, not at " + std::to_string(start) + " after " +
                         std::to_string(end) + "."};
    }
    list.selectionStart = start;
    list.selectionEnd = end;
    return list;
}

InterruptAsAbort::InterruptAsAbort(std::atomic<std::int32_t>& abortRequested) {
    interruptSeen.store(false);
    interruptFlag = &abortRequested;
    previous_ = std::signal(SIGINT, onInterrupt);
}

InterruptAsAbort::~InterruptAsAbort() {
    std::signal(SIGINT, previous_);
    interruptFlag = nullptr;
}

bool InterruptAsAbort::interrupted() { return interruptSeen.load(); }

void readMovieFileOptions(const Parsed& parsed, VideoParameters& video) {
    if (auto v = option(parsed, "--container")) {
        const std::optional<MovieContainer> container = findContainer(*v);
        if (!container) throw InputError{"Unknown container \"" + *v + "\": choose avi, mp4 or mkv."};
        video.container = *container;
    }
    // An empty name asks for no soundtrack, whatever the saved settings say.
    if (auto v = option(parsed, "--audio")) video.soundtrack = *v;
    if (auto v = option(parsed, "--audio-start")) {
        const double start = parseFloat(*v, "the soundtrack's start");
        if (start < 0) throw InputError{"The soundtrack's start must be 0 seconds or more, not " + *v + "."};
        video.soundtrackStart = start;
    }
}

Status writePng(const Raster& image, const std::filesystem::path& path) {
    QImage picture(image.width(), image.height(), QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* in = image.rowFromTop(y);
        uchar* out = picture.scanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) return Status::failure("Unable to encode the frame as PNG.");
    AtomicFileWriter file(path);
    file.write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return file.commit();
}

}  // namespace zoomreel::cli
