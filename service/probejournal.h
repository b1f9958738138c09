#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace svc {

// Remembers which files are being read, so that a file which takes the whole service down
// (a decoder bug) costs one restart and not every import of its folder from then on: a file
// that was being read when the service crashed is skipped on later tries until it changes.
//
// Each read is a line in a journal file before it starts and another when it ends; a crash
// leaves the first without the second, and the crash handler marks the reading of its thread.
// A reading cut short without that mark (the process was killed, or the handler could not
// run) is a strike against the file; the second strike sets it aside too, so a kill from
// outside during an import does not condemn the files that happened to be open.
// The writes are plain appends without fsync: they survive the process, which is what they
// are for, and cost next to nothing.
class ProbeJournal
{
public:
    struct File
    {
        std::string path;
        int64_t size = 0;
        int64_t mtimeMs = 0;
        bool operator<(const File &other) const
        {
            return std::tie(path, size, mtimeMs) < std::tie(other.path, other.size, other.mtimeMs);
        }
    };

    // Reads what an earlier run left in folder and judges the readings it never finished
    // (logged once each). Installs the crash handler that marks a crashing reading. Without
    // a usable folder nothing is remembered.
    explicit ProbeJournal(const std::string &folder);
    ~ProbeJournal();
    ProbeJournal(const ProbeJournal &) = delete;
    ProbeJournal &operator=(const ProbeJournal &) = delete;

    // True for a file, unchanged since, whose reading ended the service before.
    bool isSetAside(const File &file) const;

    // Journals the reading of file for as long as the object lives. Safe from several threads.
    class Reading
    {
    public:
        Reading(ProbeJournal *journal, const File &file);
        ~Reading();
        Reading(const Reading &) = delete;
        Reading &operator=(const Reading &) = delete;

    private:
        ProbeJournal *m_journal;
        File m_file;
        uint64_t m_number = 0;
    };

private:
    uint64_t begin(const File &file);
    void end(uint64_t number, const File &file);
    void append(const std::string &line);
    void recover();
    void saveStrikes();

    std::string m_journalPath;
    std::string m_setAsidePath;
    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::map<File, int> m_strikes; // two or more: set aside
    uint64_t m_next = 1;
    size_t m_open = 0;
    uint64_t m_written = 0;
};

// The journal's text form of a path: one line whatever bytes the name holds.
std::string escapeJournalPath(const std::string &path);
std::string unescapeJournalPath(const std::string &text);

} // namespace svc
