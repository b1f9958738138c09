#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace svc {

// The files of one folder tree that are still being written, as their change events tell. A
// file is in flight until it has not changed for a moment and its writer has closed it, so
// that a video copied in over minutes is read once, whole.
class WriteTracker
{
public:
    using Clock = std::chrono::steady_clock;

    // Written to, or created. Both return when the file may settle.
    Clock::time_point changed(const std::string &path, Clock::time_point now);
    // Its writer closed it (or GIO decided that the changes are done).
    Clock::time_point closed(const std::string &path, Clock::time_point now);
    void removed(const std::string &path);
    void renamed(const std::string &from, const std::string &to);

    // Forgets the files that have settled; true when there were any.
    bool settle(Clock::time_point now);
    // When the next file may settle; nothing when none is in flight.
    std::optional<Clock::time_point> nextSettle() const;
    std::set<std::string> paths() const;

    static constexpr Clock::duration Quiet = std::chrono::seconds(2);
    // A file whose writer neither closes it nor changes it any more is not waited for longer.
    static constexpr Clock::duration Abandoned = std::chrono::seconds(60);

private:
    struct File
    {
        Clock::time_point changedAt;
        Clock::time_point lastEvent;
        bool closed = false;
    };
    static Clock::time_point settlesAt(const File &file);

    std::map<std::string, File> m_files;
};

} // namespace svc
