#pragma once

#include <QString>
#include <QStringList>

// The operating-system facilities the assistant needs, one small function each.
// platform_linux.cpp implements them here; the Windows build has its own implementation.
namespace platform {

enum class MarkerResult { Created, AlreadyExists, Failed };

// Creates the system-wide marker of a running first instance, or finds that a live process
// already holds it. The marker is held until the process ends.
MarkerResult createInstanceMarker(const QString &name);

// Bare executable file names of the running processes.
QStringList runningProcessNames();

// File name of the media service executable ("KivVelnorService" here).
QString serviceExecutableName();

// A stable identifier of this machine for this application; empty when none can be read.
QString machineIdentifier();

// The PC path named by a dropped or chosen item, given as a file URL or a plain path.
QString localPathOfItem(const QString &text);

// Shows the file selected in the desktop's file manager, without waiting for it; where that
// fails, opens the file's folder instead. Failures are not reported.
void showInFileManager(const QString &path);

// Starts a downloaded installer detached from the assistant, without a shell.
bool startInstaller(const QString &path);

// Ends the event loop when the system asks the process to stop (session end, kill), so that
// shutdown runs as after the last window closes: the launched media service is ended too.
void quitOnTerminationRequest();

} // namespace platform
