#pragma once

#include "service/library.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace svc {

// A cache of the DIDL-Lite objects written for Browse replies (escaped, as they go into SOAP),
// for each address and filter the players use. A player asks for the same folder again and
// again, and after a change most of what a folder holds shows as before: a folder it comes
// back to, or pages through again, then costs a reading of the library and no writing, and a
// change writes only the objects it touched. An object is used again only while everything
// of its entry that it shows is unchanged, so the cache needs no invalidation.
//
// At most 64 MB of objects are kept for all addresses and filters together (a folder of
// 10 000 videos takes some 8 MB for each), and at most 8 address and filter pairs; past that,
// everything is dropped and written afresh, which is simpler than an account of each.
class DidlObjectCache
{
public:
    DidlObjectCache();
    ~DidlObjectCache();
    DidlObjectCache(const DidlObjectCache &) = delete;
    DidlObjectCache &operator=(const DidlObjectCache &) = delete;

    // The escaped DIDL-Lite document of page, from kept objects where they still show their
    // entries as they are, writing the others. childCount: what a folder entry holds.
    std::string document(const std::vector<Entry> &page,
                         const std::function<int64_t(const Entry &)> &childCount,
                         const std::string &baseUrl, const std::string &filter);

private:
    struct Shown;
    struct Objects;

    std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<Objects>> m_sets; // by address and filter
};

} // namespace svc
