#pragma once

#include "service/library.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace svc {

// What a DLNA player is told of a video's and a cover's stream: byte ranges, not converted,
// streaming (or interactive, for a picture) transfer, DLNA 1.5.
constexpr const char *VideoFeatures
    = "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000";
constexpr const char *CoverFeatures = "DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_"
                                      "FLAGS=00f00000000000000000000000000000";

// "/media/<id>/<file name, percent-encoded>": players read the format and the VR layout from
// the URL's end.
std::string mediaPath(int64_t id, const std::string &fileName);
std::string percentEncode(const std::string &text);

// The title a player shows and reads the VR layout from: the file name without its suffix,
// with the layout the file declares added when the name names none.
std::string videoTitle(const std::string &fileName, const std::string &layout);
bool nameHasLayoutToken(const std::string &stem);

// ContentDirectory:1 Browse over the library: object "0" holds the top-level entries, every
// other object is a library id. The DIDL-Lite is written by gupnp-av.
class ContentDirectory
{
public:
    struct Request
    {
        std::string objectId;
        std::string browseFlag; // "BrowseMetadata" or "BrowseDirectChildren"
        std::string filter = "*";
        std::string sortCriteria; // "+dc:title" or "-dc:title"; else the library's order
        uint32_t startingIndex = 0;
        uint32_t requestedCount = 0; // 0: all
        // The DIDL-Lite XML-escaped, as it goes into a SOAP reply.
        bool escaped = false;
    };
    struct Result
    {
        int fault = 0; // a UPnP error code; 0 for success
        std::string faultText;
        std::string didl;
        uint32_t numberReturned = 0;
        uint32_t totalMatches = 0;
        uint32_t updateId = 0;
    };

    explicit ContentDirectory(Library &library);
    ~ContentDirectory();
    ContentDirectory(const ContentDirectory &) = delete;
    ContentDirectory &operator=(const ContentDirectory &) = delete;

    // baseUrl is "http://<address the request came in on>:<media port>".
    Result browse(const Request &request, const std::string &baseUrl);

private:
    struct Shown;
    struct Kept;
    std::string writeChildren(const Listing &listing, const std::vector<Entry> &page,
                              const std::string &baseUrl, const std::string &filter, bool escaped);

    Library &m_library;
    std::mutex m_keptMutex;
    std::map<std::string, std::unique_ptr<Kept>> m_kept; // by address and filter
};

} // namespace svc
