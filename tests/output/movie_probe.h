#pragma once

// Reads back a movie file with FFmpeg's demuxer and decoders, independently of the writer's own code.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/raster.h"

namespace zoomreel::test {

struct DecodedMovie {
    bool opened = false;
    std::string codec;             ///< the video decoder's name
    std::string fourCC;            ///< as the stream header stores it; empty for full frames
    int width = 0, height = 0;
    int rateNumerator = 0, rateDenominator = 0;  ///< frames per second, as a fraction
    std::vector<bool> keyPackets;                ///< of the video stream
    /// FFmpeg's AVColorPrimaries, AVColorTransferCharacteristic, AVColorSpace and AVColorRange of the video stream,
    /// as the container or the bitstream says.
    int colorPrimaries = 0, colorTransfer = 0, colorSpace = 0, colorRange = 0;
    /// Every decoded frame by its tagged matrix and range, as 24-bit blue, green, red, rows from the top, no padding.
    std::vector<std::vector<std::uint8_t>> frames;

    std::string soundCodec;        ///< empty: no sound
    int channels = 0;
    std::vector<float> samples;    ///< interleaved, as decoded
};

DecodedMovie decodeMovie(const std::filesystem::path& path);

/// A frame as a decoder gives it back: rows from the top, no padding.
inline std::vector<std::uint8_t> upright(const Raster& r) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < r.height(); ++y) bytes.insert(bytes.end(), r.rowFromTop(y), r.rowFromTop(y) + 3 * r.width());
    return bytes;
}

/// A WAV file of 16-bit samples, interleaved, written by hand.
void writeWav(const std::filesystem::path& path, int rate, int channels, const std::vector<std::int16_t>& samples);

/// A mono beat track at `rate`: `leadIn` seconds of silence, then beats at `bpm` until `seconds` - clicks (short
/// 1.5 kHz pings) or a drum pattern (kick on one and three, noise snare on two and four, quiet hi-hat on the
/// eighths). `beats` gets the time of every beat.
std::vector<float> beatTrack(int rate, double bpm, double seconds, double leadIn, bool drums,
                             std::vector<double>* beats = nullptr);
std::vector<std::int16_t> toPcm(const std::vector<float>& samples);

/// `seconds` of a tone on each channel (channel c at `frequency` · (c + 1) Hz), loud enough that a shift shows.
std::vector<std::int16_t> toneSamples(int rate, int channels, double seconds, double frequency = 440.0);

}  // namespace zoomreel::test
