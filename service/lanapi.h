#pragma once

#include "service/httplistener.h"
#include "service/library.h"
#include "service/mediafiles.h"
#include "service/suffixfilter.h"

#include <httplib.h>

#include <optional>
#include <string>
#include <vector>

namespace svc {

// The read-only interface for the headset and any player on the local network: the device
// name, the listings, the videos with byte ranges, and the covers. Library items are reached
// by id only; no part of a request ever becomes a file system path.
class LanApi
{
public:
    explicit LanApi(Library &library);

    void install(HttpListener &server);

private:
    void info(const httplib::Request &request, httplib::Response &response);
    void files(const httplib::Request &request, httplib::Response &response);
    void media(const httplib::Request &request, httplib::Response &response);
    void sendMedia(const std::string &idText, const httplib::Request &request,
                   httplib::Response &response);
    void cover(const httplib::Request &request, httplib::Response &response);

    Library &m_library;
    MediaFiles m_files;
};

} // namespace svc
