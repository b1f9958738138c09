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
// "/covers/<id>.jpg", on both interfaces.
std::string coverPath(int64_t id);
std::string percentEncode(const std::string &text);

// The title a player shows and reads the VR layout from: the file name without its suffix,
// with the layout the file declares added when the name names none.
std::string videoTitle(const std::string &fileName, const std::string &layout);
bool nameHasLayoutToken(const std::string &stem);

} // namespace svc
