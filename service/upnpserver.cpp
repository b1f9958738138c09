#include "service/upnpserver.h"

#include "service/deviceicons.h"
#include "service/devicename.h"
#include "service/listing.h"
#include "service/log.h"
#include "service/mediaurls.h"
#include "service/playability.h"
#include "service/requestrules.h"
#include "service/suffixfilter.h"
#include "service/timeseek.h"
#include "service/upnpdescription.h"

#include <libgupnp/gupnp.h>
#include <libsoup/soup.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>

namespace svc {
namespace {

// Re-announced every max-age / 3 - 1 seconds (GSSDP's rule): 59 s. Several headset players
// only ever see a server that announces itself that often.
constexpr guint MaxAgeSeconds = 180;
// GSSDP spaces its messages out; a shorter gap keeps the burst at start and the goodbye at
// stop short.
constexpr guint MessageDelayMs = 20;

bool writeFile(const std::string &path, const void *bytes, size_t size)
{
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char *>(bytes), std::streamsize(size));
        if (!out.flush())
            return false;
    }
    // Replaced whole, so GUPnP never serves half a description.
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

bool writeText(const std::string &path, const std::string &text)
{
    return writeFile(path, text.data(), text.size());
}

std::string text(const char *value)
{
    return value ? value : "";
}

} // namespace

struct UpnpServer::Device
{
    UpnpServer *server = nullptr;
    GUPnPContext *context = nullptr;
    GUPnPRootDevice *root = nullptr;
    GUPnPService *directory = nullptr;
    GUPnPService *connections = nullptr;
    std::string baseUrl;

    ~Device()
    {
        if (directory)
            g_object_unref(directory);
        if (connections)
            g_object_unref(connections);
        if (root)
            g_object_unref(root);
        if (context)
            g_object_unref(context);
    }
};

namespace {

using Device = UpnpServer::Device;

GBytes *bytesOf(std::string &&text)
{
    auto *owned = new std::string(std::move(text));
    return g_bytes_new_with_free_func(
        owned->data(), owned->size(),
        [](gpointer data) { delete static_cast<std::string *>(data); }, owned);
}

// Fills in the empty Result of a reply GUPnP has made with an escaped listing, which is handed
// over, not copied; false when there is none to fill in.
bool putResult(SoupServerMessage *message, std::string &&escaped)
{
    if (soup_message_headers_get_one(soup_server_message_get_response_headers(message),
                                     "Content-Encoding"))
        return false;
    SoupMessageBody *reply = soup_server_message_get_response_body(message);
    GBytes *flat = soup_message_body_flatten(reply);
    gsize size = 0;
    const auto *data = static_cast<const char *>(g_bytes_get_data(flat, &size));
    const std::string_view made(data ? data : "", size);
    const size_t at = made.find("<Result></Result>");
    if (at == std::string_view::npos) {
        g_bytes_unref(flat);
        return false;
    }
    const size_t open = at + std::strlen("<Result>");
    GBytes *head = g_bytes_new_from_bytes(flat, 0, open);
    GBytes *tail = g_bytes_new_from_bytes(flat, open, size - open);
    g_bytes_unref(flat);
    soup_message_body_truncate(reply);
    for (GBytes *piece : { head, bytesOf(std::move(escaped)), tail }) {
        soup_message_body_append_bytes(reply, piece);
        g_bytes_unref(piece);
    }
    return true;
}

void onBrowse(GUPnPService *, GUPnPServiceAction *action, gpointer data)
{
    auto *device = static_cast<Device *>(data);
    char *objectId = nullptr;
    char *flag = nullptr;
    char *filter = nullptr;
    char *sort = nullptr;
    guint start = 0;
    guint count = 0;
    gupnp_service_action_get(action, "ObjectID", G_TYPE_STRING, &objectId, "BrowseFlag",
                             G_TYPE_STRING, &flag, "Filter", G_TYPE_STRING, &filter,
                             "StartingIndex", G_TYPE_UINT, &start, "RequestedCount", G_TYPE_UINT,
                             &count, "SortCriteria", G_TYPE_STRING, &sort, nullptr);
    ContentDirectory::Request request;
    request.objectId = text(objectId);
    request.browseFlag = text(flag);
    request.filter = filter ? filter : "*";
    request.sortCriteria = text(sort);
    request.startingIndex = start;
    request.requestedCount = count;
    request.escaped = true;
    g_free(objectId);
    g_free(flag);
    g_free(filter);
    g_free(sort);
    if (request.objectId.empty()) {
        gupnp_service_action_return_error(action, 402, "Invalid Args");
        return;
    }
    ContentDirectory::Result result = device->server->directory().browse(request, device->baseUrl);
    if (result.fault) {
        gupnp_service_action_return_error(action, guint(result.fault), result.faultText.c_str());
        return;
    }
    // GUPnP writes an argument into the reply one character at a time, which for a listing of
    // thousands of objects costs more than making the listing: the reply is made with an empty
    // Result and the listing, escaped as it was written, is put in its place. libsoup sends the
    // reply only once this handler has returned to the loop.
    SoupServerMessage *message = gupnp_service_action_get_message(action);
    gupnp_service_action_set(action, "Result", G_TYPE_STRING, "", "NumberReturned", G_TYPE_UINT,
                             guint(result.numberReturned), "TotalMatches", G_TYPE_UINT,
                             guint(result.totalMatches), "UpdateID", G_TYPE_UINT,
                             guint(result.updateId), nullptr);
    gupnp_service_action_return_success(action);
    if (!putResult(message, std::move(result.didl))) {
        // Not with the GUPnP this was built for: a failure the player can see, not a listing
        // that says it holds what it does not.
        logError("Browse: GUPnP's reply has no empty Result to fill in");
        soup_message_body_truncate(soup_server_message_get_response_body(message));
        soup_server_message_set_status(message, SOUP_STATUS_INTERNAL_SERVER_ERROR, nullptr);
    }
    g_object_unref(message);
}

// GUPnP's server answers whatever Host a request names. A page in the user's browser can reach
// it through a name of its own that it points at this PC (DNS rebinding) and read the library
// from Browse; players send the address they found the device at, which no rebound name can be.
// An HTTP/1.0 request may name no Host (old renderers); no browser sends one so.
void refuseNamedHosts(SoupServerMessage *message, gpointer)
{
    const char *host
        = soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Host");
    const bool http10 = soup_server_message_get_http_version(message) == SOUP_HTTP_1_0;
    if (host ? !isAddressLiteralHost(trimmed(host)) : !http10)
        soup_server_message_set_status(message, SOUP_STATUS_FORBIDDEN, nullptr);
}

void onRequestStarted(SoupServer *, SoupServerMessage *message, gpointer)
{
    // Told after the server's own handler, before the body is read: a status set there is the
    // answer, and no handler runs.
    g_signal_connect(message, "got-headers", G_CALLBACK(refuseNamedHosts), nullptr);
}

void onSearchCapabilities(GUPnPService *, GUPnPServiceAction *action, gpointer)
{
    gupnp_service_action_set(action, "SearchCaps", G_TYPE_STRING, "", nullptr);
    gupnp_service_action_return_success(action);
}

// Where a player stopped a video, as the players that keep it on the server send it: kept
// like HereSphere's, shown as upnp:lastPlaybackPosition.
bool keepPosition(Device *device, const std::string &objectId, int64_t positionMs)
{
    const auto id = parseId(objectId);
    if (!id || positionMs < 0)
        return false;
    return device->server->library().changePlayback(
        *id, [positionMs](Playback &playback) { playback.positionMs = positionMs; });
}

void onSetBookmark(GUPnPService *, GUPnPServiceAction *action, gpointer data)
{
    char *objectId = nullptr;
    guint seconds = 0;
    gupnp_service_action_get(action, "ObjectID", G_TYPE_STRING, &objectId, "PosSecond", G_TYPE_UINT,
                             &seconds, nullptr);
    const bool kept
        = keepPosition(static_cast<Device *>(data), text(objectId), int64_t(seconds) * 1000);
    g_free(objectId);
    if (kept)
        gupnp_service_action_return_success(action);
    else
        gupnp_service_action_return_error(action, 701, "No such object");
}

// The text of <name>...</name> in a tag value list; none when it has no such element.
std::optional<std::string> tagValue(const std::string &list, const std::string &name)
{
    const size_t open = list.find("<" + name + ">");
    const size_t start = open == std::string::npos ? open : open + name.size() + 2;
    const size_t end = start == std::string::npos ? start : list.find("</" + name + ">", start);
    if (end == std::string::npos)
        return std::nullopt;
    return list.substr(start, end - start);
}

// UpdateObject of upnp:lastPlaybackPosition, the one property a player may change here.
void onUpdateObject(GUPnPService *, GUPnPServiceAction *action, gpointer data)
{
    char *objectId = nullptr;
    char *values = nullptr;
    gupnp_service_action_get(action, "ObjectID", G_TYPE_STRING, &objectId, "NewTagValue",
                             G_TYPE_STRING, &values, nullptr);
    const std::string id = text(objectId);
    const auto position = tagValue(text(values), "upnp:lastPlaybackPosition");
    g_free(objectId);
    g_free(values);
    const auto range = position ? parseNptRange("npt=" + *position + "-") : std::nullopt;
    if (!range) {
        gupnp_service_action_return_error(action, 703, "Invalid newTagValue");
        return;
    }
    if (keepPosition(static_cast<Device *>(data), id, range->startMs))
        gupnp_service_action_return_success(action);
    else
        gupnp_service_action_return_error(action, 701, "No such object");
}

void onSortCapabilities(GUPnPService *, GUPnPServiceAction *action, gpointer)
{
    gupnp_service_action_set(action, "SortCaps", G_TYPE_STRING, "dc:title", nullptr);
    gupnp_service_action_return_success(action);
}

void onSystemUpdateId(GUPnPService *, GUPnPServiceAction *action, gpointer data)
{
    auto *device = static_cast<Device *>(data);
    gupnp_service_action_set(action, "Id", G_TYPE_UINT, guint(device->server->library().updateId()),
                             nullptr);
    gupnp_service_action_return_success(action);
}

void onQueryDirectory(GUPnPService *, char *variable, GValue *value, gpointer data)
{
    auto *device = static_cast<Device *>(data);
    if (g_strcmp0(variable, "SystemUpdateID") == 0) {
        g_value_init(value, G_TYPE_UINT);
        g_value_set_uint(value, guint(device->server->library().updateId()));
    } else {
        g_value_init(value, G_TYPE_STRING);
        g_value_set_string(value, "");
    }
}

std::string sourceProtocols()
{
    std::string list;
    for (const std::string &type : videoContentTypes())
        list += "http-get:*:" + type + ":*,";
    for (const std::string &converted : convertedProtocols())
        list += converted + ",";
    return list + "http-get:*:image/jpeg:DLNA.ORG_PN=" + CoverProfile;
}

void onProtocolInfo(GUPnPService *, GUPnPServiceAction *action, gpointer)
{
    gupnp_service_action_set(action, "Source", G_TYPE_STRING, sourceProtocols().c_str(), "Sink",
                             G_TYPE_STRING, "", nullptr);
    gupnp_service_action_return_success(action);
}

void onConnectionIds(GUPnPService *, GUPnPServiceAction *action, gpointer)
{
    gupnp_service_action_set(action, "ConnectionIDs", G_TYPE_STRING, "0", nullptr);
    gupnp_service_action_return_success(action);
}

void onConnectionInfo(GUPnPService *, GUPnPServiceAction *action, gpointer)
{
    gint id = -1;
    gupnp_service_action_get(action, "ConnectionID", G_TYPE_INT, &id, nullptr);
    if (id != 0) {
        gupnp_service_action_return_error(action, 706, "Invalid connection reference");
        return;
    }
    gupnp_service_action_set(action, "RcsID", G_TYPE_INT, -1, "AVTransportID", G_TYPE_INT, -1,
                             "ProtocolInfo", G_TYPE_STRING, "", "PeerConnectionManager",
                             G_TYPE_STRING, "", "PeerConnectionID", G_TYPE_INT, -1, "Direction",
                             G_TYPE_STRING, "Output", "Status", G_TYPE_STRING, "OK", nullptr);
    gupnp_service_action_return_success(action);
}

void onQueryConnections(GUPnPService *, char *variable, GValue *value, gpointer)
{
    g_value_init(value, G_TYPE_STRING);
    if (g_strcmp0(variable, "SourceProtocolInfo") == 0)
        g_value_set_string(value, sourceProtocols().c_str());
    else if (g_strcmp0(variable, "CurrentConnectionIDs") == 0)
        g_value_set_string(value, "0");
    else
        g_value_set_string(value, "");
}

void onContextAvailable(GUPnPContextManager *, GUPnPContext *context, gpointer data)
{
    static_cast<UpnpServer *>(data)->contextAvailable(context);
}

void onContextUnavailable(GUPnPContextManager *, GUPnPContext *context, gpointer data)
{
    static_cast<UpnpServer *>(data)->contextUnavailable(context);
}

} // namespace

std::string deviceUdn(const std::string &folder)
{
    const std::string path = folder + "/device-uuid";
    std::string udn;
    std::ifstream(path) >> udn;
    if (udn.size() == 41 && udn.compare(0, 5, "uuid:") == 0)
        return udn;
    char *uuid = g_uuid_string_random();
    udn = std::string("uuid:") + uuid;
    g_free(uuid);
    if (!writeText(path, udn + "\n")) {
        logError("cannot keep the device's UUID in ", path);
        return std::string();
    }
    return udn;
}

UpnpServer::UpnpServer(Library &library, GlibLoop &loop, std::string dataDir, int mediaPort,
                       std::string version)
    : m_library(library)
    , m_loop(loop)
    , m_directory(library)
    , m_folder(dataDir + "/upnp-device")
    , m_dataDir(std::move(dataDir))
    , m_mediaPort(mediaPort)
    , m_version(std::move(version))
{
}

UpnpServer::~UpnpServer()
{
    m_subscription.reset();
    if (!m_manager)
        return;
    m_loop.run([this] {
        for (const auto &device : m_devices) {
            gssdp_resource_group_set_message_delay(
                gupnp_root_device_get_ssdp_resource_group(device->root), 0);
            gupnp_root_device_set_available(device->root, FALSE);
        }
    });
    // The goodbyes leave from the loop; give them the moment they need.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m_loop.run([this] {
        m_devices.clear();
        g_object_unref(m_manager);
        m_manager = nullptr;
    });
}

bool UpnpServer::writeDescription(const std::string &name, std::string &error)
{
    if (!writeText(m_folder + "/" + upnp::DescriptionFile,
                   upnp::deviceDescription(name, m_udn, m_version))) {
        error = "cannot write the UPnP description into " + m_folder;
        return false;
    }
    return true;
}

bool UpnpServer::start(std::string &error)
{
    m_udn = deviceUdn(m_dataDir);
    std::error_code made;
    std::filesystem::create_directories(m_folder + "/upnp", made);
    if (m_udn.empty() || made) {
        error = "cannot write the UPnP description into " + m_folder;
        return false;
    }
    m_name = deviceNameSetting(m_library);
    // Written at every start, so an upgrade brings its own documents along.
    if (!writeDescription(m_name, error)
        || !writeText(m_folder + "/" + upnp::ContentDirectoryFile,
                      upnp::contentDirectoryDescription())
        || !writeText(m_folder + "/" + upnp::ConnectionManagerFile,
                      upnp::connectionManagerDescription())
        || !writeFile(m_folder + "/" + upnp::SmallIconFile, deviceIcon48, deviceIcon48Size)
        || !writeFile(m_folder + "/" + upnp::LargeIconFile, deviceIcon120, deviceIcon120Size)) {
        error = "cannot write the UPnP description into " + m_folder;
        return false;
    }
    m_subscription
        = m_library.addObserver([this](Library::Change change, const std::set<int64_t> &folders) {
              libraryChanged(change, folders);
          });
    m_loop.run([this] {
        m_manager
            = gupnp_context_manager_create_full(GSSDP_UDA_VERSION_1_0, G_SOCKET_FAMILY_IPV4, 0);
        g_signal_connect(m_manager, "context-available", G_CALLBACK(onContextAvailable), this);
        g_signal_connect(m_manager, "context-unavailable", G_CALLBACK(onContextUnavailable), this);
    });
    logInfo("media server ", m_udn, " announced as \"", m_name, "\" on the local network");
    return true;
}

void UpnpServer::contextAvailable(GUPnPContext *context)
{
    const std::string address = text(gssdp_client_get_host_ip(GSSDP_CLIENT(context)));
    const std::string interface = text(gssdp_client_get_interface(GSSDP_CLIENT(context)));
    // Nothing on this machine needs to discover it, and a player on loopback is no player.
    if (address.empty() || address.compare(0, 4, "127.") == 0)
        return;
    GError *failure = nullptr;
    GUPnPRootDevice *root
        = gupnp_root_device_new(context, upnp::DescriptionFile, m_folder.c_str(), &failure);
    if (!root) {
        logError("no media server on ", interface, " (", address,
                 "): ", failure ? failure->message : "unknown error");
        g_clear_error(&failure);
        return;
    }
    g_signal_connect(gupnp_context_get_server(context), "request-started",
                     G_CALLBACK(onRequestStarted), nullptr);
    auto device = std::make_unique<Device>();
    device->server = this;
    device->context = GUPNP_CONTEXT(g_object_ref(context));
    device->root = root;
    device->baseUrl = "http://" + address + ":" + std::to_string(m_mediaPort);
    device->directory = GUPNP_SERVICE(
        gupnp_device_info_get_service(GUPNP_DEVICE_INFO(root), upnp::ContentDirectoryType));
    device->connections = GUPNP_SERVICE(
        gupnp_device_info_get_service(GUPNP_DEVICE_INFO(root), upnp::ConnectionManagerType));
    Device *raw = device.get();
    g_signal_connect(device->directory, "action-invoked::Browse", G_CALLBACK(onBrowse), raw);
    g_signal_connect(device->directory, "action-invoked::X_SetBookmark", G_CALLBACK(onSetBookmark),
                     raw);
    g_signal_connect(device->directory, "action-invoked::UpdateObject", G_CALLBACK(onUpdateObject),
                     raw);
    g_signal_connect(device->directory, "action-invoked::GetSearchCapabilities",
                     G_CALLBACK(onSearchCapabilities), raw);
    g_signal_connect(device->directory, "action-invoked::GetSortCapabilities",
                     G_CALLBACK(onSortCapabilities), raw);
    g_signal_connect(device->directory, "action-invoked::GetSystemUpdateID",
                     G_CALLBACK(onSystemUpdateId), raw);
    g_signal_connect(device->directory, "query-variable", G_CALLBACK(onQueryDirectory), raw);
    g_signal_connect(device->connections, "action-invoked::GetProtocolInfo",
                     G_CALLBACK(onProtocolInfo), raw);
    g_signal_connect(device->connections, "action-invoked::GetCurrentConnectionIDs",
                     G_CALLBACK(onConnectionIds), raw);
    g_signal_connect(device->connections, "action-invoked::GetCurrentConnectionInfo",
                     G_CALLBACK(onConnectionInfo), raw);
    g_signal_connect(device->connections, "query-variable", G_CALLBACK(onQueryConnections), raw);

    GSSDPResourceGroup *group = gupnp_root_device_get_ssdp_resource_group(root);
    gssdp_resource_group_set_max_age(group, MaxAgeSeconds);
    gssdp_resource_group_set_message_delay(group, MessageDelayMs);
    gupnp_root_device_set_available(root, TRUE);
    logInfo("media server on ", interface, " at ", address, ", description port ",
            gupnp_context_get_port(context));
    m_devices.push_back(std::move(device));
}

void UpnpServer::contextUnavailable(GUPnPContext *context)
{
    for (auto device = m_devices.begin(); device != m_devices.end(); ++device) {
        if ((*device)->context == context) {
            logInfo("media server off ", text(gssdp_client_get_interface(GSSDP_CLIENT(context))));
            m_devices.erase(device);
            return;
        }
    }
}

void UpnpServer::libraryChanged(Library::Change change, const std::set<int64_t> &folders)
{
    m_loop.post([this, change, folders] {
        if (change == Library::Change::Entries) {
            // Each folder that changed, with the update id as its own: it grows with every
            // change, which is all a player asks of it.
            const guint id = guint(m_library.updateId());
            std::string containers;
            for (const int64_t folder : folders)
                containers += (containers.empty() ? "" : ",") + std::to_string(folder) + ","
                    + std::to_string(id);
            for (const auto &device : m_devices) {
                // One event with both.
                gupnp_service_freeze_notify(device->directory);
                gupnp_service_notify(device->directory, "SystemUpdateID", G_TYPE_UINT, id,
                                     "ContainerUpdateIDs", G_TYPE_STRING, containers.c_str(),
                                     nullptr);
                gupnp_service_thaw_notify(device->directory);
            }
            return;
        }
        const std::string name = deviceNameSetting(m_library);
        if (name == m_name)
            return;
        std::string error;
        if (!writeDescription(name, error)) {
            logError(error);
            return;
        }
        m_name = name;
        // A goodbye and a new hello make players read the description, and the name, again.
        for (const auto &device : m_devices) {
            gupnp_root_device_set_available(device->root, FALSE);
            gupnp_root_device_set_available(device->root, TRUE);
        }
        logInfo("media server renamed \"", name, "\"");
    });
}

} // namespace svc
