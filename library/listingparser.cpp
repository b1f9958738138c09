#include "library/listingparser.h"

#include <QCborArray>
#include <QCborValue>
#include <QJsonArray>
#include <QRunnable>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <functional>

namespace {

// Below this many elements a piece costs more to hand over than it saves.
constexpr int MinPieceSize = 2048;
constexpr int MaxPieces = 8;

// Runs every job and returns when all are done: the first on the calling thread, the others on
// the global pool. A job the pool has not started by the time the caller is free is taken back
// and run here, so a pool busy with other work delays nothing.
void runJobs(const std::vector<std::function<void()>> &jobs)
{
    if (jobs.empty())
        return;
    QThreadPool *pool = QThreadPool::globalInstance();
    QSemaphore done;
    std::vector<QRunnable *> queued;
    for (size_t i = 1; i < jobs.size(); ++i) {
        // Deleted by the pool once run, or by us when taken back.
        QRunnable *runnable = QRunnable::create([&done, &job = jobs[i]] {
            job();
            done.release();
        });
        queued.push_back(runnable);
        pool->start(runnable);
    }
    jobs.front()();
    for (QRunnable *runnable : queued) {
        if (pool->tryTake(runnable)) {
            runnable->run();
            delete runnable;
        }
    }
    done.acquire(int(queued.size()));
}

} // namespace

void parseSortedListing(const QJsonArray &listing, int orderType, int sortType,
                        std::vector<MediaEntry> &entries, int pieces)
{
    const int count = listing.size();
    if (pieces <= 0) {
        pieces = std::min({ QThread::idealThreadCount(), count / MinPieceSize, MaxPieces });
    }
    pieces = std::max(1, std::min(pieces, count));

    const auto less = [orderType, sortType](const MediaEntry &a, const MediaEntry &b) {
        return mediaEntryLess(a, b, orderType, sortType);
    };
    // The old entries are overwritten where they lie, so each thread releases old strings as it
    // makes new ones of much the same sizes, and the allocator hands the memory straight back.
    entries.resize(size_t(std::max(count, 0)));
    // bounds[k] .. bounds[k + 1] is piece k.
    std::vector<int> bounds;
    for (int k = 0; k <= pieces; ++k)
        bounds.push_back(int(qint64(count) * k / pieces));

    std::vector<std::function<void()>> jobs;
    for (int k = 0; k < pieces; ++k) {
        jobs.emplace_back([&, from = bounds[size_t(k)], to = bounds[size_t(k) + 1]] {
            // Each thread reads through its own handle; the parsed data is shared, not copied.
            const QCborArray elements = QCborArray::fromJsonArray(listing);
            for (int i = from; i < to; ++i)
                entries[size_t(i)] = parseMediaEntry(elements.at(i));
            std::sort(entries.begin() + from, entries.begin() + to, less);
        });
    }
    runJobs(jobs);

    // Merge neighbouring sorted runs pairwise until one remains.
    while (bounds.size() > 2) {
        std::vector<int> merged;
        jobs.clear();
        for (size_t k = 0; k + 1 < bounds.size(); k += 2) {
            merged.push_back(bounds[k]);
            if (k + 2 < bounds.size()) {
                jobs.emplace_back(
                    [&, first = bounds[k], middle = bounds[k + 1], last = bounds[k + 2]] {
                        std::inplace_merge(entries.begin() + first, entries.begin() + middle,
                                           entries.begin() + last, less);
                    });
            }
        }
        merged.push_back(bounds.back());
        runJobs(jobs);
        bounds.swap(merged);
    }
}
