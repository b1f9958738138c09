#include "service/service.h"

#include "service/frontpage.h"
#include "service/log.h"

#include <filesystem>

#ifndef VELNOR_SERVICE_VERSION
#define VELNOR_SERVICE_VERSION "0"
#endif
#include <thread>

namespace svc {

namespace {
constexpr size_t ControlThreads = 32;
constexpr size_t LanThreads = 128;
} // namespace

Service::Service(const Options &options)
    : m_options(options)
{
    std::error_code error;
    std::filesystem::create_directories(options.dataDir + "/logs", error);
    if (error)
        throw std::runtime_error("cannot create the data folder " + options.dataDir + ": "
                                 + error.message());
    setLogFolder(options.dataDir + "/logs");
    logInfo("KivVelnorService starting, data folder ", options.dataDir);
    quietMediaLibraries();
    m_database = std::make_unique<Database>(options.dataDir + "/library.db");
    m_library = std::make_unique<Library>(*m_database);
    m_pool = std::make_unique<WorkerPool>(std::max(1u, std::thread::hardware_concurrency()));
    m_journal = std::make_unique<ProbeJournal>(options.dataDir);
    m_importer
        = std::make_unique<Importer>(*m_library, *m_pool, options.dataDir, true, m_journal.get());
    m_controlApi = std::make_unique<ControlApi>(*m_library, *m_importer, m_requests);
    m_transcoder = std::make_unique<Transcoder>();
    m_headsetApi = std::make_unique<HeadsetApi>(*m_library, *m_transcoder);
    m_vrPlayersApi = std::make_unique<VrPlayersApi>(*m_library);
}

Service::~Service()
{
    stop();
}

bool Service::start(std::string &error)
{
    // Before the listeners start: the watcher observes the library.
    m_loop = std::make_unique<GlibLoop>();
    m_watcher = std::make_unique<FolderWatcher>(*m_library, *m_importer, *m_loop);
    // The control interface answers only on the loopback address: it can change the library.
    m_control = std::make_unique<HttpServer>("control", ControlThreads);
    m_controlApi->install(*m_control);
    m_controlPort = m_control->bindTo("127.0.0.1", m_options.port);
    if (m_controlPort < 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(m_options.port);
        return false;
    }
    m_control->start();
    logInfo("control interface on 127.0.0.1:", m_controlPort);

    if (m_options.lan) {
        // Streams hold their thread while they run, hence the larger pool; the control
        // interface has its own, so no number of players can stall the assistant.
        m_lan = std::make_unique<HttpServer>("lan", LanThreads);
        m_headsetApi->install(*m_lan);
        m_vrPlayersApi->install(*m_lan);
        installFrontPage(*m_lan);
        m_lanPort = m_lan->bindTo("0.0.0.0", m_options.lanPort);
        if (m_lanPort < 0) {
            // The assistant works without it; the headset will not find this PC.
            logError("cannot listen on 0.0.0.0:", m_options.lanPort, "; the headset API is off");
            m_lan.reset();
        } else {
            m_lan->start();
            m_controlApi->setLanPort(m_lanPort);
            logInfo("headset API on 0.0.0.0:", m_lanPort);
        }
    }
    if (m_lan && m_options.upnp) {
        m_upnp = std::make_unique<UpnpServer>(*m_library, *m_loop, m_options.dataDir, m_lanPort,
                                              VELNOR_SERVICE_VERSION);
        std::string upnpError;
        // Players can still be pointed at the headset API by hand.
        if (!m_upnp->start(upnpError)) {
            logError(upnpError, "; the headset will not find this PC by itself");
            m_upnp.reset();
        }
    }
    // In the background: the catch-up rescan delays neither the start nor any request.
    if (m_watcher)
        m_watcher->start();
    m_backfill = std::make_unique<InfoBackfill>(
        *m_library, [this](const std::string &path, const std::atomic<bool> &cancel) {
            return m_importer->readInfo(path, cancel);
        });
    m_backfill->start();
    return true;
}

void Service::stop()
{
    m_requests.cancelAll();
    m_backfill.reset();
    // Streams being converted end now, rather than with their players.
    if (m_transcoder)
        m_transcoder->stopAll();
    m_watcher.reset();
    // Goodbye first: players drop the server before its listeners close.
    m_upnp.reset();
    m_loop.reset();
    if (m_lan)
        m_lan->stopAndWait();
    if (m_control)
        m_control->stopAndWait();
}

} // namespace svc
