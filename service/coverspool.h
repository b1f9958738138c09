#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace svc {

// Covers made during an import wait here, in an unnamed temporary file, until the import
// writes them: a folder of tens of thousands of videos would otherwise hold every cover in
// memory at once. Without a usable file the covers stay in memory.
class CoverSpool
{
public:
    struct Slot
    {
        uint64_t offset = 0;
        uint64_t size = 0;
        size_t memoryIndex = SIZE_MAX;
    };

    explicit CoverSpool(const std::string &folder);
    ~CoverSpool();
    CoverSpool(const CoverSpool &) = delete;
    CoverSpool &operator=(const CoverSpool &) = delete;

    // Safe to call from several threads.
    Slot put(std::vector<uint8_t> jpeg);
    std::vector<uint8_t> take(const Slot &slot);

private:
    int m_fd = -1;
    std::mutex m_mutex;
    uint64_t m_end = 0;
    std::vector<std::vector<uint8_t>> m_memory;
};

} // namespace svc
