#pragma once

#include <QString>

class QObject;
class QProcess;

// Whether a process with exactly the media service's executable name is running.
bool isServiceRunning();

// Starts the media service from <appDir>/server/ as a child of owner. When the owner is destroyed
// the service is asked to stop and given three seconds to do so before it is killed. A failed
// start or a crash is logged and retried 3000 ms later, for as long as the owner lives.
QProcess *launchService(QObject *owner, const QString &appDir);
