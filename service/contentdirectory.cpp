#include "service/contentdirectory.h"

#include "service/devicename.h"
#include "service/didlwriter.h"
#include "service/listing.h"
#include "service/upnpdescription.h"

#include <libxml/parser.h>

namespace svc {
namespace {

enum Fault {
    InvalidArgs = 402,
    NoSuchObject = 701,
    NoSuchContainer = 710,
};

ContentDirectory::Result fault(Fault code, const char *text)
{
    ContentDirectory::Result result;
    result.fault = code;
    result.faultText = text;
    return result;
}

// "0" and positive decimal ids, written as the server writes them; nothing else names an object.
std::optional<int64_t> parseObjectId(const std::string &text)
{
    const auto id = parseId(text);
    if (!id || std::to_string(*id) != text)
        return std::nullopt;
    return id;
}

} // namespace

ContentDirectory::ContentDirectory(Library &library)
    : m_library(library)
{
    // libxml2 sets up its locks on first use; two writer threads making their first
    // dictionaries at once can deadlock in there unless it was set up before.
    xmlInitParser();
}

ContentDirectory::Result ContentDirectory::browse(const Request &request,
                                                  const std::string &baseUrl)
{
    const bool metadata = request.browseFlag == "BrowseMetadata";
    if (!metadata && request.browseFlag != "BrowseDirectChildren")
        return fault(InvalidArgs, "Invalid BrowseFlag");
    const auto id = parseObjectId(request.objectId);
    std::optional<Entry> entry;
    if (!id || (*id != 0 && !(entry = m_library.entry(*id))))
        return fault(NoSuchObject, "No such object");
    if (metadata)
        return this->metadata(request, entry, baseUrl);
    if (entry && entry->type != EntryType::Folder)
        return fault(NoSuchContainer, "No such container");
    return children(request, *id, baseUrl);
}

ContentDirectory::Result ContentDirectory::metadata(const Request &request,
                                                    const std::optional<Entry> &entry,
                                                    const std::string &baseUrl)
{
    Result result;
    result.updateId = uint32_t(m_library.updateId());
    DidlWriter writer(baseUrl, nullptr);
    if (entry)
        writer.add(*entry, entry->type == EntryType::Folder ? m_library.childCount(entry->id) : 0);
    else
        writer.addFolder("0", "-1", deviceNameSetting(m_library), m_library.childCount(0));
    result.numberReturned = result.totalMatches = 1;
    result.didl = writer.finish(request.filter);
    if (request.escaped)
        result.didl = upnp::escapeXml(result.didl);
    return result;
}

ContentDirectory::Result ContentDirectory::children(const Request &request, int64_t id,
                                                    const std::string &baseUrl)
{
    Result result;
    result.updateId = uint32_t(m_library.updateId());
    const Listing listing = page(request, id);
    const auto childCount = [&listing](const Entry &child) {
        const auto count = listing.childCounts.find(child.id);
        return count == listing.childCounts.end() ? int64_t(0) : count->second;
    };
    result.totalMatches = uint32_t(listing.total);
    result.numberReturned = uint32_t(listing.entries.size());
    if (request.escaped) {
        result.didl = m_objects.document(listing.entries, childCount, baseUrl, request.filter);
        return result;
    }
    std::vector<const Entry *> entries;
    for (const Entry &entry : listing.entries)
        entries.push_back(&entry);
    const std::vector<std::string> objects
        = writeObjects(entries, childCount, baseUrl, request.filter, false);
    std::vector<const std::string *> texts;
    for (const std::string &object : objects)
        texts.push_back(&object);
    result.didl = didlDocument(texts, false);
    return result;
}

Listing ContentDirectory::page(const Request &request, int64_t id)
{
    // Players that keep the server's order show it as it comes, so every listing is in the
    // order people expect: folders first, then names, numbers by value and case aside. A
    // descending title order reverses the names and keeps the folders first.
    const int64_t limit = request.requestedCount == 0 ? -1 : int64_t(request.requestedCount);
    const size_t byTitle = request.sortCriteria.find("dc:title");
    const bool descending
        = byTitle != std::string::npos && byTitle > 0 && request.sortCriteria[byTitle - 1] == '-';
    return m_library.listing(id, request.startingIndex, limit,
                             descending ? ListingOrder::NamedReversed : ListingOrder::Named);
}

} // namespace svc
