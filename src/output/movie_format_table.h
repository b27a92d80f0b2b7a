#pragma once

// The table of containers and encoders behind the format checks, and the error texts of the library, shared by
// the checks and the writer.

#include <array>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "output/movie_formats.h"

namespace zoomreel::formats {

/// The containers, with libavformat's muxer and the codec of the sound in each.
struct ContainerSpec {
    MovieContainer container;
    const char* muxer;
    const char* sound;
    const char* fileText;
};
const ContainerSpec& specOf(MovieContainer container);

/// A compressor the writer knows, written from the pixel format named here.
struct EncoderSpec {
    FourCC code;
    std::array<const char*, 3> encoders;  ///< FFmpeg's encoders for it, the first present is used; none for those
                                          ///< the writer makes itself
    AVPixelFormat format;
    unsigned containers;
    const char* description;
};
const EncoderSpec* findSpec(const FourCC& code);
/// The first of the spec's encoders that this machine's libavcodec has; none for the writer's own.
const AVCodec* encoderOf(const EncoderSpec& spec);
bool available(const EncoderSpec& spec);
bool fourTwoZero(AVPixelFormat format);

/// FFmpeg's last error-level message on this thread: the writer passes it on as the detail of a failure, instead
/// of letting the library print to the terminal.
extern thread_local std::string lastLibraryMessage;
std::string errorText(int code);
/// An encoder that cannot be opened either lacks memory or cannot compress frames of this size or form (most
/// encoders say so with an arbitrary code; the library's message carries the reason).
std::string compressorFailureText(int code);
std::string codecName(const FourCC& code);

}  // namespace zoomreel::formats
