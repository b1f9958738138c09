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

    // Keeps a request registered for as long as it lives, however the request ends: an id left
    // behind by an exception would be cancellable, and kept, forever.
    class Scope
    {
    public:
        Scope(RequestRegistry &registry, const std::string &reqId)
            : m_registry(registry)
            , m_token(registry.begin(reqId))
        {
        }
        ~Scope() { m_registry.end(m_token); }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

        const std::atomic<bool> &cancelled() const { return *m_token; }

    private:
        RequestRegistry &m_registry;
        Token m_token;
    };

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
