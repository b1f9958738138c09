#pragma once

#include <cstdint>
#include <string>

namespace svc {

// Where the headset finds a video and its cover, and what it is told of them.

// What a DLNA player is told of a video's and a cover's stream: byte ranges, not converted,
// streaming (or interactive, for a picture) transfer, DLNA 1.5.
constexpr const char *VideoFeatures
    = "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000";
constexpr const char *CoverFeatures = "DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_"
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

// The VR players' own interfaces: a video's JSON, where HereSphere posts what was played, and a
// video's sidecar subtitles (n: the sidecar's place in the video's list).
std::string deoVrVideoPath(int64_t id);
std::string hereSphereVideoPath(int64_t id);
std::string hereSphereEventsPath(int64_t id);
std::string subtitlePath(int64_t id, size_t index, const std::string &fileName);

} // namespace svc
