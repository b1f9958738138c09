#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace svc {

// The files of one folder tree that are being written, as their change events tell: from a
// change until GIO says the changes are done (the writer closed the file, or it has not changed
// for 2 s), so that a video copied in over minutes is read once, whole. Files whose writing
// was seen to end, or that were moved in whole, are known to be finished for a while after.
class WriteTracker
{
public:
    using Clock = std::chrono::steady_clock;

    // Written to, or created.
    void changed(const std::string &path, Clock::time_point now);
    void done(const std::string &path, Clock::time_point now);
    void movedIn(const std::string &path, Clock::time_point now);
    void removed(const std::string &path);
    void renamed(const std::string &from, const std::string &to);

    // Forgets the files that have had no event for Abandoned; true when there were any.
    bool expire(Clock::time_point now);
    std::optional<Clock::time_point> nextExpiry() const;
    std::set<std::string> paths() const;
    std::set<std::string> finished() const;

    // GIO always ends a change with a done hint; should one be lost, a file is not kept out of
    // the library for longer than this.
    static constexpr Clock::duration Abandoned = std::chrono::seconds(60);

private:
    std::map<std::string, Clock::time_point> m_lastChange;
    std::map<std::string, Clock::time_point> m_finished;
};

} // namespace svc
