#include "service/httpserver.h"

#include "service/apicodes.h"
#include "service/byterange.h"
#include "service/connectionstream.h"
#include "service/jsonreply.h"
#include "service/log.h"
#include "service/requestrules.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace svc {
namespace {

// Marks a reply after which the connection is closed.
const char *const CloseMarker = "X-Connection-Ends";

void endConnectionAfter(httplib::Response &response)
{
    response.set_header("Connection", "close");
    response.set_header(CloseMarker, "1");
}

// An idle keep-alive connection looks this often whether the listener is stopping or its
// thread is needed.
constexpr int IdleSliceMs = 250;
// How long a connection refused in the middle of a request may still send before it is closed.
constexpr int DrainMs = 1000;

// The library's thread pool, counting the connections that wait for a thread and the threads
// at work.
class CountingPool : public httplib::TaskQueue
{
public:
    CountingPool(size_t threads, std::atomic<size_t> &waiting, std::atomic<size_t> &busy)
        : m_pool(threads)
        , m_waiting(waiting)
        , m_busy(busy)
    {
    }

    void enqueue(std::function<void()> fn) override
    {
        ++m_waiting;
        m_pool.enqueue([this, fn = std::move(fn)] {
            --m_waiting;
            ++m_busy;
            fn();
            --m_busy;
        });
    }
    void shutdown() override { m_pool.shutdown(); }

private:
    httplib::ThreadPool m_pool;
    std::atomic<size_t> &m_waiting;
    std::atomic<size_t> &m_busy;
};

const char *reasonPhrase(int status)
{
    switch (status) {
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Bad Request";
    }
}

// A whole reply written straight to the stream, for a request the HTTP library never saw.
void sendBareReply(ConnectionStream &stream, int status, const std::string &msg)
{
    const std::string body = replyText(ApiCode::BadRequest, msg);
    const std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status)
        + "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: "
        + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    stream.write(head.data(), head.size());
    stream.write(body.data(), body.size());
    stream.flush();
}

void replaceHeader(httplib::Response &response, const std::string &name, const std::string &value)
{
    response.headers.erase(name);
    response.set_header(name, value);
}

// Covers and other replies of bytes held in memory honour a single range; JSON never does.
void applyRange(const httplib::Request &request, httplib::Response &response)
{
    const std::string range = request.get_header_value("Range");
    if (range.empty() || response.status != 200 || response.body.empty()
        || (request.method != "GET" && request.method != "HEAD")
        || response.get_header_value("Content-Type").rfind("application/json", 0) == 0)
        return;
    const uint64_t size = response.body.size();
    const RangeChoice choice = chooseRange(range, size);
    replaceHeader(response, "Accept-Ranges", "bytes");
    if (choice.kind == RangeChoice::Kind::Whole)
        return;
    if (choice.kind == RangeChoice::Kind::Unsatisfiable) {
        response.headers.erase("Content-Type");
        sendReply(response, 416, ApiCode::BadRequest, "range not satisfiable");
        replaceHeader(response, "Content-Range", "bytes */" + std::to_string(size));
    } else {
        response.status = 206;
        response.body = response.body.substr(size_t(choice.first), size_t(choice.length));
        replaceHeader(response, "Content-Range",
                      "bytes " + std::to_string(choice.first) + "-"
                          + std::to_string(choice.first + choice.length - 1) + "/"
                          + std::to_string(size));
    }
    replaceHeader(response, "Content-Length", std::to_string(response.body.size()));
}

int milliseconds(time_t seconds, time_t microseconds)
{
    return int(seconds * 1000 + microseconds / 1000);
}

const char *statusText(int status)
{
    switch (status) {
    case 400:
        return "bad request";
    case 404:
        return "unknown endpoint";
    case 405:
        return "method not allowed";
    case 408:
        return "the request did not arrive in time";
    case 413:
        return "request body too large";
    case 414:
        return "request line too long";
    case 416:
        return "range not satisfiable";
    default:
        return "request failed";
    }
}

// Gives a bare error response of the HTTP library (a body-less 404, 413, 416...) the JSON body
// of every other reply.
void fillErrorReply(httplib::Response &response, bool requestTooSlow)
{
    // Our own handlers have written a reply already.
    if (!response.body.empty())
        return;
    // The library takes a body that stopped coming for a malformed one.
    const int status = requestTooSlow ? 408 : response.status;
    sendReply(response, status, ApiCode::BadRequest, statusText(status));
    // Where a request the library refused ends is not known, or its body is left unread:
    // what follows must not be taken for the next request.
    if (status == 400 || status == 408 || status == 413 || status == 414)
        endConnectionAfter(response);
}

} // namespace

void shutDownConnections(int port)
{
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return;
    while (const dirent *item = readdir(fds)) {
        const int fd = std::atoi(item->d_name);
        struct stat info
        {
        };
        if (fd <= 2 || fd == dirfd(fds) || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        sockaddr_storage address {};
        socklen_t length = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            continue;
        int localPort = -1;
        if (address.ss_family == AF_INET)
            localPort = ntohs(reinterpret_cast<sockaddr_in &>(address).sin_port);
        else if (address.ss_family == AF_INET6)
            localPort = ntohs(reinterpret_cast<sockaddr_in6 &>(address).sin6_port);
        int listening = 0;
        socklen_t size = sizeof listening;
        if (localPort == port && getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0
            && !listening)
            ::shutdown(fd, SHUT_RDWR);
    }
    closedir(fds);
}

HttpServer::HttpServer(std::string name, size_t threads)
    : m_name(std::move(name))
    , m_threads(threads)
{
    new_task_queue = [this] { return new CountingPool(m_threads, m_waiting, m_busy); };
    set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which would let a second service bind the
    // same port and receive half of the connections; address reuse alone allows a quick restart.
    set_socket_options([](socket_t sock) {
        int on = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    set_keep_alive_max_count(1000);
    set_keep_alive_timeout(30);
    set_payload_max_length(MaxRequestBody);
    set_error_handler([this](const httplib::Request &request, httplib::Response &response) {
        const ConnectionStream *connection = connectionOf(request);
        fillErrorReply(response, connection && connection->tooSlow());
    });
    set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        if (const auto refusal = refusalOf(request)) {
            sendReply(response, refusal->status, ApiCode::BadRequest, refusal->msg);
            // Its body, if any, is left unread.
            endConnectionAfter(response);
            return HandlerResponse::Handled;
        }
        // The library never saw the Range header (see ConnectionStream); the routes that
        // serve bytes read it as any other.
        ConnectionStream *connection = connectionOf(request);
        if (connection && !connection->range().empty())
            const_cast<httplib::Request &>(request).headers.emplace("Range", connection->range());
        const std::string &method = request.method;
        if (connection && m_streamHandler && (method == "GET" || method == "HEAD")
            && request.path.compare(0, m_streamPrefix.size(), m_streamPrefix) == 0) {
            m_streamHandler(request, response, *connection);
            return HandlerResponse::Handled;
        }
        return HandlerResponse::Unhandled;
    });
    set_exception_handler([](const httplib::Request &request, httplib::Response &response,
                             std::exception_ptr exception) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(exception);
        } catch (const std::exception &error) {
            what = error.what();
        } catch (...) {
        }
        logError(request.method, " ", request.path, " failed: ", what);
        sendReply(response, 500, ApiCode::InternalError, "internal error: " + what);
    });
    set_post_routing_handler(applyRange);
    set_logger([this](const httplib::Request &request, const httplib::Response &response) {
        const bool streamed = !m_streamPrefix.empty()
            && request.path.compare(0, m_streamPrefix.size(), m_streamPrefix) == 0;
        if (!streamed || response.status >= 400)
            logInfo(m_name, " ", request.method, " ", request.path, " -> ", response.status);
        if (response.has_header(CloseMarker)) {
            if (ConnectionStream *connection = connectionOf(request))
                connection->endAfterReply();
        }
    });
}

HttpServer::~HttpServer()
{
    stopAndWait();
}

int HttpServer::bindTo(const std::string &host, int port)
{
    if (port == 0)
        m_port = bind_to_any_port(host);
    else
        m_port = bind_to_port(host, port) ? port : -1;
    return m_port;
}

ConnectionStream *HttpServer::connectionOf(const httplib::Request &request)
{
    std::lock_guard<std::mutex> lock(m_answeringMutex);
    const auto found = m_answering.find(&request);
    return found == m_answering.end() ? nullptr : found->second;
}

void HttpServer::addStreamRoute(const std::string &prefix, StreamHandler handler)
{
    m_streamPrefix = prefix;
    m_streamHandler = std::move(handler);
}

std::optional<HttpServer::Refusal> HttpServer::refusalOf(const httplib::Request &request) const
{
    const std::string host = request.get_header_value("Host");
    if (!request.has_header("Host")) {
        // Old renderers speak HTTP/1.0 without a Host. No browser leaves it out, so a page
        // cannot use that to get past the rule; the loopback interface still asks for one.
        if (m_rules.host == HostRule::Loopback || request.version != "HTTP/1.0")
            return Refusal { 403, "the request names no Host" };
    } else {
        const bool hostAccepted = m_rules.host == HostRule::Loopback ? isLoopbackHost(host, m_port)
                                                                     : isAddressLiteralHost(host);
        if (request.get_header_value_count("Host") > 1 || !hostAccepted)
            return Refusal { 403, "this interface does not answer for the host " + host };
    }
    if (m_rules.assistantOnly && request.has_header("Origin"))
        return Refusal { 403, "requests from web pages are not answered" };
    if (m_rules.assistantOnly && request.method == "OPTIONS")
        return Refusal { 403, "cross-origin requests are not answered" };

    // The library would read a chunked body without a limit, and a body without a length
    // until the connection ends.
    const std::string &method = request.method;
    const bool bodyMethod
        = method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
    if (request.has_header("Transfer-Encoding"))
        return Refusal { 411, "a request body must come with a Content-Length, not chunked" };
    if (!request.has_header("Content-Length")) {
        if (bodyMethod && method != "DELETE")
            return Refusal { 411, "a request body must come with a Content-Length" };
        return std::nullopt;
    }
    const auto length = parseContentLength(request.get_header_value("Content-Length"));
    if (request.get_header_value_count("Content-Length") > 1 || !length)
        return Refusal { 400, "the Content-Length is not a length" };
    if (*length > MaxRequestBody)
        return Refusal { 413, "request body too large" };
    // The library reads a body only for POST, PUT, PATCH and DELETE. One sent with another
    // method would stay in the stream, be read as the next request, and its answer would go
    // to whoever asks next on this connection.
    if (*length > 0 && !bodyMethod)
        return Refusal { 400, "this request must not carry a body" };
    // A form or a text/plain body is what a web page can send without asking first.
    if (*length > 0 && m_rules.assistantOnly
        && !isJsonContentType(request.get_header_value("Content-Type")))
        return Refusal { 415, "the body must be JSON (Content-Type: application/json)" };
    return std::nullopt;
}

RequestLimits HttpServer::limits() const
{
    RequestLimits limits;
    limits.lengthlessHasNoBody = !m_rules.assistantOnly;
    return limits;
}

bool HttpServer::crowded() const
{
    return m_waiting.load() > 0 && m_busy.load() >= m_threads;
}

bool HttpServer::admit(const std::string &client)
{
    if (m_rules.connectionsPerClient == 0)
        return true;
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    size_t &count = m_clients[client];
    if (count >= m_rules.connectionsPerClient)
        return false;
    ++count;
    return true;
}

void HttpServer::release(const std::string &client)
{
    if (m_rules.connectionsPerClient == 0)
        return;
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    const auto found = m_clients.find(client);
    if (found != m_clients.end() && --found->second == 0)
        m_clients.erase(found);
}

bool HttpServer::process_and_close_socket(socket_t sock)
{
    {
        ConnectionStream stream(sock, milliseconds(read_timeout_sec_, read_timeout_usec_),
                                milliseconds(write_timeout_sec_, write_timeout_usec_), limits(),
                                [this] { return crowded(); });
        std::string client;
        int clientPort = 0;
        stream.get_remote_ip_and_port(client, clientPort);
        if (admit(client)) {
            serveConnection(stream);
            release(client);
        } else {
            // One player, or one host gone wrong, must not take every thread.
            logWarning(m_name, " refused another connection from ", client);
            sendBareReply(stream, 503, "too many connections from " + client);
            stream.drainBeforeClose(DrainMs);
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

void HttpServer::serveConnection(ConnectionStream &stream)
{
    // The library's own connection loop polls before every read and write and wakes idle
    // connections a hundred times a second; this one waits only when it has to.
    const auto running = [this] { return svr_sock_ != INVALID_SOCKET; };
    // An idle connection gives its thread to one that waits for it.
    const auto keepWaiting = [&] { return running() && !crowded(); };
    size_t left = keep_alive_max_count_;
    while (
        left > 0 && running()
        && stream.waitForRequest(int(keep_alive_timeout_sec_ * 1000), IdleSliceMs, keepWaiting)) {
        switch (stream.readHead()) {
        case ConnectionStream::HeadResult::Complete:
            break;
        case ConnectionStream::HeadResult::Ended:
            return;
        case ConnectionStream::HeadResult::TooSlow:
            logInfo(m_name, " request not read in time");
            sendBareReply(stream, 408, statusText(408));
            stream.drainBeforeClose(DrainMs);
            return;
        case ConnectionStream::HeadResult::TooLarge:
            logInfo(m_name, " request with too many or too large headers refused");
            sendBareReply(stream, 431, "too many or too large headers");
            stream.drainBeforeClose(DrainMs);
            return;
        }
        bool closed = false;
        const httplib::Request *answering = nullptr;
        const bool ok = process_request(stream, left == 1, closed, [&](httplib::Request &request) {
            answering = &request;
            std::lock_guard<std::mutex> lock(m_answeringMutex);
            m_answering[answering] = &stream;
        });
        if (answering) {
            std::lock_guard<std::mutex> lock(m_answeringMutex);
            m_answering.erase(answering);
        }
        // A body the route left to the connection follows the head the library wrote.
        if (!ok || !stream.sendBody() || !stream.flush() || closed)
            return;
        // A request the library refused before it was read whole (a malformed request line or
        // header) never reached the routes: where it ends is not known.
        if (!answering || stream.endsAfterReply()) {
            stream.drainBeforeClose(DrainMs);
            return;
        }
        --left;
    }
}

void HttpServer::start()
{
    m_thread = std::thread([this] { listen_after_bind(); });
}

void HttpServer::stopAndWait()
{
    stop();
    // Idle keep-alive connections would otherwise hold their handler threads for the whole
    // keep-alive time; shutting them down wakes those threads at once.
    if (m_port > 0)
        shutDownConnections(m_port);
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace svc
