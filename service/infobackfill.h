#pragma once

#include "service/library.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace svc {

// Reads again, in the background, what a library made by an older service kept too little
// of: the container and codecs that decide whether the headset plays a video as it is. The
// listings go on meanwhile; a few dozen videos are written per transaction.
class InfoBackfill
{
public:
    // What was read of the video at path; nothing when it cannot be read now.
    using Reader = std::function<std::optional<MediaInfo>(const std::string &path,
                                                          const std::atomic<bool> &cancel)>;

    InfoBackfill(Library &library, Reader reader);
    // Stops the reading between two files.
    ~InfoBackfill();
    InfoBackfill(const InfoBackfill &) = delete;
    InfoBackfill &operator=(const InfoBackfill &) = delete;

    void start();

private:
    void run();

    Library &m_library;
    Reader m_reader;
    std::atomic<bool> m_cancel { false };
    std::thread m_thread;
};

} // namespace svc
