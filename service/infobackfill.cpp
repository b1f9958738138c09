#include "service/infobackfill.h"

#include "service/log.h"

#include <vector>

namespace svc {
namespace {

constexpr size_t Batch = 32;

} // namespace

InfoBackfill::InfoBackfill(Library &library, Reader reader)
    : m_library(library)
    , m_reader(std::move(reader))
{
}

InfoBackfill::~InfoBackfill()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

void InfoBackfill::start()
{
    m_thread = std::thread([this] { run(); });
}

void InfoBackfill::run()
{
    std::vector<std::pair<int64_t, std::string>> videos;
    try {
        videos = m_library.videosWithoutContainer();
    } catch (const std::exception &error) {
        logError("cannot list the videos to read again: ", error.what());
        return;
    }
    if (videos.empty())
        return;
    logInfo("reading the container and codecs of ", videos.size(), " videos in the background");
    size_t done = 0;
    for (size_t first = 0; first < videos.size() && !m_cancel; first += Batch) {
        std::vector<std::pair<int64_t, MediaInfo>> read;
        for (size_t i = first; i < std::min(videos.size(), first + Batch) && !m_cancel; ++i) {
            if (auto info = m_reader(videos[i].second, m_cancel))
                read.emplace_back(videos[i].first, std::move(*info));
        }
        try {
            m_library.write([&read](LibraryWriter &writer) {
                for (const auto &[id, info] : read) {
                    // Removed meanwhile, or read again by a rescan: left as it is.
                    const auto entry = writer.entry(id);
                    if (entry && entry->type == EntryType::Video && entry->info.container.empty())
                        writer.updateInfo(id, info);
                }
                return true;
            });
        } catch (const std::exception &error) {
            logError("cannot keep what was read again: ", error.what());
            return;
        }
        done += read.size();
    }
    logInfo("read the container and codecs of ", done, " videos again");
}

} // namespace svc
