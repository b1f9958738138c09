#pragma once

#include <string>
#include <vector>

namespace svc {

struct MediaInfo;

// libavcodec's FF_PROFILE_UNKNOWN, so that profiles read from the file compare as they are.
constexpr int UnknownProfile = -99;

// What decides whether a headset decodes a file as it is, named as libavformat and libavcodec
// name them.
struct StreamFacts
{
    std::string container; // the demuxer: "mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm", "avi"
    std::string videoCodec; // "h264", "hevc", "wmv2"
    int profile = UnknownProfile; // libavcodec's profile number
    int bitDepth = 0; // of the luma; 0 when unknown
    std::string pixelFormat; // "yuv420p", "yuv420p10le"; empty when unknown
    int width = 0;
    int height = 0;
    std::string audioCodec; // of the first audio stream; empty when there is none
};

StreamFacts streamFacts(const MediaInfo &info);

enum class Delivery {
    Direct, // the file as it is
    Remux, // its streams copied into MPEG-TS (the audio encoded to AAC when TS cannot carry it)
    Transcode, // H.264 and AAC in MPEG-TS
};

const char *deliveryName(Delivery delivery);

// How the headset gets a file. Facts without a container or a video codec (read by an older
// version) are sent as they are, as they always were.
Delivery decideDelivery(const StreamFacts &facts);

// Whether MPEG-TS carries this audio codec, so that a remux copies it.
bool tsCarriesAudio(const std::string &audioCodec);

// The largest picture the headsets decode in H.264.
constexpr int MaxH264Side = 4096;

struct PictureSize
{
    int width = 0;
    int height = 0;
};

// The size a transcode sends: the source's, fitted into MaxH264Side on both sides with its
// aspect ratio kept (so a VR layout stays), both sides even.
PictureSize transcodedSize(int width, int height);

// How a converted stream (MPEG-TS of 188-byte packets) is announced to DLNA players.
struct ConvertedType
{
    std::string mime; // "video/mpeg"
    std::string profile; // DLNA.ORG_PN, empty where no DLNA profile covers what is sent
    std::string features; // the fourth field of protocolInfo, and contentFeatures.dlna.org
    std::string protocolInfo; // "http-get:*:video/mpeg:DLNA.ORG_PN=..."
};

// For a Remux or Transcode of a file with these facts; empty for Direct.
ConvertedType convertedType(const StreamFacts &facts, Delivery delivery);

// The protocolInfo of every DLNA profile a converted stream may be sent as, for GetProtocolInfo.
std::vector<std::string> convertedProtocols();

} // namespace svc
