#pragma once

#include "service/contentdirectory.h"
#include "service/glibloop.h"
#include "service/library.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

typedef struct _GUPnPContext GUPnPContext;
typedef struct _GUPnPContextManager GUPnPContextManager;

namespace svc {

// The library as a UPnP AV MediaServer:1, so that a headset or any DLNA player on the local
// network finds this PC by itself: one root device per network context (every IPv4 interface
// address but loopback, following them as they come and go), a ContentDirectory over the
// library and a ConnectionManager. Media and covers stream from the headset API's own
// listener at mediaPort; only descriptions and SOAP go through GUPnP.
class UpnpServer
{
public:
    // The description and icons are written below dataDir; the device's UUID is kept there.
    UpnpServer(Library &library, GlibLoop &loop, std::string dataDir, int mediaPort,
               std::string version);
    // Says goodbye on every network (ssdp:byebye) and lets go of the devices.
    ~UpnpServer();
    UpnpServer(const UpnpServer &) = delete;
    UpnpServer &operator=(const UpnpServer &) = delete;

    // False (with error set) when the description cannot be written.
    bool start(std::string &error);
    const std::string &udn() const { return m_udn; }

    struct Device;
    ContentDirectory &directory() { return m_directory; }
    Library &library() { return m_library; }
    // The context manager's signals, on the loop's thread.
    void contextAvailable(GUPnPContext *context);
    void contextUnavailable(GUPnPContext *context);

private:
    void libraryChanged(Library::Change change, const std::set<int64_t> &folders);
    bool writeDescription(const std::string &name, std::string &error);

    Library &m_library;
    GlibLoop &m_loop;
    ContentDirectory m_directory;
    std::string m_folder;
    std::string m_dataDir;
    int m_mediaPort;
    std::string m_version;
    std::string m_udn;
    std::string m_name; // loop thread only
    GUPnPContextManager *m_manager = nullptr;
    // An import still finishing while the service stops must not find this server gone.
    Library::Subscription m_subscription;
    std::vector<std::unique_ptr<Device>> m_devices; // loop thread only
};

// The device's UDN ("uuid:…"), made once and kept in folder/device-uuid; empty when it can
// neither be read nor written.
std::string deviceUdn(const std::string &folder);

} // namespace svc
