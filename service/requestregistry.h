#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace svc {

// Running imports by the "reqId" of their request, so that a later request can cancel them.
class RequestRegistry
{
public:
    using Token = std::shared_ptr<std::atomic<bool>>;

    // The returned flag turns true when the request is cancelled or the service stops.
    Token begin(const std::string &reqId);
    void end(const Token &token);

    // False when no running request carries reqId. The id is remembered for a while all the
    // same, so a cancel that overtakes its import still stops it.
    bool cancel(const std::string &reqId);
    // Cancels everything running and everything that begins from now on.
    void cancelAll();

private:
    std::mutex m_mutex;
    std::vector<std::pair<std::string, Token>> m_running;
    std::deque<std::string> m_early;
    bool m_stopping = false;
};

} // namespace svc
