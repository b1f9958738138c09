#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>
#include <thread>

namespace svc {

// One HTTP listener with the settings every interface of the service needs: small replies
// without Nagle delay, enough threads that open streams do not stall the API, bounded bodies,
// JSON for every error, and a stop that does not wait for idle keep-alive connections.
class HttpListener : public httplib::Server
{
public:
    HttpListener(std::string name, size_t threads);
    ~HttpListener() override;

    // Returns the bound port (the chosen one for port 0), or -1.
    int bindTo(const std::string &host, int port);
    void start();
    void stopAndWait();

    const std::string &name() const { return m_name; }

    // GET and HEAD requests under prefix go to handler, found by the prefix alone and not by
    // the patterns of the other routes. A player asks for many pieces of one video, so only
    // failed replies there are logged.
    void addStreamRoute(const std::string &prefix, Handler handler);

private:
    bool process_and_close_socket(socket_t sock) override;

    std::string m_name;
    std::string m_streamPrefix;
    Handler m_streamHandler;
    std::thread m_thread;
    int m_port = -1;
};

// Shuts down this process's accepted TCP connections on the given local port.
void shutDownConnections(int port);

constexpr size_t MaxRequestBody = 1 << 20;

// Gives a bare error response of the HTTP library (a body-less 404, 413, 416...) the JSON body
// of every other reply.
void fillErrorReply(httplib::Response &response);

// Writes the service's reply object {"code", "msg", "data"} with the given HTTP status.
void sendReply(httplib::Response &response, int status, int code, const std::string &msg,
               const nlohmann::json &data = nullptr);

} // namespace svc
