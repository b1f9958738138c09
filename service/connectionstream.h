#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace svc {

// One accepted connection as the HTTP library sees it. Unlike the library's own stream it
// polls only when a read or a write would block, and it holds small writes back until the
// reply is complete, so that a reply's header and its first piece of body leave in one send.
// Reading flushes what is held back, so a reply is never kept waiting for the next request.
class ConnectionStream : public httplib::Stream
{
public:
    ConnectionStream(int socket, int readTimeoutMs, int writeTimeoutMs);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char *ptr, size_t size) override;
    ssize_t write(const char *ptr, size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    int socket() const override { return m_socket; }

    // Sends what is held back; false when the connection failed.
    bool flush();
    // Waits up to timeoutMs for the next request, in slices of sliceMs so that keepWaiting
    // can end the wait early; true when there is something to read.
    bool waitForRequest(int timeoutMs, int sliceMs, const std::function<bool()> &keepWaiting);
    // Sends length bytes of the file from offset straight from the page cache, after what is
    // held back; false when the connection failed or the file ended first. The next length
    // bytes written to this stream are then taken as these and dropped, so that the HTTP
    // library's count of the body still agrees with what went out.
    bool sendFile(int fd, uint64_t offset, size_t length);
    bool failed() const { return m_failed; }

    // Whatever the route that answered keeps for this connection's next request; released
    // with the connection.
    void keep(std::shared_ptr<const void> item) { m_kept = std::move(item); }
    const std::shared_ptr<const void> &kept() const { return m_kept; }

private:
    bool sendAll(const char *ptr, size_t size, int flags);
    bool waitFor(short events, int timeoutMs) const;

    int m_socket;
    int m_readTimeoutMs;
    int m_writeTimeoutMs;
    bool m_failed = false;
    size_t m_alreadySent = 0;
    std::vector<char> m_in;
    size_t m_inStart = 0;
    size_t m_inEnd = 0;
    std::vector<char> m_out;
    std::shared_ptr<const void> m_kept;
    mutable std::string m_remoteIp;
    mutable int m_remotePort = -1;
    mutable std::string m_localIp;
    mutable int m_localPort = -1;
};

// The stream of the connection this thread is answering, or null.
ConnectionStream *currentConnection();
void setCurrentConnection(ConnectionStream *stream);

} // namespace svc
