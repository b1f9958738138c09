#pragma once

#include "service/coverspool.h"
#include "service/folderscanner.h"
#include "service/importer.h"
#include "service/library.h"
#include "service/workerpool.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace svc {

// One folder tree brought into the library (or rescanned in place) in three steps:
//  - plan: walk the tree and compare it with the library: what is new or changed and must be
//    read, what moved (a vanished video and a new file of the same size and time, when no
//    other pair shares them), what the person took out;
//  - read: metadata and covers of what must be read, on the worker pool, outside any
//    transaction;
//  - apply: everything in one transaction, against the library as it is by then, so that a
//    cancel, a failure or a killed process leaves it as it was.
class FolderImport
{
public:
    // Metadata and cover of one file (the importer's, which keeps the journal of readings).
    using Reader = std::function<ProbeResult(const std::string &path, int64_t size, int64_t mtimeMs,
                                             const std::atomic<bool> &cancel)>;

    // How the tree is scanned: the suffixes, what stays out, and what the import changes of
    // the tree it belongs to.
    struct Scope
    {
        SuffixFilter filter = SuffixFilter::standard();
        // Kept for the folder when it is (or becomes) a top-level tree.
        std::optional<std::vector<std::string>> newFilters;
        // The person imports it anew: what they took out of it comes back.
        bool lift = false;
        std::set<std::string> excluded;
    };

    // Points into itself: moved, never copied.
    struct Plan
    {
        Plan() = default;
        Plan(Plan &&) = default;
        Plan(const Plan &) = delete;
        Plan &operator=(const Plan &) = delete;

        ImportRequest request;
        // Set when the import ends here: cancelled, the folder unreadable, or no longer in
        // the library for a rescan that wants it there.
        std::optional<ImportOutcome> end;
        Scope scope;
        FolderScan scan;
        std::unordered_map<std::string, Entry> known; // the library at and below the folder
        std::vector<const ScannedFile *> toRead;
        std::unordered_set<std::string> scanned;
        std::unordered_set<std::string> skipped; // still being written: left as they are
        // New paths of videos that moved, and the entries they were.
        std::unordered_map<std::string, const Entry *> moves;
    };

    struct Reading
    {
        std::vector<ProbeResult> results; // of Plan::toRead, covers in the spool
        std::vector<CoverSpool::Slot> covers;
        std::unique_ptr<CoverSpool> spool;
        std::unordered_map<std::string, size_t> byPath;
        bool cancelled = false;
    };

    FolderImport(Library &library, WorkerPool &pool, std::string spoolFolder, Reader reader);

    // request.path must name a folder.
    Plan plan(const ImportRequest &request, const std::atomic<bool> &cancel);
    Reading read(const Plan &plan, const std::atomic<bool> &cancel);
    ImportOutcome apply(const Plan &plan, Reading &reading, const std::atomic<bool> &cancel);

    ImportOutcome run(const ImportRequest &request, const std::atomic<bool> &cancel);

private:
    class Applier;
    Scope scopeOf(const ImportRequest &request);

    Library &m_library;
    WorkerPool &m_pool;
    std::string m_spoolFolder;
    Reader m_reader;
};

} // namespace svc
