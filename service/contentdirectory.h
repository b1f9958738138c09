#pragma once

#include "service/library.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace svc {

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
