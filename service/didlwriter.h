#pragma once

#include "service/library.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef struct _GUPnPDIDLLiteWriter GUPnPDIDLLiteWriter;
typedef struct _xmlDict xmlDict;
typedef struct _xmlNode xmlNode;
typedef struct _xmlNs xmlNs;

namespace svc {

// DIDL-Lite objects for library entries. The objects' own fields go through gupnp-av's writer;
// their resources and album art are written on their nodes directly, because gupnp-av's
// resource objects cost more than the rest of an item and a folder of thousands of videos is
// written in one go. Folders are storage folders with their count of children; videos are
// video items titled with the file name (and its VR layout), with the video and its cover as
// resources at baseUrl ("http://<address the request came in on>:<media port>").
class DidlWriter
{
public:
    // names: where element and attribute names are kept, shared rather than copied into every
    // node, so that a listing of thousands makes and frees far fewer small blocks. Not to be
    // shared between threads; null for a document of its own.
    DidlWriter(std::string baseUrl, xmlDict *names);
    ~DidlWriter();
    DidlWriter(const DidlWriter &) = delete;
    DidlWriter &operator=(const DidlWriter &) = delete;

    // childCount: what the entry holds when it is a folder.
    void add(const Entry &entry, int64_t childCount);
    void addFolder(const std::string &id, const std::string &parent, const std::string &title,
                   int64_t childCount);

    // Each object's own text, in the order they were added, XML-escaped when asked (as it
    // goes into a SOAP reply); the root that declares their namespaces is left out.
    std::vector<std::string> finishEach(const std::string &filter, bool escaped);
    // The whole document.
    std::string finish(const std::string &filter);

private:
    void addVideo(const Entry &entry);
    void addSubtitles(const Entry &entry, xmlNode *node);

    GUPnPDIDLLiteWriter *m_writer;
    xmlNs *m_sec = nullptr;
    std::string m_baseUrl;
};

// The objects of entries, each written alone. A long list is written a few hundred objects at
// a time, each piece by a writer of its own whose document is freed before the next is built,
// on two threads when there are several pieces.
std::vector<std::string> writeObjects(const std::vector<const Entry *> &entries,
                                      const std::function<int64_t(const Entry &)> &childCount,
                                      const std::string &baseUrl, const std::string &filter,
                                      bool escaped);

// A DIDL-Lite document made of objects written by finishEach: the root element that declares
// every namespace they use around them.
std::string didlDocument(const std::vector<const std::string *> &objects, bool escaped);

} // namespace svc
