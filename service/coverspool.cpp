#include "service/coverspool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace svc {

CoverSpool::CoverSpool(const std::string &folder)
{
    if (folder.empty())
        return;
    std::string name = folder + "/import-covers-XXXXXX";
    m_fd = mkostemp(name.data(), O_CLOEXEC);
    // Unlinked at once, so that nothing is left behind whichever way the process ends.
    if (m_fd >= 0)
        ::unlink(name.c_str());
}

CoverSpool::~CoverSpool()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CoverSpool::Slot CoverSpool::put(std::vector<uint8_t> jpeg)
{
    Slot slot;
    if (jpeg.empty())
        return slot;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0) {
        const ssize_t written = ::pwrite(m_fd, jpeg.data(), jpeg.size(), off_t(m_end));
        if (written == ssize_t(jpeg.size())) {
            slot.offset = m_end;
            slot.size = jpeg.size();
            m_end += jpeg.size();
            return slot;
        }
    }
    slot.memoryIndex = m_memory.size();
    m_memory.push_back(std::move(jpeg));
    return slot;
}

std::vector<uint8_t> CoverSpool::take(const Slot &slot)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (slot.memoryIndex != SIZE_MAX)
        return std::move(m_memory[slot.memoryIndex]);
    std::vector<uint8_t> jpeg(slot.size);
    if (slot.size == 0
        || ::pread(m_fd, jpeg.data(), jpeg.size(), off_t(slot.offset)) != ssize_t(jpeg.size()))
        jpeg.clear();
    return jpeg;
}

} // namespace svc
