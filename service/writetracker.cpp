#include "service/writetracker.h"

namespace svc {

void WriteTracker::changed(const std::string &path, Clock::time_point now)
{
    m_lastChange[path] = now;
    m_finished.erase(path);
}

void WriteTracker::done(const std::string &path, Clock::time_point now)
{
    m_lastChange.erase(path);
    m_finished[path] = now;
}

void WriteTracker::movedIn(const std::string &path, Clock::time_point now)
{
    // A rename brings a file in whole.
    if (!m_lastChange.count(path))
        m_finished[path] = now;
}

void WriteTracker::removed(const std::string &path)
{
    m_lastChange.erase(path);
    m_finished.erase(path);
}

void WriteTracker::renamed(const std::string &from, const std::string &to)
{
    const auto found = m_lastChange.find(from);
    m_finished.erase(from);
    if (found == m_lastChange.end()) {
        m_finished[to] = Clock::now();
        return;
    }
    const Clock::time_point last = found->second;
    m_lastChange.erase(found);
    m_lastChange[to] = last;
}

bool WriteTracker::expire(Clock::time_point now)
{
    for (auto file = m_finished.begin(); file != m_finished.end();) {
        if (file->second + Abandoned <= now)
            file = m_finished.erase(file);
        else
            ++file;
    }
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

std::set<std::string> WriteTracker::finished() const
{
    std::set<std::string> paths;
    for (const auto &file : m_finished)
        paths.insert(file.first);
    return paths;
}

std::set<std::string> WriteTracker::paths() const
{
    std::set<std::string> paths;
    for (const auto &file : m_lastChange)
        paths.insert(file.first);
    return paths;
}

} // namespace svc
