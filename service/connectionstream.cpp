#include "service/connectionstream.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace svc {
namespace {

constexpr size_t InBuffer = 4096;
// Replies up to this size are sent whole in one go; a larger body leaves together with what
// is held back.
constexpr size_t HeldBackMax = 16 * 1024;

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

ConnectionStream::ConnectionStream(int socket, int readTimeoutMs, int writeTimeoutMs,
                                   const RequestLimits &limits, std::function<bool()> crowded)
    : m_socket(socket)
    , m_readTimeoutMs(readTimeoutMs)
    , m_writeTimeoutMs(writeTimeoutMs)
    , m_limits(limits)
    , m_crowded(std::move(crowded))
    , m_requestStart(std::chrono::steady_clock::now())
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
            const ssize_t got = receive();
            if (got > 0)
                break;
            if (got == 0)
                return 0;
            if (errno == EINTR)
                continue;
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitForMore())
                return -1;
        }
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

bool ConnectionStream::sendBody()
{
    if (!m_body)
        return true;
    const FileBody body = std::move(*m_body);
    m_body.reset();
    return sendFile(body.fd, body.offset, body.length);
}

bool ConnectionStream::sendFile(int fd, uint64_t offset, uint64_t length)
{
    // The header waits for the file's bytes, so both leave in the same packets.
    if (!sendAll(nullptr, 0, MSG_MORE))
        return false;
    off_t position = off_t(offset);
    uint64_t left = length;
    while (left > 0) {
        const ssize_t sent = ::sendfile(m_socket, fd, &position, size_t(left));
        if (sent > 0) {
            left -= uint64_t(sent);
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
    return true;
}

ssize_t ConnectionStream::receive()
{
    const ssize_t got = ::recv(m_socket, m_in.data() + m_inEnd, m_in.size() - m_inEnd, 0);
    if (got > 0)
        m_inEnd += size_t(got);
    return got;
}

bool ConnectionStream::waitForMore()
{
    using namespace std::chrono;
    // In slices, so that a request that is slow only matters once others wait for its thread.
    constexpr int SliceMs = 250;
    int silentMs = 0;
    for (;;) {
        const int age
            = int(duration_cast<milliseconds>(steady_clock::now() - m_requestStart).count());
        const int allowed = m_crowded() ? m_limits.crowdedDeadlineMs : m_limits.deadlineMs;
        if (age >= allowed || silentMs >= m_readTimeoutMs) {
            m_tooSlow = true;
            return false;
        }
        const int slice = std::min({ SliceMs, allowed - age, m_readTimeoutMs - silentMs });
        pollfd item { m_socket, POLLIN, 0 };
        const int ready = ::poll(&item, 1, slice);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
        silentMs += slice;
    }
}

ConnectionStream::HeadResult ConnectionStream::readHead()
{
    m_requestStart = std::chrono::steady_clock::now();
    m_tooSlow = false;
    m_endAfterReply = false;
    m_range.clear();
    if (!flush())
        return HeadResult::Ended;
    const char terminator[] = "\n\r\n";
    size_t scanFrom = m_inStart;
    for (;;) {
        const auto begin = m_in.begin() + long(m_inStart);
        const auto found = std::search(m_in.begin() + long(scanFrom), m_in.begin() + long(m_inEnd),
                                       terminator, terminator + 3);
        const size_t headEnd = found == m_in.begin() + long(m_inEnd)
            ? std::string::npos
            : size_t(found - m_in.begin()) + 3;
        const size_t headSize = (headEnd == std::string::npos ? m_inEnd : headEnd) - m_inStart;
        if (headSize > m_limits.headBytes)
            return HeadResult::TooLarge;
        if (headEnd != std::string::npos) {
            // The request line and the blank line that ends the headers are lines too.
            if (size_t(std::count(begin, m_in.begin() + long(headEnd), '\n'))
                > m_limits.headerLines + 2)
                return HeadResult::TooLarge;
            const size_t end = takeRangeHeaders(headEnd);
            if (m_limits.lengthlessHasNoBody)
                markEmptyBody(end);
            return HeadResult::Complete;
        }
        scanFrom = std::max(m_inStart, m_inEnd >= 2 ? m_inEnd - 2 : 0);
        if (m_inEnd == m_in.size()) {
            if (m_inStart > 0) {
                std::copy(m_in.begin() + long(m_inStart), m_in.begin() + long(m_inEnd),
                          m_in.begin());
                m_inEnd -= m_inStart;
                scanFrom -= m_inStart;
                m_inStart = 0;
            } else {
                m_in.resize(std::min(m_in.size() * 2, m_limits.headBytes + InBuffer));
            }
        }
        const ssize_t got = receive();
        if (got > 0)
            continue;
        if (got == 0)
            return HeadResult::Ended;
        if (errno == EINTR)
            continue;
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitForMore())
            return m_tooSlow ? HeadResult::TooSlow : HeadResult::Ended;
    }
}

size_t ConnectionStream::takeRangeHeaders(size_t headEnd)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    const std::string name = "range:";
    // The request line is no header.
    size_t line
        = size_t(std::find(m_in.begin() + long(m_inStart), m_in.begin() + long(headEnd), '\n')
                 - m_in.begin())
        + 1;
    while (line < headEnd) {
        const size_t next
            = size_t(std::find(m_in.begin() + long(line), m_in.begin() + long(headEnd), '\n')
                     - m_in.begin())
            + 1;
        const bool isRange = next - line > name.size()
            && std::equal(name.begin(), name.end(), m_in.begin() + long(line),
                          [&](char a, char b) { return a == lower(b); });
        if (!isRange) {
            line = next;
            continue;
        }
        std::string value(m_in.begin() + long(line + name.size()), m_in.begin() + long(next));
        const auto first = value.find_first_not_of(" \t");
        const auto last = value.find_last_not_of(" \t\r\n");
        value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
        m_range += (m_range.empty() ? "" : ",") + value;
        std::copy(m_in.begin() + long(next), m_in.begin() + long(m_inEnd),
                  m_in.begin() + long(line));
        m_inEnd -= next - line;
        headEnd -= next - line;
    }
    return headEnd;
}

void ConnectionStream::markEmptyBody(size_t headEnd)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    std::string head(m_in.begin() + long(m_inStart), m_in.begin() + long(headEnd));
    std::transform(head.begin(), head.end(), head.begin(), lower);
    if (head.compare(0, 5, "post ") != 0 || head.find("\ncontent-length:") != std::string::npos
        || head.find("\ntransfer-encoding:") != std::string::npos)
        return;
    const size_t lineEnd = head.find('\n') + 1;
    static const std::string length = "Content-Length: 0\r\n";
    m_in.insert(m_in.begin() + long(m_inStart + lineEnd), length.begin(), length.end());
    m_inEnd += length.size();
}

bool ConnectionStream::waitForRequest(int timeoutMs, int sliceMs,
                                      const std::function<bool()> &keepWaiting)
{
    if (m_inStart < m_inEnd)
        return true;
    if (!flush())
        return false;
    // A request that is there already is answered even when keepWaiting says otherwise.
    pollfd waiting { m_socket, POLLIN, 0 };
    if (::poll(&waiting, 1, 0) > 0)
        return true;
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

void ConnectionStream::drainBeforeClose(int timeoutMs)
{
    // Closing with unread bytes makes the kernel reset the connection, and the peer may lose
    // the reply it was sent; so the rest of what it sends is read and dropped for a while.
    if (!flush() || ::shutdown(m_socket, SHUT_WR) != 0)
        return;
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(timeoutMs);
    char sink[InBuffer];
    while (!m_crowded()) {
        const int left = int(duration_cast<milliseconds>(end - steady_clock::now()).count());
        if (left <= 0 || !waitFor(POLLIN, std::min(left, 250)))
            return;
        const ssize_t got = ::recv(m_socket, sink, sizeof sink, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            return;
    }
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
