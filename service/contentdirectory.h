#pragma once

#include "service/didlobjectcache.h"
#include "service/library.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace svc {

// ContentDirectory:1 Browse over the library: object "0" holds the top-level entries, every
// other object is a library id. The objects are written by DidlWriter; those of SOAP replies
// come from the DidlObjectCache.
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

    // baseUrl is "http://<address the request came in on>:<media port>".
    Result browse(const Request &request, const std::string &baseUrl);

private:
    Result metadata(const Request &request, const std::optional<Entry> &entry,
                    const std::string &baseUrl);
    Result children(const Request &request, int64_t id, const std::string &baseUrl);
    // The page the request asks for, in the order it asks for, and what the folder holds.
    Listing page(const Request &request, int64_t id);

    Library &m_library;
    DidlObjectCache m_objects;
};

} // namespace svc
