#pragma once

#include "service/connectionstream.h"

#include <httplib.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

namespace svc {

class ConnectionStream;

// Which Host a listener answers for.
enum class HostRule {
    // 127.0.0.1, localhost or [::1] with the listener's own port.
    Loopback,
    // An IP address literal, with any port.
    AddressLiteral,
};

// What a listener refuses before any route sees a request. A page in a browser can send
// requests to the loopback and to the LAN; these rules keep it from reading or changing
// anything there.
struct ListenerRules
{
    HostRule host = HostRule::AddressLiteral;
    // Refuses what only a web page sends: an Origin header, OPTIONS (a CORS preflight), a body
    // that is not JSON.
    bool assistantOnly = false;
    // Connections one client address may hold at once; 0 for no limit.
    size_t connectionsPerClient = 32;
};

// One HTTP listener with the settings every interface of the service needs: small replies
// without Nagle delay, enough threads that open streams do not stall the API, bounded requests
// that must arrive in time, JSON for every error, and a stop that does not wait for idle
// keep-alive connections. While connections wait for a thread, idle and slow ones give theirs
// up. Ranges apply only to replies of bytes (media and covers), never to JSON.
class HttpServer : public httplib::Server
{
public:
    HttpServer(std::string name, size_t threads);
    ~HttpServer() override;

    // Returns the bound port (the chosen one for port 0), or -1.
    int bindTo(const std::string &host, int port);
    void start();
    void stopAndWait();

    // The default rules suit an interface open to the LAN.
    void setRules(const ListenerRules &rules) { m_rules = rules; }

    // GET and HEAD requests under prefix go to handler, found by the prefix alone and not by
    // the patterns of the other routes. A player asks for many pieces of one video, so only
    // failed replies there are logged. The handler is given the connection, so that it can
    // leave the body to it (ConnectionStream::sendAfterHead) and keep things for the
    // connection's next request.
    using StreamHandler
        = std::function<void(const httplib::Request &, httplib::Response &, ConnectionStream &)>;
    void addStreamRoute(const std::string &prefix, StreamHandler handler);

private:
    struct Refusal
    {
        int status;
        std::string msg;
    };

    bool process_and_close_socket(socket_t sock) override;
    // The connection a request being answered came on.
    ConnectionStream *connectionOf(const httplib::Request &request);
    void serveConnection(ConnectionStream &stream);
    std::optional<Refusal> refusalOf(const httplib::Request &request) const;
    // Whether connections wait for a thread.
    bool crowded() const;
    RequestLimits limits() const;
    bool admit(const std::string &client);
    void release(const std::string &client);

    std::string m_name;
    size_t m_threads;
    ListenerRules m_rules;
    std::atomic<size_t> m_waiting { 0 };
    std::atomic<size_t> m_busy { 0 };
    std::mutex m_clientsMutex;
    std::map<std::string, size_t> m_clients;
    std::string m_streamPrefix;
    StreamHandler m_streamHandler;
    std::mutex m_answeringMutex;
    std::unordered_map<const httplib::Request *, ConnectionStream *> m_answering;
    std::thread m_thread;
    int m_port = -1;
};

// Shuts down this process's accepted TCP connections on the given local port.
void shutDownConnections(int port);

constexpr size_t MaxRequestBody = 1 << 20;

} // namespace svc
