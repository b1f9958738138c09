#include "service/writetracker.h"

namespace svc {

void WriteTracker::changed(const std::string &path, Clock::time_point now)
{
    m_lastChange[path] = now;
}

void WriteTracker::done(const std::string &path)
{
    m_lastChange.erase(path);
}

void WriteTracker::removed(const std::string &path)
{
    m_lastChange.erase(path);
}

void WriteTracker::renamed(const std::string &from, const std::string &to)
{
    const auto found = m_lastChange.find(from);
    if (found == m_lastChange.end())
        return;
    const Clock::time_point last = found->second;
    m_lastChange.erase(found);
    m_lastChange[to] = last;
}

bool WriteTracker::expire(Clock::time_point now)
{
    bool any = false;
    for (auto file = m_lastChange.begin(); file != m_lastChange.end();) {
        if (file->second + Abandoned <= now) {
            file = m_lastChange.erase(file);
            any = true;
        } else {
            ++file;
        }
    }
    return any;
}

std::optional<WriteTracker::Clock::time_point> WriteTracker::nextExpiry() const
{
    std::optional<Clock::time_point> next;
    for (const auto &file : m_lastChange) {
        if (!next || file.second + Abandoned < *next)
            next = file.second + Abandoned;
    }
    return next;
}

std::set<std::string> WriteTracker::paths() const
{
    std::set<std::string> paths;
    for (const auto &file : m_lastChange)
        paths.insert(file.first);
    return paths;
}

} // namespace svc
