#include "app/servicelauncher.h"

#include "platform/platform.h"

#include <QDebug>
#include <QProcess>
#include <QTimer>

#include <memory>

namespace {

const int RestartDelayMs = 3000;
// The service answers a stop request by cancelling its imports and closing the library, which
// takes milliseconds; it gives up on its own after three seconds.
const int StopGraceMs = 3000;

// Asks the service to stop and waits for it, so that it ends in order rather than in the middle
// of a write; only a service that is still running after the grace period is killed.
void stopService(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (process->waitForFinished(StopGraceMs))
        return;
    process->kill();
    process->waitForFinished(StopGraceMs);
}

} // namespace

bool isServiceRunning()
{
    return platform::runningProcessNames().contains(platform::serviceExecutableName(),
                                                    Qt::CaseSensitive);
}

QProcess *launchService(QObject *owner, const QString &appDir)
{
    auto *process = new QProcess(owner);
    process->setProgram(appDir + QStringLiteral("/server/") + platform::serviceExecutableName());
    process->setWorkingDirectory(appDir + QStringLiteral("/server/"));
    // Nothing reads what the service prints, and QProcess would keep all of it in memory for as
    // long as the assistant runs; the service keeps its own daily log. Its input stays connected.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    auto *restart = new QTimer(process);
    restart->setSingleShot(true);
    restart->setInterval(RestartDelayMs);
    QObject::connect(restart, &QTimer::timeout, process,
                     [process] { process->start(QIODevice::ReadWrite); });
    // Set once the owner goes: a service that ends while it is being stopped is not started again.
    const auto closing = std::make_shared<bool>(false);
    QObject::connect(owner, &QObject::destroyed, process, [process, restart, closing] {
        *closing = true;
        restart->stop();
        stopService(process);
    });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [restart, closing](QProcess::ProcessError error) {
                         if (!*closing
                             && (error == QProcess::FailedToStart || error == QProcess::Crashed))
                             restart->start();
                         qInfo() << "KivVelnorService error:" << error;
                     });
    process->start(QIODevice::ReadWrite);
    return process;
}
