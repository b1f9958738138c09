#include "service/workerpool.h"

#include <atomic>
#include <memory>

namespace svc {

WorkerPool::WorkerPool(size_t threads)
{
    if (threads == 0)
        threads = 1;
    for (size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void WorkerPool::work()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        task();
    }
}

void WorkerPool::runAll(size_t count, const std::function<void(size_t)> &job)
{
    if (count == 0)
        return;
    // One queued task per worker, each pulling indexes, keeps the queue short and lets the
    // calling thread wait on a single counter.
    struct Batch
    {
        std::atomic<size_t> next { 0 };
        size_t running = 0;
        std::mutex mutex;
        std::condition_variable done;
    };
    auto batch = std::make_shared<Batch>();
    const size_t workers = std::min(count, m_threads.size());
    batch->running = workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t w = 0; w < workers; ++w) {
            m_queue.emplace_back([batch, count, &job] {
                for (size_t i = batch->next++; i < count; i = batch->next++)
                    job(i);
                std::lock_guard<std::mutex> lock(batch->mutex);
                if (--batch->running == 0)
                    batch->done.notify_all();
            });
        }
    }
    m_wake.notify_all();
    std::unique_lock<std::mutex> lock(batch->mutex);
    batch->done.wait(lock, [&] { return batch->running == 0; });
}

} // namespace svc
