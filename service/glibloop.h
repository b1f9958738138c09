#pragma once

#include <functional>
#include <thread>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;

namespace svc {

// A GLib main loop on a thread of its own, for the libraries that live on one (UPnP, file
// monitors). Everything they do happens on that thread; other threads hand it work.
class GlibLoop
{
public:
    GlibLoop();
    // Quits the loop and waits for its thread.
    ~GlibLoop();
    GlibLoop(const GlibLoop &) = delete;
    GlibLoop &operator=(const GlibLoop &) = delete;

    GMainContext *context() const { return m_context; }

    // Runs work on the loop's thread soon and returns at once.
    void post(std::function<void()> work);
    // Runs work on the loop's thread and returns when it has run.
    void run(const std::function<void()> &work);
    bool onLoopThread() const;

private:
    GMainContext *m_context;
    GMainLoop *m_loop;
    std::thread m_thread;
};

} // namespace svc
