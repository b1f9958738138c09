#include "service/openvideocache.h"

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

OpenVideoCache::OpenVideoCache(Library &library, size_t capacity)
    : m_library(library)
    , m_capacity(std::max<size_t>(1, capacity))
{
}

bool OpenVideoCache::find(int64_t id, Place &place)
{
    // Read before the library is asked, so that a change committed meanwhile leaves what is
    // kept below marked as out of date.
    const uint64_t generation = m_library.generation();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_generation != generation) {
            m_places.clear();
            m_generation = generation;
        }
        for (Place &kept : m_places) {
            if (kept.id == id) {
                kept.lastUse = ++m_uses;
                place = kept;
                return true;
            }
        }
    }
    const auto entry = m_library.entry(id);
    if (!entry || entry->type != EntryType::Video)
        return false;
    place.id = id;
    place.path = std::make_shared<const std::string>(entry->realPath);
    place.name = std::make_shared<const std::string>(entry->name);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_generation != generation)
        return true;
    place.lastUse = ++m_uses;
    if (m_places.size() >= m_capacity) {
        const auto oldest = std::min_element(
            m_places.begin(), m_places.end(),
            [](const Place &a, const Place &b) { return a.lastUse < b.lastUse; });
        *oldest = place;
    } else {
        m_places.push_back(place);
    }
    return true;
}

OpenVideoCache::Result OpenVideoCache::open(int64_t id, const std::shared_ptr<const Video> &recent)
{
    Result result;
    Place place;
    if (!find(id, place))
        return result;
    struct stat now
    {
    };
    if (::stat(place.path->c_str(), &now) != 0 || !S_ISREG(now.st_mode)) {
        result.outcome = Outcome::Gone;
        return result;
    }
    result.outcome = Outcome::Found;
    result.size = uint64_t(now.st_size);
    // Held open, a file keeps its inode number, so the same number at the path means the
    // same file.
    if (recent && recent->id == id && recent->path == *place.path && recent->file
        && recent->device == now.st_dev && recent->inode == now.st_ino) {
        result.video = recent;
        return result;
    }
    const int fd = ::open(place.path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.outcome = Outcome::Gone;
        return result;
    }
    auto video = std::make_shared<Video>();
    video->file = std::make_shared<OpenFile>(fd);
    if (fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
        result.outcome = Outcome::Gone;
        return result;
    }
    video->id = id;
    video->path = *place.path;
    video->name = *place.name;
    video->device = now.st_dev;
    video->inode = now.st_ino;
    result.size = uint64_t(now.st_size);
    result.video = std::move(video);
    return result;
}

} // namespace svc
