#include "service/glibloop.h"

#include "service/log.h"

#include <glib.h>

#include <condition_variable>
#include <mutex>

namespace svc {
namespace {

gboolean runPosted(gpointer data)
{
    (*static_cast<std::function<void()> *>(data))();
    return G_SOURCE_REMOVE;
}

void deletePosted(gpointer data)
{
    delete static_cast<std::function<void()> *>(data);
}

// GLib would print its libraries' messages on standard output, where the service announces
// its ports; they belong in the service's log, and their debug chatter nowhere.
void logGlibMessage(const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer)
{
    const char *from = domain ? domain : "GLib";
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL))
        logError(from, ": ", message);
    else if (level & G_LOG_LEVEL_WARNING)
        logWarning(from, ": ", message);
}

} // namespace

GlibLoop::GlibLoop()
    : m_context(g_main_context_new())
    , m_loop(g_main_loop_new(m_context, FALSE))
{
    g_log_set_default_handler(logGlibMessage, nullptr);
    std::mutex mutex;
    std::condition_variable started;
    bool running = false;
    m_thread = std::thread([&] {
        // Objects made on this thread attach their sources to this loop, not the default one.
        g_main_context_push_thread_default(m_context);
        {
            std::lock_guard<std::mutex> lock(mutex);
            running = true;
        }
        started.notify_one();
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
    std::unique_lock<std::mutex> lock(mutex);
    started.wait(lock, [&] { return running; });
}

GlibLoop::~GlibLoop()
{
    post([this] { g_main_loop_quit(m_loop); });
    m_thread.join();
    // What was posted after the quit never ran; its data goes with the context.
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}

void GlibLoop::post(std::function<void()> work)
{
    // An idle source rather than g_main_context_invoke, which would run work at once when
    // called on the loop's own thread, in the middle of whatever called it.
    GSource *source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runPosted, new std::function<void()>(std::move(work)),
                          deletePosted);
    g_source_attach(source, m_context);
    g_source_unref(source);
}

void GlibLoop::run(const std::function<void()> &work)
{
    if (onLoopThread()) {
        work();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    post([&] {
        work();
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return finished; });
}

bool GlibLoop::onLoopThread() const
{
    return std::this_thread::get_id() == m_thread.get_id();
}

} // namespace svc
