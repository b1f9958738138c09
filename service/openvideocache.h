#pragma once

#include "service/library.h"

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace svc {

// An open file, closed when the last reply that reads it is done.
class OpenFile
{
public:
    explicit OpenFile(int fd);
    ~OpenFile();
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// The files of the videos the headset streams. A player asks for many pieces of one video;
// each piece would otherwise cost a library query and an open. The paths of videos are kept
// until the library changes; an open file is handed back by the caller (one per connection,
// so that none stays open after its player has gone) and used again only while its path
// still names that very file. A removed entry, a file gone from the disk or one replaced by
// another is never answered with the bytes of what was there before.
class OpenVideoCache
{
public:
    struct Video
    {
        int64_t id = 0;
        std::string path;
        std::string name;
        std::shared_ptr<OpenFile> file;
        dev_t device = 0;
        ino_t inode = 0;
    };
    enum class Outcome { Found, NoVideo, Gone };
    struct Result
    {
        Outcome outcome = Outcome::NoVideo;
        std::shared_ptr<const Video> video;
        uint64_t size = 0; // the file's size now
    };

    explicit OpenVideoCache(Library &library, size_t capacity = 256);

    // recent: what an earlier call returned on the same connection, or null.
    Result open(int64_t id, const std::shared_ptr<const Video> &recent = nullptr);

private:
    struct Place
    {
        int64_t id = 0;
        std::shared_ptr<const std::string> path;
        std::shared_ptr<const std::string> name;
        uint64_t lastUse = 0;
    };

    bool find(int64_t id, Place &place);

    Library &m_library;
    size_t m_capacity;
    std::mutex m_mutex;
    uint64_t m_generation = 0;
    uint64_t m_uses = 0;
    std::vector<Place> m_places;
};

} // namespace svc
