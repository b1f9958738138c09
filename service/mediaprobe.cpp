#include "service/mediaprobe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libavutil/spherical.h>
#include <libavutil/stereo3d.h>
}
#include <libffmpegthumbnailer/videothumbnailer.h>

namespace svc {
namespace {

constexpr int CoverWidth = 320;
constexpr int CoverSeekPercent = 10;

int interrupted(void *opaque)
{
    const auto *cancel = static_cast<const std::atomic<bool> *>(opaque);
    return cancel && cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

int videoStreamIndex(AVFormatContext *context)
{
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        // Embedded cover art is a still picture, not the video.
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

int64_t durationMs(const AVFormatContext *context, const AVStream *stream)
{
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        return context->duration / (AV_TIME_BASE / 1000);
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return av_rescale_q(stream->duration, stream->time_base, AVRational { 1, 1000 });
    return 0;
}

// The layout tokens of VR file names for what the container declares (MP4 st3d/sv3d,
// Matroska StereoMode and projection reach FFmpeg as the same side data).
std::string layoutTokens(const AVStream *stream)
{
    std::string tokens;
    size_t size = 0;
    if (const auto *sphere = reinterpret_cast<const AVSphericalMapping *>(
            av_stream_get_side_data(stream, AV_PKT_DATA_SPHERICAL, &size));
        sphere && size >= sizeof(AVSphericalMapping)) {
        if (sphere->projection == AV_SPHERICAL_CUBEMAP) {
            tokens += "_360";
        } else {
            // Bounds are 0.32 fixed-point parts of the frame cut away; a half sphere loses a
            // quarter on either side.
            const double cut
                = (double(sphere->bound_left) + double(sphere->bound_right)) / 4294967296.0;
            tokens += cut >= 0.4 ? "_180" : "_360";
        }
    }
    if (const auto *stereo = reinterpret_cast<const AVStereo3D *>(
            av_stream_get_side_data(stream, AV_PKT_DATA_STEREO3D, &size));
        stereo && size >= sizeof(AVStereo3D)) {
        const bool inverted = stereo->flags & AV_STEREO3D_FLAG_INVERT;
        if (stereo->type == AV_STEREO3D_SIDEBYSIDE)
            tokens += inverted ? "_RL" : "_LR";
        else if (stereo->type == AV_STEREO3D_TOPBOTTOM)
            tokens += inverted ? "_BT" : "_TB";
    }
    return tokens;
}

// Whether the headset decodes a video turns on its profile and pixel format, which containers
// leave to the decoder. An avcC record names the H.264 profile, and Baseline, Main and High are
// 8-bit 4:2:0 by definition, so the usual file needs no decoding for them.
int avcRecordProfile(const AVCodecParameters *video)
{
    if (video->codec_id != AV_CODEC_ID_H264 || video->extradata_size < 4
        || video->extradata[0] != 1)
        return FF_PROFILE_UNKNOWN;
    const int profile = video->extradata[1];
    if (profile == FF_PROFILE_H264_BASELINE && (video->extradata[2] & 0x40))
        return FF_PROFILE_H264_CONSTRAINED_BASELINE;
    if (profile == FF_PROFILE_H264_BASELINE || profile == FF_PROFILE_H264_MAIN
        || profile == FF_PROFILE_H264_HIGH)
        return profile;
    return FF_PROFILE_UNKNOWN;
}

bool knowsDecodingFacts(const AVCodecParameters *video)
{
    return video->format != AV_PIX_FMT_NONE || avcRecordProfile(video) != FF_PROFILE_UNKNOWN;
}

void readDecodingFacts(const AVFormatContext *context, const AVStream *stream, MediaInfo &info)
{
    const AVCodecParameters *video = stream->codecpar;
    info.container = context->iformat->name;
    info.videoProfile = video->profile;
    auto format = AVPixelFormat(video->format);
    if (format == AV_PIX_FMT_NONE) {
        if (const int profile = avcRecordProfile(video); profile != FF_PROFILE_UNKNOWN) {
            info.videoProfile = profile;
            format = AV_PIX_FMT_YUV420P;
        }
    }
    if (const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format)) {
        info.pixelFormat = descriptor->name;
        info.bitDepth = descriptor->comp[0].depth;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            info.audioCodec = avcodec_get_name(context->streams[i]->codecpar->codec_id);
            break;
        }
    }
}

std::vector<uint8_t> makeCover(const std::string &path)
{
    std::vector<uint8_t> jpeg;
    try {
        ffmpegthumbnailer::VideoThumbnailer thumbnailer(CoverWidth, false, true, 8, false);
        thumbnailer.setSeekPercentage(CoverSeekPercent);
        thumbnailer.setLogCallback([](ThumbnailerLogLevel, const std::string &) {});
        // The in-memory form: the file form leaves an empty JPEG behind when decoding fails.
        // The thumbnailer opens the file itself: handed a context that was opened (probed or
        // not) it reads the stream information a second time, which crashes libavformat on
        // ordinary H.264 files.
        thumbnailer.generateThumbnail(path, ThumbnailerImageType::Jpeg, jpeg);
    } catch (...) {
        // A video without a usable frame simply has no cover.
        jpeg.clear();
    }
    return jpeg;
}

} // namespace

void quietMediaLibraries()
{
    av_log_set_level(AV_LOG_QUIET);
    // The worker pool reads several files at once; FFmpeg's own threads for one file (a slice
    // pool in every cover's filter graph, decoder threads) would be made and joined for each of
    // them, and that cost more than half of a folder's import.
    av_cpu_force_count(1);
}

ProbeResult probeVideo(const std::string &path, bool withCover, const std::atomic<bool> *cancel)
{
    ProbeResult result;
    AVFormatContext *context = avformat_alloc_context();
    if (!context) {
        result.error = "out of memory";
        return result;
    }
    context->interrupt_callback.callback = interrupted;
    context->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(cancel);
    // avformat_open_input frees the context when it fails.
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        result.error = "not a readable video file";
        return result;
    }
    struct Closer
    {
        AVFormatContext *&context;
        ~Closer() { avformat_close_input(&context); }
    } closer { context };

    // Container headers usually carry size and length; reading packets to find them is slow,
    // so that happens only when they are missing (MPEG-4 part 2 in MP4 leaves the height 0, and
    // most codecs but H.264 in an avcC record leave their pixel format to the decoder).
    int index = videoStreamIndex(context);
    if (index < 0 || context->streams[index]->codecpar->height <= 0
        || durationMs(context, context->streams[index]) <= 0
        || !knowsDecodingFacts(context->streams[index]->codecpar)) {
        if (avformat_find_stream_info(context, nullptr) < 0) {
            result.error = "no stream information";
            return result;
        }
        index = videoStreamIndex(context);
    }
    if (index < 0 || context->streams[index]->codecpar->height <= 0) {
        result.error = "no video stream";
        return result;
    }
    if (cancel && cancel->load()) {
        result.error = "cancelled";
        return result;
    }
    const AVStream *stream = context->streams[index];
    result.info.width = stream->codecpar->width;
    result.info.height = stream->codecpar->height;
    result.info.durationMs = durationMs(context, stream);
    result.info.codec = avcodec_get_name(stream->codecpar->codec_id);
    result.info.layout = layoutTokens(stream);
    readDecodingFacts(context, stream, result.info);
    result.ok = true;
    if (withCover) {
        avformat_close_input(&context);
        result.cover = makeCover(path);
    }
    return result;
}

} // namespace svc
