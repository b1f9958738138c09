#pragma once

#include "service/controlapi.h"
#include "service/database.h"
#include "service/folderwatcher.h"
#include "service/glibloop.h"
#include "service/headsetapi.h"
#include "service/httpserver.h"
#include "service/importer.h"
#include "service/infobackfill.h"
#include "service/library.h"
#include "service/options.h"
#include "service/requestregistry.h"
#include "service/transcoder.h"
#include "service/upnpserver.h"
#include "service/vrplayersapi.h"
#include "service/workerpool.h"

#include <memory>

namespace svc {

// The whole service: its data folder, library, worker pool and listeners.
class Service
{
public:
    // Creates the data folder, opens the log and the library; throws when it cannot.
    explicit Service(const Options &options);
    ~Service();

    // Binds and starts the listeners; false (with error set) when a port cannot be had.
    bool start(std::string &error);
    int controlPort() const { return m_controlPort; }
    // -1 when the headset API is off or could not listen.
    int lanPort() const { return m_lanPort; }

    // Cancels running imports and closes every connection.
    void stop();

private:
    Options m_options;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<Library> m_library;
    std::unique_ptr<WorkerPool> m_pool;
    std::unique_ptr<ProbeJournal> m_journal;
    std::unique_ptr<Importer> m_importer;
    std::unique_ptr<InfoBackfill> m_backfill;
    std::unique_ptr<Transcoder> m_transcoder;
    RequestRegistry m_requests;
    std::unique_ptr<ControlApi> m_controlApi;
    std::unique_ptr<HeadsetApi> m_headsetApi;
    std::unique_ptr<VrPlayersApi> m_vrPlayersApi;
    std::unique_ptr<HttpServer> m_control;
    std::unique_ptr<HttpServer> m_lan;
    std::unique_ptr<GlibLoop> m_loop;
    std::unique_ptr<UpnpServer> m_upnp;
    std::unique_ptr<FolderWatcher> m_watcher;
    int m_controlPort = -1;
    int m_lanPort = -1;
};

} // namespace svc
