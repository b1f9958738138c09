#include "service/folderimport.h"

#include "service/log.h"
#include "service/pathutil.h"
#include "service/subtitles.h"

#include <sys/stat.h>

#include <map>

namespace svc {
namespace {

bool isWithinAny(const std::string &path, const std::vector<std::string> &folders)
{
    for (const std::string &folder : folders) {
        if (path == folder || isBelow(path, folder))
            return true;
    }
    return false;
}

// Whether path or a folder above it is in paths.
bool isCovered(const std::string &path, const std::set<std::string> &paths)
{
    if (paths.empty())
        return false;
    for (std::string at = path;; at = parentPath(at)) {
        if (paths.count(at))
            return true;
        if (at.size() <= 1)
            return false;
    }
}

// The same paths, those at or below from now at or below to.
void renameWithin(std::set<std::string> &paths, const std::string &from, const std::string &to)
{
    std::set<std::string> renamed;
    for (const std::string &path : paths) {
        if (path == from)
            renamed.insert(to);
        else if (isBelow(path, from))
            renamed.insert(to + path.substr(from.size()));
        else
            renamed.insert(path);
    }
    paths.swap(renamed);
}

bool isOnDisk(const std::string &path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0;
}

// Videos of the library whose paths are gone, found again at new ones (by new file path): a
// rename or a move inside the tree keeps a file's size and time to the millisecond, and the
// entry then keeps its id, its place and its cover. Only a pairing nothing else shares counts.
std::unordered_map<std::string, const Entry *>
findMoves(const std::vector<const ScannedFile *> &fresh,
          const std::unordered_map<std::string, Entry> &library,
          const std::unordered_set<std::string> &scanned,
          const std::vector<std::string> &unreadable)
{
    using Key = std::pair<int64_t, int64_t>;
    std::map<Key, const Entry *> gone;
    std::set<Key> shared;
    for (const auto &[path, entry] : library) {
        if (entry.type != EntryType::Video || scanned.count(path) || isWithinAny(path, unreadable)
            || isOnDisk(path))
            continue;
        if (!gone.emplace(Key { entry.size, entry.mtimeMs }, &entry).second)
            shared.insert({ entry.size, entry.mtimeMs });
    }
    std::unordered_map<std::string, const Entry *> moves;
    if (gone.empty())
        return moves;
    std::map<Key, const ScannedFile *> arrived;
    for (const ScannedFile *file : fresh) {
        if (!arrived.emplace(Key { file->size, file->mtimeMs }, file).second)
            shared.insert({ file->size, file->mtimeMs });
    }
    for (const auto &[key, file] : arrived) {
        const auto from = gone.find(key);
        if (from != gone.end() && !shared.count(key))
            moves.emplace(file->realPath, from->second);
    }
    return moves;
}

Entry videoEntry(int64_t parentId, const ScannedFile &file, const MediaInfo &info)
{
    Entry entry;
    entry.parentId = parentId;
    entry.type = EntryType::Video;
    entry.name = baseName(file.realPath);
    entry.realPath = file.realPath;
    entry.size = file.size;
    entry.mtimeMs = file.mtimeMs;
    entry.info = info;
    return entry;
}

// What the sidecars of a folder's videos are judged among: its subtitle files, and the videos
// that one of them is named after ("Movie.en.srt" belongs to "Movie.en.mp4" where there is one).
// Not every file of the folder: each video's judgement goes through all of these, and a folder
// may hold thousands of videos and no subtitles at all.
std::vector<std::string> sidecarCandidates(const ScannedDir &dir)
{
    if (dir.subtitles.empty())
        return {};
    std::unordered_set<std::string> bases;
    for (const std::string &name : dir.subtitles)
        bases.insert(name.substr(0, name.size() - 4)); // ".srt", ".vtt"
    std::vector<std::string> names = dir.subtitles;
    for (const ScannedFile &file : dir.files) {
        const size_t dot = file.name.rfind('.');
        if (dot != std::string::npos && bases.count(file.name.substr(0, dot)))
            names.push_back(file.name);
    }
    return names;
}

// A folder belongs in the library when something below it does, or when it is there already.
std::vector<char> foldersToKeep(const FolderImport::Plan &plan,
                                const FolderImport::Reading &reading)
{
    const std::vector<ScannedDir> &dirs = plan.scan.dirs;
    std::vector<char> keep(dirs.size(), 0);
    keep[0] = 1;
    for (size_t i = 0; i < dirs.size(); ++i) {
        const auto old = plan.known.find(dirs[i].realPath);
        if (old != plan.known.end() && old->second.type == EntryType::Folder)
            keep[i] = 1;
        for (const ScannedFile &file : dirs[i].files) {
            // A file still being written does not bring in a folder that holds nothing else.
            if (plan.skipped.count(file.realPath) && !plan.known.count(file.realPath))
                continue;
            const auto read = reading.byPath.find(file.realPath);
            if (read == reading.byPath.end() || reading.results[read->second].ok)
                keep[i] = 1;
        }
    }
    for (size_t i = dirs.size() - 1; i > 0; --i) {
        if (keep[i])
            keep[size_t(dirs[i].parent)] = 1;
    }
    return keep;
}

} // namespace

// The apply step: the plan and what was read, written against the library as it is inside
// the transaction (a removal may have happened while files were read).
class FolderImport::Applier
{
public:
    Applier(const Plan &plan, Reading &reading, LibraryWriter &writer, const Reader &reader,
            const std::atomic<bool> &cancel)
        : m_plan(plan)
        , m_reading(reading)
        , m_writer(writer)
        , m_reader(reader)
        , m_cancel(cancel)
        , m_dirIds(plan.scan.dirs.size(), 0)
    {
        for (Entry &entry : writer.entriesAtOrBelow(plan.request.path))
            m_now.emplace(entry.realPath, std::move(entry));
        for (const auto &item : m_now)
            m_byId.emplace(item.second.id, &item.second);
        // Moves planned from what the library held then, where it still does.
        for (const auto &[path, entry] : plan.moves) {
            const Entry *was = current(entry->realPath);
            if (was && was->id == entry->id && !m_now.count(path))
                m_moves.emplace(path, was);
        }
        // Read again here too: what the person took out while the files were read stays out.
        if (!plan.scope.lift) {
            m_excluded = writer.exclusionsAtOrBelow(plan.request.path);
            m_excluded.erase(plan.request.path);
        }
    }

    bool run(ImportOutcome &outcome)
    {
        if (m_plan.scope.lift)
            m_writer.lift(m_plan.request.path);
        const std::vector<char> keep = foldersToKeep(m_plan, m_reading);
        for (size_t i = 0; i < m_plan.scan.dirs.size(); ++i) {
            if (!keep[i])
                continue;
            if (m_cancel.load() || !folder(i, outcome) || !files(i, outcome))
                return false;
        }
        outcome.id = m_dirIds[0];
        dropVanished(outcome.id);
        return !m_cancel.load();
    }

private:
    const Entry *current(const std::string &path) const
    {
        const auto found = m_now.find(path);
        return found == m_now.end() ? nullptr : &found->second;
    }

    // The folder a new folder of the tree was before a rename or a move: the one that held
    // every video of it found at a new path, when that folder is gone from the disk and not
    // taken yet.
    const Entry *renamedFolder(const ScannedDir &dir) const
    {
        std::set<int64_t> parents;
        for (const ScannedFile &file : dir.files) {
            const auto move = m_moves.find(file.realPath);
            if (move != m_moves.end())
                parents.insert(move->second->parentId);
        }
        if (parents.size() != 1)
            return nullptr;
        const auto folder = m_byId.find(*parents.begin());
        if (folder == m_byId.end() || folder->second->type != EntryType::Folder
            || m_moved.count(folder->first) || isOnDisk(folder->second->realPath))
            return nullptr;
        return folder->second;
    }

    // The folder's own entry: found again (keeping its id and, for the one imported, its
    // place), renamed, or new. False when the import must end without a change.
    bool folder(size_t i, ImportOutcome &outcome)
    {
        const ScannedDir &dir = m_plan.scan.dirs[i];
        // Below a folder left out, or one renamed with what the person had taken out of it.
        if (i > 0 && (!m_dirIds[size_t(dir.parent)] || isCovered(dir.realPath, m_excluded)))
            return true;
        const int64_t parentId = i == 0 ? 0 : m_dirIds[size_t(dir.parent)];
        const Entry *old = current(dir.realPath);
        const bool known = old && old->type == EntryType::Folder;
        if (i == 0 && m_plan.request.onlyInLibrary && !known)
            return false;
        if (known) {
            const int64_t place = i == 0 ? old->parentId : parentId;
            m_writer.updateFolder(old->id, place, dir.mtimeMs);
            m_dirIds[i] = old->id;
            if (i == 0)
                outcome.pid = place;
        } else if (const Entry *from = old ? nullptr : renamedFolder(dir)) {
            // Its videos all came from one folder that is gone: that folder, renamed.
            m_writer.move(from->id, parentId, dir.name, dir.realPath);
            m_writer.updateFolder(from->id, parentId, dir.mtimeMs);
            renameWithin(m_excluded, from->realPath, dir.realPath);
            m_dirIds[i] = from->id;
            m_moved.insert(from->id);
        } else {
            if (old)
                m_writer.remove(old->id);
            Entry folder;
            folder.parentId = parentId;
            folder.type = EntryType::Folder;
            folder.name = dir.name;
            folder.realPath = dir.realPath;
            folder.mtimeMs = dir.mtimeMs;
            m_dirIds[i] = m_writer.insert(folder);
        }
        if (i == 0 && (known ? outcome.pid : parentId) == 0 && m_plan.scope.newFilters)
            m_writer.setTreeFilters(m_dirIds[0], *m_plan.scope.newFilters);
        m_kept.insert(dir.realPath);
        return true;
    }

    bool files(size_t i, ImportOutcome &outcome)
    {
        if (!m_dirIds[i])
            return true;
        const ScannedDir &dir = m_plan.scan.dirs[i];
        const std::vector<std::string> names = sidecarCandidates(dir);
        for (const ScannedFile &file : dir.files) {
            if (m_cancel.load())
                return false;
            if (m_excluded.count(file.realPath))
                continue;
            if (const int64_t id = this->file(file, m_dirIds[i], outcome)) {
                std::vector<std::string> sidecars;
                if (!names.empty()) {
                    for (const SidecarSubtitle &sidecar : sidecarSubtitles(file.realPath, names))
                        sidecars.push_back(sidecar.fileName);
                }
                m_writer.setSubtitles(id, sidecars);
            }
        }
        return true;
    }

    // The entry the file is now; 0 when it is not in the library.
    int64_t file(const ScannedFile &file, int64_t folderId, ImportOutcome &outcome)
    {
        const Entry *old = current(file.realPath);
        const bool known = old && old->type == EntryType::Video;
        if (const auto move = m_moves.find(file.realPath);
            !old && move != m_moves.end() && !m_moved.count(move->second->id)) {
            m_writer.move(move->second->id, folderId, file.name, file.realPath);
            m_moved.insert(move->second->id);
            m_kept.insert(file.realPath);
            return move->second->id;
        }
        const auto read = m_reading.byPath.find(file.realPath);
        ProbeResult late;
        const ProbeResult *result
            = read == m_reading.byPath.end() ? nullptr : &m_reading.results[read->second];
        if (!result) {
            // Unchanged, or still being written: as the library has it.
            if (known) {
                if (old->parentId != folderId)
                    m_writer.setParent(old->id, folderId);
                m_kept.insert(file.realPath);
                return old->id;
            }
            if (m_plan.skipped.count(file.realPath))
                return 0;
            // New since the plan (its move did not hold): read now.
            late = m_reader(file.realPath, file.size, file.mtimeMs, m_cancel);
            result = &late;
            outcome.failureCount += late.ok ? 0 : 1;
        }
        if (!result->ok)
            return 0;
        ++outcome.successCount;
        int64_t id;
        if (known) {
            id = old->id;
            m_writer.updateVideo(id, folderId, file.size, file.mtimeMs, result->info);
        } else {
            if (old)
                m_writer.remove(old->id);
            id = m_writer.insert(videoEntry(folderId, file, result->info));
        }
        m_writer.putCover(id,
                          result == &late ? late.cover
                                          : m_reading.spool->take(m_reading.covers[read->second]));
        m_kept.insert(file.realPath);
        return id;
    }

    // What is gone from the disk goes from the library. A video added by hand from elsewhere
    // stays while its file exists; nothing below an unreadable folder is judged, nor below
    // what the person took out: a folder in there that they imported again on its own is
    // theirs to keep.
    void dropVanished(int64_t rootId)
    {
        std::vector<Entry> candidates = m_writer.descendants(rootId);
        for (const auto &item : m_now)
            candidates.push_back(item.second);
        for (const Entry &entry : candidates) {
            if (m_kept.count(entry.realPath) || m_moved.count(entry.id)
                || isWithinAny(entry.realPath, m_plan.scan.unreadable)
                || isCovered(entry.realPath, m_excluded))
                continue;
            if (isBelow(entry.realPath, m_plan.request.path) || !isOnDisk(entry.realPath))
                m_writer.remove(entry.id);
        }
    }

    const Plan &m_plan;
    Reading &m_reading;
    LibraryWriter &m_writer;
    const Reader &m_reader;
    const std::atomic<bool> &m_cancel;
    std::unordered_map<std::string, Entry> m_now;
    std::unordered_map<int64_t, const Entry *> m_byId;
    std::unordered_map<std::string, const Entry *> m_moves;
    std::set<std::string> m_excluded;
    std::unordered_set<int64_t> m_moved; // entries moved to new paths: kept
    std::unordered_set<std::string> m_kept;
    std::vector<int64_t> m_dirIds;
};

FolderImport::FolderImport(Library &library, WorkerPool &pool, std::string spoolFolder,
                           Reader reader)
    : m_library(library)
    , m_pool(pool)
    , m_spoolFolder(std::move(spoolFolder))
    , m_reader(std::move(reader))
{
}

FolderImport::Scope FolderImport::scopeOf(const ImportRequest &request)
{
    const std::string &root = request.path;
    Scope scope;
    // The innermost imported tree at or above the folder.
    const ImportedTree *tree = nullptr;
    const std::vector<ImportedTree> trees = m_library.trees();
    for (const ImportedTree &candidate : trees) {
        if ((candidate.path == root || isBelow(root, candidate.path))
            && (!tree || candidate.path.size() > tree->path.size()))
            tree = &candidate;
    }
    const auto known = m_library.entryByRealPath(root);
    const bool inLibrary = known && known->type == EntryType::Folder;
    const SuffixFilter kept
        = tree && !tree->filters.empty() ? SuffixFilter(tree->filters) : SuffixFilter::standard();
    if (inLibrary && tree && tree->path != root) {
        // Part of a tree: rescanned as the tree is, whatever this request names.
        scope.filter = kept;
    } else if (request.filter) {
        scope.filter = *request.filter;
        scope.newFilters
            = scope.filter.isStandard() ? std::vector<std::string>() : scope.filter.suffixes();
    } else {
        scope.filter = inLibrary ? kept : SuffixFilter::standard();
    }
    // A folder in the library is rescanned: what the person took out of it stays out. One
    // imported anew by the person brings back everything in it.
    scope.lift = request.byPerson && !inLibrary;
    if (!scope.lift) {
        scope.excluded = m_library.exclusionsAtOrBelow(root);
        scope.excluded.erase(root);
    }
    return scope;
}

FolderImport::Plan FolderImport::plan(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    Plan plan;
    plan.request = request;
    const std::string &root = request.path;
    plan.scope = scopeOf(request);
    plan.scan = scanFolder(root, plan.scope.filter, cancel, plan.scope.excluded);
    if (plan.scan.cancelled || cancel.load()) {
        plan.end = ImportOutcome::cancelled();
        return plan;
    }
    if (plan.scan.dirs.empty() || isWithinAny(root, plan.scan.unreadable)) {
        plan.end = ImportOutcome::failed(ApiCode::Unreadable, "cannot read the folder " + root);
        return plan;
    }
    for (const std::string &folder : plan.scan.unreadable)
        logWarning("cannot read ", folder, "; its library entries are kept as they are");

    for (Entry &entry : m_library.entriesAtOrBelow(root))
        plan.known.emplace(entry.realPath, std::move(entry));
    if (request.onlyInLibrary) {
        const auto self = plan.known.find(root);
        if (self == plan.known.end() || self->second.type != EntryType::Folder) {
            plan.end = ImportOutcome::cancelled();
            return plan;
        }
    }
    // Files the library already holds unchanged keep their metadata and cover; only new or
    // changed ones are read, and moved ones are not.
    std::vector<const ScannedFile *> fresh; // not in the library at their paths
    for (const ScannedDir &dir : plan.scan.dirs) {
        for (const ScannedFile &file : dir.files) {
            plan.scanned.insert(file.realPath);
            if (request.skip && request.skip(file)) {
                plan.skipped.insert(file.realPath);
                continue;
            }
            const auto old = plan.known.find(file.realPath);
            if (old == plan.known.end())
                fresh.push_back(&file);
            else if (old->second.type != EntryType::Video || old->second.size != file.size
                     || old->second.mtimeMs != file.mtimeMs)
                plan.toRead.push_back(&file);
        }
    }
    plan.moves = findMoves(fresh, plan.known, plan.scanned, plan.scan.unreadable);
    for (const ScannedFile *file : fresh) {
        if (!plan.moves.count(file->realPath))
            plan.toRead.push_back(file);
    }
    return plan;
}

FolderImport::Reading FolderImport::read(const Plan &plan, const std::atomic<bool> &cancel)
{
    Reading reading;
    const size_t count = plan.toRead.size();
    reading.results.resize(count);
    reading.covers.resize(count);
    reading.spool = std::make_unique<CoverSpool>(m_spoolFolder);
    m_pool.runAll(count, [&](size_t i) {
        if (cancel.load())
            return;
        const ScannedFile &file = *plan.toRead[i];
        reading.results[i] = m_reader(file.realPath, file.size, file.mtimeMs, cancel);
        reading.covers[i] = reading.spool->put(std::move(reading.results[i].cover));
        reading.results[i].cover = {};
    });
    reading.cancelled = cancel.load();
    for (size_t i = 0; i < count; ++i)
        reading.byPath.emplace(plan.toRead[i]->realPath, i);
    return reading;
}

ImportOutcome FolderImport::apply(const Plan &plan, Reading &reading,
                                  const std::atomic<bool> &cancel)
{
    if (plan.end)
        return *plan.end;
    if (reading.cancelled || cancel.load())
        return ImportOutcome::cancelled();
    int readFailures = plan.scan.badNames;
    for (const ProbeResult &result : reading.results)
        readFailures += result.ok ? 0 : 1;

    ImportOutcome outcome;
    outcome.status = ImportOutcome::Status::Imported;
    outcome.folder = true;
    const bool committed = m_library.write([&](LibraryWriter &writer) {
        outcome.successCount = 0;
        outcome.failureCount = readFailures;
        return Applier(plan, reading, writer, m_reader, cancel).run(outcome);
    });
    if (!committed)
        return ImportOutcome::cancelled();
    logInfo("imported folder ", plan.request.path, " as ", outcome.id, ": ", outcome.successCount,
            " indexed, ", outcome.failureCount, " failed");
    return outcome;
}

ImportOutcome FolderImport::run(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    const Plan planned = plan(request, cancel);
    if (planned.end)
        return *planned.end;
    Reading reading = read(planned, cancel);
    return apply(planned, reading, cancel);
}

} // namespace svc
