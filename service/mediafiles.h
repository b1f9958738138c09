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
// each piece would otherwise cost a library query and an open. A video's path is kept until
// the library changes, its open file as long as the path still names that very file, so a
// removed entry, a file gone from the disk or one replaced by another is never answered with
// the bytes of what was there before.
class MediaFiles
{
public:
    enum class Outcome { Found, NoVideo, Gone };
    struct Result
    {
        Outcome outcome = Outcome::NoVideo;
        std::shared_ptr<OpenFile> file;
        uint64_t size = 0;
        std::string name;
    };

    explicit MediaFiles(Library &library, size_t capacity = 64);

    Result open(int64_t id);

private:
    struct Slot
    {
        int64_t id = 0;
        std::string path;
        std::string name;
        std::shared_ptr<OpenFile> file;
        dev_t device = 0;
        ino_t inode = 0;
        uint64_t lastUse = 0;
    };

    void keep(Slot slot, uint64_t generation);

    Library &m_library;
    size_t m_capacity;
    std::mutex m_mutex;
    uint64_t m_generation = 0;
    uint64_t m_uses = 0;
    std::vector<Slot> m_slots;
};

} // namespace svc
