#pragma once

#include "service/httplistener.h"
#include "service/importer.h"
#include "service/library.h"
#include "service/requestregistry.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace svc {

// The loopback interface the assistant drives: import, listing, removal, settings, cancel
// and covers. Every reply is {"code", "msg", "data"}; "code" 0 means success.
class ControlApi
{
public:
    ControlApi(Library &library, Importer &importer, RequestRegistry &requests);

    // Adds the routes, and the rules that keep web pages out, to the loopback listener.
    void install(HttpListener &server);

    // One listing element; folderPath is the library path of the folder that holds it.
    static nlohmann::json entryJson(const Entry &entry, const std::string &folderPath);

private:
    void postFiles(const httplib::Request &request, httplib::Response &response);
    void listFiles(const httplib::Request &request, httplib::Response &response);
    void deleteFile(const httplib::Request &request, httplib::Response &response);
    void getSettings(const httplib::Request &request, httplib::Response &response);
    void putSettings(const httplib::Request &request, httplib::Response &response);
    void cancelRequest(const httplib::Request &request, httplib::Response &response);
    void getCover(const httplib::Request &request, httplib::Response &response);

    Library &m_library;
    Importer &m_importer;
    RequestRegistry &m_requests;
};

// Reads a decimal id as a request carries it: digits only, no sign, no more than fits.
std::optional<int64_t> parseId(const std::string &text);

// Shared by the control and the headset interfaces.
// The entries of the folder named by the request's "id" (the root when there is none), each
// made by ControlApi::entryJson; on a bad or unknown id the error reply is written instead.
std::optional<nlohmann::json> folderListing(Library &library, const httplib::Request &request,
                                            httplib::Response &response);
void sendCover(Library &library, const std::string &idText, httplib::Response &response);
std::string deviceNameSetting(Library &library);

} // namespace svc
