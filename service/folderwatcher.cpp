#include "service/folderwatcher.h"

#include "service/log.h"
#include "service/pathutil.h"
#include "service/subtitles.h"
#include "service/watchlimits.h"

#include <dirent.h>
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <set>

namespace svc {
namespace {

// A file changed this recently (by its time on the disk) may still be being written unless an
// event said its writing ended: its events may still be on their way to the loop, its folder
// may have been unwatched until the rescan, or its tree is polled.
constexpr int64_t RecentMs = 2000;

struct Subscription
{
    FolderWatcher *watcher;
    std::string root;
};

void deleteSubscription(gpointer data, GClosure *)
{
    delete static_cast<Subscription *>(data);
}

std::string pathOf(GFile *file)
{
    char *path = file ? g_file_get_path(file) : nullptr;
    const std::string result = path ? path : "";
    g_free(path);
    return result;
}

bool isDirectory(const std::string &path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isEmptyFolder(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return false;
    bool empty = true;
    while (const dirent *item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    closedir(dir);
    return empty;
}

int64_t wallClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

struct FolderWatcher::Root
{
    std::string path;
    // The suffixes the tree was imported with: changes to other files change nothing.
    SuffixFilter filter = SuffixFilter::standard();
    std::map<std::string, GFileMonitor *> monitors; // by folder
    WriteTracker writes;
    std::optional<Clock::time_point> dueAt; // a rescan is wanted, not before then
    Clock::time_point lastStart; // of the last rescan
    Clock::duration spacing = Spacing;
    bool busy = false; // a rescan is queued or running
    bool announced = false;
    // Without monitors: rescanned every PollInterval.
    bool polled = false;
    // The folder is missing or unreadable: its entries stay, it is looked for every LookInterval.
    bool unavailable = false;
    Clock::time_point nextLook;
    dev_t device = 0;
};

// One rescan: what the loop hands the worker, and what comes back.
struct FolderWatcher::Pass
{
    std::string root;
    dev_t device = 0;
    // Files being written, and those whose writing was seen to end, when the reading begins.
    std::set<std::string> writing;
    std::set<std::string> finished;

    std::string unavailable; // why the tree cannot be rescanned now; empty when it was
    Clock::duration walk {};
    std::vector<std::string> folders;
    std::string eventless;
    std::vector<std::string> recent;
};

FolderWatcher::FolderWatcher(Library &library, Importer &importer, GlibLoop &loop)
    : m_library(library)
    , m_importer(importer)
    , m_loop(loop)
    , m_budget(inotifyWatchBudget())
{
    m_worker = std::thread([this] { work(); });
    m_subscription
        = m_library.addObserver([this](Library::Change change, const std::set<int64_t> &) {
              if (change != Library::Change::Settings)
                  rootsChanged();
          });
}

FolderWatcher::~FolderWatcher()
{
    // An import still finishing elsewhere must not find the watcher half gone.
    m_subscription.reset();
    m_cancel = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
    // Runs after everything the worker posted, so nothing touches this watcher afterwards.
    m_loop.run([this] {
        for (auto &root : m_roots)
            dropMonitors(*root.second);
        m_roots.clear();
        if (m_timer) {
            g_source_destroy(m_timer);
            g_source_unref(m_timer);
            m_timer = nullptr;
        }
    });
}

void FolderWatcher::start()
{
    rootsChanged();
}

void FolderWatcher::rootsChanged()
{
    // Every committed change lands here, the watcher's own rescans too; one reading of the
    // top level covers any number of them.
    if (!m_rootsQueued.exchange(true))
        enqueue([this] { readRoots(); });
}

// Worker thread --------------------------------------------------------------------------------

void FolderWatcher::enqueue(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void FolderWatcher::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

void FolderWatcher::readRoots()
{
    m_rootsQueued = false;
    std::vector<ImportedTree> trees;
    try {
        trees = m_library.trees();
    } catch (const std::exception &error) {
        logError("cannot read the watched folders: ", error.what());
        return;
    }
    m_loop.post([this, trees] { applyRoots(trees); });
}

bool FolderWatcher::isPresent(Pass &pass) const
{
    struct stat info
    {
    };
    if (stat(pass.root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        pass.unavailable = "is missing";
        return false;
    }
    // An unmounted drive can leave its mount point behind, empty, on the disk below it.
    if (pass.device != 0 && info.st_dev != pass.device && isEmptyFolder(pass.root)) {
        pass.unavailable = "is empty and on another device (a drive not mounted?)";
        return false;
    }
    pass.device = info.st_dev;
    return true;
}

void FolderWatcher::runPass(const std::shared_ptr<Pass> &pass)
{
    try {
        if (isPresent(*pass)) {
            const Clock::time_point walkStart = Clock::now();
            // The folders the person took out are not watched either.
            std::set<std::string> excluded = m_library.exclusionsAtOrBelow(pass->root);
            excluded.erase(pass->root);
            const FolderScan tree = scanFolder(pass->root, SuffixFilter(std::vector<std::string>()),
                                               m_cancel, excluded);
            pass->walk = Clock::now() - walkStart;
            if (tree.cancelled || m_cancel)
                return;
            for (const ScannedDir &dir : tree.dirs) {
                pass->folders.push_back(dir.realPath);
                if (pass->eventless.empty())
                    pass->eventless = eventlessFileSystem(dir.realPath);
            }
            // Monitors first, so that what changes while the tree is read is not missed.
            bool watched = false;
            m_loop.run([&] { watched = watch(*pass); });
            if (!watched)
                return;

            ImportRequest request;
            request.path = pass->root;
            request.onlyInLibrary = true;
            request.skip = [&pass](const ScannedFile &file) {
                if (pass->writing.count(file.realPath))
                    return true;
                if (pass->finished.count(file.realPath)
                    || std::llabs(file.mtimeMs - wallClockMs()) >= RecentMs)
                    return false;
                pass->recent.push_back(file.realPath);
                return true;
            };
            const ImportOutcome outcome = m_importer.run(request, m_cancel);
            if (m_cancel)
                return;
            // Gone between the look and the reading: missing, as the next look would say.
            if (outcome.status == ImportOutcome::Status::Failed && isPresent(*pass))
                pass->unavailable = "cannot be rescanned (" + outcome.message + ")";
        }
    } catch (const std::exception &error) {
        pass->unavailable = std::string("cannot be rescanned (") + error.what() + ")";
    }
    m_loop.post([this, pass] { finish(pass); });
}

// GLib loop thread -----------------------------------------------------------------------------

void FolderWatcher::applyRoots(const std::vector<ImportedTree> &trees)
{
    std::map<std::string, SuffixFilter> wanted;
    for (const ImportedTree &tree : trees)
        wanted.emplace(tree.path,
                       tree.filters.empty() ? SuffixFilter::standard()
                                            : SuffixFilter(tree.filters));
    for (auto root = m_roots.begin(); root != m_roots.end();) {
        if (const auto found = wanted.find(root->first); found != wanted.end()) {
            root->second->filter = found->second;
            ++root;
            continue;
        }
        // Removed from the library: a rescan still running for it cannot bring it back.
        dropMonitors(*root->second);
        logInfo("no longer watching ", root->first);
        root = m_roots.erase(root);
    }
    for (const auto &[path, filter] : wanted) {
        if (m_roots.count(path))
            continue;
        // Just imported, or the catch-up at start: rescanned at once, which sets up its
        // monitors, so that little can change unseen.
        auto root = std::make_unique<Root>();
        root->path = path;
        root->filter = filter;
        root->dueAt = Clock::now();
        m_roots.emplace(path, std::move(root));
    }
    rearm();
}

bool FolderWatcher::watch(Pass &pass)
{
    const auto found = m_roots.find(pass.root);
    if (found == m_roots.end())
        return false;
    Root &root = *found->second;
    // Taken now, just before the reading, not when the rescan was queued behind others.
    pass.writing = root.writes.paths();
    pass.finished = root.writes.finished();
    std::string reason;
    if (!pass.eventless.empty()) {
        reason = "it is on a file system (" + pass.eventless + ") that does not report changes";
    } else if (m_monitorCount - root.monitors.size() + pass.folders.size() > m_budget) {
        reason = "its " + std::to_string(pass.folders.size())
            + " folders would pass the system's limit of watches (fs.inotify.max_user_watches)";
    } else {
        const std::set<std::string> wanted(pass.folders.begin(), pass.folders.end());
        for (auto monitor = root.monitors.begin(); monitor != root.monitors.end();) {
            if (wanted.count(monitor->first)) {
                ++monitor;
                continue;
            }
            dropMonitor(monitor->second);
            monitor = root.monitors.erase(monitor);
        }
        for (const std::string &folder : pass.folders) {
            if (!root.monitors.count(folder) && !addMonitor(root, folder, reason))
                break;
        }
    }
    if (!reason.empty()) {
        dropMonitors(root);
        root.writes = WriteTracker();
        if (!root.polled)
            logWarning("not watching ", root.path, ": ", reason, "; it is rescanned every ",
                       std::chrono::duration_cast<std::chrono::minutes>(PollInterval).count(),
                       " minutes instead");
        root.polled = true;
    } else if (root.polled || !root.announced) {
        logInfo("watching ", root.path, " (", root.monitors.size(), " folders)");
        root.polled = false;
    }
    root.announced = true;
    return true;
}

void FolderWatcher::finish(const std::shared_ptr<Pass> &pass)
{
    const auto found = m_roots.find(pass->root);
    if (found == m_roots.end())
        return;
    Root &root = *found->second;
    root.busy = false;
    const Clock::time_point now = Clock::now();
    if (!pass->unavailable.empty()) {
        if (!root.unavailable)
            logWarning(root.path, " ", pass->unavailable,
                       "; its entries stay in the library until it is back");
        root.unavailable = true;
        dropMonitors(root);
        root.writes = WriteTracker();
        root.nextLook = now + LookInterval;
        rearm();
        return;
    }
    if (root.unavailable)
        logInfo(root.path, " is back");
    root.unavailable = false;
    root.device = pass->device;
    root.spacing = std::max<Clock::duration>(Spacing, 4 * pass->walk);
    if (root.polled)
        root.nextLook = now + PollInterval;
    else if (!pass->recent.empty())
        want(root, now + std::chrono::milliseconds(RecentMs)); // left out for their recent time
    rearm();
}

void FolderWatcher::onChanged(GFileMonitor *, GFile *file, GFile *other, int event, void *data)
{
    const auto *subscription = static_cast<Subscription *>(data);
    subscription->watcher->onEvent(subscription->root, file, other, event);
}

void FolderWatcher::onEvent(const std::string &rootPath, GFile *file, GFile *other, int event)
{
    const auto found = m_roots.find(rootPath);
    if (found == m_roots.end())
        return;
    Root &root = *found->second;
    if (root.polled || root.unavailable)
        return;
    // A sidecar's change is the videos' whose subtitles it is: a rescan, nothing to read.
    enum class Kind { Ignored, Folder, Video, Sidecar };
    // Hidden entries and files the import would not take (partial downloads, subtitles) change
    // nothing in the library; a folder is known by its monitor, or looked at when it is new.
    const auto kind = [&](const std::string &path, bool isNew) {
        const std::string name = baseName(path);
        if (name.empty() || name[0] == '.')
            return Kind::Ignored;
        if (root.monitors.count(path))
            return Kind::Folder;
        if (root.filter.accepts(name))
            return Kind::Video;
        if (SubtitleFormat format; subtitleFormat(name, format))
            return Kind::Sidecar;
        return isNew && isDirectory(path) ? Kind::Folder : Kind::Ignored;
    };
    const std::string path = pathOf(file);
    const std::string otherPath = pathOf(other);
    const Clock::time_point now = Clock::now();
    bool structural = false;
    switch (GFileMonitorEvent(event)) {
    case G_FILE_MONITOR_EVENT_CHANGED:
        if (kind(path, false) == Kind::Video) {
            root.writes.changed(path, now);
            armBy(now + WriteTracker::Abandoned);
        }
        break;
    case G_FILE_MONITOR_EVENT_CHANGES_DONE_HINT:
        // Closed after writing, or unchanged for 2 s: whole, as far as anyone can tell.
        if (kind(path, false) == Kind::Video) {
            root.writes.done(path, now);
            structural = true;
        }
        structural = structural || kind(path, false) == Kind::Sidecar;
        break;
    case G_FILE_MONITOR_EVENT_CREATED: {
        const Kind created = kind(path, true);
        if (created == Kind::Video)
            root.writes.changed(path, now);
        structural = created != Kind::Ignored;
        break;
    }
    case G_FILE_MONITOR_EVENT_DELETED:
    case G_FILE_MONITOR_EVENT_MOVED_OUT:
        root.writes.removed(path);
        structural = kind(path, false) != Kind::Ignored;
        break;
    case G_FILE_MONITOR_EVENT_MOVED_IN:
        if (kind(path, true) == Kind::Video)
            root.writes.movedIn(path, now);
        structural = kind(path, true) != Kind::Ignored;
        break;
    case G_FILE_MONITOR_EVENT_RENAMED:
        root.writes.renamed(path, otherPath);
        structural = kind(path, false) != Kind::Ignored || kind(otherPath, true) != Kind::Ignored;
        break;
    case G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED:
        structural = kind(path, false) != Kind::Ignored;
        break;
    case G_FILE_MONITOR_EVENT_PRE_UNMOUNT:
    case G_FILE_MONITOR_EVENT_UNMOUNTED:
        structural = true;
        break;
    default:
        break;
    }
    if (structural)
        want(root, now + Batch);
}

int FolderWatcher::onTimer(void *data)
{
    auto *watcher = static_cast<FolderWatcher *>(data);
    g_source_unref(watcher->m_timer);
    watcher->m_timer = nullptr;
    watcher->tick();
    return G_SOURCE_REMOVE;
}

void FolderWatcher::tick()
{
    const Clock::time_point now = Clock::now();
    for (auto &item : m_roots) {
        Root &root = *item.second;
        if (root.busy)
            continue;
        if (root.unavailable || root.polled) {
            if (now >= root.nextLook)
                startPass(root);
            continue;
        }
        if (root.writes.expire(now))
            want(root, now);
        if (root.dueAt && now >= startTime(root))
            startPass(root);
    }
    rearm();
}

void FolderWatcher::want(Root &root, Clock::time_point when)
{
    // The earliest wish counts: a burst does not postpone its first rescan.
    if (!root.dueAt || when < *root.dueAt)
        root.dueAt = when;
    if (!root.busy)
        armBy(startTime(root));
}

FolderWatcher::Clock::time_point FolderWatcher::startTime(const Root &root)
{
    return std::max(*root.dueAt, root.lastStart + root.spacing);
}

void FolderWatcher::startPass(Root &root)
{
    root.busy = true;
    root.dueAt.reset();
    root.lastStart = Clock::now();
    auto pass = std::make_shared<Pass>();
    pass->root = root.path;
    pass->device = root.device;
    enqueue([this, pass] { runPass(pass); });
}

void FolderWatcher::rearm()
{
    std::optional<Clock::time_point> next;
    const auto consider = [&next](Clock::time_point when) {
        if (!next || when < *next)
            next = when;
    };
    for (const auto &item : m_roots) {
        const Root &root = *item.second;
        if (root.busy)
            continue; // its pass ends with a rearm
        if (root.unavailable || root.polled) {
            consider(root.nextLook);
            continue;
        }
        if (root.dueAt)
            consider(startTime(root));
        if (const auto expiry = root.writes.nextExpiry())
            consider(*expiry);
    }
    if (m_timer) {
        g_source_destroy(m_timer);
        g_source_unref(m_timer);
        m_timer = nullptr;
    }
    if (next)
        armBy(*next);
}

void FolderWatcher::armBy(Clock::time_point when)
{
    if (m_timer && m_timerAt <= when)
        return;
    if (m_timer) {
        g_source_destroy(m_timer);
        g_source_unref(m_timer);
    }
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    m_timer = g_timeout_source_new(guint(std::max<int64_t>(0, delay.count())));
    g_source_set_callback(m_timer, GSourceFunc(onTimer), this, nullptr);
    g_source_attach(m_timer, m_loop.context());
    m_timerAt = when;
}

bool FolderWatcher::addMonitor(Root &root, const std::string &folder, std::string &error)
{
    GFile *file = g_file_new_for_path(folder.c_str());
    GError *failure = nullptr;
    GFileMonitor *monitor
        = g_file_monitor_directory(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, &failure);
    g_object_unref(file);
    if (!monitor) {
        error = "cannot watch " + folder + ": " + (failure ? failure->message : "unknown error");
        g_clear_error(&failure);
        return false;
    }
    g_signal_connect_data(monitor, "changed", G_CALLBACK(onChanged),
                          new Subscription { this, root.path }, deleteSubscription,
                          GConnectFlags(0));
    root.monitors.emplace(folder, monitor);
    ++m_monitorCount;
    return true;
}

void FolderWatcher::dropMonitor(GFileMonitor *monitor)
{
    g_signal_handlers_disconnect_matched(monitor, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         gpointer(onChanged), nullptr);
    g_file_monitor_cancel(monitor);
    g_object_unref(monitor);
    --m_monitorCount;
}

void FolderWatcher::dropMonitors(Root &root)
{
    for (auto &monitor : root.monitors)
        dropMonitor(monitor.second);
    root.monitors.clear();
}

} // namespace svc
