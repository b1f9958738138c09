#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace svc {

struct MediaInfo
{
    int width = 0;
    int height = 0;
    int64_t durationMs = 0;
    std::string codec;
    // The stereo and spherical layout the container declares, as the tokens VR players look
    // for in a name ("_180_LR", "_360_TB", "_LR"); empty for a flat video.
    std::string layout;
    // What decides whether the headset decodes the file as it is (see playability.h), as
    // libavformat and libavcodec name it: the demuxer, the video's profile, luma bit depth and
    // pixel format (-99, 0 and empty when unknown), the first audio stream's codec (empty when
    // there is none).
    std::string container;
    int videoProfile = -99;
    int bitDepth = 0;
    std::string pixelFormat;
    std::string audioCodec;

    bool operator==(const MediaInfo &other) const
    {
        return std::tie(width, height, durationMs, codec, layout, container, videoProfile, bitDepth,
                        pixelFormat, audioCodec)
            == std::tie(other.width, other.height, other.durationMs, other.codec, other.layout,
                        other.container, other.videoProfile, other.bitDepth, other.pixelFormat,
                        other.audioCodec);
    }
};

struct ProbeResult
{
    bool ok = false;
    MediaInfo info;
    std::vector<uint8_t> cover; // JPEG, empty when none could be made
    std::string error;
};

// Silences FFmpeg's own logging; call once at start.
void quietMediaLibraries();

// Reads a video's metadata in-process and, when asked, makes its cover (JPEG, 320 px wide, from
// about 10% in). cancel, when set, aborts the reading of the metadata.
ProbeResult probeVideo(const std::string &path, bool withCover,
                       const std::atomic<bool> *cancel = nullptr);

} // namespace svc
