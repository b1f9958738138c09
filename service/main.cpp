#include "service/log.h"
#include "service/options.h"
#include "service/service.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

int main(int argc, char **argv)
{
    // Every thread inherits this mask, so the termination signals reach only sigwait below
    // and the service can stop in order instead of dying mid-write.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    const auto options = svc::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), svc::usageText());
        return 2;
    }
    if (options->help) {
        std::fputs(svc::usageText(), stdout);
        return 0;
    }
    try {
        svc::Service service(*options);
        if (!service.start(error)) {
            svc::logError(error);
            return 1;
        }
        std::printf("control-port %d\n", service.controlPort());
        if (service.lanPort() > 0)
            std::printf("lan-port %d\n", service.lanPort());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stopSignals, &signal);
        svc::logInfo("signal ", signal, " received, stopping");
        // Imports are cancelled and connections closed, so stopping takes milliseconds; should
        // a read hang in the file system, the process still ends (SQLite keeps the library whole).
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            svc::logError("stopping takes too long, exiting now");
            std::_Exit(1);
        }).detach();
        service.stop();
        svc::logInfo("stopped");
    } catch (const std::exception &exception) {
        svc::logError("KivVelnorService cannot run: ", exception.what());
        return 1;
    }
    return 0;
}
