#pragma once

#include <QString>

class QObject;
class QProcess;

// Whether a process with exactly the media service's executable name is running.
bool isServiceRunning();

// Starts the media service from <appDir>/server/ as a child of owner, which terminates it when
// destroyed. A failed start or a crash is logged and retried 3000 ms later, for as long as the
// owner lives.
QProcess *launchService(QObject *owner, const QString &appDir);
