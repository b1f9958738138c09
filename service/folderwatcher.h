#pragma once

#include "service/glibloop.h"
#include "service/importer.h"
#include "service/library.h"
#include "service/writetracker.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct _GFile GFile;
typedef struct _GFileMonitor GFileMonitor;
typedef struct _GSource GSource;

namespace svc {

// Keeps the library in step with the disk. Every folder tree imported at the top level is
// watched with GIO file monitors (one per folder) on the GLib loop; a tree that changed is
// rescanned in place by the importer, on a thread of the watcher's own, leaving out the files
// still being written. Changes are gathered for a moment before a rescan and arrive while one
// runs, so a burst becomes a few transactions while reading keeps pace with it. Trees on file
// systems that send no change events, or beyond the system's watch limit, are rescanned every few
// minutes instead.
class FolderWatcher
{
public:
    using Clock = std::chrono::steady_clock;

    FolderWatcher(Library &library, Importer &importer, GlibLoop &loop);
    // Cancels a running rescan and drops every monitor.
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher &) = delete;
    FolderWatcher &operator=(const FolderWatcher &) = delete;

    // Starts watching, with a rescan of every tree to catch up on what changed while the
    // service was not running; returns at once.
    void start();

    // A change waits this long for the others of the same action (a rename, a replacement,
    // a folder moved in) to join it in one rescan.
    static constexpr Clock::duration Batch = std::chrono::milliseconds(100);
    // Between the starts of two rescans of one tree, or four times what walking it took when
    // that is longer, so that however busy its disk, the watcher never spins on it; a burst
    // lands in one transaction per second or so.
    static constexpr Clock::duration Spacing = std::chrono::seconds(1);
    static constexpr Clock::duration PollInterval = std::chrono::minutes(3);
    // How often a tree whose folder is missing is looked for.
    static constexpr Clock::duration LookInterval = std::chrono::seconds(5);

private:
    struct Root;
    struct Pass;

    // Any thread.
    void rootsChanged();
    // Worker thread.
    void work();
    void enqueue(std::function<void()> job);
    void readRoots();
    void runPass(const std::shared_ptr<Pass> &pass);
    bool isPresent(Pass &pass) const;

    // GLib loop thread.
    void applyRoots(const std::vector<ImportedTree> &trees);
    bool watch(Pass &pass);
    void finish(const std::shared_ptr<Pass> &pass);
    void onEvent(const std::string &root, GFile *file, GFile *other, int event);
    void tick();
    void want(Root &root, Clock::time_point when);
    static Clock::time_point startTime(const Root &root);
    void startPass(Root &root);
    void armBy(Clock::time_point when);
    void rearm();
    bool addMonitor(Root &root, const std::string &folder, std::string &error);
    void dropMonitor(GFileMonitor *monitor);
    void dropMonitors(Root &root);
    static void onChanged(GFileMonitor *monitor, GFile *file, GFile *other, int event, void *data);
    static int onTimer(void *data);

    Library &m_library;
    Importer &m_importer;
    GlibLoop &m_loop;
    const size_t m_budget;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::atomic<bool> m_cancel { false };
    std::atomic<bool> m_rootsQueued { false };
    std::thread m_worker;
    Library::Subscription m_subscription;

    // Owned by the loop thread.
    std::map<std::string, std::unique_ptr<Root>> m_roots;
    size_t m_monitorCount = 0;
    GSource *m_timer = nullptr;
    Clock::time_point m_timerAt;
};

} // namespace svc
