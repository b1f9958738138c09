#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace svc {

// A fixed set of threads for metadata and covers, shared by every import.
class WorkerPool
{
public:
    explicit WorkerPool(size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    size_t size() const { return m_threads.size(); }

    // Runs job(i) for every i below count on the pool and returns when all have run.
    // A job must not throw. Batches of concurrent callers run one after the other.
    void runAll(size_t count, const std::function<void(size_t)> &job);

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace svc
