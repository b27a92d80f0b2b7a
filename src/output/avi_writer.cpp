#include "output/avi_writer.h"

#include "output/msvideo1_encoder.h"
#include "platform/worker_pool.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <cstdarg>
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
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace zoomreel {
namespace {

/// The compressors the writer knows, in the order the chooser lists them. Each is written from the pixel format
/// named here: the one the encoder keeps exact where it can, and 4:2:0 for the lossy codecs that players expect
/// in that form.
struct EncoderSpec {
    FourCC code;
    const char* encoder;  ///< FFmpeg's encoder; none for those the writer makes itself
    AVPixelFormat format;
    const char* description;
};
// Microsoft Video 1 has an encoder of its own here: FFmpeg's searches each block's colours so thoroughly that it
// takes many times as long as rendering the frame.
constexpr EncoderSpec kEncoders[] = {
    {makeFourCC("MSVC"), nullptr, AV_PIX_FMT_RGB555LE, "Microsoft Video 1"},
    {makeFourCC("DIB "), nullptr, AV_PIX_FMT_BGR24, "Full frames (uncompressed 24-bit)"},
    {makeFourCC("MJPG"), "mjpeg", AV_PIX_FMT_YUVJ420P, "Motion JPEG"},
    {makeFourCC("FFV1"), "ffv1", AV_PIX_FMT_BGR0, "FFV1, lossless"},
    {makeFourCC("HFYU"), "huffyuv", AV_PIX_FMT_RGB24, "Huffyuv, lossless"},
    {makeFourCC("ULRG"), "utvideo", AV_PIX_FMT_GBRP, "Ut Video, lossless RGB"},
    {makeFourCC("FMP4"), "mpeg4", AV_PIX_FMT_YUV420P, "MPEG-4 part 2"},
    {makeFourCC("H264"), "libx264", AV_PIX_FMT_YUV420P, "H.264"},
};

const EncoderSpec* findSpec(const FourCC& code) {
    for (const EncoderSpec& spec : kEncoders) {
        if (spec.code == code) return &spec;
    }
    return nullptr;
}

bool available(const EncoderSpec& spec) {
    return spec.encoder == nullptr || avcodec_find_encoder_by_name(spec.encoder) != nullptr;
}

/// FFmpeg's last error-level message on this thread: the writer passes it on as the detail of a failure, instead
/// of letting the library print to the terminal.
thread_local std::string lastLibraryMessage;

void recordLibraryMessage(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[512];
    int prefix = 1;
    av_log_format_line2(context, level, format, args, line, sizeof line, &prefix);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    lastLibraryMessage = text;
}

void quietLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(recordLibraryMessage); });
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

/// An encoder that cannot be opened either lacks memory or cannot compress frames of this size or form (most
/// encoders say so with an arbitrary code; the library's message carries the reason).
std::string compressorFailureText(int code) {
    if (code == AVERROR(ENOMEM)) return "There is not enough memory to complete the operation.";
    return "Compression is not supported for this type of data.";
}

struct QueuedFrame {
    std::vector<std::uint8_t> pixels;
    std::int64_t index = 0;
};

}  // namespace

std::string fourCCText(const FourCC& code) { return std::string(code.data(), code.size()); }

const std::vector<CompressorInfo>& availableCompressors() {
    static const std::vector<CompressorInfo> list = [] {
        quietLibrary();
        std::vector<CompressorInfo> result;
        for (const EncoderSpec& spec : kEncoders) {
            if (available(spec)) result.push_back({spec.code, spec.description});
        }
        return result;
    }();
    return list;
}

std::optional<FourCC> findCompressor(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "RAW" || upper == "DIB") return kUncompressed;
    if (upper.size() != 4) return std::nullopt;
    for (const CompressorInfo& info : availableCompressors()) {
        if (fourCCText(info.code) == upper) return info.code;
    }
    return std::nullopt;
}

/// Everything that exists from a successful set-up to `Release`: the muxer, the encoder and the thread that feeds
/// them from a short queue of frame copies.
struct AviWriter::Output {
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* codec = nullptr;  ///< none for full frames and Microsoft Video 1
    std::unique_ptr<MsVideo1Encoder> msvideo1;
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

    // The queue between `AppendNext` and the encoding thread. A few frames are enough to even out the encoder's
    // pace; beyond that the caller waits, so memory stays bounded when the encoder is the slower.
    static constexpr std::size_t kQueuedFrames = 3;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QueuedFrame> queue;
    std::vector<std::vector<std::uint8_t>> spare;
    bool closing = false;
    std::string writeError;  ///< the first frame that failed since the caller last heard of one
    std::string writeErrorDetail;
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
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (format != nullptr) {
            if (format->pb != nullptr) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    /// Writes every packet the encoder has ready; false, with the reason, when the file refused one.
    bool drainPackets(std::string& detail) {
        for (;;) {
            const int got = avcodec_receive_packet(codec, packet);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
            if (got < 0) {
                detail = errorText(got);
                return false;
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int wrote = av_interleaved_write_frame(format, packet);
            if (wrote < 0) {
                detail = errorText(wrote);
                return false;
            }
        }
    }

    /// One frame: encoded (or, for full frames, written as it is: the rows are already bottom-up and padded, as an
    /// AVI file stores them). Runs on the encoding thread.
    bool writeFrame(const QueuedFrame& frame, std::string& detail) {
        if (codec == nullptr) {
            // Full frames are written as they are; Microsoft Video 1 is encoded here. The packet borrows the
            // bytes for the one call, which writes them at once.
            bool standsAlone = true;
            const std::uint8_t* bytes = frame.pixels.data();
            std::size_t size = frame.pixels.size();
            if (msvideo1) {
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
            const int wrote = av_write_frame(format, packet);
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
        return drainPackets(detail);
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
            std::string detail;
            bool written = false;
            try {
                written = writeFrame(frame, detail);
            } catch (const std::bad_alloc&) {
                detail = errorText(AVERROR(ENOMEM));
            }
            if (written && format->pb != nullptr && format->pb->error < 0) {
                detail = errorText(format->pb->error);
                written = false;
            }
            {
                std::lock_guard lock(mutex);
                if (!written && writeError.empty()) {
                    writeError = "Unable to write frame " + std::to_string(frame.index + 1) + " to the movie file.";
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

AviWriter::AviWriter(std::filesystem::path fileName, FourCC compressorCode, std::int32_t rate)
    : frameRate(rate), compressor(compressorCode), fileName_(std::move(fileName)) {
    quietLibrary();
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
    request.compressors = availableCompressors();
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

    // The file. It is created here and nowhere else, under the name of the movie with ".part" added, and takes
    // the movie's name only once it is finished: a movie killed or stopped by a full disk never leaves a file that
    // looks finished but has no index, and an existing movie of that name stays until the new one replaces it.
    // Named through the file protocol: a folder such as "zoom:1" would otherwise be taken for a protocol.
    const std::string path = "file:" + partialFileName(fileName_).string();
    if (avformat_alloc_output_context2(&out.format, nullptr, "avi", path.c_str()) < 0 || out.format == nullptr) {
        return fail("Unable to Create the Movie File");
    }
    if (const int opened = avio_open(&out.format->pb, path.c_str(), AVIO_FLAG_WRITE); opened < 0) {
        return fail("Unable to Create the Movie File", errorText(opened));
    }
    out.fileCreated = true;

    // The stream: one frame lasts 1 / frameRate seconds.
    out.stream = avformat_new_stream(out.format, nullptr);
    if (out.stream == nullptr || frameRate < 1) {
        return fail("Unable to Create Stream",
                    frameRate < 1 ? "The frame rate " + std::to_string(frameRate) + " is not valid." : std::string());
    }
    out.stream->time_base = AVRational{1, frameRate};
    out.stream->avg_frame_rate = AVRational{frameRate, 1};

    // The encoder, with the key-frame interval and quality mapped onto its own controls.
    const EncoderSpec* spec = findSpec(compressor);
    if (spec == nullptr || !available(*spec)) {
        return fail("A suitable compressor cannot be found.",
                    "There is no compressor \"" + fourCCText(compressor) + "\" on this machine.");
    }
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
        const AVCodec* encoder = avcodec_find_encoder_by_name(spec->encoder);
        out.codec = avcodec_alloc_context3(encoder);
        if (out.codec == nullptr) return fail("There is not enough memory to complete the operation.");
        AVCodecContext* c = out.codec;
        c->width = width;
        c->height = height;
        c->pix_fmt = spec->format;
        c->time_base = AVRational{1, frameRate};
        c->framerate = AVRational{frameRate, 1};
        c->codec_tag = static_cast<unsigned>(MKTAG(compressor[0], compressor[1], compressor[2], compressor[3]));
        if (out.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // Key frames: the interval is the GOP length; 0 asks for none but the first.
        const int interval = keyFrameEvery > 0 ? keyFrameEvery : INT_MAX / 2;
        c->gop_size = interval;
        c->keyint_min = std::min(interval, 25);
        // Quality, 0 to 100. Motion JPEG and MPEG-4 run at a fixed quantiser from 31 (quality 0) to 1 (quality
        // 100); H.264 at a constant rate factor from 51 down to 0. The lossless codecs need none. (Microsoft
        // Video 1 weighs its errors by it; see its encoder.)
        const int q = std::clamp(quality, 0, 100);
        if (spec->code == makeFourCC("MJPG") || spec->code == makeFourCC("FMP4")) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * (1 + (100 - q) * 30 / 100);
            c->qmin = 1;
            c->qmax = 31;
        } else if (spec->code == makeFourCC("H264")) {
            av_opt_set_int(c->priv_data, "crf", (100 - q) * 51 / 100, 0);
            av_opt_set(c->priv_data, "preset", "fast", 0);
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
    }
    av_dict_set(&out.stream->metadata, "title", "Video Stream", 0);
    // Full frames keep the rows bottom-up, as the engine and the AVI format store them.
    AVDictionary* options = nullptr;
    if (out.codec == nullptr) av_dict_set(&options, "flipped_raw_rgb", "1", 0);
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
    try {
        pixels.assign(frame.data(), frame.data() + frame.sizeBytes());
    } catch (const std::bad_alloc&) {
        lastError = "There is not enough memory to complete the operation.";
        lastErrorDetail.clear();
        return kAviFail;
    }
    AviStatus status = kAviOk;
    {
        std::lock_guard lock(out.mutex);
        out.queue.push_back({std::move(pixels), index});
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
    if (!out->writeError.empty()) {
        lastError = out->writeError;
        lastErrorDetail = out->writeErrorDetail;
        status = kAviFail;
    }
    if (out->headerWritten) {
        // The encoder's delayed frames, then the index and the final sizes: without them no player opens the file.
        std::string detail;
        if (out->codec != nullptr && avcodec_send_frame(out->codec, nullptr) >= 0 && !out->drainPackets(detail)) {
            lastError = "Unable to write the last frames to the movie file.";
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
