#include "service/importer.h"

#include "service/folderimport.h"
#include "service/log.h"
#include "service/pathutil.h"
#include "service/subtitles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace svc {

ImportOutcome ImportOutcome::failed(ApiCode code, const std::string &message)
{
    ImportOutcome outcome;
    outcome.status = Status::Failed;
    outcome.code = code;
    outcome.message = message;
    return outcome;
}

ImportOutcome ImportOutcome::cancelled()
{
    ImportOutcome outcome;
    outcome.status = Status::Cancelled;
    return outcome;
}

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

std::optional<MediaInfo> Importer::readInfo(const std::string &path,
                                            const std::atomic<bool> &cancel)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const ProbeJournal::File file { path, int64_t(info.st_size), modificationMs(info) };
    if (m_journal && m_journal->isSetAside(file))
        return std::nullopt;
    const ProbeJournal::Reading reading(m_journal, file);
    ProbeResult result = probeVideo(path, false, &cancel);
    if (!result.ok)
        return std::nullopt;
    return std::move(result.info);
}

ImportOutcome Importer::run(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    struct stat info
    {
    };
    if (stat(request.path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return ImportOutcome::failed(ApiCode::NotFound,
                                         "no such file or folder: " + request.path);
        return ImportOutcome::failed(ApiCode::Unreadable,
                                     "cannot access " + request.path + ": " + std::strerror(errno));
    }
    try {
        if (S_ISDIR(info.st_mode)) {
            if (request.path == "/")
                return ImportOutcome::failed(ApiCode::NotAccepted,
                                             "the file system root cannot be imported");
            const auto reader = [this](const std::string &path, int64_t size, int64_t mtimeMs,
                                       const std::atomic<bool> &cancel) {
                return read(path, size, mtimeMs, cancel);
            };
            return FolderImport(m_library, m_pool, m_spoolFolder, reader).run(request, cancel);
        }
        if (S_ISREG(info.st_mode))
            return importFile(request, cancel);
    } catch (const DatabaseError &error) {
        logError("import of ", request.path, " failed: ", error.what());
        return ImportOutcome::failed(ApiCode::InternalError,
                                     std::string("library error: ") + error.what());
    }
    return ImportOutcome::failed(ApiCode::NotAccepted,
                                 "not a video file or folder: " + request.path);
}

ImportOutcome Importer::importFile(const ImportRequest &request, const std::atomic<bool> &cancel)
{
    const std::string &path = request.path;
    const std::string name = baseName(path);
    if (!request.filter.value_or(SuffixFilter::standard()).accepts(name))
        return ImportOutcome::failed(ApiCode::NotAccepted,
                                     "the file type is not accepted: " + name);

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
        return ImportOutcome::failed(ApiCode::NotFound, "no such file: " + path);
    const ProbeResult result = read(path, int64_t(info.st_size), modificationMs(info), cancel);
    if (cancel.load())
        return ImportOutcome::cancelled();
    if (!result.ok)
        return ImportOutcome::failed(ApiCode::Unreadable,
                                     "cannot read the video " + name + ": " + result.error);

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
        Entry entry;
        entry.parentId = parentId;
        entry.name = name;
        entry.realPath = path;
        entry.size = int64_t(info.st_size);
        entry.mtimeMs = modificationMs(info);
        entry.info = result.info;
        outcome.id = writer.insert(entry);
        std::vector<std::string> names = subtitlesIn(parentPath(path));
        names.push_back(name);
        std::vector<std::string> sidecars;
        for (const SidecarSubtitle &sidecar : sidecarSubtitles(path, names))
            sidecars.push_back(sidecar.fileName);
        writer.setSubtitles(outcome.id, sidecars);
        writer.putCover(outcome.id, result.cover);
        outcome.pid = parentId;
        outcome.status = ImportOutcome::Status::Imported;
        return !cancel.load();
    });
    if (!committed && outcome.status != ImportOutcome::Status::AlreadyInLibrary)
        return ImportOutcome::cancelled();
    return outcome;
}

} // namespace svc
