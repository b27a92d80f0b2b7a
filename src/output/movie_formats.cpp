#include "output/movie_format_table.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace zoomreel {

using namespace formats;

namespace {

constexpr unsigned kAvi = 1u << static_cast<int>(MovieContainer::Avi);
constexpr unsigned kMp4 = 1u << static_cast<int>(MovieContainer::Mp4);
constexpr unsigned kMkv = 1u << static_cast<int>(MovieContainer::Matroska);
constexpr unsigned kEveryContainer = kAvi | kMp4 | kMkv;

constexpr ContainerSpec kContainers[] = {
    {MovieContainer::Avi, "avi", "pcm_s16le", "an AVI file"},
    {MovieContainer::Mp4, "mp4", "aac", "an MP4 file"},
    {MovieContainer::Matroska, "matroska", "flac", "a Matroska file"},
};

/// The compressors the writer knows, in the order the chooser lists them. Each is written from the pixel format
/// named here: the one the encoder keeps exact where it can, and 4:2:0 for the lossy codecs that players expect
/// in that form. H.265 and AV1 go in the containers that players take them in; the others wherever the muxer
/// stores them natively (Matroska has no place for full RGB frames but an AVI-style header it frowns upon).
// Microsoft Video 1 has an encoder of its own here: FFmpeg's searches each block's colours so thoroughly that it
// takes many times as long as rendering the frame.
constexpr EncoderSpec kEncoders[] = {
    {makeFourCC("MSVC"), {}, AV_PIX_FMT_RGB555LE, kAvi | kMkv, "Microsoft Video 1"},
    {makeFourCC("DIB "), {}, AV_PIX_FMT_BGR24, kAvi, "Full frames (uncompressed 24-bit)"},
    {makeFourCC("MJPG"), {"mjpeg"}, AV_PIX_FMT_YUVJ420P, kEveryContainer, "Motion JPEG"},
    {makeFourCC("FFV1"), {"ffv1"}, AV_PIX_FMT_BGR0, kAvi | kMkv, "FFV1, lossless"},
    {makeFourCC("HFYU"), {"huffyuv"}, AV_PIX_FMT_RGB24, kAvi | kMkv, "Huffyuv, lossless"},
    {makeFourCC("ULRG"), {"utvideo"}, AV_PIX_FMT_GBRP, kAvi | kMkv, "Ut Video, lossless RGB"},
    {makeFourCC("FMP4"), {"mpeg4"}, AV_PIX_FMT_YUV420P, kEveryContainer, "MPEG-4 part 2"},
    {makeFourCC("H264"), {"libx264"}, AV_PIX_FMT_YUV420P, kEveryContainer, "H.264"},
    {makeFourCC("HEVC"), {"libx265"}, AV_PIX_FMT_YUV420P, kMp4 | kMkv, "H.265"},
    {makeFourCC("AV01"), {"libaom-av1", "libsvtav1", "librav1e"}, AV_PIX_FMT_YUV420P, kMp4 | kMkv, "AV1"},
};

std::vector<MovieContainer> containersOf(unsigned mask) {
    std::vector<MovieContainer> result;
    for (const MovieContainer container : kAllContainers) {
        if ((mask & (1u << static_cast<int>(container))) != 0) result.push_back(container);
    }
    return result;
}

void recordLibraryMessage(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[512];
    int prefix = 1;
    av_log_format_line2(context, level, format, args, line, sizeof line, &prefix);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    lastLibraryMessage = text;
}

}  // namespace

namespace formats {

const ContainerSpec& specOf(MovieContainer container) {
    for (const ContainerSpec& spec : kContainers) {
        if (spec.container == container) return spec;
    }
    return kContainers[0];
}

const EncoderSpec* findSpec(const FourCC& code) {
    for (const EncoderSpec& spec : kEncoders) {
        if (spec.code == code) return &spec;
    }
    return nullptr;
}

const AVCodec* encoderOf(const EncoderSpec& spec) {
    for (const char* name : spec.encoders) {
        if (name == nullptr) break;
        if (const AVCodec* codec = avcodec_find_encoder_by_name(name)) return codec;
    }
    return nullptr;
}

bool available(const EncoderSpec& spec) { return spec.encoders[0] == nullptr || encoderOf(spec) != nullptr; }

bool fourTwoZero(AVPixelFormat format) { return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P; }

thread_local std::string lastLibraryMessage;

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string compressorFailureText(int code) {
    if (code == AVERROR(ENOMEM)) return "There is not enough memory to complete the operation.";
    return "Compression is not supported for this type of data.";
}

std::string codecName(const FourCC& code) { return code == kUncompressed ? "raw" : fourCCText(code); }

}  // namespace formats

void keepLibraryMessages() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(recordLibraryMessage); });
}

std::string fourCCText(const FourCC& code) { return std::string(code.data(), code.size()); }

std::string containerFileText(MovieContainer container) { return specOf(container).fileText; }

std::string containerNames(const std::vector<MovieContainer>& containers) {
    std::string text;
    for (std::size_t i = 0; i < containers.size(); ++i) {
        text += i == 0 ? "" : i + 1 == containers.size() ? " and " : ", ";
        text += containerName(containers[i]);
    }
    return text;
}

const std::vector<CompressorInfo>& availableCompressors() {
    static const std::vector<CompressorInfo> list = [] {
        keepLibraryMessages();
        std::vector<CompressorInfo> result;
        for (const EncoderSpec& spec : kEncoders) {
            if (available(spec)) result.push_back({spec.code, spec.description, containersOf(spec.containers)});
        }
        return result;
    }();
    return list;
}

std::vector<CompressorInfo> compressorsFor(MovieContainer container) {
    std::vector<CompressorInfo> result;
    for (const CompressorInfo& info : availableCompressors()) {
        if (std::find(info.containers.begin(), info.containers.end(), container) != info.containers.end()) {
            result.push_back(info);
        }
    }
    return result;
}

std::optional<FourCC> findCompressor(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "RAW" || upper == "DIB") return kUncompressed;
    if (upper == "AV1") upper = "AV01";
    if (upper.size() != 4) return std::nullopt;
    for (const CompressorInfo& info : availableCompressors()) {
        if (fourCCText(info.code) == upper) return info.code;
    }
    return std::nullopt;
}

FourCC defaultCompressorFor(MovieContainer container) {
    return container == MovieContainer::Mp4 ? makeFourCC("H264") : kDefaultCompressor;
}

Status checkMovieFormat(MovieContainer container, const FourCC& code, int width, int height) {
    const EncoderSpec* spec = findSpec(code);
    if (spec == nullptr || !available(*spec)) {
        return Status::failure("There is no compressor \"" + codecName(code) +
                               "\" on this machine; \"zoomreel-cli codecs\" lists those there are.");
    }
    if ((spec->containers & (1u << static_cast<int>(container))) == 0) {
        return Status::failure("The codec " + codecName(code) + " cannot go in " + containerFileText(container) +
                               "; it goes in " + containerNames(containersOf(spec->containers)) + ".");
    }
    if (fourTwoZero(spec->format) && (width % 2 != 0 || height % 2 != 0)) {
        return Status::failure("The codec " + codecName(code) +
                               " keeps colour at half the resolution and takes only frames of even width and "
                               "height, not " + std::to_string(width) + " x " + std::to_string(height) +
                               ": choose an even size or another codec.");
    }
    return {};
}

}  // namespace zoomreel
