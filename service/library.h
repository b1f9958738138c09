#pragma once

#include "service/database.h"
#include "service/mediaprobe.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace svc {

enum class EntryType { Video = 0, Folder = 1 };

// What the players send back of a video.
struct Playback
{
    bool favorite = false;
    double rating = 0; // 0 to 5; 0: not rated
    int64_t positionMs = 0; // where the next playback starts
    int64_t playCount = 0;
    bool operator==(const Playback &other) const
    {
        return favorite == other.favorite && rating == other.rating
            && positionMs == other.positionMs && playCount == other.playCount;
    }
};

struct Entry
{
    int64_t id = 0;
    int64_t parentId = 0; // 0: top level
    EntryType type = EntryType::Video;
    std::string name;
    std::string realPath;
    int64_t size = 0;
    int64_t mtimeMs = 0;
    MediaInfo info;
    bool hasCover = false;
    Playback playback;
    // The names of the subtitle files beside the video that belong to it.
    std::vector<std::string> subtitles;

    // Every field: what is kept of an entry (such as its written DIDL-Lite object) is used
    // again only while the entry is equal to what it was made from.
    bool operator==(const Entry &other) const
    {
        return std::tie(id, parentId, type, name, realPath, size, mtimeMs, info, hasCover, playback,
                        subtitles)
            == std::tie(other.id, other.parentId, other.type, other.name, other.realPath,
                        other.size, other.mtimeMs, other.info, other.hasCover, other.playback,
                        other.subtitles);
    }
};

// Changes to the library inside one write transaction.
class LibraryWriter
{
public:
    explicit LibraryWriter(Connection &connection);

    std::optional<Entry> entryByRealPath(const std::string &realPath);
    std::optional<Entry> entry(int64_t id);
    // Every entry whose real path is root or lies below it.
    std::vector<Entry> entriesAtOrBelow(const std::string &root);
    // Every entry held by the folder id, at any depth.
    std::vector<Entry> descendants(int64_t id);

    int64_t insert(const Entry &entry);
    void updateVideo(int64_t id, int64_t parentId, int64_t size, int64_t mtimeMs,
                     const MediaInfo &info);
    void updateFolder(int64_t id, int64_t parentId, int64_t mtimeMs);
    void setParent(int64_t id, int64_t parentId);
    // A rename or a move on the disk: the entry keeps its id and what was read of it.
    void move(int64_t id, int64_t parentId, const std::string &name, const std::string &realPath);
    void putCover(int64_t id, const std::vector<uint8_t> &jpeg);
    void remove(int64_t id);
    void setSubtitles(int64_t id, const std::vector<std::string> &fileNames);
    // What was read of a video's file, read again without the file having changed.
    void updateInfo(int64_t id, const MediaInfo &info);
    void setPlayback(int64_t id, const Playback &playback);

    // The top-level entry that holds id, at any depth (id's own for a top-level one).
    std::optional<Entry> topOf(int64_t id);
    // The suffixes a top-level folder was imported with; empty for the standard ones.
    std::vector<std::string> treeFilters(int64_t id);
    void setTreeFilters(int64_t id, const std::vector<std::string> &suffixes);

    // Paths the person took out of an imported tree, at or below root: rescans leave them out.
    std::set<std::string> exclusionsAtOrBelow(const std::string &root);
    // Remembers that the person took path out; the exclusions below it are part of it now.
    void exclude(const std::string &path);
    // The person asked for path again: the exclusions at or below it end.
    void lift(const std::string &path);

    // The folders (0: the top level) whose children these changes added, removed or altered,
    // and those holding a folder whose count of children they changed.
    const std::set<int64_t> &touched() const { return m_touched; }
    // Whether any entry or cover changed value: a write that changed nothing is no change.
    bool changed() const { return m_changed; }
    // Whether how a top-level tree is scanned changed (its suffixes).
    bool treesChanged() const { return m_treesChanged; }

private:
    // -1 when there is no such entry.
    int64_t parentOf(int64_t id);
    bool setInfo(int64_t id, const MediaInfo &info);
    // Runs a statement that changes entries; true (and the write counts as a change) when it
    // altered a row.
    bool apply(Statement &statement);
    void touch(int64_t folderId, bool countChanged);
    // Books a changed row of id, whose parent was before: its old and new folders when it
    // moved, and the folder showing it when it only changed.
    void touchChanged(int64_t before, int64_t parentId);

    Connection &m_connection;
    std::set<int64_t> m_touched;
    std::set<int64_t> m_counted; // folders whose own parent is touched already
    bool m_changed = false;
    bool m_treesChanged = false;
};

// A folder imported at the top level, and the suffixes it was imported with (empty: the
// standard ones).
struct ImportedTree
{
    int64_t id = 0;
    std::string path;
    std::vector<std::string> filters;
};

// The order a listing's pages are cut from.
enum class ListingOrder {
    ById, // the library's own; the assistant and the headset API's clients sort for themselves
    // Folders first, then the names as people sort them (naturalorder.h; a video by its name
    // without the suffix, as its title shows it), or those names from last to first.
    Named,
    NamedReversed,
};

// A page of a folder's entries, how many the folder holds, and how many each folder on the
// page holds, all read at one moment.
struct Listing
{
    std::vector<Entry> entries;
    int64_t total = 0;
    std::unordered_map<int64_t, int64_t> childCounts;
};

// The library of folders and videos, their covers and the settings, kept in SQLite. One per
// library file: it keeps facts about folders that only its own changes can make stale.
class Library
{
public:
    explicit Library(Database &database);

    std::optional<Entry> entry(int64_t id);
    std::optional<Entry> entryByRealPath(const std::string &realPath);
    std::vector<Entry> entriesAtOrBelow(const std::string &root);
    // The folder's entries in the library's order (by id), limit -1 meaning all.
    std::vector<Entry> children(int64_t folderId, int64_t offset = 0, int64_t limit = -1);
    // The same page with the folder's size and its subfolders' sizes; what it learns of the
    // folder is kept until the entries change, so that the next pages cost only themselves.
    Listing listing(int64_t folderId, int64_t offset = 0, int64_t limit = -1,
                    ListingOrder order = ListingOrder::ById);
    int64_t childCount(int64_t folderId);
    // The folder's place in the library tree, "/A/B"; empty for the root (0).
    std::string libraryPath(int64_t folderId);
    // Removes the entry and everything it holds, never the files; false when there is no such
    // entry. An entry inside an imported tree stays out of it: rescans will not add it back.
    // A top-level one is simply no longer imported, and leaves no exclusion behind.
    bool remove(int64_t id);
    std::vector<ImportedTree> trees();
    // Videos read before their container and codecs were kept, by id and path.
    std::vector<std::pair<int64_t, std::string>> videosWithoutContainer();
    // Every video with the top-level entry that holds it (its own id for one at the top), in
    // the library's order.
    std::vector<std::pair<int64_t, Entry>> videosByTree();
    // Changes what the players sent back of a video; false when there is no such video.
    bool changePlayback(int64_t id, const std::function<void(Playback &)> &change);
    std::set<std::string> exclusionsAtOrBelow(const std::string &root);
    std::optional<std::vector<uint8_t>> cover(int64_t id);

    std::optional<std::string> setting(const std::string &key);
    void setSetting(const std::string &key, const std::string &value);

    // Runs change in one transaction; it commits only when change returns true.
    bool write(const std::function<bool(LibraryWriter &)> &change);
    // Grows after every committed change of the entries; whoever keeps entries aside compares
    // it to know they may be out of date.
    uint64_t generation() const { return m_generation.load(); }
    // Grows with every committed change of the entries and is kept in the library, so it
    // never goes back across restarts: what UPnP calls the SystemUpdateID.
    uint64_t updateId() const { return m_updateId.load(); }

    // Roots: how a top-level tree is scanned changed, its entries did not.
    enum class Change { Entries, Settings, Roots };
    // Observers are told after each committed change, on the thread that made it, with the
    // folders it touched (LibraryWriter::touched; none for settings), one at a time. They
    // must return quickly and not write to the library.
    using Observer = std::function<void(Change, const std::set<int64_t> &folders)>;

    // An observation that ends when it goes: once it is gone (or reset) its observer is not
    // running and is never called again, so an observer may use whatever owns its
    // subscription. It must not outlive the library.
    class Subscription
    {
    public:
        Subscription() = default;
        Subscription(Subscription &&other) noexcept;
        Subscription &operator=(Subscription &&other) noexcept;
        ~Subscription() { reset(); }
        void reset();

    private:
        friend class Library;
        Subscription(Library *library, uint64_t id)
            : m_library(library)
            , m_id(id)
        {
        }
        Library *m_library = nullptr;
        uint64_t m_id = 0;
    };
    [[nodiscard]] Subscription addObserver(Observer observer);

private:
    // What listings need of a folder beyond its page: how many entries it holds, their ids in
    // order (so that a page starts at its first entry rather than stepping over the ones
    // before it) and which of them have a cover (a cover is a row beside its JPEG: asking for
    // it costs a page read per entry). Kept until the entries change.
    struct Child
    {
        int64_t id;
        bool hasCover;
    };
    struct FolderFacts
    {
        int64_t count = -1;
        std::shared_ptr<const std::vector<Child>> children; // by id; only when asked for
        // In ListingOrder::Named, and how many of them are folders; only when asked for.
        std::shared_ptr<const std::vector<Child>> named;
        size_t folders = 0;
    };
    enum class Facts { Count, Children, Named };
    void tell(Change change, const std::set<int64_t> &folders);
    // The facts of folderId as of the read transaction open on connection, which sees the
    // library at update id version.
    FolderFacts folderFacts(Connection &connection, uint64_t version, int64_t folderId,
                            Facts wanted);
    Listing read(int64_t folderId, int64_t offset, int64_t limit, bool childCounts,
                 ListingOrder order = ListingOrder::ById);
    // The page [first, first + limit) of a folder whose entries in ListingOrder::Named are named.
    std::vector<Entry> readNamed(Connection &connection, int64_t folderId,
                                 const std::vector<Child> &named, size_t folders, size_t first,
                                 int64_t limit, bool reversed);
    void addChildCounts(Connection &connection, uint64_t version, Listing &listing, bool wanted);

    Database &m_database;
    std::mutex m_factsMutex;
    // Valid for the update id stored with the entries they were read from, which every
    // committed change of the entries or covers moves on.
    uint64_t m_factsVersion = 0;
    std::unordered_map<int64_t, FolderFacts> m_facts;
    std::atomic<uint64_t> m_generation { 0 };
    std::atomic<uint64_t> m_updateId { 0 };
    std::mutex m_observersMutex;
    uint64_t m_lastObserver = 0;
    std::map<uint64_t, Observer> m_observers;
};

} // namespace svc
