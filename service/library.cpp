#include "service/library.h"

#include "service/naturalorder.h"
#include "service/pathutil.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace svc {
namespace {

const char *const UpdateIdKey = "systemUpdateId";

const char *const entryColumns
    = "e.id, e.parent_id, e.type, e.name, e.real_path, e.size, e.mtime_ms, e.width, e.height, "
      "e.duration_ms, e.codec, EXISTS(SELECT 1 FROM covers c WHERE c.entry_id = e.id), e.layout, "
      "e.favorite, e.rating, e.position_ms, e.play_count, e.subtitles, e.container, "
      "e.video_profile, e.bit_depth, e.pixel_format, e.audio_codec";
// The same columns for listings, which know the covers already.
const char *const listedColumns
    = "e.id, e.parent_id, e.type, e.name, e.real_path, e.size, e.mtime_ms, e.width, e.height, "
      "e.duration_ms, e.codec, 0, e.layout, e.favorite, e.rating, e.position_ms, e.play_count, "
      "e.subtitles, e.container, e.video_profile, e.bit_depth, e.pixel_format, e.audio_codec";

std::string selectEntries(const std::string &tail, const char *columns = entryColumns)
{
    return std::string("SELECT ") + columns + " FROM entries e " + tail;
}

// One read transaction: every query inside it sees the library as it was at its first one.
class ReadSnapshot
{
public:
    explicit ReadSnapshot(Connection &connection)
        : m_connection(connection)
    {
        m_connection.exec("BEGIN");
    }
    ~ReadSnapshot()
    {
        try {
            m_connection.exec("COMMIT");
        } catch (const DatabaseError &) {
            try {
                m_connection.exec("ROLLBACK");
            } catch (const DatabaseError &) {
            }
        }
    }
    ReadSnapshot(const ReadSnapshot &) = delete;
    ReadSnapshot &operator=(const ReadSnapshot &) = delete;

private:
    Connection &m_connection;
};

// The update id stored with the entries; 0 before the first change.
uint64_t storedUpdateId(Connection &connection)
{
    Statement query(connection.handle(), "SELECT value FROM settings WHERE key = ?1");
    if (query.bind(1, std::string(UpdateIdKey)).step())
        return std::strtoull(query.text(0).c_str(), nullptr, 10);
    return 0;
}

std::vector<std::string> splitLines(const std::string &text);

Entry readEntry(const Statement &row)
{
    Entry entry;
    entry.id = row.integer(0);
    entry.parentId = row.isNull(1) ? 0 : row.integer(1);
    entry.type = row.integer(2) == int(EntryType::Folder) ? EntryType::Folder : EntryType::Video;
    entry.name = row.text(3);
    entry.realPath = row.text(4);
    entry.size = row.integer(5);
    entry.mtimeMs = row.integer(6);
    entry.info.width = int(row.integer(7));
    entry.info.height = int(row.integer(8));
    entry.info.durationMs = row.integer(9);
    entry.info.codec = row.text(10);
    entry.hasCover = row.integer(11) != 0;
    entry.info.layout = row.text(12);
    entry.playback.favorite = row.integer(13) != 0;
    entry.playback.rating = row.real(14);
    entry.playback.positionMs = row.integer(15);
    entry.playback.playCount = row.integer(16);
    entry.subtitles = splitLines(row.text(17));
    entry.info.container = row.text(18);
    entry.info.videoProfile = int(row.integer(19));
    entry.info.bitDepth = int(row.integer(20));
    entry.info.pixelFormat = row.text(21);
    entry.info.audioCodec = row.text(22);
    return entry;
}

std::vector<Entry> readAll(Statement &statement)
{
    std::vector<Entry> entries;
    while (statement.step())
        entries.push_back(readEntry(statement));
    return entries;
}

std::optional<Entry> readOne(Statement &statement)
{
    if (statement.step())
        return readEntry(statement);
    return std::nullopt;
}

std::optional<Entry> queryById(Connection &connection, int64_t id)
{
    Statement query(connection.handle(), selectEntries("WHERE e.id = ?1").c_str());
    return readOne(query.bind(1, id));
}

std::optional<Entry> queryByRealPath(Connection &connection, const std::string &realPath)
{
    Statement query(connection.handle(), selectEntries("WHERE e.real_path = ?1").c_str());
    return readOne(query.bind(1, realPath));
}

std::vector<Entry> queryAtOrBelow(Connection &connection, const std::string &root)
{
    // Everything below root sorts between root + "/" and root + "0" ('0' follows '/'), so the
    // unique index on real_path answers this as a range.
    const std::string base = root == "/" ? std::string() : root;
    Statement query(
        connection.handle(),
        selectEntries("WHERE e.real_path = ?1 OR (e.real_path > ?2 AND e.real_path < ?3)").c_str());
    query.bind(1, root).bind(2, base + "/").bind(3, base + "0");
    return readAll(query);
}

std::set<std::string> queryExclusions(Connection &connection, const std::string &root)
{
    const std::string base = root == "/" ? std::string() : root;
    Statement query(connection.handle(),
                    "SELECT path FROM exclusions WHERE path = ?1 OR (path > ?2 AND path < ?3)");
    query.bind(1, root).bind(2, base + "/").bind(3, base + "0");
    std::set<std::string> paths;
    while (query.step())
        paths.insert(query.text(0));
    return paths;
}

// Suffixes are kept one per line; no suffix holds a line break.
std::string joinLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

LibraryWriter::LibraryWriter(Connection &connection)
    : m_connection(connection)
{
}

std::optional<Entry> LibraryWriter::entryByRealPath(const std::string &realPath)
{
    return queryByRealPath(m_connection, realPath);
}

std::optional<Entry> LibraryWriter::entry(int64_t id)
{
    return queryById(m_connection, id);
}

std::vector<Entry> LibraryWriter::entriesAtOrBelow(const std::string &root)
{
    return queryAtOrBelow(m_connection, root);
}

std::vector<Entry> LibraryWriter::descendants(int64_t id)
{
    // UNION rather than UNION ALL: a damaged parent chain that loops still ends.
    Statement query(m_connection.handle(),
                    ("WITH RECURSIVE sub(id) AS (SELECT id FROM entries WHERE parent_id = ?1 "
                     "UNION SELECT x.id FROM entries x JOIN sub ON x.parent_id = sub.id) "
                     + selectEntries("WHERE e.id IN sub"))
                        .c_str());
    return readAll(query.bind(1, id));
}

int64_t LibraryWriter::insert(const Entry &entry)
{
    Statement insert(m_connection.handle(),
                     "INSERT INTO entries (parent_id, type, name, real_path, size, mtime_ms, "
                     "width, height, duration_ms, codec, layout, container, video_profile, "
                     "bit_depth, pixel_format, audio_codec) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                     "?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)");
    insert.bindParent(1, entry.parentId)
        .bind(2, int64_t(entry.type))
        .bind(3, entry.name)
        .bind(4, entry.realPath)
        .bind(5, entry.size)
        .bind(6, entry.mtimeMs)
        .bind(7, int64_t(entry.info.width))
        .bind(8, int64_t(entry.info.height))
        .bind(9, entry.info.durationMs)
        .bind(10, entry.info.codec)
        .bind(11, entry.info.layout)
        .bind(12, entry.info.container)
        .bind(13, int64_t(entry.info.videoProfile))
        .bind(14, int64_t(entry.info.bitDepth))
        .bind(15, entry.info.pixelFormat)
        .bind(16, entry.info.audioCodec);
    apply(insert);
    touch(entry.parentId, true);
    return m_connection.lastInsertId();
}

int64_t LibraryWriter::parentOf(int64_t id)
{
    Statement query(m_connection.handle(), "SELECT parent_id FROM entries WHERE id = ?1");
    if (!query.bind(1, id).step())
        return -1;
    return query.isNull(0) ? 0 : query.integer(0);
}

bool LibraryWriter::apply(Statement &statement)
{
    statement.step();
    const bool altered = sqlite3_changes(m_connection.handle()) > 0;
    m_changed = m_changed || altered;
    return altered;
}

void LibraryWriter::touch(int64_t folderId, bool countChanged)
{
    if (folderId < 0)
        return;
    m_touched.insert(folderId);
    // Its count of children is shown in the folder that holds it.
    if (countChanged && folderId != 0 && m_counted.insert(folderId).second)
        touch(parentOf(folderId), false);
}

void LibraryWriter::touchChanged(int64_t before, int64_t parentId)
{
    touch(before, before != parentId);
    if (before != parentId)
        touch(parentId, true);
}

// The updates below change a row only where a value differs, so that a rescan finding things
// as they were writes nothing: no new update id, no event, no folder named as changed.
void LibraryWriter::updateVideo(int64_t id, int64_t parentId, int64_t size, int64_t mtimeMs,
                                const MediaInfo &info)
{
    const int64_t before = parentOf(id);
    Statement update(m_connection.handle(),
                     "UPDATE entries SET parent_id = ?2, size = ?3, mtime_ms = ?4 WHERE id = ?1 "
                     "AND (parent_id IS NOT ?2 OR size IS NOT ?3 OR mtime_ms IS NOT ?4)");
    update.bind(1, id).bindParent(2, parentId).bind(3, size).bind(4, mtimeMs);
    bool altered = apply(update);
    altered = setInfo(id, info) || altered;
    // The cover was made from the file as it was.
    Statement dropCover(m_connection.handle(), "DELETE FROM covers WHERE entry_id = ?1");
    dropCover.bind(1, id);
    altered = apply(dropCover) || altered;
    if (altered)
        touchChanged(before, parentId);
}

bool LibraryWriter::setInfo(int64_t id, const MediaInfo &info)
{
    Statement update(m_connection.handle(),
                     "UPDATE entries SET width = ?2, height = ?3, duration_ms = ?4, codec = ?5, "
                     "layout = ?6, container = ?7, video_profile = ?8, bit_depth = ?9, "
                     "pixel_format = ?10, audio_codec = ?11 WHERE id = ?1 AND (width IS NOT ?2 "
                     "OR height IS NOT ?3 OR duration_ms IS NOT ?4 OR codec IS NOT ?5 OR layout "
                     "IS NOT ?6 OR container IS NOT ?7 OR video_profile IS NOT ?8 OR bit_depth IS "
                     "NOT ?9 OR pixel_format IS NOT ?10 OR audio_codec IS NOT ?11)");
    update.bind(1, id)
        .bind(2, int64_t(info.width))
        .bind(3, int64_t(info.height))
        .bind(4, info.durationMs)
        .bind(5, info.codec)
        .bind(6, info.layout)
        .bind(7, info.container)
        .bind(8, int64_t(info.videoProfile))
        .bind(9, int64_t(info.bitDepth))
        .bind(10, info.pixelFormat)
        .bind(11, info.audioCodec);
    return apply(update);
}

void LibraryWriter::updateInfo(int64_t id, const MediaInfo &info)
{
    if (setInfo(id, info))
        touch(parentOf(id), false);
}

void LibraryWriter::updateFolder(int64_t id, int64_t parentId, int64_t mtimeMs)
{
    const int64_t before = parentOf(id);
    Statement update(m_connection.handle(),
                     "UPDATE entries SET parent_id = ?2, mtime_ms = ?3 WHERE id = ?1 AND "
                     "(parent_id IS NOT ?2 OR mtime_ms IS NOT ?3)");
    update.bind(1, id).bindParent(2, parentId).bind(3, mtimeMs);
    if (apply(update))
        touchChanged(before, parentId);
}

void LibraryWriter::setParent(int64_t id, int64_t parentId)
{
    const int64_t before = parentOf(id);
    Statement update(m_connection.handle(),
                     "UPDATE entries SET parent_id = ?2 WHERE id = ?1 AND parent_id IS NOT ?2");
    update.bind(1, id).bindParent(2, parentId);
    if (apply(update))
        touchChanged(before, parentId);
}

void LibraryWriter::move(int64_t id, int64_t parentId, const std::string &name,
                         const std::string &realPath)
{
    const auto old = entry(id);
    if (!old)
        return;
    Statement update(m_connection.handle(),
                     "UPDATE entries SET parent_id = ?2, name = ?3, real_path = ?4 WHERE id = ?1 "
                     "AND (parent_id IS NOT ?2 OR name IS NOT ?3 OR real_path IS NOT ?4)");
    update.bind(1, id).bindParent(2, parentId).bind(3, name).bind(4, realPath);
    if (!apply(update))
        return;
    touchChanged(old->parentId, parentId);
    // What the person took out of a folder stays out of it under its new name.
    const std::string base = old->realPath == "/" ? std::string() : old->realPath;
    Statement follow(m_connection.handle(),
                     "UPDATE OR REPLACE exclusions SET path = ?3 || substr(path, ?4) "
                     "WHERE path > ?1 AND path < ?2");
    follow.bind(1, base + "/")
        .bind(2, base + "0")
        .bind(3, realPath)
        .bind(4, int64_t(base.size()) + 1)
        .step();
}

void LibraryWriter::putCover(int64_t id, const std::vector<uint8_t> &jpeg)
{
    if (jpeg.empty())
        return;
    Statement put(m_connection.handle(),
                  "INSERT OR REPLACE INTO covers (entry_id, jpeg) VALUES (?1, ?2)");
    put.bind(1, id).bindBlob(2, jpeg);
    if (apply(put))
        touch(parentOf(id), false);
}

void LibraryWriter::remove(int64_t id)
{
    const int64_t parent = parentOf(id);
    Statement drop(m_connection.handle(), "DELETE FROM entries WHERE id = ?1");
    drop.bind(1, id);
    if (apply(drop))
        touch(parent, true);
}

void LibraryWriter::setSubtitles(int64_t id, const std::vector<std::string> &fileNames)
{
    Statement update(m_connection.handle(),
                     "UPDATE entries SET subtitles = ?2 WHERE id = ?1 AND subtitles IS NOT ?2");
    update.bind(1, id).bind(2, joinLines(fileNames));
    if (apply(update))
        touch(parentOf(id), false);
}

void LibraryWriter::setPlayback(int64_t id, const Playback &playback)
{
    Statement update(m_connection.handle(),
                     "UPDATE entries SET favorite = ?2, rating = ?3, position_ms = ?4, "
                     "play_count = ?5 WHERE id = ?1 AND (favorite IS NOT ?2 OR rating IS NOT ?3 "
                     "OR position_ms IS NOT ?4 OR play_count IS NOT ?5)");
    update.bind(1, id)
        .bind(2, int64_t(playback.favorite))
        .bindReal(3, playback.rating)
        .bind(4, playback.positionMs)
        .bind(5, playback.playCount);
    // Players show where to resume in a listing: it is a change like any other.
    if (apply(update))
        touch(parentOf(id), false);
}

std::optional<Entry> LibraryWriter::topOf(int64_t id)
{
    Statement query(m_connection.handle(),
                    "WITH RECURSIVE up(id, parent_id, depth) AS ("
                    " SELECT id, parent_id, 0 FROM entries WHERE id = ?1"
                    " UNION ALL SELECT e.id, e.parent_id, up.depth + 1"
                    " FROM entries e JOIN up ON e.id = up.parent_id WHERE up.depth < 512)"
                    " SELECT id FROM up WHERE parent_id IS NULL");
    if (!query.bind(1, id).step())
        return std::nullopt;
    return entry(query.integer(0));
}

std::vector<std::string> LibraryWriter::treeFilters(int64_t id)
{
    Statement query(m_connection.handle(), "SELECT filters FROM entries WHERE id = ?1");
    std::vector<std::string> suffixes;
    if (query.bind(1, id).step())
        suffixes = splitLines(query.text(0));
    return suffixes;
}

void LibraryWriter::setTreeFilters(int64_t id, const std::vector<std::string> &suffixes)
{
    Statement update(m_connection.handle(),
                     "UPDATE entries SET filters = ?2 WHERE id = ?1 AND filters IS NOT ?2");
    update.bind(1, id).bind(2, joinLines(suffixes)).step();
    // Not shown to anyone: no new update id, but the watcher judges events by them.
    if (sqlite3_changes(m_connection.handle()) > 0)
        m_treesChanged = true;
}

std::set<std::string> LibraryWriter::exclusionsAtOrBelow(const std::string &root)
{
    return queryExclusions(m_connection, root);
}

void LibraryWriter::exclude(const std::string &path)
{
    lift(path);
    Statement put(m_connection.handle(), "INSERT OR IGNORE INTO exclusions (path) VALUES (?1)");
    put.bind(1, path).step();
}

void LibraryWriter::lift(const std::string &path)
{
    const std::string base = path == "/" ? std::string() : path;
    Statement drop(m_connection.handle(),
                   "DELETE FROM exclusions WHERE path = ?1 OR (path > ?2 AND path < ?3)");
    drop.bind(1, path).bind(2, base + "/").bind(3, base + "0").step();
}

Library::Library(Database &database)
    : m_database(database)
{
    const auto stored = setting(UpdateIdKey);
    m_updateId = stored ? std::strtoull(stored->c_str(), nullptr, 10) : 0;
}

Library::Subscription Library::addObserver(Observer observer)
{
    std::lock_guard<std::mutex> lock(m_observersMutex);
    m_observers.emplace(++m_lastObserver, std::move(observer));
    return Subscription(this, m_lastObserver);
}

Library::Subscription::Subscription(Subscription &&other) noexcept
    : m_library(std::exchange(other.m_library, nullptr))
    , m_id(other.m_id)
{
}

Library::Subscription &Library::Subscription::operator=(Subscription &&other) noexcept
{
    if (this != &other) {
        reset();
        m_library = std::exchange(other.m_library, nullptr);
        m_id = other.m_id;
    }
    return *this;
}

void Library::Subscription::reset()
{
    if (!m_library)
        return;
    // Waits for a telling under way, which holds the lock while observers run.
    std::lock_guard<std::mutex> lock(m_library->m_observersMutex);
    m_library->m_observers.erase(m_id);
    m_library = nullptr;
}

void Library::tell(Change change, const std::set<int64_t> &folders)
{
    std::lock_guard<std::mutex> lock(m_observersMutex);
    for (const auto &observer : m_observers)
        observer.second(change, folders);
}

std::optional<Entry> Library::entry(int64_t id)
{
    auto connection = m_database.connection();
    return queryById(*connection, id);
}

std::optional<Entry> Library::entryByRealPath(const std::string &realPath)
{
    auto connection = m_database.connection();
    return queryByRealPath(*connection, realPath);
}

std::vector<Entry> Library::entriesAtOrBelow(const std::string &root)
{
    auto connection = m_database.connection();
    return queryAtOrBelow(*connection, root);
}

std::vector<Entry> Library::children(int64_t folderId, int64_t offset, int64_t limit)
{
    return read(folderId, offset, limit, false).entries;
}

Listing Library::listing(int64_t folderId, int64_t offset, int64_t limit, ListingOrder order)
{
    return read(folderId, offset, limit, true, order);
}

Listing Library::read(int64_t folderId, int64_t offset, int64_t limit, bool childCounts,
                      ListingOrder order)
{
    auto connection = m_database.connection();
    const ReadSnapshot snapshot(*connection);
    const uint64_t version = storedUpdateId(*connection);
    Listing listing;
    const size_t first = size_t(std::max<int64_t>(offset, 0));
    if (order != ListingOrder::ById) {
        const FolderFacts facts = folderFacts(*connection, version, folderId, Facts::Named);
        listing.total = facts.count;
        listing.entries = readNamed(*connection, folderId, *facts.named, facts.folders, first,
                                    limit, order == ListingOrder::NamedReversed);
        addChildCounts(*connection, version, listing, childCounts);
        return listing;
    }
    const FolderFacts facts = folderFacts(*connection, version, folderId, Facts::Children);
    const std::vector<Child> &children = *facts.children;
    listing.total = facts.count;
    if (first >= children.size())
        return listing;
    Statement query(connection->handle(),
                    selectEntries("WHERE e.parent_id IS ?1 AND e.id >= ?2 ORDER BY e.id LIMIT ?3",
                                  listedColumns)
                        .c_str());
    query.bindParent(1, folderId).bind(2, children[first].id).bind(3, limit);
    auto child = children.begin() + long(first);
    while (query.step()) {
        Entry entry = readEntry(query);
        child = std::lower_bound(child, children.end(), entry.id,
                                 [](const Child &known, int64_t id) { return known.id < id; });
        entry.hasCover = child != children.end() && child->id == entry.id && child->hasCover;
        listing.entries.push_back(std::move(entry));
    }
    addChildCounts(*connection, version, listing, childCounts);
    return listing;
}

void Library::addChildCounts(Connection &connection, uint64_t version, Listing &listing,
                             bool wanted)
{
    for (const Entry &entry : listing.entries) {
        if (wanted && entry.type == EntryType::Folder)
            listing.childCounts[entry.id]
                = folderFacts(connection, version, entry.id, Facts::Count).count;
    }
}

std::vector<Entry> Library::readNamed(Connection &connection, int64_t folderId,
                                      const std::vector<Child> &named, size_t folders, size_t first,
                                      int64_t limit, bool reversed)
{
    const size_t size = named.size();
    const size_t last = limit < 0 ? size : std::min(size, first + size_t(limit));
    // Reversed, the folders still come first, each group from its last name to its first.
    std::vector<const Child *> page;
    for (size_t k = first; k < last; ++k)
        page.push_back(!reversed         ? &named[k]
                           : k < folders ? &named[folders - 1 - k]
                                         : &named[size - 1 - (k - folders)]);
    std::vector<Entry> entries(page.size());
    const auto place = [&](Entry entry, size_t slot) {
        entry.hasCover = page[slot]->hasCover;
        entries[slot] = std::move(entry);
    };
    if (page.size() * 4 >= size) {
        // Most of the folder: one pass over it costs less than looking each entry up.
        std::unordered_map<int64_t, size_t> slots;
        for (size_t slot = 0; slot < page.size(); ++slot)
            slots.emplace(page[slot]->id, slot);
        Statement query(connection.handle(),
                        selectEntries("WHERE e.parent_id IS ?1", listedColumns).c_str());
        query.bindParent(1, folderId);
        while (query.step()) {
            Entry entry = readEntry(query);
            const auto slot = slots.find(entry.id);
            if (slot != slots.end())
                place(std::move(entry), slot->second);
        }
    } else {
        Statement query(connection.handle(),
                        selectEntries("WHERE e.id = ?1", listedColumns).c_str());
        for (size_t slot = 0; slot < page.size(); ++slot) {
            query.reset();
            if (query.bind(1, page[slot]->id).step())
                place(readEntry(query), slot);
        }
    }
    return entries;
}

int64_t Library::childCount(int64_t folderId)
{
    auto connection = m_database.connection();
    const ReadSnapshot snapshot(*connection);
    return folderFacts(*connection, storedUpdateId(*connection), folderId, Facts::Count).count;
}

Library::FolderFacts Library::folderFacts(Connection &connection, uint64_t version,
                                          int64_t folderId, Facts wanted)
{
    {
        std::lock_guard<std::mutex> lock(m_factsMutex);
        if (version > m_factsVersion) {
            m_facts.clear();
            m_factsVersion = version;
        }
        const auto known = m_facts.find(folderId);
        if (version == m_factsVersion && known != m_facts.end()
            && (wanted != Facts::Children || known->second.children)
            && (wanted != Facts::Named || known->second.named))
            return known->second;
    }
    FolderFacts facts;
    if (wanted == Facts::Named) {
        // Sorted once for each update id, so that every page is cut from the same order.
        Statement query(connection.handle(),
                        "SELECT e.id, EXISTS(SELECT 1 FROM covers c WHERE c.entry_id = e.id), "
                        "e.type, e.name FROM entries e WHERE e.parent_id IS ?1");
        query.bindParent(1, folderId);
        struct Named
        {
            Child child;
            bool folder;
            std::string name;
            size_t shown; // a video goes by its title, the name without suffix: "clip" < "clip 2"
        };
        std::vector<Named> rows;
        while (query.step()) {
            const bool folder = query.integer(2) == int(EntryType::Folder);
            std::string name = query.text(3);
            const size_t shown = folder ? name.size() : std::min(name.size(), name.rfind('.'));
            rows.push_back(
                { { query.integer(0), query.integer(1) != 0 }, folder, std::move(name), shown });
        }
        const auto key = [](const Named &row) {
            return ListingKey { row.folder, std::string_view(row.name).substr(0, row.shown),
                                row.child.id };
        };
        std::sort(rows.begin(), rows.end(),
                  [&key](const Named &a, const Named &b) { return listedBefore(key(a), key(b)); });
        auto named = std::make_shared<std::vector<Child>>();
        named->reserve(rows.size());
        for (const Named &row : rows) {
            named->push_back(row.child);
            facts.folders += row.folder ? 1 : 0;
        }
        facts.count = int64_t(named->size());
        facts.named = std::move(named);
    } else if (wanted == Facts::Children) {
        // The folder's index alone answers this, but for a look at each cover's row.
        Statement query(connection.handle(),
                        "SELECT e.id, EXISTS(SELECT 1 FROM covers c WHERE c.entry_id = e.id) "
                        "FROM entries e WHERE e.parent_id IS ?1 ORDER BY e.id");
        query.bindParent(1, folderId);
        auto children = std::make_shared<std::vector<Child>>();
        while (query.step())
            children->push_back({ query.integer(0), query.integer(1) != 0 });
        facts.count = int64_t(children->size());
        facts.children = std::move(children);
    } else {
        Statement query(connection.handle(), "SELECT COUNT(*) FROM entries WHERE parent_id IS ?1");
        query.bindParent(1, folderId).step();
        facts.count = query.integer(0);
    }
    std::lock_guard<std::mutex> lock(m_factsMutex);
    // A reader that began before the latest change keeps what it read to itself.
    if (version == m_factsVersion) {
        FolderFacts &kept = m_facts[folderId];
        kept.count = facts.count;
        if (facts.children)
            kept.children = facts.children;
        if (facts.named) {
            kept.named = facts.named;
            kept.folders = facts.folders;
        }
    }
    return facts;
}

std::string Library::libraryPath(int64_t folderId)
{
    if (folderId <= 0)
        return std::string();
    auto connection = m_database.connection();
    Statement query(connection->handle(),
                    "WITH RECURSIVE up(id, parent_id, name, depth) AS ("
                    " SELECT id, parent_id, name, 0 FROM entries WHERE id = ?1"
                    " UNION ALL SELECT e.id, e.parent_id, e.name, up.depth + 1"
                    " FROM entries e JOIN up ON e.id = up.parent_id WHERE up.depth < 512)"
                    " SELECT name FROM up ORDER BY depth DESC");
    query.bind(1, folderId);
    std::string path;
    while (query.step())
        path += "/" + query.text(0);
    return path;
}

bool Library::remove(int64_t id)
{
    bool removed = false;
    write([&](LibraryWriter &writer) {
        const auto entry = writer.entry(id);
        if (!entry)
            return false;
        const auto top = writer.topOf(id);
        if (entry->parentId == 0)
            writer.lift(entry->realPath);
        else if (top && isBelow(entry->realPath, top->realPath))
            writer.exclude(entry->realPath);
        writer.remove(id);
        removed = true;
        return true;
    });
    return removed;
}

std::vector<std::pair<int64_t, std::string>> Library::videosWithoutContainer()
{
    auto connection = m_database.connection();
    Statement query(connection->handle(),
                    "SELECT id, real_path FROM entries WHERE type = ?1 AND container = '' "
                    "ORDER BY id");
    query.bind(1, int64_t(EntryType::Video));
    std::vector<std::pair<int64_t, std::string>> videos;
    while (query.step())
        videos.emplace_back(query.integer(0), query.text(1));
    return videos;
}

std::vector<ImportedTree> Library::trees()
{
    auto connection = m_database.connection();
    Statement query(connection->handle(),
                    "SELECT id, real_path, filters FROM entries WHERE parent_id IS NULL AND "
                    "type = ?1 ORDER BY id");
    query.bind(1, int64_t(EntryType::Folder));
    std::vector<ImportedTree> trees;
    while (query.step())
        trees.push_back({ query.integer(0), query.text(1), splitLines(query.text(2)) });
    return trees;
}

std::vector<std::pair<int64_t, Entry>> Library::videosByTree()
{
    auto connection = m_database.connection();
    const ReadSnapshot snapshot(*connection);
    // Folders are few: their parents are followed here rather than in SQL.
    std::unordered_map<int64_t, int64_t> parentOfFolder;
    Statement folders(connection->handle(), "SELECT id, parent_id FROM entries WHERE type = ?1");
    folders.bind(1, int64_t(EntryType::Folder));
    while (folders.step())
        parentOfFolder.emplace(folders.integer(0), folders.isNull(1) ? 0 : folders.integer(1));
    const auto topOf = [&parentOfFolder](int64_t id) {
        for (int depth = 0; depth < 512; ++depth) {
            const auto up = parentOfFolder.find(id);
            if (up == parentOfFolder.end() || up->second == 0)
                return id;
            id = up->second;
        }
        return id;
    };
    Statement videos(connection->handle(),
                     selectEntries("WHERE e.type = ?1 ORDER BY e.id").c_str());
    videos.bind(1, int64_t(EntryType::Video));
    std::vector<std::pair<int64_t, Entry>> found;
    while (videos.step()) {
        Entry entry = readEntry(videos);
        const int64_t top = entry.parentId == 0 ? entry.id : topOf(entry.parentId);
        found.emplace_back(top, std::move(entry));
    }
    return found;
}

bool Library::changePlayback(int64_t id, const std::function<void(Playback &)> &change)
{
    bool found = false;
    write([&](LibraryWriter &writer) {
        const auto entry = writer.entry(id);
        if (!entry || entry->type != EntryType::Video)
            return false;
        found = true;
        Playback playback = entry->playback;
        change(playback);
        writer.setPlayback(id, playback);
        return true;
    });
    return found;
}

std::set<std::string> Library::exclusionsAtOrBelow(const std::string &root)
{
    auto connection = m_database.connection();
    return queryExclusions(*connection, root);
}

std::optional<std::vector<uint8_t>> Library::cover(int64_t id)
{
    auto connection = m_database.connection();
    Statement query(connection->handle(), "SELECT jpeg FROM covers WHERE entry_id = ?1");
    if (query.bind(1, id).step())
        return query.blob(0);
    return std::nullopt;
}

std::optional<std::string> Library::setting(const std::string &key)
{
    auto connection = m_database.connection();
    Statement query(connection->handle(), "SELECT value FROM settings WHERE key = ?1");
    if (query.bind(1, key).step())
        return query.text(0);
    return std::nullopt;
}

void Library::setSetting(const std::string &key, const std::string &value)
{
    {
        auto connection = m_database.connection();
        std::lock_guard<std::mutex> lock(m_database.writeMutex());
        Statement put(connection->handle(),
                      "INSERT OR REPLACE INTO settings (key, value) VALUES (?1, ?2)");
        put.bind(1, key).bind(2, value).step();
    }
    tell(Change::Settings, {});
}

bool Library::write(const std::function<bool(LibraryWriter &)> &change)
{
    bool changed = false;
    bool treesChanged = false;
    std::set<int64_t> touched;
    {
        auto connection = m_database.connection();
        std::lock_guard<std::mutex> lock(m_database.writeMutex());
        Transaction transaction(*connection);
        LibraryWriter writer(*connection);
        if (!change(writer))
            return false;
        // Kept with the entries, so a player that remembers it never sees it go back.
        changed = writer.changed();
        treesChanged = writer.treesChanged();
        if (changed) {
            Statement put(connection->handle(),
                          "INSERT OR REPLACE INTO settings (key, value) VALUES (?1, ?2)");
            put.bind(1, std::string(UpdateIdKey)).bind(2, std::to_string(m_updateId + 1)).step();
        }
        transaction.commit();
        if (changed)
            ++m_updateId;
        ++m_generation;
        touched = writer.touched();
    }
    if (changed)
        tell(Change::Entries, touched);
    else if (treesChanged)
        tell(Change::Roots, {});
    return true;
}

} // namespace svc
