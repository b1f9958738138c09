#include "service/requestregistry.h"

#include <algorithm>

namespace svc {

namespace {
constexpr size_t EarlyCancelMemory = 64;
}

RequestRegistry::Token RequestRegistry::begin(const std::string &reqId)
{
    auto token = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto early = std::find(m_early.begin(), m_early.end(), reqId);
    if (m_stopping || (!reqId.empty() && early != m_early.end()))
        token->store(true);
    if (early != m_early.end())
        m_early.erase(early);
    m_running.emplace_back(reqId, token);
    return token;
}

void RequestRegistry::end(const Token &token)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running.erase(std::remove_if(m_running.begin(), m_running.end(),
                                   [&](const auto &item) { return item.second == token; }),
                    m_running.end());
}

bool RequestRegistry::cancel(const std::string &reqId)
{
    if (reqId.empty())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    bool found = false;
    for (auto &item : m_running) {
        if (item.first == reqId) {
            item.second->store(true);
            found = true;
        }
    }
    if (!found) {
        m_early.push_back(reqId);
        if (m_early.size() > EarlyCancelMemory)
            m_early.pop_front();
    }
    return found;
}

void RequestRegistry::cancelAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    for (auto &item : m_running)
        item.second->store(true);
}

} // namespace svc
