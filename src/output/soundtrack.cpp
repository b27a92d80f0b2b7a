#include "output/soundtrack.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "output/avi_writer.h"
#include "platform/atomic_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace zoomreel {
namespace {

/// The sample rates an AAC stream can declare.
constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

int nearestAacRate(int rate) {
    int best = kAacRates[0];
    for (const int r : kAacRates) {
        if (std::abs(r - rate) < std::abs(best - rate)) best = r;
    }
    return best;
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

}  // namespace

std::int64_t SoundClock::sampleAt(std::int64_t frame) const {
    if (fps <= 0) return anchorSample;
    // (frame - anchorFrame) * rate stays far inside 64 bits: 2^31 frames times a rate below 2^20.
    return anchorSample + (frame - anchorFrame) * rate / fps;
}

SoundClock SoundClock::forFile(std::int64_t firstFrame, std::int32_t fileFps) const {
    if (fileFps == fps) return *this;
    SoundClock next = *this;
    next.anchorSample = sampleAt(firstFrame);
    next.anchorFrame = firstFrame;
    next.fps = fileFps;
    return next;
}

/// The demuxer, the decoder, the converter and a queue of converted samples, with the position of the queue's
/// first sample.
struct MovieSound::Decoder {
    std::filesystem::path file;
    double startSeconds = 0;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* converter = nullptr;
    AVAudioFifo* queue = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool aac = false;
    int rate = 0;
    int channels = 0;
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_S16;
    AVChannelLayout inLayout{};
    int inFormat = -1;
    int inRate = 0;
    std::vector<std::uint8_t*> converted;  ///< planes of `convertedCapacity` samples
    int convertedCapacity = 0;
    std::int64_t position = 0;  ///< of the queue's first sample, from the start position
    bool flushSent = false;
    bool ended = false;

    ~Decoder() {
        if (!converted.empty()) av_freep(&converted[0]);
        av_audio_fifo_free(queue);
        swr_free(&converter);
        av_channel_layout_uninit(&inLayout);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    Status decodingFailure(int code) const {
        const double at = startSeconds + static_cast<double>(position + (queue ? av_audio_fifo_size(queue) : 0)) /
                                             std::max(rate, 1);
        return Status::failure("The soundtrack " + quotedPath(file) + " cannot be decoded at " + secondsText(at) +
                               ": " + errorText(code) + ".");
    }

    /// Sets the converter up for the decoder's frames: the output rate and channels follow the first frame.
    Status setUpConverter() {
        if (converter != nullptr) {
            if (frame->format == inFormat && frame->sample_rate == inRate &&
                av_channel_layout_compare(&frame->ch_layout, &inLayout) == 0) {
                return {};
            }
            return Status::failure("The soundtrack " + quotedPath(file) +
                                   " changes its sample format part way, which is not supported.");
        }
        inFormat = frame->format;
        inRate = frame->sample_rate;
        if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0 || inRate <= 0) return decodingFailure(AVERROR(EINVAL));
        AVChannelLayout in{};
        if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&in, inLayout.nb_channels);
        } else {
            av_channel_layout_copy(&in, &inLayout);
        }
        channels = in.nb_channels == 1 ? 1 : 2;
        AVChannelLayout out{};
        av_channel_layout_default(&out, channels);
        rate = aac ? nearestAacRate(inRate) : inRate;
        const int made = swr_alloc_set_opts2(&converter, &out, sampleFormat, rate, &in,
                                             static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        if (made < 0) return decodingFailure(made);
        if (const int ready = swr_init(converter); ready < 0) return decodingFailure(ready);
        queue = av_audio_fifo_alloc(sampleFormat, channels, 4096);
        if (queue == nullptr) return decodingFailure(AVERROR(ENOMEM));
        return {};
    }

    /// Converts `count` samples of `input` (none: what the converter still holds) into the queue.
    Status convert(const std::uint8_t** input, int count) {
        const int room = swr_get_out_samples(converter, count);
        if (room > convertedCapacity) {
            if (!converted.empty()) av_freep(&converted[0]);
            converted.assign(static_cast<std::size_t>(channels), nullptr);
            if (av_samples_alloc(converted.data(), nullptr, channels, room, sampleFormat, 0) < 0) {
                converted.clear();
                convertedCapacity = 0;
                return decodingFailure(AVERROR(ENOMEM));
            }
            convertedCapacity = room;
        }
        const int made = swr_convert(converter, converted.data(), convertedCapacity, input, count);
        if (made < 0) return decodingFailure(made);
        if (made > 0 && av_audio_fifo_write(queue, reinterpret_cast<void**>(converted.data()), made) < made) {
            return decodingFailure(AVERROR(ENOMEM));
        }
        return {};
    }

    /// Adds the next decoded frame's samples to the queue, or marks the end of the soundtrack.
    Status more() {
        for (;;) {
            const int got = avcodec_receive_frame(codec, frame);
            if (got >= 0) {
                if (Status s = setUpConverter(); !s) return s;
                const Status s = convert(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
                av_frame_unref(frame);
                return s;
            }
            if (got == AVERROR_EOF) {
                ended = true;
                if (converter == nullptr) return {};
                // What the converter holds back for its filter.
                for (;;) {
                    const int before = av_audio_fifo_size(queue);
                    if (Status s = convert(nullptr, 0); !s) return s;
                    if (av_audio_fifo_size(queue) == before) return {};
                }
            }
            if (got != AVERROR(EAGAIN)) return decodingFailure(got);
            if (flushSent) return decodingFailure(AVERROR_BUG);
            const int read = av_read_frame(format, packet);
            if (read == AVERROR_EOF) {
                avcodec_send_packet(codec, nullptr);
                flushSent = true;
                continue;
            }
            if (read < 0) return decodingFailure(read);
            if (packet->stream_index != stream) {
                av_packet_unref(packet);
                continue;
            }
            const int sent = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) return decodingFailure(sent);
        }
    }

    /// Passes over the samples before `to`; past the end the position moves on over silence.
    Status passOver(std::int64_t to) {
        while (position < to) {
            const int queued = av_audio_fifo_size(queue);
            if (queued == 0) {
                if (ended) break;
                if (Status s = more(); !s) return s;
                continue;
            }
            const auto drop = static_cast<int>(std::min<std::int64_t>(queued, to - position));
            av_audio_fifo_drain(queue, drop);
            position += drop;
        }
        position = std::max(position, to);
        return {};
    }
};

MovieSound::MovieSound() : decoder_(std::make_unique<Decoder>()) {}
MovieSound::~MovieSound() = default;

int MovieSound::sampleRate() const { return decoder_->rate; }
int MovieSound::channels() const { return decoder_->channels; }
int MovieSound::sampleFormat() const { return decoder_->sampleFormat; }
bool MovieSound::exhausted() const { return decoder_->ended && av_audio_fifo_size(decoder_->queue) == 0; }

Status MovieSound::open(const std::filesystem::path& file, double startSeconds, MovieContainer container,
                        std::unique_ptr<MovieSound>& sound) {
    keepLibraryMessages();
    std::unique_ptr<MovieSound> opened(new MovieSound());
    Decoder& d = *opened->decoder_;
    d.file = file;
    d.aac = container == MovieContainer::Mp4;
    d.sampleFormat = d.aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    if (!(startSeconds >= 0) || !std::isfinite(startSeconds)) {
        return Status::failure("The soundtrack's start must be a number of seconds of 0 or more, not " +
                               std::to_string(startSeconds) + ".");
    }
    // Through the file protocol, so that a name with a colon is a file, not a protocol.
    const std::string path = "file:" + file.string();
    if (const int code = avformat_open_input(&d.format, path.c_str(), nullptr, nullptr); code < 0) {
        return Status::failure("Cannot open the soundtrack " + quotedPath(file) + ": " + errorText(code) + ".");
    }
    if (const int code = avformat_find_stream_info(d.format, nullptr); code < 0) {
        return Status::failure("Cannot read the soundtrack " + quotedPath(file) + ": " + errorText(code) + ".");
    }
    const AVCodec* decoder = nullptr;
    d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (d.stream == AVERROR_STREAM_NOT_FOUND) {
        return Status::failure("The file " + quotedPath(file) + " holds no sound to use as a soundtrack.");
    }
    if (d.stream < 0 || decoder == nullptr) {
        return Status::failure("The sound of " + quotedPath(file) + " is in a form that cannot be decoded here.");
    }
    d.codec = avcodec_alloc_context3(decoder);
    d.packet = av_packet_alloc();
    d.frame = av_frame_alloc();
    if (d.codec == nullptr || d.packet == nullptr || d.frame == nullptr) return d.decodingFailure(AVERROR(ENOMEM));
    avcodec_parameters_to_context(d.codec, d.format->streams[d.stream]->codecpar);
    if (const int code = avcodec_open2(d.codec, decoder, nullptr); code < 0) {
        return Status::failure("The sound of " + quotedPath(file) + " cannot be decoded: " + errorText(code) + ".");
    }
    // The first samples tell the rate and the channels, and show that the sound decodes at all.
    while (d.converter == nullptr && !d.ended) {
        if (Status s = d.more(); !s) return s;
    }
    if (d.converter == nullptr) {
        return Status::failure("The file " + quotedPath(file) + " holds no sound to use as a soundtrack.");
    }
    const auto skip = static_cast<std::int64_t>(std::llround(startSeconds * d.rate));
    if (Status s = d.passOver(skip); !s) return s;
    while (av_audio_fifo_size(d.queue) == 0 && !d.ended) {
        if (Status s = d.more(); !s) return s;
    }
    if (av_audio_fifo_size(d.queue) == 0) {
        return Status::failure("The soundtrack start of " + secondsText(startSeconds) + " lies past the end of " +
                               quotedPath(file) + ", which is shorter.");
    }
    d.position = 0;  // positions count from the start from now on
    d.startSeconds = startSeconds;
    opened->clock.rate = d.rate;
    sound = std::move(opened);
    return {};
}

Status MovieSound::read(std::int64_t from, int count, std::uint8_t* const* planes) {
    Decoder& d = *decoder_;
    if (from < d.position) return d.decodingFailure(AVERROR_BUG);
    if (Status s = d.passOver(from); !s) return s;
    while (av_audio_fifo_size(d.queue) < count && !d.ended) {
        if (Status s = d.more(); !s) return s;
    }
    const int got = std::max(0, av_audio_fifo_read(d.queue, reinterpret_cast<void**>(const_cast<std::uint8_t**>(planes)), count));
    if (got < count) {
        av_samples_set_silence(const_cast<std::uint8_t**>(planes), got, count - got, d.channels, d.sampleFormat);
    }
    d.position += count;
    return {};
}

}  // namespace zoomreel
