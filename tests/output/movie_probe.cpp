#include "output/movie_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace zoomreel::test {

DecodedMovie decodeMovie(const std::filesystem::path& path) {
    DecodedMovie movie;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.string().c_str(), nullptr, nullptr) < 0) return movie;
    if (avformat_find_stream_info(format, nullptr) < 0 || format->nb_streams != 1) {
        avformat_close_input(&format);
        return movie;
    }
    AVStream* stream = format->streams[0];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, stream->codecpar);
    if (decoder == nullptr || avcodec_open2(codec, decoder, nullptr) < 0) {
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        return movie;
    }
    movie.opened = true;
    const unsigned tag = stream->codecpar->codec_tag;
    if (tag != 0) {
        for (int i = 0; i < 4; ++i) movie.fourCC += static_cast<char>((tag >> (8 * i)) & 0xFF);
    }
    movie.width = stream->codecpar->width;
    movie.height = stream->codecpar->height;
    movie.rateNumerator = stream->avg_frame_rate.num;
    movie.rateDenominator = stream->avg_frame_rate.den;

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* converter = nullptr;
    auto receive = [&] {
        while (avcodec_receive_frame(codec, frame) >= 0) {
            converter = sws_getCachedContext(converter, frame->width, frame->height,
                                             static_cast<AVPixelFormat>(frame->format), frame->width, frame->height,
                                             AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(frame->width) * frame->height * 3);
            std::uint8_t* planes[1] = {pixels.data()};
            const int strides[1] = {frame->width * 3};
            sws_scale(converter, frame->data, frame->linesize, 0, frame->height, planes, strides);
            movie.frames.push_back(std::move(pixels));
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        ++movie.packets;
        movie.keyPackets.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
        avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        receive();
    }
    avcodec_send_packet(codec, nullptr);
    receive();
    sws_freeContext(converter);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return movie;
}

}  // namespace zoomreel::test
