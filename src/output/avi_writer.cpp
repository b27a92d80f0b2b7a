#include "output/avi_writer.h"
#include "output/movie_format_table.h"

#include "output/msvideo1_encoder.h"
#include "platform/worker_pool.h"

#include <algorithm>
#include <array>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace zoomreel {
namespace {

struct QueuedFrame {
    std::vector<std::uint8_t> pixels;  ///< or, once encoded by the caller, the frame's codes
    std::int64_t index = 0;
    bool encoded = false;
    bool standsAlone = true;  ///< of encoded frames: no other frame is needed to show it
};

}  // namespace

using namespace formats;

/// Everything that exists from a successful set-up to `Release`: the muxer, the encoders and the thread that feeds
/// them from a short queue of frame copies.
struct AviWriter::Output {
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* codec = nullptr;  ///< none for full frames and Microsoft Video 1
    std::unique_ptr<MsVideo1Encoder> msvideo1;
    bool callerEncodes = false;  ///< Microsoft Video 1 frames are encoded in `AppendNext`, not on the thread
    std::vector<std::uint8_t> encoded;
    int keyFrameEvery = 1;
    SwsContext* converter = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    bool fileCreated = false;
    bool headerWritten = false;
    int frameRate = 1;
    int width = 0;
    int height = 0;
    int stride = 0;

    // The sound: the samples from `soundStart` (of the movie's sound) to the first sample of the frame after the
    // last one written, encoded after each frame.
    MovieSound* sound = nullptr;
    SoundClock clock;
    std::int64_t firstFrame = 0;
    std::int64_t soundStart = 0;
    std::int64_t soundWritten = 0;  ///< samples of this file handed to the encoder
    std::int64_t framesDone = 0;    ///< one past the index of the last frame written
    AVStream* soundStream = nullptr;
    AVCodecContext* soundCodec = nullptr;
    AVFrame* soundFrame = nullptr;
    int soundFrameSize = 0;  ///< the encoder's samples per frame; 0: any number, up to `kSoundChunk`
    static constexpr int kSoundChunk = 4096;

    // The queue between `AppendNext` and the encoding thread. A few frames are enough to even out the encoder's
    // pace; beyond that the caller waits, so memory stays bounded when the encoder is the slower.
    static constexpr std::size_t kQueuedFrames = 3;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QueuedFrame> queue;
    std::vector<std::vector<std::uint8_t>> spare;
    bool closing = false;
    std::string writeError;  ///< the failure, until the caller hears of it
    std::string writeErrorDetail;
    /// A frame or its sound could not be written: the file misses part of the movie, whether or not the caller
    /// has heard of it yet, and is never given the movie's name. Frames queued after it are dropped.
    bool failed = false;
    std::thread encoder;

    /// Lets the encoding thread write what is queued, then ends it.
    void stopEncoder() {
        if (!encoder.joinable()) return;
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        changed.notify_all();
        encoder.join();
    }

    ~Output() {
        stopEncoder();
        sws_freeContext(converter);
        av_frame_free(&picture);
        av_frame_free(&soundFrame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avcodec_free_context(&soundCodec);
        if (format != nullptr) {
            if (format->pb != nullptr) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    /// Hands a packet to the muxer: interleaved with the other stream's when the file has sound.
    int mux(AVPacket* p) {
        return soundStream != nullptr ? av_interleaved_write_frame(format, p) : av_write_frame(format, p);
    }

    /// Writes every packet `encoderContext` has ready into `target`; false, with the reason, when the file
    /// refused one.
    bool drainPackets(AVCodecContext* encoderContext, AVStream* target, std::string& detail) {
        for (;;) {
            const int got = avcodec_receive_packet(encoderContext, packet);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
            if (got < 0) {
                detail = errorText(got);
                return false;
            }
            av_packet_rescale_ts(packet, encoderContext->time_base, target->time_base);
            packet->stream_index = target->index;
            const int wrote = mux(packet);
            if (wrote < 0) {
                detail = errorText(wrote);
                return false;
            }
        }
    }

    /// Encodes the file's sound up to its sample `end`: whole encoder frames, and with `last` the rest too and
    /// what the encoder holds back. A soundtrack that fails to decode is the failure's text itself.
    bool writeSound(std::int64_t end, bool last, std::string& text, std::string& detail) {
        if (soundCodec == nullptr) return true;
        for (;;) {
            const std::int64_t due = end - soundWritten;
            std::int64_t count = soundFrameSize > 0 ? (due >= soundFrameSize || last ? std::min<std::int64_t>(due, soundFrameSize) : 0)
                                                    : std::min<std::int64_t>(due, kSoundChunk);
            if (count <= 0) break;
            soundFrame->nb_samples = soundFrameSize > 0 ? soundFrameSize : kSoundChunk;
            if (const int writable = av_frame_make_writable(soundFrame); writable < 0) {
                detail = errorText(writable);
                return false;
            }
            soundFrame->nb_samples = static_cast<int>(count);
            if (Status s = sound->read(soundStart + soundWritten, static_cast<int>(count), soundFrame->extended_data);
                !s) {
                text = s.message;
                return false;
            }
            soundFrame->pts = soundWritten;
            soundWritten += count;
            if (const int sent = avcodec_send_frame(soundCodec, soundFrame); sent < 0) {
                detail = errorText(sent);
                return false;
            }
            if (!drainPackets(soundCodec, soundStream, detail)) return false;
        }
        if (!last) return true;
        if (const int sent = avcodec_send_frame(soundCodec, nullptr); sent < 0 && sent != AVERROR_EOF) {
            detail = errorText(sent);
            return false;
        }
        return drainPackets(soundCodec, soundStream, detail);
    }

    /// One frame: encoded (or, for full frames, written as it is: the rows are already bottom-up and padded, as an
    /// AVI file stores them). Runs on the encoding thread.
    bool writeFrame(QueuedFrame& frame, std::string& detail) {
        if (codec == nullptr) {
            // Full frames are written as they are; Microsoft Video 1 is encoded here unless the caller did. The
            // packet borrows the bytes for the one call, which writes them (or, interleaved with sound, copies
            // them) at once.
            bool standsAlone = frame.standsAlone;
            const std::uint8_t* bytes = frame.pixels.data();
            std::size_t size = frame.pixels.size();
            if (msvideo1 && !frame.encoded) {
                const bool key = keyFrameEvery > 0 ? frame.index % keyFrameEvery == 0 : frame.index == 0;
                standsAlone = msvideo1->encode(frame.pixels.data(), key, encoded);
                bytes = encoded.data();
                size = encoded.size();
            }
            av_packet_unref(packet);
            packet->data = const_cast<std::uint8_t*>(bytes);
            packet->size = static_cast<int>(size);
            packet->pts = packet->dts = frame.index;
            packet->duration = 1;
            if (standsAlone) packet->flags |= AV_PKT_FLAG_KEY;
            packet->stream_index = stream->index;
            av_packet_rescale_ts(packet, AVRational{1, frameRate}, stream->time_base);
            const int wrote = mux(packet);
            packet->data = nullptr;
            packet->size = 0;
            if (wrote < 0) {
                detail = errorText(wrote);
                return false;
            }
            return true;
        }
        if (const int writable = av_frame_make_writable(picture); writable < 0) {
            detail = errorText(writable);
            return false;
        }
        // The copy is bottom-up: reading it from its last row upwards gives the picture from the top.
        const std::uint8_t* top = frame.pixels.data() + static_cast<std::size_t>(height - 1) * stride;
        const std::uint8_t* const planes[1] = {top};
        const int strides[1] = {-stride};
        sws_scale(converter, planes, strides, 0, height, picture->data, picture->linesize);
        picture->pts = frame.index;
        const int sent = avcodec_send_frame(codec, picture);
        if (sent < 0) {
            detail = errorText(sent);
            return false;
        }
        return drainPackets(codec, stream, detail);
    }

    void encodeLoop() {
        // The encoder mostly takes what the renderer leaves of the processors. When it falls behind, the queue
        // fills, the renderer waits, and the encoder gets the processors then.
        lowerThreadPriority();
        for (;;) {
            QueuedFrame frame;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return closing || !queue.empty(); });
                if (queue.empty()) return;
                frame = std::move(queue.front());
                queue.pop_front();
            }
            std::string text = "Unable to write frame " + std::to_string(frame.index + 1) + " to the movie file.";
            std::string detail;
            bool written = false;
            // After a failure the file is lost anyway: the frames still queued are passed over.
            if (!failed) {
                try {
                    written = writeFrame(frame, detail);
                    if (written) {
                        framesDone = frame.index + 1;
                        written = writeSound(clock.sampleAt(firstFrame + framesDone) - soundStart, false, text, detail);
                    }
                } catch (const std::bad_alloc&) {
                    detail = errorText(AVERROR(ENOMEM));
                }
                if (written && format->pb != nullptr && format->pb->error < 0) {
                    detail = errorText(format->pb->error);
                    written = false;
                }
            }
            {
                std::lock_guard lock(mutex);
                if (!written && !failed) {
                    failed = true;
                    writeError = text;
                    writeErrorDetail = detail;
                }
                // The spare list has room for every copy made (reserved at set-up): this cannot throw.
                spare.push_back(std::move(frame.pixels));
            }
            changed.notify_all();
        }
    }
};

std::filesystem::path partialFileName(const std::filesystem::path& fileName) {
    std::filesystem::path partial = fileName;
    partial += ".part";
    return partial;
}

AviWriter::AviWriter(std::filesystem::path fileName, FourCC compressorCode, std::int32_t rate,
                     MovieContainer movieContainer)
    : frameRate(rate), compressor(compressorCode), container(movieContainer), fileName_(std::move(fileName)) {
    keepLibraryMessages();
}

void AviWriter::setSound(MovieSound* sound, std::int64_t firstFrame) {
    sound_ = sound;
    firstFrame_ = firstFrame;
    if (sound_ == nullptr) return;
    soundClock_ = sound_->clock.forFile(firstFrame, frameRate);
    sound_->clock = soundClock_;
}

AviWriter::~AviWriter() { Release(); }

std::string AviWriter::failureMessage() const {
    std::string text = lastError.empty() ? "Unable to write the movie file." : lastError;
    text += " (" + fileName_.string();
    if (!lastErrorDetail.empty()) text += ": " + lastErrorDetail;
    return text + ")";
}

int AviWriter::ChooseCompressor(const CompressorChooser& chooser, int width, int height) {
    if (!chooser) return 0;
    CompressorRequest request;
    request.compressors = compressorsFor(container);
    request.initial.compressor = compressor;
    request.initial.keyFrameEvery = 1;
    request.initial.quality = 8500;
    request.width = width;
    request.height = height;
    request.frameRate = frameRate;
    const std::optional<CompressorChoice> choice = chooser(request);
    if (!choice) return 0;
    compressor = choice->compressor;
    keyFrameEvery = choice->keyFrameEvery;
    quality = choice->quality / 100;  // the dialog counts quality in hundredths
    return 1;
}

AviStatus AviWriter::AppendFrame(const Raster& frame) {
    switch (appendMode) {
        case 1: return AppendFirst(frame);
        case 2: return AppendNext(frame);
        default: return AppendRefused(frame);
    }
}

AviStatus AviWriter::AppendRefused(const Raster&) { return kAviFail; }

AviStatus AviWriter::fail(std::string text, std::string detail) {
    lastError = std::move(text);
    lastErrorDetail = std::move(detail);
    Release();
    return kAviFail;
}

AviStatus AviWriter::AppendFirst(const Raster& frame) {
    lastLibraryMessage.clear();
    const int width = frame.width();
    const int height = frame.height();
    output_ = std::make_unique<Output>();
    Output& out = *output_;
    out.width = width;
    out.height = height;
    out.stride = Raster::strideFor(width);
    out.frameRate = frameRate;
    auto libraryDetail = [](int code) { return lastLibraryMessage.empty() ? errorText(code) : lastLibraryMessage; };

    out.packet = av_packet_alloc();
    if (out.packet == nullptr || frame.empty()) return fail("Unable to Allocate Memory");

    // The codec must exist here, fit the container and take the frame's size.
    const EncoderSpec* spec = findSpec(compressor);
    if (spec == nullptr || !available(*spec)) {
        return fail("A suitable compressor cannot be found.",
                    "There is no compressor \"" + fourCCText(compressor) + "\" on this machine.");
    }
    if (Status fits = checkMovieFormat(container, compressor, width, height); !fits) return fail(fits.message);

    // The file. It is created here and nowhere else, under the name of the movie with ".part" added, and takes
    // the movie's name only once it is finished: a movie killed or stopped by a full disk never leaves a file that
    // looks finished but has no index, and an existing movie of that name stays until the new one replaces it.
    // Named through the file protocol: a folder such as "zoom:1" would otherwise be taken for a protocol.
    const ContainerSpec& box = specOf(container);
    const std::string path = "file:" + partialFileName(fileName_).string();
    if (avformat_alloc_output_context2(&out.format, nullptr, box.muxer, path.c_str()) < 0 || out.format == nullptr) {
        return fail("Unable to Create the Movie File");
    }
    if (const int opened = avio_open(&out.format->pb, path.c_str(), AVIO_FLAG_WRITE); opened < 0) {
        return fail("Unable to Create the Movie File", errorText(opened));
    }
    out.fileCreated = true;
    const bool avi = container == MovieContainer::Avi;
    const bool globalHeader = (out.format->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    // The stream: one frame lasts 1 / frameRate seconds.
    out.stream = avformat_new_stream(out.format, nullptr);
    if (out.stream == nullptr || frameRate < 1) {
        return fail("Unable to Create Stream",
                    frameRate < 1 ? "The frame rate " + std::to_string(frameRate) + " is not valid." : std::string());
    }
    out.stream->time_base = AVRational{1, frameRate};
    out.stream->avg_frame_rate = AVRational{frameRate, 1};

    // The encoder, with the key-frame interval and quality mapped onto its own controls.
    AVCodecParameters* parameters = out.stream->codecpar;
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->width = width;
    parameters->height = height;
    if (spec->code == kUncompressed) {
        parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
        parameters->format = AV_PIX_FMT_BGR24;
        parameters->bits_per_coded_sample = bitsPerPixel;
        parameters->codec_tag = 0;  // BI_RGB: rows bottom-up, padded to 4 bytes
    } else if (spec->code == kDefaultCompressor) {
        // Sides that are not multiples of 4 are coded on the next multiple up: the stream declares that size, so
        // that every decoder shows the whole frame, plus at most 3 repeated rows at the top and columns at the
        // right, in place.
        parameters->width = MsVideo1Encoder::codedSide(width);
        parameters->height = MsVideo1Encoder::codedSide(height);
        parameters->codec_id = AV_CODEC_ID_MSVIDEO1;
        parameters->codec_tag = static_cast<unsigned>(MKTAG('M', 'S', 'V', 'C'));
        parameters->bits_per_coded_sample = 16;
        try {
            out.msvideo1 = std::make_unique<MsVideo1Encoder>(width, height, quality);
        } catch (const std::bad_alloc&) {
            return fail("There is not enough memory to complete the operation.");
        }
        out.keyFrameEvery = keyFrameEvery;
    } else {
        const AVCodec* encoder = encoderOf(*spec);
        out.codec = avcodec_alloc_context3(encoder);
        if (out.codec == nullptr) return fail("There is not enough memory to complete the operation.");
        AVCodecContext* c = out.codec;
        c->width = width;
        c->height = height;
        c->pix_fmt = spec->format;
        c->time_base = AVRational{1, frameRate};
        c->framerate = AVRational{frameRate, 1};
        // AVI names the codec by the FourCC; MP4 and Matroska by their own codes, which the muxer chooses, but for
        // H.265 in MP4 the "hvc1" that players look for (the muxer's default, "hev1", many refuse).
        if (avi) {
            c->codec_tag = static_cast<unsigned>(MKTAG(compressor[0], compressor[1], compressor[2], compressor[3]));
        } else if (spec->code == makeFourCC("HEVC") && container == MovieContainer::Mp4) {
            c->codec_tag = static_cast<unsigned>(MKTAG('h', 'v', 'c', '1'));
        }
        if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // The colours a player is to show: BT.709 in limited range for the 4:2:0 codecs, JPEG's own full-range
        // BT.601 for Motion JPEG (its decoders take that whatever a tag says); the lossless ones keep RGB.
        // MPEG-4 part 2 in AVI has nowhere to say so (its encoder writes no colour description and AVI holds no
        // tags): it gets the BT.601 matrix that decoders take for a stream that says nothing.
        const bool untagged = avi && spec->code == makeFourCC("FMP4");
        if (fourTwoZero(spec->format)) {
            const bool jpeg = spec->format == AV_PIX_FMT_YUVJ420P;
            c->color_primaries = AVCOL_PRI_BT709;
            c->color_trc = AVCOL_TRC_BT709;
            c->colorspace = jpeg || untagged ? AVCOL_SPC_BT470BG : AVCOL_SPC_BT709;
            c->color_range = jpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        }
        // Key frames: the interval is the GOP length; 0 asks for none but the first.
        const int interval = keyFrameEvery > 0 ? keyFrameEvery : INT_MAX / 2;
        c->gop_size = interval;
        c->keyint_min = std::min(interval, 25);
        // Quality, 0 to 100. Motion JPEG and MPEG-4 run at a fixed quantiser from 31 (quality 0) to 1 (quality
        // 100); H.264 and H.265 at a constant rate factor from 51 down to 0, AV1 from 63 down to 0. The lossless
        // codecs need none. (Microsoft Video 1 weighs its errors by it; see its encoder.)
        const int q = std::clamp(quality, 0, 100);
        const std::string encoderName = encoder->name;
        if (spec->code == makeFourCC("MJPG") || spec->code == makeFourCC("FMP4")) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * (1 + (100 - q) * 30 / 100);
            c->qmin = 1;
            c->qmax = 31;
        } else if (spec->code == makeFourCC("H264") || spec->code == makeFourCC("HEVC")) {
            av_opt_set_int(c->priv_data, "crf", (100 - q) * 51 / 100, 0);
            av_opt_set(c->priv_data, "preset", "fast", 0);
            if (encoderName == "libx265") av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
        } else if (encoderName == "libaom-av1") {
            av_opt_set_int(c->priv_data, "crf", (100 - q) * 63 / 100, 0);
            av_opt_set_int(c->priv_data, "cpu-used", 8, 0);
            av_opt_set(c->priv_data, "usage", "realtime", 0);
            av_opt_set_int(c->priv_data, "row-mt", 1, 0);
        } else if (encoderName == "libsvtav1") {
            av_opt_set_int(c->priv_data, "crf", (100 - q) * 63 / 100, 0);
            av_opt_set_int(c->priv_data, "preset", 10, 0);
        } else if (encoderName == "librav1e") {
            av_opt_set_int(c->priv_data, "qp", (100 - q) * 255 / 100, 0);
            av_opt_set_int(c->priv_data, "speed", 10, 0);
        }
        if (const int opened = avcodec_open2(c, encoder, nullptr); opened < 0) {
            return fail(compressorFailureText(opened), libraryDetail(opened));
        }
        if (avcodec_parameters_from_context(parameters, c) < 0) return fail("Unable to Create Compressed Stream");
        out.picture = av_frame_alloc();
        if (out.picture != nullptr) {
            out.picture->format = spec->format;
            out.picture->width = width;
            out.picture->height = height;
        }
        out.converter = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, spec->format,
                                       SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        if (out.picture == nullptr || out.converter == nullptr || av_frame_get_buffer(out.picture, 0) < 0) {
            return fail("Unable to Allocate Memory");
        }
        if (spec->format == AV_PIX_FMT_YUV420P && !untagged) {
            // RGB in full range to the BT.709 matrix in limited range, as the stream is tagged.
            const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
            sws_setColorspaceDetails(out.converter, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        }
    }
    av_dict_set(&out.stream->metadata, "title", "Video Stream", 0);

    // The sound: the movie's from this file's first frame on, in the container's own codec at the sound's rate.
    if (sound_ != nullptr) {
        out.sound = sound_;
        out.clock = soundClock_;
        out.firstFrame = firstFrame_;
        out.soundStart = soundClock_.sampleAt(firstFrame_);
        const AVCodec* encoder = avcodec_find_encoder_by_name(box.sound);
        out.soundCodec = encoder != nullptr ? avcodec_alloc_context3(encoder) : nullptr;
        out.soundStream = avformat_new_stream(out.format, nullptr);
        out.soundFrame = av_frame_alloc();
        if (out.soundCodec == nullptr || out.soundStream == nullptr || out.soundFrame == nullptr) {
            return fail("Unable to Create Stream", "There is no encoder for the sound of " + containerFileText(container) + ".");
        }
        AVCodecContext* a = out.soundCodec;
        a->sample_fmt = static_cast<AVSampleFormat>(sound_->sampleFormat());
        a->sample_rate = sound_->sampleRate();
        av_channel_layout_default(&a->ch_layout, sound_->channels());
        a->time_base = AVRational{1, a->sample_rate};
        if (globalHeader) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (container == MovieContainer::Mp4) {
            a->bit_rate = 96000LL * sound_->channels();
            // Its quick search of the quantisers: the default one takes three times as long for a gain that
            // is hard to hear at this rate.
            av_opt_set(a->priv_data, "aac_coder", "fast", 0);
        }
        if (const int opened = avcodec_open2(a, encoder, nullptr); opened < 0) {
            return fail("Unable to Create Stream", libraryDetail(opened));
        }
        if (avcodec_parameters_from_context(out.soundStream->codecpar, a) < 0) return fail("Unable to Create Stream");
        out.soundStream->time_base = a->time_base;
        out.soundFrameSize = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0 ? 0 : a->frame_size;
        out.soundFrame->format = a->sample_fmt;
        out.soundFrame->sample_rate = a->sample_rate;
        out.soundFrame->nb_samples = out.soundFrameSize > 0 ? out.soundFrameSize : Output::kSoundChunk;
        if (av_channel_layout_copy(&out.soundFrame->ch_layout, &a->ch_layout) < 0 ||
            av_frame_get_buffer(out.soundFrame, 0) < 0) {
            return fail("Unable to Allocate Memory");
        }
    }

    AVDictionary* options = nullptr;
    // Full frames keep the rows bottom-up, as the engine and the AVI format store them.
    if (out.codec == nullptr && avi) av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    // MP4: the index first, so that a player starts before the whole file is there, and the colour tags.
    if (container == MovieContainer::Mp4) av_dict_set(&options, "movflags", "+faststart+write_colr", 0);
    const int written = avformat_write_header(out.format, &options);
    av_dict_free(&options);
    if (written < 0) {
        // The header is the first thing written to the file: a full disk or a lost folder shows here.
        std::string text = written == AVERROR(ENOMEM) ? compressorFailureText(written) : "Unable to Create Stream";
        return fail(text, libraryDetail(written));
    }
    out.headerWritten = true;
    try {
        out.spare.reserve(Output::kQueuedFrames + 2);
        out.encoder = std::thread([&out] { out.encodeLoop(); });
    } catch (const std::exception&) {  // no thread, or no room for the queue
        return fail("Unable to Allocate Memory");
    }
    out.callerEncodes = out.msvideo1 != nullptr && encodingPool != nullptr;
    appendMode = 2;
    return AppendNext(frame);
}

AviStatus AviWriter::AppendNext(const Raster& frame) {
    Output& out = *output_;
    const std::int64_t index = sampleIndex++;
    if (frame.width() != out.width || frame.height() != out.height) {
        lastError = "A frame of " + std::to_string(frame.width()) + " x " + std::to_string(frame.height()) +
                    " does not fit the movie's frames of " + std::to_string(out.width) + " x " +
                    std::to_string(out.height) + ".";
        lastErrorDetail.clear();
        return kAviFail;
    }
    std::vector<std::uint8_t> pixels;
    {
        std::unique_lock lock(out.mutex);
        out.changed.wait(lock, [&] { return out.queue.size() < Output::kQueuedFrames; });
        if (!out.spare.empty()) {
            pixels = std::move(out.spare.back());
            out.spare.pop_back();
        }
    }
    bool standsAlone = true;
    try {
        if (out.callerEncodes) {
            const bool key = out.keyFrameEvery > 0 ? index % out.keyFrameEvery == 0 : index == 0;
            standsAlone = out.msvideo1->encode(frame.data(), key, pixels, encodingPool);
        } else {
            pixels.assign(frame.data(), frame.data() + frame.sizeBytes());
        }
    } catch (const std::bad_alloc&) {
        lastError = "There is not enough memory to complete the operation.";
        lastErrorDetail.clear();
        return kAviFail;
    }
    AviStatus status = kAviOk;
    {
        std::lock_guard lock(out.mutex);
        out.queue.push_back({std::move(pixels), index, out.callerEncodes, standsAlone});
        if (!out.writeError.empty()) {
            lastError = std::move(out.writeError);
            lastErrorDetail = std::move(out.writeErrorDetail);
            out.writeError.clear();
            status = kAviFail;
        }
    }
    out.changed.notify_all();
    return status;
}

AviStatus AviWriter::Release() {
    appendMode = 0;
    if (!output_) return kAviOk;
    std::unique_ptr<Output> out = std::move(output_);
    AviStatus status = kAviOk;
    out->stopEncoder();
    if (out->failed) {
        // Its message went to the caller with a later `AppendFrame` already, unless no frame came after it.
        if (!out->writeError.empty()) {
            lastError = out->writeError;
            lastErrorDetail = out->writeErrorDetail;
        }
        status = kAviFail;
    }
    if (out->headerWritten && status == kAviOk) {
        // The encoder's delayed frames, then the index and the final sizes: without them no player opens the file.
        std::string detail;
        if (out->codec != nullptr && avcodec_send_frame(out->codec, nullptr) >= 0 &&
            !out->drainPackets(out->codec, out->stream, detail)) {
            lastError = "Unable to write the last frames to the movie file.";
            lastErrorDetail = detail;
            status = kAviFail;
        }
        // The sound up to the first sample of the frame after the last one.
        std::string text = "Unable to write the sound to the movie file.";
        if (status == kAviOk &&
            !out->writeSound(out->clock.sampleAt(out->firstFrame + out->framesDone) - out->soundStart, true, text,
                             detail)) {
            lastError = text;
            lastErrorDetail = detail;
            status = kAviFail;
        }
        const int finished = av_write_trailer(out->format);
        const int flushed = out->format->pb != nullptr ? out->format->pb->error : 0;
        int closed = 0;
        if (out->format->pb != nullptr) closed = avio_closep(&out->format->pb);
        const int failure = finished < 0 ? finished : flushed < 0 ? flushed : closed;
        if (failure < 0) {
            lastError = "Unable to finish the movie file.";
            lastErrorDetail = errorText(failure);
            status = kAviFail;
        }
    }
    const bool created = out->fileCreated;
    bool named = false;
    if (created && out->headerWritten && status == kAviOk) {
        out.reset();
        std::error_code renamed;
        std::filesystem::rename(partialFileName(fileName_), fileName_, renamed);
        named = !renamed;
        if (renamed) {
            lastError = "Unable to finish the movie file.";
            lastErrorDetail = renamed.message();
            status = kAviFail;
        }
    }
    out.reset();
    // A file that could not be set up or finished is no movie a player could rely on; on a full disk it would
    // only hold the space. The movie of that name from an earlier run, if any, stays as it was.
    if (created && !named) {
        std::error_code ignored;
        std::filesystem::remove(partialFileName(fileName_), ignored);
    }
    return status;
}

void DescribeAviError(AviStatus status, std::string& text) {
    static constexpr struct {
        std::uint32_t code;
        const char* name;
    } kNames[] = {
        {0x80044065u, "AVIERR_UNSUPPORTED"},  {0x80044066u, "AVIERR_BADFORMAT"},  {0x80044067u, "AVIERR_MEMORY"},
        {0x80044068u, "AVIERR_INTERNAL"},     {0x80044069u, "AVIERR_BADFLAGS"},   {0x8004406Au, "AVIERR_BADPARAM"},
        {0x8004406Bu, "AVIERR_BADSIZE"},      {0x8004406Cu, "AVIERR_BADHANDLE"},  {0x8004406Du, "AVIERR_FILEREAD"},
        {0x8004406Eu, "AVIERR_FILEWRITE"},    {0x8004406Fu, "AVIERR_FILEOPEN"},   {0x80044070u, "AVIERR_COMPRESSOR"},
        {0x80044071u, "AVIERR_NOCOMPRESSOR"}, {0x80044072u, "AVIERR_READONLY"},   {0x80044073u, "AVIERR_NODATA"},
        {0x80044074u, "AVIERR_BUFFERTOOSMALL"}, {0x80044075u, "AVIERR_CANTCOMPRESS"},
        {0x800440C6u, "AVIERR_USERABORT"},    {0x800440C7u, "AVIERR_ERROR"},
    };
    for (const auto& entry : kNames) {
        if (static_cast<AviStatus>(entry.code) == status) {
            text = entry.name;
            return;
        }
    }
    char message[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(status, message, sizeof message) == 0) text = std::string(message).substr(0, 255);
}

}  // namespace zoomreel
