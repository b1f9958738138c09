#pragma once

#include "service/apicodes.h"
#include "service/folderscanner.h"
#include "service/library.h"
#include "service/probejournal.h"
#include "service/suffixfilter.h"
#include "service/workerpool.h"

#include <atomic>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace svc {

struct ImportRequest
{
    std::string path; // normalised, absolute
    // The suffixes asked for. An imported tree keeps those it was imported with: they serve
    // its rescans (none given), and a folder inside it is rescanned with them too.
    std::optional<SuffixFilter> filter;
    // Asked for by the person: what they had taken out of the library and now import again
    // (the path itself, or a folder above it) comes back.
    bool byPerson = false;
    int64_t pid = 0; // folder to hold a single file; 0 or unknown: the root
    // Folder rescans by the watcher. Files this says are still being written stay as the
    // library has them: not read, not added, not dropped. Called on the importing thread.
    std::function<bool(const ScannedFile &)> skip;
    // A folder that is not (or no longer) in the library is left out rather than added, so
    // that a removal wins over a rescan that was already running.
    bool onlyInLibrary = false;
};

struct ImportOutcome
{
    enum class Status { Imported, AlreadyInLibrary, Cancelled, Failed };
    Status status = Status::Failed;
    ApiCode code = ApiCode::InternalError; // for Failed
    std::string message; // for Failed
    bool folder = false;
    int successCount = 0;
    int failureCount = 0;
    int64_t id = 0;
    int64_t pid = 0;

    static ImportOutcome failed(ApiCode code, const std::string &message);
    static ImportOutcome cancelled();
};

// Brings a folder tree (see FolderImport) or a single video into the library: metadata and
// covers are made first, then everything is written in one transaction, so a cancel, a failure
// or a killed process leaves the library as it was.
class Importer
{
public:
    // Covers wait in a temporary file in spoolFolder until they are written (in memory when
    // it is empty). Reads are journalled in journal when there is one.
    Importer(Library &library, WorkerPool &pool, std::string spoolFolder, bool makeCovers = true,
             ProbeJournal *journal = nullptr);

    ImportOutcome run(const ImportRequest &request, const std::atomic<bool> &cancel);
    // What is read of the video at path, without its cover; nothing when it cannot be read.
    std::optional<MediaInfo> readInfo(const std::string &path, const std::atomic<bool> &cancel);

private:
    ImportOutcome importFile(const ImportRequest &request, const std::atomic<bool> &cancel);
    // Metadata and cover of one file, unless reading it once ended the service.
    ProbeResult read(const std::string &path, int64_t size, int64_t mtimeMs,
                     const std::atomic<bool> &cancel);

    Library &m_library;
    WorkerPool &m_pool;
    std::string m_spoolFolder;
    bool m_makeCovers;
    ProbeJournal *m_journal;
};

} // namespace svc
