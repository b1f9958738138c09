#include "service/contentdirectory.h"

#include "service/devicename.h"
#include "service/listing.h"
#include "service/mediaurls.h"
#include "service/suffixfilter.h"
#include "service/upnpdescription.h"

#include <libgupnp-av/gupnp-av.h>
#include <libxml/dict.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>

namespace svc {
namespace {

enum Fault {
    InvalidArgs = 402,
    NoSuchObject = 701,
    NoSuchContainer = 710,
};

const xmlChar *xml(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

std::string durationText(int64_t ms)
{
    // H+:MM:SS.mmm, built by hand: a folder's listing formats thousands of these.
    std::string text = std::to_string(ms / 3600000);
    const auto digits = [&text](int64_t value, int count) {
        char part[3];
        for (int i = count - 1; i >= 0; --i, value /= 10)
            part[i] = char('0' + value % 10);
        text.append(part, size_t(count));
    };
    text += ':';
    digits(ms / 60000 % 60, 2);
    text += ':';
    digits(ms / 1000 % 60, 2);
    text += '.';
    digits(ms % 1000, 3);
    return text;
}

std::string dateText(int64_t mtimeMs)
{
    const time_t seconds = time_t(mtimeMs / 1000);
    struct tm parts
    {
    };
    char text[16] = {};
    if (gmtime_r(&seconds, &parts))
        std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

std::string objectId(int64_t id)
{
    return std::to_string(id);
}

// "0" and positive decimal ids; nothing else names an object.
bool parseObjectId(const std::string &text, int64_t &id)
{
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0'))
        return false;
    id = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        id = id * 10 + (c - '0');
    }
    return true;
}

class Writer
{
public:
    // names: where element and attribute names are kept, shared rather than copied into every
    // node, so that a listing of thousands makes and frees far fewer small blocks; the pieces
    // of one long listing share one.
    Writer(std::string baseUrl, xmlDict *names)
        : m_writer(gupnp_didl_lite_writer_new(nullptr))
        , m_baseUrl(std::move(baseUrl))
    {
        xmlDoc *doc = gupnp_didl_lite_writer_get_xml_node(m_writer)->doc;
        if (doc && !doc->dict && names && xmlDictReference(names) == 0)
            doc->dict = names;
    }
    ~Writer() { g_object_unref(m_writer); }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // childCount: what the entry holds when it is a folder.
    void add(const Entry &entry, int64_t childCount)
    {
        if (entry.type == EntryType::Folder)
            addFolder(objectId(entry.id), parentOf(entry), entry.name, childCount);
        else
            addVideo(entry);
    }

    void addFolder(const std::string &id, const std::string &parent, const std::string &title,
                   int64_t childCount)
    {
        GUPnPDIDLLiteContainer *container = gupnp_didl_lite_writer_add_container(m_writer);
        auto *object = GUPNP_DIDL_LITE_OBJECT(container);
        describe(object, id, parent, title, "object.container.storageFolder");
        gupnp_didl_lite_container_set_child_count(container, gint(childCount));
        gupnp_didl_lite_container_set_searchable(container, FALSE);
        g_object_unref(container);
    }

    // Each object's own text, in the order they were added; the root that declares their
    // namespaces is left out.
    std::vector<std::string> finishEach(const std::string &filter, bool escaped)
    {
        gupnp_didl_lite_writer_filter(m_writer, filter.empty() ? "*" : filter.c_str());
        xmlNode *root = gupnp_didl_lite_writer_get_xml_node(m_writer);
        std::vector<std::string> objects;
        xmlBuffer *buffer = xmlBufferCreate();
        for (xmlNode *node = root ? root->children : nullptr; node && buffer; node = node->next) {
            if (node->type != XML_ELEMENT_NODE)
                continue;
            xmlBufferEmpty(buffer);
            xmlNodeDump(buffer, root->doc, node, 0, 0);
            const std::string_view text(reinterpret_cast<const char *>(xmlBufferContent(buffer)),
                                        size_t(xmlBufferLength(buffer)));
            objects.emplace_back();
            if (escaped)
                upnp::appendEscapedXml(text, objects.back());
            else
                objects.back() = text;
        }
        if (buffer)
            xmlBufferFree(buffer);
        return objects;
    }

    std::string finish(const std::string &filter)
    {
        gupnp_didl_lite_writer_filter(m_writer, filter.empty() ? "*" : filter.c_str());
        char *text = gupnp_didl_lite_writer_get_string(m_writer);
        std::string didl = text ? text : "";
        g_free(text);
        return didl;
    }

private:
    static std::string parentOf(const Entry &entry) { return objectId(entry.parentId); }

    static void describe(GUPnPDIDLLiteObject *object, const std::string &id,
                         const std::string &parent, const std::string &title, const char *kind)
    {
        gupnp_didl_lite_object_set_id(object, id.c_str());
        gupnp_didl_lite_object_set_parent_id(object, parent.c_str());
        gupnp_didl_lite_object_set_restricted(object, TRUE);
        gupnp_didl_lite_object_set_title(object, title.c_str());
        gupnp_didl_lite_object_set_upnp_class(object, kind);
    }

    // The object's own fields go through gupnp-av; its resources and album art are written on
    // its node directly: gupnp-av's resource objects cost more than the rest of the item, and
    // a folder of thousands of videos is written in one go.
    void addVideo(const Entry &entry)
    {
        GUPnPDIDLLiteItem *item = gupnp_didl_lite_writer_add_item(m_writer);
        auto *object = GUPNP_DIDL_LITE_OBJECT(item);
        describe(object, objectId(entry.id), parentOf(entry),
                 videoTitle(entry.name, entry.info.layout), "object.item.videoItem");
        gupnp_didl_lite_object_set_date(object, dateText(entry.mtimeMs).c_str());
        xmlNode *node = gupnp_didl_lite_object_get_xml_node(object);

        xmlNode *video = addResource(node, m_baseUrl + mediaPath(entry.id, entry.name));
        xmlNewProp(video, xml("size"), xml(std::to_string(entry.size).c_str()));
        if (entry.info.width > 0 && entry.info.height > 0) {
            const std::string resolution
                = std::to_string(entry.info.width) + "x" + std::to_string(entry.info.height);
            xmlNewProp(video, xml("resolution"), xml(resolution.c_str()));
        }
        const std::string protocol
            = std::string("http-get:*:") + videoContentType(entry.name) + ":" + VideoFeatures;
        xmlNewProp(video, xml("protocolInfo"), xml(protocol.c_str()));
        if (entry.info.durationMs > 0)
            xmlNewProp(video, xml("duration"), xml(durationText(entry.info.durationMs).c_str()));

        if (entry.hasCover) {
            const std::string cover = m_baseUrl + "/covers/" + objectId(entry.id) + ".jpg";
            xmlNode *art = xmlNewChild(node, gupnp_didl_lite_object_get_upnp_namespace(object),
                                       xml("albumArtURI"), nullptr);
            xmlNodeAddContent(art, xml(cover.c_str()));
            xmlNewNsProp(art, gupnp_didl_lite_object_get_dlna_namespace(object), xml("profileID"),
                         xml("JPEG_TN"));
            xmlNode *picture = addResource(node, cover);
            const std::string pictureProtocol
                = std::string("http-get:*:image/jpeg:") + CoverFeatures;
            xmlNewProp(picture, xml("protocolInfo"), xml(pictureProtocol.c_str()));
        }
        g_object_unref(item);
    }

    static xmlNode *addResource(xmlNode *object, const std::string &uri)
    {
        xmlNode *resource = xmlNewChild(object, nullptr, xml("res"), nullptr);
        xmlNodeAddContent(resource, xml(uri.c_str()));
        return resource;
    }

    GUPnPDIDLLiteWriter *m_writer;
    std::string m_baseUrl;
};

} // namespace

namespace {

// A long listing is written a few hundred objects at a time, each piece by a writer of its own
// whose document is freed before the next is built: one document of ten thousand objects
// leaves so many small blocks that freeing it and growing the reply afterwards cost more than
// building it. The pieces share the root element, which declares every namespace they use.
constexpr size_t ChunkSize = 256;
constexpr const char *DidlRoot
    = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
      "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
      "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">";
constexpr const char *DidlEnd = "</DIDL-Lite>";
// What is kept of the objects written, for all addresses and filters together, at most: a
// folder of 10 000 videos takes some 8 MB for each.
constexpr size_t KeptBytes = size_t(64) << 20;
constexpr size_t KeptSets = 8;

} // namespace

// Everything of an entry its object shows: equal ones are written the same, byte for byte.
struct ContentDirectory::Shown
{
    int64_t parentId = 0;
    EntryType type = EntryType::Video;
    std::string name;
    int64_t size = 0;
    int64_t mtimeMs = 0;
    int width = 0;
    int height = 0;
    int64_t durationMs = 0;
    std::string layout;
    bool hasCover = false;
    int64_t childCount = 0;

    Shown(const Entry &entry, int64_t count)
        : parentId(entry.parentId)
        , type(entry.type)
        , name(entry.name)
        , size(entry.size)
        , mtimeMs(entry.mtimeMs)
        , width(entry.info.width)
        , height(entry.info.height)
        , durationMs(entry.info.durationMs)
        , layout(entry.info.layout)
        , hasCover(entry.hasCover)
        , childCount(count)
    {
    }
    bool operator==(const Shown &other) const
    {
        const auto fields = [](const Shown &s) {
            return std::tie(s.parentId, s.type, s.name, s.size, s.mtimeMs, s.width, s.height,
                            s.durationMs, s.layout, s.hasCover, s.childCount);
        };
        return fields(*this) == fields(other);
    }
};

struct ContentDirectory::Kept
{
    struct Object
    {
        Shown shown;
        std::string text;
    };
    std::unordered_map<int64_t, Object> objects;
    size_t bytes = 0;
};

ContentDirectory::ContentDirectory(Library &library)
    : m_library(library)
{
    // libxml2 sets up its locks on first use; two writer threads making their first
    // dictionaries at once can deadlock in there unless it was set up before.
    xmlInitParser();
}

ContentDirectory::~ContentDirectory() = default;

std::string ContentDirectory::writeChildren(const Listing &listing, const std::vector<Entry> &page,
                                            const std::string &baseUrl, const std::string &filter,
                                            bool escaped)
{
    const auto countOf = [&listing](const Entry &child) {
        const auto count = listing.childCounts.find(child.id);
        return count == listing.childCounts.end() ? int64_t(0) : count->second;
    };
    // Objects written for a SOAP reply are kept, by address and filter: a player asks for the
    // same folder again and again, and after a change most of what it holds is unchanged.
    Kept *kept = nullptr;
    if (escaped) {
        const std::string key = baseUrl + '\n' + filter;
        if (!m_kept.count(key) && m_kept.size() >= KeptSets)
            m_kept.clear();
        auto &slot = m_kept[key];
        if (!slot)
            slot = std::make_unique<Kept>();
        kept = slot.get();
    }
    std::vector<const std::string *> texts(page.size(), nullptr);
    std::vector<size_t> missing;
    for (size_t i = 0; i < page.size(); ++i) {
        if (kept) {
            const auto found = kept->objects.find(page[i].id);
            if (found != kept->objects.end()
                && found->second.shown == Shown(page[i], countOf(page[i]))) {
                texts[i] = &found->second.text;
                continue;
            }
        }
        missing.push_back(i);
    }

    // Pieces are independent documents: a second thread halves the wait for a folder seen for
    // the first time. Each thread keeps names of its own; a dictionary is not to be shared.
    std::vector<std::string> written(missing.size());
    const size_t pieces = (missing.size() + ChunkSize - 1) / ChunkSize;
    std::atomic<size_t> next { 0 };
    const auto write = [&] {
        const std::unique_ptr<xmlDict, void (*)(xmlDict *)> names(xmlDictCreate(), xmlDictFree);
        for (size_t piece = next++; piece < pieces; piece = next++) {
            Writer writer(baseUrl, names.get());
            const size_t first = piece * ChunkSize;
            const size_t last = std::min(missing.size(), first + ChunkSize);
            for (size_t k = first; k < last; ++k)
                writer.add(page[missing[k]], countOf(page[missing[k]]));
            std::vector<std::string> objects = writer.finishEach(filter, escaped);
            objects.resize(last - first);
            std::move(objects.begin(), objects.end(), written.begin() + long(first));
        }
    };
    std::thread helper;
    if (pieces > 2 && std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread(write);
        } catch (const std::system_error &) {
            // No thread to be had: this one writes them all.
        }
    }
    write();
    if (helper.joinable())
        helper.join();
    for (size_t k = 0; k < missing.size(); ++k) {
        const Entry &entry = page[missing[k]];
        if (!kept) {
            texts[missing[k]] = &written[k];
            continue;
        }
        auto &object = kept->objects
                           .insert_or_assign(
                               entry.id,
                               Kept::Object { Shown(entry, countOf(entry)), std::move(written[k]) })
                           .first->second;
        kept->bytes += object.text.size();
        texts[missing[k]] = &object.text;
    }

    std::string root;
    std::string end;
    if (escaped) {
        upnp::appendEscapedXml(DidlRoot, root);
        upnp::appendEscapedXml(DidlEnd, end);
    } else {
        root = DidlRoot;
        end = DidlEnd;
    }
    size_t size = root.size() + end.size();
    for (const std::string *text : texts)
        size += text->size();
    std::string didl;
    didl.reserve(size);
    didl = root;
    for (const std::string *text : texts)
        didl += *text;
    didl += end;
    // Bytes of objects written over are counted too: a clean start now and then is simpler
    // than an account of each.
    size_t keptBytes = 0;
    for (const auto &set : m_kept)
        keptBytes += set.second->bytes;
    if (keptBytes > KeptBytes)
        m_kept.clear();
    return didl;
}

ContentDirectory::Result ContentDirectory::browse(const Request &request,
                                                  const std::string &baseUrl)
{
    Result result;
    result.updateId = uint32_t(m_library.updateId());
    const bool metadata = request.browseFlag == "BrowseMetadata";
    if (!metadata && request.browseFlag != "BrowseDirectChildren") {
        result.fault = InvalidArgs;
        result.faultText = "Invalid BrowseFlag";
        return result;
    }
    int64_t id = 0;
    std::optional<Entry> entry;
    if (!parseObjectId(request.objectId, id) || (id != 0 && !(entry = m_library.entry(id)))) {
        result.fault = NoSuchObject;
        result.faultText = "No such object";
        return result;
    }

    if (metadata) {
        const std::unique_ptr<xmlDict, void (*)(xmlDict *)> names(xmlDictCreate(), xmlDictFree);
        Writer writer(baseUrl, names.get());
        if (entry)
            writer.add(*entry,
                       entry->type == EntryType::Folder ? m_library.childCount(entry->id) : 0);
        else
            writer.addFolder("0", "-1", deviceNameSetting(m_library), m_library.childCount(0));
        result.numberReturned = result.totalMatches = 1;
        result.didl = writer.finish(request.filter);
        if (request.escaped) {
            std::string escaped;
            upnp::appendEscapedXml(result.didl, escaped);
            result.didl = std::move(escaped);
        }
        return result;
    }
    if (entry && entry->type != EntryType::Folder) {
        result.fault = NoSuchContainer;
        result.faultText = "No such container";
        return result;
    }
    const int64_t limit = request.requestedCount == 0 ? -1 : int64_t(request.requestedCount);
    const size_t byTitle = request.sortCriteria.find("dc:title");
    Listing listing;
    std::vector<Entry> page;
    if (byTitle == std::string::npos) {
        listing = m_library.listing(id, request.startingIndex, limit);
        page = std::move(listing.entries);
    } else {
        // Only a title order needs the whole folder before the page can be cut from it.
        listing = m_library.listing(id);
        std::vector<Entry> &all = listing.entries;
        const bool descending = byTitle > 0 && request.sortCriteria[byTitle - 1] == '-';
        std::stable_sort(all.begin(), all.end(), [descending](const Entry &a, const Entry &b) {
            return descending ? b.name < a.name : a.name < b.name;
        });
        const size_t first = std::min<size_t>(request.startingIndex, all.size());
        const size_t last = limit < 0 ? all.size() : std::min(all.size(), first + size_t(limit));
        page.assign(std::make_move_iterator(all.begin() + long(first)),
                    std::make_move_iterator(all.begin() + long(last)));
    }
    result.totalMatches = uint32_t(listing.total);
    result.numberReturned = uint32_t(page.size());
    std::lock_guard<std::mutex> lock(m_keptMutex);
    result.didl = writeChildren(listing, page, baseUrl, request.filter, request.escaped);
    return result;
}

} // namespace svc
