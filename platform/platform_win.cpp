// The platform layer on Windows: conversions between Qt and the plain Win32 code in win32/,
// which holds everything that can be built and tested without Qt.
#include "platform/platform.h"

#include "platform/commandline.h"
#include "platform/itempath.h"
#include "platform/win32/instancemarker.h"
#include "platform/win32/launch.h"
#include "platform/win32/processlist.h"
#include "platform/win32/registry.h"
#include "platform/win32/stoprequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

namespace platform {

MarkerResult createInstanceMarker(const QString &name)
{
    switch (win32::createInstanceMarker(name.toStdWString())) {
    case win32::MarkerState::Created:
        return MarkerResult::Created;
    case win32::MarkerState::AlreadyExisted:
        return MarkerResult::AlreadyExists;
    case win32::MarkerState::Failed:
        break;
    }
    return MarkerResult::Failed;
}

QStringList runningProcessNames()
{
    QStringList names;
    for (const std::wstring &name : win32::runningProcessNames())
        names << QString::fromStdWString(name);
    return names;
}

QString serviceExecutableName()
{
    return QStringLiteral("KivVelnorService.exe");
}

QString machineIdentifier()
{
    return QString::fromStdWString(win32::machineGuid());
}

QString localPathOfItem(const QString &text)
{
    // Drive paths: "file:///C:/a.mp4" is "C:/a.mp4".
    return stripFileUrlText(text);
}

void showInFileManager(const QString &path)
{
    win32::startDetached(explorerSelectCommand(path.toStdWString()), std::wstring());
}

bool startInstaller(const QString &path)
{
    return win32::startInstaller(QDir::toNativeSeparators(path).toStdWString());
}

void quitOnTerminationRequest()
{
    // Session end reaches the windows as WM_QUERYENDSESSION/WM_ENDSESSION, which Qt answers
    // itself; a console, where there is one, asks through its control handler, on a thread of
    // its own: the request is queued to the main thread.
    win32::onConsoleStopRequest([] {
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
}

} // namespace platform
