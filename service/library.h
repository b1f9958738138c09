#pragma once

#include "service/database.h"
#include "service/mediaprobe.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace svc {

enum class EntryType { Video = 0, Folder = 1 };

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
    void putCover(int64_t id, const std::vector<uint8_t> &jpeg);
    void remove(int64_t id);

private:
    Connection &m_connection;
};

// The library of folders and videos, their covers and the settings, kept in SQLite.
class Library
{
public:
    explicit Library(Database &database);

    std::optional<Entry> entry(int64_t id);
    std::optional<Entry> entryByRealPath(const std::string &realPath);
    std::vector<Entry> entriesAtOrBelow(const std::string &root);
    // The folder's entries in the library's order (by id), limit -1 meaning all.
    std::vector<Entry> children(int64_t folderId, int64_t offset = 0, int64_t limit = -1);
    int64_t childCount(int64_t folderId);
    // The folder's place in the library tree, "/A/B"; empty for the root (0).
    std::string libraryPath(int64_t folderId);
    // Removes the entry and everything it holds; false when there is no such entry.
    bool remove(int64_t id);
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

    enum class Change { Entries, Settings };
    // Observers are told after each committed change, on the thread that made it; they are
    // added before the library is used from several threads.
    void addObserver(std::function<void(Change)> observer);

private:
    void tell(Change change);

    Database &m_database;
    std::atomic<uint64_t> m_generation { 0 };
    std::atomic<uint64_t> m_updateId { 0 };
    std::vector<std::function<void(Change)>> m_observers;
};

} // namespace svc
