#pragma once

#include "service/httpserver.h"
#include "service/library.h"
#include "service/openvideocache.h"
#include "service/suffixfilter.h"
#include "service/transcoder.h"

#include <httplib.h>

#include <optional>
#include <string>
#include <vector>

namespace svc {

// The read-only interface for the headset and any player on the local network: the device
// name, the listings, the videos with byte ranges, the videos converted for the headset where
// it cannot play them as they are, and the covers. Library items are reached by id only; no
// part of a request ever becomes a file system path.
class HeadsetApi
{
public:
    HeadsetApi(Library &library, Transcoder &transcoder);

    void install(HttpServer &server);

private:
    void info(const httplib::Request &request, httplib::Response &response);
    void files(const httplib::Request &request, httplib::Response &response);
    void media(const httplib::Request &request, httplib::Response &response,
               ConnectionStream &connection);
    void cover(const httplib::Request &request, httplib::Response &response);
    // "/media/<id>/t/<start>/<name>.ts": the video converted, sent as ffmpeg makes it.
    void converted(const httplib::Request &request, httplib::Response &response, int64_t id,
                   const std::string &start);

    Library &m_library;
    Transcoder &m_transcoder;
    OpenVideoCache m_files;
};

} // namespace svc
