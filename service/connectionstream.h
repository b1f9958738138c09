#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace svc {

// What one request may cost before the HTTP library sees it.
struct RequestLimits
{
    // For the whole request, from its first byte to the end of its body, however slowly it
    // trickles in (each byte would restart a mere read time-out).
    int deadlineMs = 10000;
    // The same, while other connections wait for a thread.
    int crowdedDeadlineMs = 1000;
    size_t headBytes = 32 * 1024; // request line and headers
    size_t headerLines = 100;
    // A POST without Content-Length or Transfer-Encoding has no body, as HTTP says; players
    // send such requests. The library would read one until the connection ends, so it is told
    // so. Off where every body must say its length.
    bool lengthlessHasNoBody = false;
};

// One accepted connection as the HTTP library sees it. Unlike the library's own stream it
// polls only when a read or a write would block, and it holds small writes back until the
// reply is complete, so that a reply's header and its first piece of body leave in one send.
// Reading flushes what is held back, so a reply is never kept waiting for the next request.
//
// It also reads each request's line and headers whole before the library parses them, within
// the limits, and keeps the Range header away from the library, which would apply it to any
// reply and refuse forms HTTP allows; the routes that serve bytes judge it themselves.
class ConnectionStream : public httplib::Stream
{
public:
    enum class HeadResult { Complete, Ended, TooSlow, TooLarge };

    // crowded tells whether other connections wait for a thread; then a slow request gives way.
    ConnectionStream(
        int socket, int readTimeoutMs, int writeTimeoutMs, const RequestLimits &limits = {},
        std::function<bool()> crowded = [] { return false; });

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
    // Reads the next request's line and headers into the buffer; its deadline starts now.
    HeadResult readHead();
    // Whether the current request failed to arrive in time (its deadline, or a silence).
    bool tooSlow() const { return m_tooSlow; }
    // The value of the current request's Range header(s), empty when there is none.
    const std::string &range() const { return m_range; }
    // Sends what is held back, ends the sending side, and reads and drops what the peer still
    // sends, up to timeoutMs, before the connection is closed.
    void drainBeforeClose(int timeoutMs);
    // A reply body the connection sends itself, after the head that the HTTP library wrote
    // for the reply (with its Content-Length and no body): length bytes of a file from offset,
    // straight from the page cache to the socket. owner keeps the file open until then.
    struct FileBody
    {
        int fd = -1;
        uint64_t offset = 0;
        uint64_t length = 0;
        std::shared_ptr<const void> owner;
    };
    // Called by a route while it answers; the server sends it once the head is out.
    void sendAfterHead(FileBody body) { m_body = std::move(body); }
    // Sends the body set for the reply just written, if any; false when it could not be sent
    // whole (the connection failed, or the file is shorter than it was).
    bool sendBody();
    // Sends length bytes of the file from offset, after what is held back.
    bool sendFile(int fd, uint64_t offset, uint64_t length);

    // The reply being written is the connection's last.
    void endAfterReply() { m_endAfterReply = true; }
    bool endsAfterReply() const { return m_endAfterReply; }

    // Whatever the route that answered keeps for this connection's next request; released
    // with the connection.
    void keep(std::shared_ptr<const void> item) { m_kept = std::move(item); }
    const std::shared_ptr<const void> &kept() const { return m_kept; }

private:
    bool sendAll(const char *ptr, size_t size, int flags);
    bool waitFor(short events, int timeoutMs) const;
    // Waits for more of the current request, no longer than its deadline allows.
    bool waitForMore();
    // Receives into the free end of the buffer; what recv returned.
    ssize_t receive();
    // Returns where the head ends now.
    size_t takeRangeHeaders(size_t headEnd);
    // Adds "Content-Length: 0" to a request that names neither length nor encoding.
    void markEmptyBody(size_t headEnd);

    int m_socket;
    int m_readTimeoutMs;
    int m_writeTimeoutMs;
    RequestLimits m_limits;
    std::function<bool()> m_crowded;
    std::chrono::steady_clock::time_point m_requestStart;
    bool m_tooSlow = false;
    std::string m_range;
    bool m_failed = false;
    std::optional<FileBody> m_body;
    bool m_endAfterReply = false;
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

} // namespace svc
