#include "service/mediafiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace svc {

OpenFile::OpenFile(int fd)
    : m_fd(fd)
{
}

OpenFile::~OpenFile()
{
    ::close(m_fd);
}

MediaFiles::MediaFiles(Library &library, size_t capacity)
    : m_library(library)
    , m_capacity(std::max<size_t>(1, capacity))
{
}

MediaFiles::Result MediaFiles::open(int64_t id)
{
    // Read before the library is asked, so that a change committed meanwhile leaves what is
    // kept below marked as out of date.
    const uint64_t generation = m_library.generation();
    Slot slot;
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_generation != generation) {
            m_slots.clear();
            m_generation = generation;
        }
        const auto found = std::find_if(m_slots.begin(), m_slots.end(),
                                        [id](const Slot &item) { return item.id == id; });
        if (found != m_slots.end()) {
            found->lastUse = ++m_uses;
            slot = *found;
            known = true;
        }
    }
    Result result;
    if (!known) {
        const auto entry = m_library.entry(id);
        if (!entry || entry->type != EntryType::Video)
            return result;
        slot.id = id;
        slot.path = entry->realPath;
        slot.name = entry->name;
    }
    result.name = slot.name;

    struct stat now
    {
    };
    if (::stat(slot.path.c_str(), &now) != 0 || !S_ISREG(now.st_mode)) {
        result.outcome = Outcome::Gone;
        slot.file.reset();
        keep(std::move(slot), generation);
        return result;
    }
    const bool unchanged
        = known && slot.file && slot.device == now.st_dev && slot.inode == now.st_ino;
    if (!unchanged) {
        // Held open, the file keeps its inode number, so the same number at the path later
        // means the same file.
        const int fd = ::open(slot.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            result.outcome = Outcome::Gone;
            return result;
        }
        auto file = std::make_shared<OpenFile>(fd);
        if (fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
            result.outcome = Outcome::Gone;
            return result;
        }
        slot.file = std::move(file);
        slot.device = now.st_dev;
        slot.inode = now.st_ino;
    }
    result.outcome = Outcome::Found;
    result.file = slot.file;
    result.size = uint64_t(now.st_size);
    if (!unchanged)
        keep(std::move(slot), generation);
    return result;
}

void MediaFiles::keep(Slot slot, uint64_t generation)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_generation != generation)
        return;
    slot.lastUse = ++m_uses;
    const auto found = std::find_if(m_slots.begin(), m_slots.end(),
                                    [&slot](const Slot &item) { return item.id == slot.id; });
    if (found != m_slots.end()) {
        *found = std::move(slot);
        return;
    }
    if (m_slots.size() >= m_capacity) {
        const auto oldest
            = std::min_element(m_slots.begin(), m_slots.end(),
                               [](const Slot &a, const Slot &b) { return a.lastUse < b.lastUse; });
        m_slots.erase(oldest);
    }
    m_slots.push_back(std::move(slot));
}

} // namespace svc
