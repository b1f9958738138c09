#include "service/playability.h"

#include "service/mediaprobe.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace svc {
namespace {

using Names = std::vector<std::string_view>;

// libavcodec's H.264 profile numbers.
constexpr int H264Baseline = 66;
constexpr int H264ConstrainedBaseline = 66 | (1 << 9);
constexpr int H264Main = 77;
constexpr int H264High = 100;

// What the headsets' platform decoders take, by codec. An empty list, or a limit of 0, allows
// anything; what the file does not tell (an unknown profile, pixel format or depth) passes.
struct VideoRule
{
    std::string_view codec;
    Names pixelFormats;
    std::vector<int> profiles;
    int maxBitDepth;
    int maxSide;
    bool tsCarries; // MPEG-TS can carry it, so that a file in another container is remuxed
};

const VideoRule videoRules[] = {
    // Extended, High 10, 4:2:2 and 4:4:4 H.264 are decoded by no headset in hardware.
    { "h264",
      { "yuv420p", "yuvj420p" },
      { H264Baseline, H264ConstrainedBaseline, H264Main, H264High },
      8,
      MaxH264Side,
      true },
    { "hevc", { "yuv420p", "yuvj420p", "yuv420p10le", "yuv420p10be" }, {}, 10, 0, true },
    { "vp9", {}, {}, 0, 0, false },
    { "av1", {}, {}, 0, 0, false },
    { "vp8", {}, {}, 0, 0, false },
};

// Demuxer names of the containers every player built on the platform player reads.
const Names directContainers = { "mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm" };
const Names directAudio = { "aac", "mp3", "opus", "vorbis", "ac3", "eac3" };
const Names tsAudio = { "aac", "mp3", "ac3", "eac3", "mp2" };

bool contains(const Names &names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

const VideoRule *ruleFor(const std::string &codec)
{
    for (const VideoRule &rule : videoRules) {
        if (rule.codec == codec)
            return &rule;
    }
    return nullptr;
}

bool decodable(const VideoRule &rule, const StreamFacts &facts)
{
    if (!facts.pixelFormat.empty() && !rule.pixelFormats.empty()
        && !contains(rule.pixelFormats, facts.pixelFormat))
        return false;
    if (facts.profile != UnknownProfile && !rule.profiles.empty()
        && std::find(rule.profiles.begin(), rule.profiles.end(), facts.profile)
            == rule.profiles.end())
        return false;
    if (rule.maxBitDepth > 0 && facts.bitDepth > rule.maxBitDepth)
        return false;
    return rule.maxSide == 0 || (facts.width <= rule.maxSide && facts.height <= rule.maxSide);
}

// DLNA's AVC-in-TS profile names (188-byte packets, so "_ISO"), by the H.264 profile and the
// audio sent. SD is up to 720x576, HD up to 1920x1080; nothing names a larger picture.
struct TsProfile
{
    bool high; // High profile; else Main (or Constrained Baseline, a subset of it)
    std::string_view audio;
    const char *sd; // nullptr: no profile
    const char *hd;
};

const TsProfile tsProfiles[] = {
    { false, "aac", "AVC_TS_MP_SD_AAC_MULT5_ISO", "AVC_TS_MP_HD_AAC_MULT5_ISO" },
    { false, "mp3", "AVC_TS_MP_SD_MPEG1_L3_ISO", "AVC_TS_MP_HD_MPEG1_L3_ISO" },
    { false, "ac3", "AVC_TS_MP_SD_AC3_ISO", "AVC_TS_MP_HD_AC3_ISO" },
    { true, "ac3", nullptr, "AVC_TS_HP_HD_AC3_ISO" },
    { true, "mp2", "AVC_TS_HP_SD_MPEG1_L2_ISO", "AVC_TS_HP_HD_MPEG1_L2_ISO" },
};

std::string tsProfileName(int profile, const std::string &audio, PictureSize size)
{
    const bool main = profile == H264Main || profile == H264ConstrainedBaseline;
    if ((!main && profile != H264High) || size.width <= 0 || size.height <= 0)
        return {};
    const bool sd = size.width <= 720 && size.height <= 576;
    if (!sd && (size.width > 1920 || size.height > 1080))
        return {};
    for (const TsProfile &row : tsProfiles) {
        if (row.high == !main && row.audio == audio) {
            const char *name = sd && row.sd ? row.sd : row.hd;
            return name ? name : std::string();
        }
    }
    return {};
}

} // namespace

StreamFacts streamFacts(const MediaInfo &info)
{
    StreamFacts facts;
    facts.container = info.container;
    facts.videoCodec = info.codec;
    facts.profile = info.videoProfile;
    facts.bitDepth = info.bitDepth;
    facts.pixelFormat = info.pixelFormat;
    facts.width = info.width;
    facts.height = info.height;
    facts.audioCodec = info.audioCodec;
    return facts;
}

const char *deliveryName(Delivery delivery)
{
    switch (delivery) {
    case Delivery::Direct:
        return "direct";
    case Delivery::Remux:
        return "remux";
    case Delivery::Transcode:
        return "transcode";
    }
    return "?";
}

Delivery decideDelivery(const StreamFacts &facts)
{
    if (facts.container.empty() || facts.videoCodec.empty())
        return Delivery::Direct;
    const VideoRule *rule = ruleFor(facts.videoCodec);
    if (!rule || !decodable(*rule, facts))
        return Delivery::Transcode;
    if (contains(directContainers, facts.container)
        && (facts.audioCodec.empty() || contains(directAudio, facts.audioCodec)))
        return Delivery::Direct;
    return rule->tsCarries ? Delivery::Remux : Delivery::Transcode;
}

bool tsCarriesAudio(const std::string &audioCodec)
{
    return contains(tsAudio, audioCodec);
}

PictureSize transcodedSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    // As ffmpeg's scale filter fits a picture into a box (force_original_aspect_ratio=decrease,
    // force_divisible_by=2), so that what is announced is what is sent.
    const int64_t boxWidth = std::min(width, MaxH264Side);
    const int64_t boxHeight = std::min(height, MaxH264Side);
    const auto rescale = [](int64_t a, int64_t b, int64_t c) { return (a * b + c / 2) / c; };
    const int64_t w = std::min(rescale(boxHeight, width, height), boxWidth);
    const int64_t h = std::min(rescale(boxWidth, height, width), boxHeight);
    return { std::max(2, int(w) & ~1), std::max(2, int(h) & ~1) };
}

ConvertedType convertedType(const StreamFacts &facts, Delivery delivery)
{
    if (delivery == Delivery::Direct)
        return {};
    ConvertedType type;
    type.mime = "video/mpeg";
    if (delivery == Delivery::Transcode) {
        // Transcodes are Main profile, with AAC where the source has sound.
        if (!facts.audioCodec.empty())
            type.profile
                = tsProfileName(H264Main, "aac", transcodedSize(facts.width, facts.height));
    } else if (facts.videoCodec == "h264" && !facts.audioCodec.empty()) {
        const std::string audio = tsCarriesAudio(facts.audioCodec) ? facts.audioCodec : "aac";
        type.profile = tsProfileName(facts.profile, audio, { facts.width, facts.height });
    }
    // Time seek and no byte ranges (the stream has no length), converted; flags: streaming
    // and background transfer, DLNA 1.5. No connection stalling: a stalled write ends the
    // connection, and a paused player may not hold a transcoder.
    if (!type.profile.empty())
        type.features = "DLNA.ORG_PN=" + type.profile + ";";
    type.features += "DLNA.ORG_OP=10;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=01500000000000000000000000000000";
    type.protocolInfo = "http-get:*:" + type.mime + ":" + type.features;
    return type;
}

std::vector<std::string> convertedProtocols()
{
    std::vector<std::string> list;
    for (const TsProfile &row : tsProfiles) {
        for (const char *name : { row.sd, row.hd }) {
            const std::string info = std::string("http-get:*:video/mpeg:DLNA.ORG_PN=")
                + (name ? name : "") + ";DLNA.ORG_OP=10;DLNA.ORG_CI=1";
            if (name && std::find(list.begin(), list.end(), info) == list.end())
                list.push_back(info);
        }
    }
    return list;
}

} // namespace svc
