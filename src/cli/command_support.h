#pragma once

// What the movie and preview commands of zoomreel-cli share: the folder and selection they work on, Ctrl+C as
// "Abort Video", and PNG output.

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "cli/arguments.h"
#include "keyframes/keyframe_list.h"
#include "platform/raster.h"
#include "platform/status.h"
#include "settings/video_parameters.h"

namespace zoomreel::cli {

/// The folder argument's keyframes, loaded, with the selection of --from S --to E checked against them.
KeyframeList readSelection(const Parsed& parsed, const char* command);

/// While it lives, Ctrl+C sets `abortRequested`, as "Abort Video" does, so that the files are finished; a second
/// Ctrl+C stops at once.
class InterruptAsAbort {
public:
    explicit InterruptAsAbort(std::atomic<std::int32_t>& abortRequested);
    ~InterruptAsAbort();
    InterruptAsAbort(const InterruptAsAbort&) = delete;
    InterruptAsAbort& operator=(const InterruptAsAbort&) = delete;

    /// Whether Ctrl+C was pressed during the last run.
    static bool interrupted();

private:
    void (*previous_)(int) = nullptr;
};

/// --container, --audio and --audio-start over the saved values of `video`; an unknown container, a negative or
/// unreadable start are refused with a one-line message.
void readMovieFileOptions(const Parsed& parsed, VideoParameters& video);

/// The image as a 24-bit PNG file, written under a temporary name and renamed into place.
Status writePng(const Raster& image, const std::filesystem::path& path);

}  // namespace zoomreel::cli
