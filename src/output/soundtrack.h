#pragma once

// A movie's soundtrack: any file that libavformat reads, decoded, converted with libswresample to the samples the
// movie's container takes, and handed to the movie writers by sample positions. The writers cut it per file by
// sample counts worked out from frame counts, never from seconds, so that the files of a rolled-over movie played
// one after another give the whole soundtrack without a gap or a repeated sample.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/status.h"
#include "settings/video_parameters.h"

namespace zoomreel {

/// Which sample of the movie's sound a frame begins with: frame f begins with sample
/// anchorSample + (f - anchorFrame) * rate / fps, rounded down, in exact integer arithmetic. The anchor moves only
/// where a file is written at another frame rate, so with one frame rate throughout, frame f begins with sample
/// f * rate / fps and the files share the soundtrack out exactly.
struct SoundClock {
    std::int64_t anchorFrame = 0;
    std::int64_t anchorSample = 0;
    std::int32_t fps = 0;   ///< 0 until the first file takes its frame rate
    std::int32_t rate = 0;  ///< samples per second

    std::int64_t sampleAt(std::int64_t frame) const;
    /// The clock of a file whose first frame is `firstFrame`, written at `fileFps` frames per second.
    SoundClock forFile(std::int64_t firstFrame, std::int32_t fileFps) const;
};

/// The soundtrack of one movie, read from its start on by the movie's writers one after the other (one thread at
/// a time). Samples come interleaved 16-bit for AVI and Matroska (PCM and FLAC) and planar float for MP4 (AAC), at
/// the source's sample rate (AAC takes only its own rates: another rate is converted to the nearest of those), mono
/// or stereo as the source is (more channels are mixed down to stereo).
class MovieSound {
public:
    /// Opens `file` for a movie in `container` and goes to `startSeconds` into it. A file that cannot be opened,
    /// holds no sound or cannot be decoded, and a start at or past its end, give a one-line message naming the file.
    static Status open(const std::filesystem::path& file, double startSeconds, MovieContainer container,
                       std::unique_ptr<MovieSound>& sound);
    ~MovieSound();
    MovieSound(const MovieSound&) = delete;
    MovieSound& operator=(const MovieSound&) = delete;

    int sampleRate() const;
    int channels() const;
    /// FFmpeg's sample format of the samples `read` gives (an AVSampleFormat).
    int sampleFormat() const;

    /// Fills `count` samples from position `from` of the movie's sound (0: the sample at the start given to
    /// `open`) into `planes` (one for interleaved samples, one per channel for planar ones). Reading goes forward
    /// only: samples between the last read's end and `from` are decoded and passed over. Past the soundtrack's
    /// end come silent samples. A decoding failure gives a message with the file and the time it happened at.
    Status read(std::int64_t from, int count, std::uint8_t* const* planes);
    /// True once every sample of the soundtrack has been read: what `read` gives from then on is silence.
    bool exhausted() const;

    /// The clock of the file being written; each writer moves it on to its own file.
    SoundClock clock;

private:
    MovieSound();
    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
};

}  // namespace zoomreel
