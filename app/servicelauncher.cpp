#include "app/servicelauncher.h"

#include "platform/platform.h"

#include <QDebug>
#include <QProcess>
#include <QTimer>

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
    QObject::connect(owner, &QObject::destroyed, process, &QProcess::terminate);
    QObject::connect(
        process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart || error == QProcess::Crashed) {
                QTimer::singleShot(3000, process,
                                   [process] { process->start(QIODevice::ReadWrite); });
            }
            qInfo() << "KivVelnorService error:" << error;
        });
    process->start(QIODevice::ReadWrite);
    return process;
}
