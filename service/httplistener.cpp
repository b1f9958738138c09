#include "service/httplistener.h"

#include "service/apicodes.h"
#include "service/log.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace svc {
namespace {

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
    if (response.body.empty())
        sendReply(response, response.status, ApiCode::BadRequest, statusText(response.status));
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
        logInfo(m_name, " ", request.method, " ", request.path, " -> ", response.status);
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
