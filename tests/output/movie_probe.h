#pragma once

// Reads back a movie file with FFmpeg's demuxer and decoders, independently of the writer's own code.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zoomreel::test {

struct DecodedMovie {
    bool opened = false;
    std::string fourCC;            ///< as the stream header stores it; empty for full frames
    int width = 0;
    int height = 0;
    int rateNumerator = 0;         ///< frames per second, as a fraction
    int rateDenominator = 0;
    int packets = 0;
    std::vector<bool> keyPackets;
    /// Every decoded frame, converted to 24-bit blue, green, red, rows from the top, no padding.
    std::vector<std::vector<std::uint8_t>> frames;
};

DecodedMovie decodeMovie(const std::filesystem::path& path);

}  // namespace zoomreel::test
