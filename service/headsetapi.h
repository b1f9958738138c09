#pragma once

#include "service/httpserver.h"
#include "service/library.h"
#include "service/openvideocache.h"
#include "service/suffixfilter.h"

#include <httplib.h>

#include <optional>
#include <string>
#include <vector>

namespace svc {

// The read-only interface for the headset and any player on the local network: the device
// name, the listings, the videos with byte ranges, and the covers. Library items are reached
// by id only; no part of a request ever becomes a file system path.
class HeadsetApi
{
public:
    explicit HeadsetApi(Library &library);

    void install(HttpServer &server);

private:
    void info(const httplib::Request &request, httplib::Response &response);
    void files(const httplib::Request &request, httplib::Response &response);
    void media(const httplib::Request &request, httplib::Response &response,
               ConnectionStream &connection);
    void cover(const httplib::Request &request, httplib::Response &response);

    Library &m_library;
    OpenVideoCache m_files;
};

} // namespace svc
