#pragma once

#include "service/httpserver.h"
#include "service/importer.h"
#include "service/library.h"
#include "service/requestregistry.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>

namespace svc {

// The loopback interface the assistant drives: import, listing, removal, settings, cancel
// and covers. Every reply is {"code", "msg", "data"}; "code" 0 means success.
class ControlApi
{
public:
    ControlApi(Library &library, Importer &importer, RequestRegistry &requests);

    // Adds the routes, and the rules that keep web pages out, to the loopback listener.
    void install(HttpServer &server);
    // The headset API's port, once it listens; 0 while it does not.
    void setLanPort(int port) { m_lanPort = port; }

private:
    void postFiles(const httplib::Request &request, httplib::Response &response);
    void listFiles(const httplib::Request &request, httplib::Response &response);
    void deleteFile(const httplib::Request &request, httplib::Response &response);
    void getSettings(const httplib::Request &request, httplib::Response &response);
    void putSettings(const httplib::Request &request, httplib::Response &response);
    void cancelRequest(const httplib::Request &request, httplib::Response &response);
    void getCover(const httplib::Request &request, httplib::Response &response);
    void lanAddresses(const httplib::Request &request, httplib::Response &response);

    Library &m_library;
    Importer &m_importer;
    RequestRegistry &m_requests;
    std::atomic<int> m_lanPort { 0 };
};

} // namespace svc
