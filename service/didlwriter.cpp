#include "service/didlwriter.h"

#include "service/mediaurls.h"
#include "service/playability.h"
#include "service/subtitles.h"
#include "service/suffixfilter.h"
#include "service/upnpdescription.h"
#include "service/vrlayout.h"

#include <libgupnp-av/gupnp-av.h>
#include <libxml/dict.h>
#include <libxml/tree.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>

namespace svc {
namespace {

// One document of ten thousand objects leaves so many small blocks that freeing it and
// growing the reply afterwards cost more than building it.
constexpr size_t ChunkSize = 256;
constexpr const char *DidlRoot
    = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
      "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
      "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\" "
      "xmlns:sec=\"http://www.sec.co.kr/\">";
// Where the subtitle files of a video are named for the players that look for them there.
constexpr const char *SecNamespace = "http://www.sec.co.kr/";
constexpr const char *DidlEnd = "</DIDL-Lite>";

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

void describe(GUPnPDIDLLiteObject *object, const std::string &id, const std::string &parent,
              const std::string &title, const char *kind)
{
    gupnp_didl_lite_object_set_id(object, id.c_str());
    gupnp_didl_lite_object_set_parent_id(object, parent.c_str());
    gupnp_didl_lite_object_set_restricted(object, TRUE);
    gupnp_didl_lite_object_set_title(object, title.c_str());
    gupnp_didl_lite_object_set_upnp_class(object, kind);
}

xmlNode *addResource(xmlNode *object, const std::string &uri)
{
    xmlNode *resource = xmlNewChild(object, nullptr, xml("res"), nullptr);
    xmlNodeAddContent(resource, xml(uri.c_str()));
    return resource;
}

using Names = std::unique_ptr<xmlDict, void (*)(xmlDict *)>;

} // namespace

DidlWriter::DidlWriter(std::string baseUrl, xmlDict *names)
    : m_writer(gupnp_didl_lite_writer_new(nullptr))
    , m_baseUrl(std::move(baseUrl))
{
    xmlDoc *doc = gupnp_didl_lite_writer_get_xml_node(m_writer)->doc;
    if (doc && !doc->dict && names && xmlDictReference(names) == 0)
        doc->dict = names;
}

DidlWriter::~DidlWriter()
{
    g_object_unref(m_writer);
}

void DidlWriter::add(const Entry &entry, int64_t childCount)
{
    if (entry.type == EntryType::Folder)
        addFolder(std::to_string(entry.id), std::to_string(entry.parentId), entry.name, childCount);
    else
        addVideo(entry);
}

void DidlWriter::addFolder(const std::string &id, const std::string &parent,
                           const std::string &title, int64_t childCount)
{
    GUPnPDIDLLiteContainer *container = gupnp_didl_lite_writer_add_container(m_writer);
    auto *object = GUPNP_DIDL_LITE_OBJECT(container);
    describe(object, id, parent, title, "object.container.storageFolder");
    gupnp_didl_lite_container_set_child_count(container, gint(childCount));
    gupnp_didl_lite_container_set_searchable(container, FALSE);
    g_object_unref(container);
}

void DidlWriter::addVideo(const Entry &entry)
{
    GUPnPDIDLLiteItem *item = gupnp_didl_lite_writer_add_item(m_writer);
    auto *object = GUPNP_DIDL_LITE_OBJECT(item);
    describe(object, std::to_string(entry.id), std::to_string(entry.parentId),
             layoutTitle(entry.name, entry.info.layout), "object.item.videoItem");
    gupnp_didl_lite_object_set_date(object, dateText(entry.mtimeMs).c_str());
    xmlNode *node = gupnp_didl_lite_object_get_xml_node(object);

    // A video the headset cannot play as it is is offered converted first; players that can
    // decode it themselves still find the original.
    const StreamFacts facts = streamFacts(entry.info);
    if (const Delivery delivery = decideDelivery(facts); delivery != Delivery::Direct) {
        xmlNode *stream = addResource(node, m_baseUrl + streamPath(entry.id, 0, entry.name));
        const PictureSize size = delivery == Delivery::Transcode
            ? transcodedSize(entry.info.width, entry.info.height)
            : PictureSize { entry.info.width, entry.info.height };
        if (size.width > 0 && size.height > 0) {
            const std::string resolution
                = std::to_string(size.width) + "x" + std::to_string(size.height);
            xmlNewProp(stream, xml("resolution"), xml(resolution.c_str()));
        }
        xmlNewProp(stream, xml("protocolInfo"),
                   xml(convertedType(facts, delivery).protocolInfo.c_str()));
        if (entry.info.durationMs > 0)
            xmlNewProp(stream, xml("duration"), xml(durationText(entry.info.durationMs).c_str()));
    }
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

    addSubtitles(entry, node);
    // Where playback stopped and how often it was played, as the players sent it back.
    if (entry.playback.positionMs > 0) {
        xmlNode *position = xmlNewChild(node, gupnp_didl_lite_object_get_upnp_namespace(object),
                                        xml("lastPlaybackPosition"), nullptr);
        xmlNodeAddContent(position, xml(durationText(entry.playback.positionMs).c_str()));
    }
    if (entry.playback.playCount > 0) {
        xmlNode *count = xmlNewChild(node, gupnp_didl_lite_object_get_upnp_namespace(object),
                                     xml("playbackCount"), nullptr);
        xmlNodeAddContent(count, xml(std::to_string(entry.playback.playCount).c_str()));
    }
    if (entry.hasCover) {
        const std::string cover = m_baseUrl + coverPath(entry.id);
        xmlNode *art = xmlNewChild(node, gupnp_didl_lite_object_get_upnp_namespace(object),
                                   xml("albumArtURI"), nullptr);
        xmlNodeAddContent(art, xml(cover.c_str()));
        xmlNewNsProp(art, gupnp_didl_lite_object_get_dlna_namespace(object), xml("profileID"),
                     xml(CoverProfile));
        xmlNode *picture = addResource(node, cover);
        const std::string pictureProtocol = std::string("http-get:*:image/jpeg:") + CoverFeatures;
        xmlNewProp(picture, xml("protocolInfo"), xml(pictureProtocol.c_str()));
    }
    g_object_unref(item);
}

void DidlWriter::addSubtitles(const Entry &entry, xmlNode *node)
{
    std::vector<std::string> names = entry.subtitles;
    names.push_back(entry.name);
    const std::vector<SidecarSubtitle> sidecars = sidecarSubtitles(entry.realPath, names);
    for (size_t i = 0; i < sidecars.size(); ++i) {
        const std::string url = m_baseUrl + subtitlePath(entry.id, i, sidecars[i].fileName);
        xmlNode *resource = addResource(node, url);
        const std::string protocol
            = std::string("http-get:*:") + subtitleMimeType(sidecars[i].format) + ":*";
        xmlNewProp(resource, xml("protocolInfo"), xml(protocol.c_str()));
        if (sidecars[i].format != SubtitleFormat::SubRip)
            continue;
        if (!m_sec)
            m_sec = xmlNewNs(gupnp_didl_lite_writer_get_xml_node(m_writer), xml(SecNamespace),
                             xml("sec"));
        xmlNode *caption = xmlNewChild(node, m_sec, xml("CaptionInfoEx"), nullptr);
        xmlNodeAddContent(caption, xml(url.c_str()));
        xmlNewNsProp(caption, m_sec, xml("type"), xml("srt"));
    }
}

std::vector<std::string> DidlWriter::finishEach(const std::string &filter, bool escaped)
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

std::string DidlWriter::finish(const std::string &filter)
{
    gupnp_didl_lite_writer_filter(m_writer, filter.empty() ? "*" : filter.c_str());
    char *text = gupnp_didl_lite_writer_get_string(m_writer);
    std::string didl = text ? text : "";
    g_free(text);
    return didl;
}

std::vector<std::string> writeObjects(const std::vector<const Entry *> &entries,
                                      const std::function<int64_t(const Entry &)> &childCount,
                                      const std::string &baseUrl, const std::string &filter,
                                      bool escaped)
{
    std::vector<std::string> written(entries.size());
    const size_t pieces = (entries.size() + ChunkSize - 1) / ChunkSize;
    std::atomic<size_t> next { 0 };
    // Pieces are independent documents: a second thread halves the wait for a folder seen for
    // the first time. Each thread keeps names of its own; a dictionary is not to be shared.
    const auto write = [&] {
        const Names names(xmlDictCreate(), xmlDictFree);
        for (size_t piece = next++; piece < pieces; piece = next++) {
            DidlWriter writer(baseUrl, names.get());
            const size_t first = piece * ChunkSize;
            const size_t last = std::min(entries.size(), first + ChunkSize);
            for (size_t k = first; k < last; ++k)
                writer.add(*entries[k], childCount(*entries[k]));
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
    return written;
}

std::string didlDocument(const std::vector<const std::string *> &objects, bool escaped)
{
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
    for (const std::string *text : objects)
        size += text->size();
    std::string didl;
    didl.reserve(size);
    didl = root;
    for (const std::string *text : objects)
        didl += *text;
    didl += end;
    return didl;
}

} // namespace svc
