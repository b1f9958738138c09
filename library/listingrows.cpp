#include "library/listingrows.h"

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
// the listing threads. A job no thread has started by the time the caller is free is taken back
// and run here, so a thread slow to wake, or busy, delays nothing.
void runJobs(const std::vector<std::function<void()>> &jobs)
{
    if (jobs.empty())
        return;
    QThreadPool *pool = listingThreadPool();
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

// Piece k is bounds[k] .. bounds[k + 1]. The same count always splits the same way, so a piece
// lands on the storage its thread filled last time.
std::vector<int> pieceBounds(int count, int pieces)
{
    if (pieces <= 0)
        pieces = std::min({ QThread::idealThreadCount(), count / MinPieceSize, MaxPieces });
    pieces = std::max(1, std::min(pieces, count));
    std::vector<int> bounds;
    for (int k = 0; k <= pieces; ++k)
        bounds.push_back(int(qint64(count) * k / pieces));
    return bounds;
}

// Runs prepare(from, to) for every piece, each on its own thread, sorts each piece's part of
// order, then merges neighbouring sorted runs pairwise until one remains.
void sortInPieces(std::vector<int> &order, std::vector<int> bounds,
                  const std::vector<MediaEntry> &entries, int orderType, int sortType,
                  const std::function<void(int, int)> &prepare)
{
    const auto less = [&entries, orderType, sortType](int a, int b) {
        return mediaEntryLess(entries[size_t(a)], entries[size_t(b)], orderType, sortType);
    };
    std::vector<std::function<void()>> jobs;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
        jobs.emplace_back([&, from = bounds[k], to = bounds[k + 1]] {
            if (prepare)
                prepare(from, to);
            std::sort(order.begin() + from, order.begin() + to, less);
        });
    }
    runJobs(jobs);

    while (bounds.size() > 2) {
        std::vector<int> merged;
        jobs.clear();
        for (size_t k = 0; k + 1 < bounds.size(); k += 2) {
            merged.push_back(bounds[k]);
            if (k + 2 < bounds.size()) {
                jobs.emplace_back(
                    [&, first = bounds[k], middle = bounds[k + 1], last = bounds[k + 2]] {
                        std::inplace_merge(order.begin() + first, order.begin() + middle,
                                           order.begin() + last, less);
                    });
            }
        }
        merged.push_back(bounds.back());
        runJobs(jobs);
        bounds.swap(merged);
    }
}

} // namespace

QThreadPool *listingThreadPool()
{
    static QThreadPool *pool = [] {
        // Never deleted: its idle threads hold nothing and must not retire.
        auto *threads = new QThreadPool;
        threads->setExpiryTimeout(-1);
        threads->setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
        return threads;
    }();
    return pool;
}

void ListingRows::load(const QJsonArray &listing, int orderType, int sortType, int pieces)
{
    const int count = listing.size();
    // Entries are overwritten where they lie: each thread releases old strings as it makes new
    // ones of much the same sizes.
    m_entries.resize(size_t(count));
    m_order.resize(size_t(count));
    sortInPieces(m_order, pieceBounds(count, pieces), m_entries, orderType, sortType,
                 [this, &listing](int from, int to) {
                     // Each thread reads through its own handle; the parsed data is shared.
                     const QCborArray elements = QCborArray::fromJsonArray(listing);
                     for (int i = from; i < to; ++i) {
                         m_entries[size_t(i)] = parseMediaEntry(elements.at(i));
                         m_order[size_t(i)] = i;
                     }
                 });
}

void ListingRows::sort(int orderType, int sortType, int pieces)
{
    sortInPieces(m_order, pieceBounds(size(), pieces), m_entries, orderType, sortType, {});
}
