#pragma once

#include <cstdint>
#include <string>

namespace svc {

// Where the headset finds a video and its cover, and what it is told of them.

// What a DLNA player is told of a video's and a cover's stream: byte ranges, not converted,
// streaming (or interactive, for a picture) transfer, DLNA 1.5.
constexpr const char *VideoFeatures
    = "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000";
// Covers are 320 px on their longer side (mediaprobe): JPEG_SM, up to 640x480. JPEG_TN allows
// only 160x160, and players that believe the label show a cropped picture or none.
constexpr const char *CoverProfile = "JPEG_SM";
constexpr const char *CoverFeatures = "DLNA.ORG_PN=JPEG_SM;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_"
                                      "FLAGS=00f00000000000000000000000000000";

// "/media/<id>/<file name, percent-encoded>": players read the format and the VR layout from
// the URL's end.
std::string mediaPath(int64_t id, const std::string &fileName);
// "/media/<id>/t/<start seconds>/<file name without its suffix>.ts": the video converted for
// the headset, from startMs on, so that players that cannot seek by time start there by URL.
std::string streamPath(int64_t id, int64_t startMs, const std::string &fileName);
// "/covers/<id>.jpg", on both interfaces.
std::string coverPath(int64_t id);
std::string percentEncode(const std::string &text);
// A file's date as players show it, "2023-11-14" (UTC).
std::string dateText(int64_t mtimeMs);

// "http://<address>:<port>" of a listener, for a request that names no Host (HTTP/1.0); an IPv6
// address in brackets.
std::string serverBaseUrl(const std::string &address, int port);

// The VR players' own interfaces: the library, which a person types into the player ("/deovr",
// "/heresphere"), a video's JSON, where HereSphere posts what was played, and a video's sidecar
// subtitles (n: the sidecar's place in the video's list).
std::string deoVrLibraryPath();
std::string hereSphereLibraryPath();
std::string deoVrVideoPath(int64_t id);
std::string hereSphereVideoPath(int64_t id);
std::string hereSphereEventsPath(int64_t id);
std::string subtitlePath(int64_t id, size_t index, const std::string &fileName);

} // namespace svc
