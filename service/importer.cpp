#include "service/importer.h"

#include "service/coverspool.h"
#include "service/folderscanner.h"
#include "service/log.h"
#include "service/pathutil.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace svc {
namespace {

ImportOutcome failed(ApiCode code, const std::string &message)
{
    ImportOutcome outcome;
    outcome.status = ImportOutcome::Status::Failed;
    outcome.code = code;
    outcome.message = message;
    return outcome;
}

ImportOutcome cancelled()
{
    ImportOutcome outcome;
    outcome.status = ImportOutcome::Status::Cancelled;
    return outcome;
}

Entry videoEntry(int64_t parentId, const std::string &realPath, int64_t size, int64_t mtimeMs,
                 const MediaInfo &info)
{
    Entry entry;
    entry.parentId = parentId;
    entry.type = EntryType::Video;
    entry.name = baseName(realPath);
    entry.realPath = realPath;
    entry.size = size;
    entry.mtimeMs = mtimeMs;
    entry.info = info;
    return entry;
}

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

// The folder a new folder of the tree was before a rename or a move: the one that held every
// video of it found at a new path, when that folder is gone from the disk and not taken yet.
const Entry *renamedFolder(const ScannedDir &dir,
                           const std::unordered_map<std::string, const Entry *> &moves,
                           const std::unordered_map<int64_t, const Entry *> &byId,
                           const std::unordered_set<int64_t> &moved)
{
    std::set<int64_t> parents;
    for (const ScannedFile &file : dir.files) {
        const auto move = moves.find(file.realPath);
        if (move != moves.end())
            parents.insert(move->second->parentId);
    }
    if (parents.size() != 1)
        return nullptr;
    const auto folder = byId.find(*parents.begin());
    if (folder == byId.end() || folder->second->type != EntryType::Folder
        || moved.count(folder->first) || isOnDisk(folder->second->realPath))
        return nullptr;
    return folder->second;
}

} // namespace

Importer::Importer(Library &library, WorkerPool &pool, std::string spoolFolder, bool makeCovers,
                   ProbeJournal *journal)
    : m_library(library)
    , m_pool(pool)
    , m_spoolFolder(std::move(spoolFolder))
    , m_makeCovers(makeCovers)
    , m_journal(journal)
{
}

ProbeResult Importer::read(const std::string &path, int64_t size, int64_t mtimeMs,
                           const std::atomic<bool> &cancel)
{
    const ProbeJournal::File file { path, size, mtimeMs };
    if (m_journal && m_journal->isSetAside(file)) {
        ProbeResult result;
        result.error = "reading this file stopped the service before";
        return result;
    }
    const ProbeJournal::Reading reading(m_journal, file);
    return probeVideo(path, m_makeCovers, &cancel);
}

ImportOutcome Importer::run(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    struct stat info
    {
    };
    if (stat(request.path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return failed(ApiCode::NotFound, "no such file or folder: " + request.path);
        return failed(ApiCode::Unreadable,
                      "cannot access " + request.path + ": " + std::strerror(errno));
    }
    try {
        if (S_ISDIR(info.st_mode)) {
            if (request.path == "/")
                return failed(ApiCode::NotAccepted, "the file system root cannot be imported");
            return importFolder(request, cancel);
        }
        if (S_ISREG(info.st_mode))
            return importFile(request, cancel);
    } catch (const DatabaseError &error) {
        logError("import of ", request.path, " failed: ", error.what());
        return failed(ApiCode::InternalError, std::string("library error: ") + error.what());
    }
    return failed(ApiCode::NotAccepted, "not a video file or folder: " + request.path);
}

Importer::Scope Importer::scopeOf(const ImportRequest &request)
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

ImportOutcome Importer::importFolder(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    const std::string &root = request.path;
    Scope scope = scopeOf(request);
    const FolderScan scan = scanFolder(root, scope.filter, cancel, scope.excluded);
    if (scan.cancelled || cancel.load())
        return cancelled();
    if (scan.dirs.empty() || isWithinAny(root, scan.unreadable))
        return failed(ApiCode::Unreadable, "cannot read the folder " + root);
    for (const std::string &folder : scan.unreadable)
        logWarning("cannot read ", folder, "; its library entries are kept as they are");

    // Files the library already holds unchanged keep their metadata and cover; only new or
    // changed ones are read.
    std::unordered_map<std::string, Entry> known;
    for (Entry &entry : m_library.entriesAtOrBelow(root))
        known.emplace(entry.realPath, std::move(entry));
    if (request.onlyInLibrary) {
        const auto self = known.find(root);
        if (self == known.end() || self->second.type != EntryType::Folder)
            return cancelled();
    }
    std::vector<const ScannedFile *> toRead;
    std::unordered_set<std::string> skipped;
    std::unordered_set<std::string> scanned;
    std::vector<const ScannedFile *> fresh; // not in the library at their paths
    for (const ScannedDir &dir : scan.dirs) {
        for (const ScannedFile &file : dir.files) {
            scanned.insert(file.realPath);
            if (request.skip && request.skip(file)) {
                skipped.insert(file.realPath);
                continue;
            }
            const auto old = known.find(file.realPath);
            if (old == known.end())
                fresh.push_back(&file);
            else if (old->second.type != EntryType::Video || old->second.size != file.size
                     || old->second.mtimeMs != file.mtimeMs)
                toRead.push_back(&file);
        }
    }
    {
        const auto moves = findMoves(fresh, known, scanned, scan.unreadable);
        for (const ScannedFile *file : fresh) {
            if (!moves.count(file->realPath))
                toRead.push_back(file);
        }
    }
    std::vector<ProbeResult> results(toRead.size());
    std::vector<CoverSpool::Slot> covers(toRead.size());
    CoverSpool spool(m_spoolFolder);
    m_pool.runAll(toRead.size(), [&](size_t i) {
        if (cancel.load())
            return;
        const ScannedFile &file = *toRead[i];
        results[i] = read(file.realPath, file.size, file.mtimeMs, cancel);
        covers[i] = spool.put(std::move(results[i].cover));
        results[i].cover = {};
    });
    if (cancel.load())
        return cancelled();
    std::unordered_map<std::string, size_t> readResults;
    for (size_t i = 0; i < toRead.size(); ++i)
        readResults.emplace(toRead[i]->realPath, i);

    // A folder belongs in the library when something below it does, or when it is there already.
    std::vector<char> keep(scan.dirs.size(), 0);
    keep[0] = 1;
    for (size_t i = 0; i < scan.dirs.size(); ++i) {
        const ScannedDir &dir = scan.dirs[i];
        const auto old = known.find(dir.realPath);
        if (old != known.end() && old->second.type == EntryType::Folder)
            keep[i] = 1;
        for (const ScannedFile &file : dir.files) {
            // A file still being written does not bring in a folder that holds nothing else.
            if (skipped.count(file.realPath) && !known.count(file.realPath))
                continue;
            const auto read = readResults.find(file.realPath);
            if (read == readResults.end() || results[read->second].ok)
                keep[i] = 1;
        }
    }
    for (size_t i = scan.dirs.size() - 1; i > 0; --i) {
        if (keep[i])
            keep[size_t(scan.dirs[i].parent)] = 1;
    }

    int readFailures = scan.badNames;
    for (const ProbeResult &result : results)
        readFailures += result.ok ? 0 : 1;

    ImportOutcome outcome;
    outcome.status = ImportOutcome::Status::Imported;
    outcome.folder = true;
    const bool committed = m_library.write([&](LibraryWriter &writer) {
        outcome.successCount = 0;
        outcome.failureCount = readFailures;
        // Read again inside the transaction: a removal may have happened while files were read.
        std::unordered_map<std::string, Entry> now;
        for (Entry &entry : writer.entriesAtOrBelow(root))
            now.emplace(entry.realPath, std::move(entry));
        const auto current = [&](const std::string &path) -> const Entry * {
            const auto found = now.find(path);
            return found == now.end() ? nullptr : &found->second;
        };

        std::unordered_map<int64_t, const Entry *> byId;
        for (const auto &item : now)
            byId.emplace(item.second.id, &item.second);
        std::vector<const ScannedFile *> arrived;
        for (const ScannedDir &dir : scan.dirs) {
            for (const ScannedFile &file : dir.files) {
                if (!now.count(file.realPath) && !skipped.count(file.realPath))
                    arrived.push_back(&file);
            }
        }
        const auto moves = findMoves(arrived, now, scanned, scan.unreadable);
        // Entries moved to new paths: kept, though their old paths are gone.
        std::unordered_set<int64_t> moved;
        if (scope.lift)
            writer.lift(root);

        std::unordered_set<std::string> kept;
        std::vector<int64_t> dirIds(scan.dirs.size(), 0);
        for (size_t i = 0; i < scan.dirs.size(); ++i) {
            if (!keep[i])
                continue;
            if (cancel.load())
                return false;
            const ScannedDir &dir = scan.dirs[i];
            // Below a folder renamed with what the person had taken out of it.
            if (i > 0 && (!dirIds[size_t(dir.parent)] || isCovered(dir.realPath, scope.excluded)))
                continue;
            const int64_t parentId = i == 0 ? 0 : dirIds[size_t(dir.parent)];
            const Entry *old = current(dir.realPath);
            if (i == 0 && request.onlyInLibrary && !(old && old->type == EntryType::Folder))
                return false;
            if (old && old->type == EntryType::Folder) {
                // A folder found again keeps its id and, when it is the one imported, its place.
                const int64_t place = i == 0 ? old->parentId : parentId;
                writer.updateFolder(old->id, place, dir.mtimeMs);
                dirIds[i] = old->id;
                if (i == 0)
                    outcome.pid = place;
                if (i == 0 && place == 0 && scope.newFilters)
                    writer.setTreeFilters(old->id, *scope.newFilters);
            } else if (const Entry *from = old ? nullptr : renamedFolder(dir, moves, byId, moved)) {
                // Its videos all came from one folder that is gone: that folder, renamed.
                writer.move(from->id, parentId, dir.name, dir.realPath);
                writer.updateFolder(from->id, parentId, dir.mtimeMs);
                renameWithin(scope.excluded, from->realPath, dir.realPath);
                dirIds[i] = from->id;
                moved.insert(from->id);
            } else {
                if (old)
                    writer.remove(old->id);
                Entry folder;
                folder.parentId = parentId;
                folder.type = EntryType::Folder;
                folder.name = dir.name;
                folder.realPath = dir.realPath;
                folder.mtimeMs = dir.mtimeMs;
                dirIds[i] = writer.insert(folder);
                if (i == 0 && parentId == 0 && scope.newFilters)
                    writer.setTreeFilters(dirIds[i], *scope.newFilters);
            }
            kept.insert(dir.realPath);

            for (const ScannedFile &file : dir.files) {
                if (cancel.load())
                    return false;
                if (scope.excluded.count(file.realPath))
                    continue;
                const Entry *oldFile = current(file.realPath);
                if (const auto move = moves.find(file.realPath);
                    !oldFile && move != moves.end() && !moved.count(move->second->id)) {
                    writer.move(move->second->id, dirIds[i], file.name, file.realPath);
                    moved.insert(move->second->id);
                    kept.insert(file.realPath);
                    continue;
                }
                const auto read = readResults.find(file.realPath);
                ProbeResult lateRead;
                const ProbeResult *result
                    = read == readResults.end() ? nullptr : &results[read->second];
                if (!result) {
                    if (oldFile && oldFile->type == EntryType::Video) {
                        if (oldFile->parentId != dirIds[i])
                            writer.setParent(oldFile->id, dirIds[i]);
                        kept.insert(file.realPath);
                        continue;
                    }
                    if (skipped.count(file.realPath))
                        continue;
                    lateRead = Importer::read(file.realPath, file.size, file.mtimeMs, cancel);
                    result = &lateRead;
                    outcome.failureCount += lateRead.ok ? 0 : 1;
                }
                if (!result->ok)
                    continue;
                ++outcome.successCount;
                int64_t id;
                if (oldFile && oldFile->type == EntryType::Video) {
                    id = oldFile->id;
                    writer.updateVideo(id, dirIds[i], file.size, file.mtimeMs, result->info);
                } else {
                    if (oldFile)
                        writer.remove(oldFile->id);
                    id = writer.insert(videoEntry(dirIds[i], file.realPath, file.size, file.mtimeMs,
                                                  result->info));
                }
                writer.putCover(
                    id, result == &lateRead ? lateRead.cover : spool.take(covers[read->second]));
                kept.insert(file.realPath);
            }
        }
        outcome.id = dirIds[0];

        // What is gone from the disk goes from the library. A video added by hand from
        // elsewhere stays while its file exists; nothing below an unreadable folder is judged.
        std::vector<Entry> candidates = writer.descendants(outcome.id);
        for (auto &item : now)
            candidates.push_back(item.second);
        for (const Entry &entry : candidates) {
            // Nor below what the person took out: a folder in there that they imported again
            // on its own is theirs to keep.
            if (kept.count(entry.realPath) || moved.count(entry.id)
                || isWithinAny(entry.realPath, scan.unreadable)
                || isCovered(entry.realPath, scope.excluded))
                continue;
            struct stat info
            {
            };
            if (isBelow(entry.realPath, root) || stat(entry.realPath.c_str(), &info) != 0)
                writer.remove(entry.id);
        }
        return !cancel.load();
    });
    if (!committed)
        return cancelled();
    logInfo("imported folder ", root, " as ", outcome.id, ": ", outcome.successCount, " indexed, ",
            outcome.failureCount, " failed");
    return outcome;
}

ImportOutcome Importer::importFile(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    const std::string &path = request.path;
    const std::string name = baseName(path);
    if (!request.filter.value_or(SuffixFilter::standard()).accepts(name))
        return failed(ApiCode::NotAccepted, "the file type is not accepted: " + name);

    ImportOutcome outcome;
    const auto alreadyThere = [&outcome](const Entry &entry) {
        outcome.status = ImportOutcome::Status::AlreadyInLibrary;
        outcome.id = entry.id;
        outcome.pid = entry.parentId;
    };
    if (const auto old = m_library.entryByRealPath(path)) {
        alreadyThere(*old);
        return outcome;
    }
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0)
        return failed(ApiCode::NotFound, "no such file: " + path);
    const ProbeResult result = read(path, int64_t(info.st_size), modificationMs(info), cancel);
    if (cancel.load())
        return cancelled();
    if (!result.ok)
        return failed(ApiCode::Unreadable, "cannot read the video " + name + ": " + result.error);

    const bool committed = m_library.write([&](LibraryWriter &writer) {
        if (const auto old = writer.entryByRealPath(path)) {
            alreadyThere(*old);
            return false;
        }
        const auto folder = request.pid > 0 ? writer.entry(request.pid) : std::nullopt;
        const int64_t parentId
            = folder && folder->type == EntryType::Folder ? folder->id : int64_t(0);
        // Taken out of its tree once, asked for again now.
        if (request.byPerson)
            writer.lift(path);
        outcome.id = writer.insert(
            videoEntry(parentId, path, int64_t(info.st_size), modificationMs(info), result.info));
        writer.putCover(outcome.id, result.cover);
        outcome.pid = parentId;
        outcome.status = ImportOutcome::Status::Imported;
        return !cancel.load();
    });
    if (!committed && outcome.status != ImportOutcome::Status::AlreadyInLibrary)
        return cancelled();
    return outcome;
}

} // namespace svc
