#include "service/connectionstream.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace svc {
namespace {

constexpr size_t InBuffer = 4096;
// Replies up to this size are sent whole in one go; a larger body leaves together with what
// is held back.
constexpr size_t HeldBackMax = 16 * 1024;

thread_local ConnectionStream *current = nullptr;

void addressOf(const sockaddr_storage &address, socklen_t length, std::string &ip, int &port)
{
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host,
                    service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
        == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

} // namespace

ConnectionStream *currentConnection()
{
    return current;
}

void setCurrentConnection(ConnectionStream *stream)
{
    current = stream;
}

ConnectionStream::ConnectionStream(int socket, int readTimeoutMs, int writeTimeoutMs)
    : m_socket(socket)
    , m_readTimeoutMs(readTimeoutMs)
    , m_writeTimeoutMs(writeTimeoutMs)
    , m_in(InBuffer)
{
    // Every wait goes through poll with its time limit, so a stalled peer holds a thread only
    // that long.
    const int flags = fcntl(socket, F_GETFL);
    if (flags >= 0)
        fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    m_out.reserve(HeldBackMax);
}

bool ConnectionStream::waitFor(short events, int timeoutMs) const
{
    pollfd item { m_socket, events, 0 };
    int ready;
    do
        ready = ::poll(&item, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool ConnectionStream::is_readable() const
{
    return m_inStart < m_inEnd || waitFor(POLLIN, m_readTimeoutMs);
}

bool ConnectionStream::is_writable() const
{
    return !m_failed;
}

ssize_t ConnectionStream::read(char *ptr, size_t size)
{
    if (m_inStart == m_inEnd) {
        // The peer may wait for what is held back before it sends more.
        if (!flush())
            return -1;
        m_inStart = m_inEnd = 0;
        for (;;) {
            const ssize_t got = ::recv(m_socket, m_in.data(), m_in.size(), 0);
            if (got >= 0) {
                m_inEnd = size_t(got);
                break;
            }
            if (errno == EINTR)
                continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitFor(POLLIN, m_readTimeoutMs))
                return -1;
        }
        if (m_inEnd == 0)
            return 0;
    }
    const size_t count = std::min(size, m_inEnd - m_inStart);
    std::memcpy(ptr, m_in.data() + m_inStart, count);
    m_inStart += count;
    return ssize_t(count);
}

ssize_t ConnectionStream::write(const char *ptr, size_t size)
{
    if (m_failed)
        return -1;
    if (m_alreadySent > 0) {
        const size_t dropped = std::min(size, m_alreadySent);
        m_alreadySent -= dropped;
        return ssize_t(dropped);
    }
    if (m_out.size() + size <= HeldBackMax) {
        m_out.insert(m_out.end(), ptr, ptr + size);
        return ssize_t(size);
    }
    return sendAll(ptr, size, 0) ? ssize_t(size) : -1;
}

bool ConnectionStream::flush()
{
    return sendAll(nullptr, 0, 0);
}

bool ConnectionStream::sendAll(const char *ptr, size_t size, int flags)
{
    if (m_failed)
        return false;
    iovec parts[2] = { { m_out.data(), m_out.size() }, { const_cast<char *>(ptr), size } };
    int first = m_out.empty() ? 1 : 0;
    while (first < 2 && parts[first].iov_len > 0) {
        msghdr message {};
        message.msg_iov = parts + first;
        message.msg_iovlen = size_t(2 - first);
        const ssize_t sent = ::sendmsg(m_socket, &message, MSG_NOSIGNAL | flags);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(POLLOUT, m_writeTimeoutMs))
                continue;
            m_failed = true;
            m_out.clear();
            return false;
        }
        size_t done = size_t(sent);
        while (first < 2 && done >= parts[first].iov_len) {
            done -= parts[first].iov_len;
            parts[first].iov_len = 0;
            ++first;
        }
        if (first < 2) {
            parts[first].iov_base = static_cast<char *>(parts[first].iov_base) + done;
            parts[first].iov_len -= done;
        }
    }
    m_out.clear();
    return true;
}

bool ConnectionStream::sendFile(int fd, uint64_t offset, size_t length)
{
    // The header waits for the file's bytes, so both leave in the same packets.
    if (!sendAll(nullptr, 0, MSG_MORE))
        return false;
    off_t position = off_t(offset);
    size_t left = length;
    while (left > 0) {
        const ssize_t sent = ::sendfile(m_socket, fd, &position, left);
        if (sent > 0) {
            left -= size_t(sent);
            continue;
        }
        if (sent == 0)
            return false; // the file is shorter than it was
        if (errno == EINTR)
            continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(POLLOUT, m_writeTimeoutMs))
            continue;
        m_failed = true;
        return false;
    }
    m_alreadySent = length;
    return true;
}

bool ConnectionStream::waitForRequest(int timeoutMs, int sliceMs,
                                      const std::function<bool()> &keepWaiting)
{
    if (m_inStart < m_inEnd)
        return true;
    if (!flush())
        return false;
    for (int waited = 0; waited < timeoutMs && keepWaiting(); waited += sliceMs) {
        pollfd item { m_socket, POLLIN, 0 };
        const int ready = ::poll(&item, 1, std::min(sliceMs, timeoutMs - waited));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

void ConnectionStream::get_remote_ip_and_port(std::string &ip, int &port) const
{
    if (m_remotePort < 0) {
        sockaddr_storage address {};
        socklen_t length = sizeof address;
        if (getpeername(m_socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            addressOf(address, length, m_remoteIp, m_remotePort);
    }
    ip = m_remoteIp;
    port = m_remotePort;
}

void ConnectionStream::get_local_ip_and_port(std::string &ip, int &port) const
{
    if (m_localPort < 0) {
        sockaddr_storage address {};
        socklen_t length = sizeof address;
        if (getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            addressOf(address, length, m_localIp, m_localPort);
    }
    ip = m_localIp;
    port = m_localPort;
}

} // namespace svc
