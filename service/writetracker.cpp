#include "service/writetracker.h"

#include <algorithm>

namespace svc {

WriteTracker::Clock::time_point WriteTracker::changed(const std::string &path,
                                                      Clock::time_point now)
{
    File &file = m_files[path];
    file.changedAt = now;
    file.lastEvent = now;
    file.closed = false;
    return settlesAt(file);
}

WriteTracker::Clock::time_point WriteTracker::closed(const std::string &path, Clock::time_point now)
{
    // A close with no change seen before it (the file was opened before the folder was
    // watched) still means it was written just now.
    const auto found = m_files.find(path);
    File &file = found == m_files.end() ? m_files[path] : found->second;
    if (found == m_files.end())
        file.changedAt = now;
    file.lastEvent = now;
    file.closed = true;
    return settlesAt(file);
}

void WriteTracker::removed(const std::string &path)
{
    m_files.erase(path);
}

void WriteTracker::renamed(const std::string &from, const std::string &to)
{
    const auto found = m_files.find(from);
    if (found == m_files.end())
        return;
    const File file = found->second;
    m_files.erase(found);
    m_files[to] = file;
}

WriteTracker::Clock::time_point WriteTracker::settlesAt(const File &file)
{
    return file.closed ? file.changedAt + Quiet : file.lastEvent + Abandoned;
}

bool WriteTracker::settle(Clock::time_point now)
{
    bool any = false;
    for (auto file = m_files.begin(); file != m_files.end();) {
        if (settlesAt(file->second) <= now) {
            file = m_files.erase(file);
            any = true;
        } else {
            ++file;
        }
    }
    return any;
}

std::optional<WriteTracker::Clock::time_point> WriteTracker::nextSettle() const
{
    std::optional<Clock::time_point> next;
    for (const auto &file : m_files)
        next = next ? std::min(*next, settlesAt(file.second)) : settlesAt(file.second);
    return next;
}

std::set<std::string> WriteTracker::paths() const
{
    std::set<std::string> paths;
    for (const auto &file : m_files)
        paths.insert(file.first);
    return paths;
}

} // namespace svc
