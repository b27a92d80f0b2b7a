#include "output/movie_probe.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "test_util.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace zoomreel::test {
namespace {

AVCodecContext* openDecoder(const AVStream* stream) {
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr) return nullptr;
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, stream->codecpar);
    if (avcodec_open2(codec, decoder, nullptr) < 0) avcodec_free_context(&codec);
    return codec;
}

}  // namespace

DecodedMovie decodeMovie(const std::filesystem::path& path) {
    DecodedMovie movie;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.string().c_str(), nullptr, nullptr) < 0) return movie;
    const int videoIndex = avformat_find_stream_info(format, nullptr) < 0 ? -1
                           : av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVCodecContext* codec = videoIndex < 0 ? nullptr : openDecoder(format->streams[videoIndex]);
    if (codec == nullptr) {
        avformat_close_input(&format);
        return movie;
    }
    const int soundIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecContext* sound = soundIndex < 0 ? nullptr : openDecoder(format->streams[soundIndex]);
    movie.opened = true;
    movie.codec = codec->codec->name;
    const AVStream* stream = format->streams[videoIndex];
    const AVCodecParameters& video = *stream->codecpar;
    for (int i = 0; i < 4 && video.codec_tag != 0; ++i) movie.fourCC += static_cast<char>(video.codec_tag >> (8 * i));
    movie.width = video.width;
    movie.height = video.height;
    movie.rateNumerator = stream->avg_frame_rate.num;
    movie.rateDenominator = stream->avg_frame_rate.den;
    movie.colorPrimaries = video.color_primaries;
    movie.colorTransfer = video.color_trc;
    movie.colorSpace = video.color_space;
    movie.colorRange = video.color_range;
    SwrContext* resampler = nullptr;
    if (sound != nullptr) {
        movie.soundCodec = sound->codec->name;
        movie.channels = sound->ch_layout.nb_channels;
        swr_alloc_set_opts2(&resampler, &sound->ch_layout, AV_SAMPLE_FMT_FLT, sound->sample_rate, &sound->ch_layout,
                            sound->sample_fmt, sound->sample_rate, 0, nullptr);
        swr_init(resampler);
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* converter = nullptr;
    // Sends `sent` (nullptr: the end of the stream) and keeps every frame the decoder gives back.
    auto decode = [&](AVCodecContext* decoder, const AVPacket* sent) {
        avcodec_send_packet(decoder, sent);
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            if (decoder == sound) {
                const std::size_t at = movie.samples.size();
                movie.samples.resize(at + static_cast<std::size_t>(frame->nb_samples) * movie.channels);
                std::uint8_t* out[1] = {reinterpret_cast<std::uint8_t*>(movie.samples.data() + at)};
                swr_convert(resampler, out, frame->nb_samples, const_cast<const std::uint8_t**>(frame->extended_data),
                            frame->nb_samples);
                continue;
            }
            const auto pixelFormat = static_cast<AVPixelFormat>(frame->format);
            converter = sws_getCachedContext(converter, frame->width, frame->height, pixelFormat, frame->width,
                                             frame->height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
            // The matrix and range the frame says it has (JPEG's full range for the "J" formats).
            const bool full = frame->color_range == AVCOL_RANGE_JPEG || pixelFormat == AV_PIX_FMT_YUVJ420P;
            const int matrix = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
            sws_setColorspaceDetails(converter, sws_getCoefficients(matrix), full ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(frame->width) * frame->height * 3);
            std::uint8_t* planes[1] = {pixels.data()};
            const int strides[1] = {frame->width * 3};
            sws_scale(converter, frame->data, frame->linesize, 0, frame->height, planes, strides);
            movie.frames.push_back(std::move(pixels));
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == videoIndex) {
            movie.keyPackets.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            decode(codec, packet);
        } else if (sound != nullptr && packet->stream_index == soundIndex) {
            decode(sound, packet);
        }
        av_packet_unref(packet);
    }
    decode(codec, nullptr);
    if (sound != nullptr) decode(sound, nullptr);
    swr_free(&resampler);
    sws_freeContext(converter);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avcodec_free_context(&sound);
    avformat_close_input(&format);
    return movie;
}

void writeWav(const std::filesystem::path& path, int rate, int channels, const std::vector<std::int16_t>& samples) {
    const auto bytes = static_cast<std::int32_t>(samples.size() * 2);
    ByteWriter w;
    w.raw("RIFF").i32(36 + bytes).raw("WAVEfmt ").i32(16).u16(1).u16(static_cast<std::uint16_t>(channels));
    w.i32(rate).i32(rate * channels * 2).u16(static_cast<std::uint16_t>(channels * 2)).u16(16);
    w.raw("data").i32(bytes);
    for (const std::int16_t s : samples) w.u16(static_cast<std::uint16_t>(s));
    writeBytes(path, w.bytes());
}

std::vector<float> beatTrack(int rate, double bpm, double seconds, double leadIn, bool drums,
                             std::vector<double>* beats) {
    std::vector<float> out(static_cast<std::size_t>(seconds * rate));
    std::uint32_t noise = 1;
    const double period = 60.0 / bpm;
    for (int beat = 0; leadIn + beat * period < seconds; ++beat) {
        if (beats != nullptr) beats->push_back(leadIn + beat * period);
        for (int half = 0; half < (drums ? 2 : 1); ++half) {
            const auto first = static_cast<std::size_t>(std::llround((leadIn + (beat + half * 0.5) * period) * rate));
            for (std::size_t i = first; i < std::min(out.size(), first + rate / 4); ++i) {
                const double t = double(i - first) / rate;
                noise = noise * 1664525u + 1013904223u;
                const double white = double(noise >> 8) / double(1 << 24) * 2 - 1;
                double v = 0.12 * white * std::exp(-t * 200);  // the hi-hat (or the click's edge)
                if (!drums) v = 0.8 * std::sin(2 * std::numbers::pi * 1500 * t) * std::exp(-t * 150);
                if (drums && half == 0) {
                    v += beat % 2 == 0 ? 0.7 * std::sin(2 * std::numbers::pi * 60 * t) * std::exp(-t * 20)
                                       : 0.5 * white * std::exp(-t * 25);
                }
                out[i] += static_cast<float>(v);
            }
        }
    }
    return out;
}

std::vector<std::int16_t> toPcm(const std::vector<float>& samples) {
    std::vector<std::int16_t> pcm;
    for (const float s : samples) pcm.push_back(static_cast<std::int16_t>(std::clamp(s, -1.0f, 1.0f) * 32000));
    return pcm;
}

std::vector<std::int16_t> toneSamples(int rate, int channels, double seconds, double frequency) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate) * channels);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i / channels) / rate;
        const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i % channels + 1) * t;
        samples[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(phase)));
    }
    return samples;
}

}  // namespace zoomreel::test
