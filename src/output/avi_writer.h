#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/movie_formats.h"
#include "output/soundtrack.h"
#include "platform/raster.h"
#include "platform/status.h"
#include "settings/video_parameters.h"

namespace zoomreel {

class WorkerPool;

/// Results of the writer's operations, as the AVI services report them: 0, or a failure code.
using AviStatus = std::int32_t;
inline constexpr AviStatus kAviOk = 0;
inline constexpr AviStatus kAviFail = static_cast<AviStatus>(0x80004005u);

/// The AVI error codes that have names.
inline constexpr AviStatus kAviErrUnsupported = static_cast<AviStatus>(0x80044065u);
inline constexpr AviStatus kAviErrMemory = static_cast<AviStatus>(0x80044067u);
inline constexpr AviStatus kAviErrNoCompressor = static_cast<AviStatus>(0x80044071u);

/// What the compressor dialog shows and gives back. Quality counts in the dialog's units, 0 to 10000.
struct CompressorChoice {
    FourCC compressor = kDefaultCompressor;
    std::int32_t keyFrameEvery = 1;
    std::int32_t quality = 8500;
};
struct CompressorRequest {
    std::vector<CompressorInfo> compressors;
    CompressorChoice initial;
    int width = 0;       ///< of the frames that will be written
    int height = 0;
    int frameRate = 0;
};
/// Asks the user for a compressor; no value when the user cancelled.
using CompressorChooser = std::function<std::optional<CompressorChoice>(const CompressorRequest&)>;

/// Writes equally sized frames into one movie file (AVI, MP4 or Matroska, as `container` says) as one video
/// stream, with the part of the movie's soundtrack that its frames cover when it is given one. Nothing is created
/// on disk before the first frame: the file, the streams and the encoders are set up from that frame's size. A
/// failed set-up leaves a message in `lastError` and the writer refuses every later frame.
///
/// The frames go to 4:2:0 codecs with the BT.709 matrix in limited range (Motion JPEG: the full-range BT.601 of
/// JPEG, which its decoders assume), the stream tagged so; the lossless codecs keep the RGB values exactly.
///
/// Frames are converted and encoded on a thread of the writer while the caller goes on: `AppendFrame` copies the
/// frame and returns (Microsoft Video 1 frames may instead be encoded by the caller, see `encodingPool`). A frame that could not be written is reported by the next `AppendFrame` or by `Release`.
/// One thread at a time may use a writer.
class AviWriter {
public:
    AviWriter(std::filesystem::path fileName, FourCC compressor, std::int32_t frameRate,
              MovieContainer container = MovieContainer::Avi);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    /// Asks `chooser` for the compressor, key-frame interval and quality of frames of width x height. Returns 1 when
    /// the user chose, 0 when the choice was cancelled (or there is no chooser): the writer is then unchanged.
    int ChooseCompressor(const CompressorChooser& chooser, int width, int height);

    /// Gives the file the movie's sound from the first sample of frame `firstFrame` (a frame count of the whole
    /// movie) to the first of the frame after its last, by the sound's clock moved on to this file's frame rate.
    /// Before the first frame; `sound` must outlive the writer, and writers of one movie read it in turn.
    void setSound(MovieSound* sound, std::int64_t firstFrame);
    /// The clock the file's sound is cut by.
    const SoundClock& soundClock() const { return soundClock_; }

    /// Runs `AppendFirst`, `AppendNext` or `AppendRefused` by `appendMode`.
    AviStatus AppendFrame(const Raster& frame);

    /// Writes what is still queued, finishes the file (so that it plays however the movie ended), closes
    /// everything and gives the file its name. Later frames are refused. Safe to call again; returns kAviFail when
    /// the file could not be finished, with the reason in `lastError`: the unfinished file is then removed.
    AviStatus Release();

    const std::filesystem::path& fileName() const { return fileName_; }

    /// The last failure for the user, on one line: what failed, in which file, and why when that is known.
    std::string failureMessage() const;

    std::int32_t sampleIndex = 0;   ///< stream position of the next frame
    std::int32_t frameRate;         ///< frames per second
    std::int32_t keyFrameEvery = 1; ///< key-frame interval handed to the encoder
    std::int32_t quality = 100;     ///< 0 to 100, handed to the encoder
    FourCC compressor;
    MovieContainer container;
    std::string lastError;          ///< message of the last failure
    std::string lastErrorDetail;    ///< what the system said about it, when it said something
    std::uint16_t bitsPerPixel = 24;
    std::int32_t appendMode = 1;    ///< 0: refuse, 1: set up on the next frame, 2: write
    /// Workers the caller lends between its frames: when set for the first frame, `AppendFrame` encodes each
    /// Microsoft Video 1 frame on them before it returns, and the writer's thread only writes the codes. Beside
    /// busy workers the thread would hold up one of them whenever it took its processor, and all of them wait for
    /// the slowest. The workers must be idle during `AppendFrame`; the pool may change between frames, or be
    /// null for the calling thread alone.
    WorkerPool* encodingPool = nullptr;

private:
    AviStatus AppendFirst(const Raster& frame);
    AviStatus AppendNext(const Raster& frame);
    AviStatus AppendRefused(const Raster& frame);
    AviStatus fail(std::string text, std::string detail = {});

    struct Output;
    std::filesystem::path fileName_;
    MovieSound* sound_ = nullptr;
    std::int64_t firstFrame_ = 0;
    SoundClock soundClock_;
    std::unique_ptr<Output> output_;
};

/// The name a movie file is written under until it is finished: the file's name with ".part" added. A file of that
/// name left in a folder is a movie that was cut off (the program killed, the machine stopped) before its end.
std::filesystem::path partialFileName(const std::filesystem::path& fileName);

/// The name of one of the AVI error codes; for any other status, FFmpeg's or the system's text for it. Without
/// such a text, `text` stays as it was.
void DescribeAviError(AviStatus status, std::string& text);

}  // namespace zoomreel
