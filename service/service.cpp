#include "service/service.h"

#include "service/log.h"

#include <filesystem>
#include <thread>

namespace svc {

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
    m_importer = std::make_unique<Importer>(*m_library, *m_pool);
    m_controlApi = std::make_unique<ControlApi>(*m_library, *m_importer, m_requests);
}

Service::~Service()
{
    stop();
}

bool Service::start(std::string &error)
{
    // The control interface answers only on the loopback address: it can change the library.
    m_control = std::make_unique<HttpListener>("control");
    m_controlApi->install(*m_control);
    m_controlPort = m_control->bindTo("127.0.0.1", m_options.port);
    if (m_controlPort < 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(m_options.port);
        return false;
    }
    m_control->start();
    logInfo("control interface on 127.0.0.1:", m_controlPort);
    return true;
}

void Service::stop()
{
    m_requests.cancelAll();
    if (m_control)
        m_control->stopAndWait();
}

} // namespace svc
