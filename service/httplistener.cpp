#include "service/httplistener.h"

#include "service/apicodes.h"
#include "service/connectionstream.h"
#include "service/log.h"

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

// Set while a reply is written when the connection must end after it.
thread_local bool closeAfterReply = false;

void endConnectionAfter(httplib::Response &response)
{
    response.set_header("Connection", "close");
    response.set_header(CloseMarker, "1");
}

// An idle keep-alive connection looks this often whether the listener is stopping.
constexpr int IdleSliceMs = 250;

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

void fillErrorReply(httplib::Response &response)
{
    // Our own handlers have written a reply already.
    if (!response.body.empty())
        return;
    const int status = response.status;
    sendReply(response, status, ApiCode::BadRequest, statusText(status));
    // Where a request the library refused ends is not known, or its body is left unread:
    // what follows must not be taken for the next request.
    if (status == 400 || status == 413 || status == 414)
        endConnectionAfter(response);
}

void sendReply(httplib::Response &response, int status, int code, const std::string &msg,
               const nlohmann::json &data)
{
    nlohmann::json reply { { "code", code }, { "msg", msg }, { "data", data } };
    response.status = status;
    // File names need not be UTF-8; a listing must still be valid JSON.
    response.set_content(reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json; charset=utf-8");
}

HttpListener::HttpListener(std::string name, size_t threads)
    : m_name(std::move(name))
{
    new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
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
    set_error_handler(
        [](const httplib::Request &, httplib::Response &response) { fillErrorReply(response); });
    set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        // The library reads a body only for POST, PUT, PATCH and DELETE. One sent with another
        // method would stay in the stream, be read as the next request, and its answer would go
        // to whoever asks next on this connection; such a request is refused and the
        // connection closed after it.
        const std::string &method = request.method;
        if (method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE")
            return HandlerResponse::Unhandled;
        const bool bodyAnnounced = request.has_header("Transfer-Encoding")
            || (request.has_header("Content-Length")
                && request.get_header_value("Content-Length") != "0");
        if (bodyAnnounced) {
            sendReply(response, 400, ApiCode::BadRequest, "this request must not carry a body");
            endConnectionAfter(response);
            return HandlerResponse::Handled;
        }
        if (m_streamHandler && (method == "GET" || method == "HEAD")
            && request.path.compare(0, m_streamPrefix.size(), m_streamPrefix) == 0) {
            m_streamHandler(request, response);
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
    set_logger([this](const httplib::Request &request, const httplib::Response &response) {
        const bool streamed = !m_streamPrefix.empty()
            && request.path.compare(0, m_streamPrefix.size(), m_streamPrefix) == 0;
        if (!streamed || response.status >= 400)
            logInfo(m_name, " ", request.method, " ", request.path, " -> ", response.status);
        if (response.has_header(CloseMarker))
            closeAfterReply = true;
    });
}

HttpListener::~HttpListener()
{
    stopAndWait();
}

int HttpListener::bindTo(const std::string &host, int port)
{
    if (port == 0)
        m_port = bind_to_any_port(host);
    else
        m_port = bind_to_port(host, port) ? port : -1;
    return m_port;
}

void HttpListener::addStreamRoute(const std::string &prefix, Handler handler)
{
    m_streamPrefix = prefix;
    m_streamHandler = std::move(handler);
}

bool HttpListener::process_and_close_socket(socket_t sock)
{
    // The library's own connection loop polls before every read and write and wakes idle
    // connections a hundred times a second; this one waits only when it has to.
    bool ok = false;
    {
        ConnectionStream stream(sock, milliseconds(read_timeout_sec_, read_timeout_usec_),
                                milliseconds(write_timeout_sec_, write_timeout_usec_));
        setCurrentConnection(&stream);
        const auto running = [this] { return svr_sock_ != INVALID_SOCKET; };
        size_t left = keep_alive_max_count_;
        while (
            left > 0 && running()
            && stream.waitForRequest(int(keep_alive_timeout_sec_ * 1000), IdleSliceMs, running)) {
            closeAfterReply = false;
            bool closed = false;
            ok = process_request(stream, left == 1, closed, nullptr);
            if (!stream.flush() || !ok || closed || closeAfterReply)
                break;
            --left;
        }
        setCurrentConnection(nullptr);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

void HttpListener::start()
{
    m_thread = std::thread([this] { listen_after_bind(); });
}

void HttpListener::stopAndWait()
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
