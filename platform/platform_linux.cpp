#include "platform/platform.h"

#include "platform/itempath.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

MarkerResult createInstanceMarker(const QString &name)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        return MarkerResult::Failed;
    // Held for the life of the process; the operating system drops the lock when it ends.
    static QLockFile *lock = nullptr;
    if (lock)
        return MarkerResult::Created;
    auto *candidate = new QLockFile(dir + QLatin1Char('/') + name + QStringLiteral(".lock"));
    // A first instance may run for days: only a dead owner makes the lock stale, never its age.
    candidate->setStaleLockTime(0);
    if (candidate->tryLock(0)) {
        lock = candidate;
        return MarkerResult::Created;
    }
    const QLockFile::LockError error = candidate->error();
    delete candidate;
    return error == QLockFile::LockFailedError ? MarkerResult::AlreadyExists : MarkerResult::Failed;
}

QStringList runningProcessNames()
{
    QStringList names;
    const QStringList pids
        = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool isPid = false;
        pid.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString base = QStringLiteral("/proc/") + pid;
        // /proc/<pid>/comm is cut at 15 characters, too short for "KivVelnorService".
        QString exe = QFile::symLinkTarget(base + QStringLiteral("/exe"));
        if (exe.endsWith(QLatin1String(" (deleted)")))
            exe.chop(10);
        if (exe.isEmpty()) {
            QFile cmdline(base + QStringLiteral("/cmdline"));
            if (cmdline.open(QIODevice::ReadOnly)) {
                const QByteArray all = cmdline.read(4096);
                exe = QFile::decodeName(all.left(all.indexOf('\0')));
            }
        }
        if (!exe.isEmpty())
            names << QFileInfo(exe).fileName();
    }
    return names;
}

QString serviceExecutableName()
{
    return QStringLiteral("KivVelnorService");
}

QString machineIdentifier()
{
    QFile file(QStringLiteral("/etc/machine-id"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray id = file.readAll().trimmed();
    if (id.isEmpty())
        return QString();
    // A keyed hash: stable for this machine, useless for matching the raw id elsewhere.
    const QByteArray digest = QMessageAuthenticationCode::hash(
        id, QByteArrayLiteral("QXLT VelnorAssistant machine identifier"),
        QCryptographicHash::Sha256);
    const QString hex = QString::fromLatin1(digest.left(16).toHex()).toUpper();
    return QStringLiteral("%1-%2-%3-%4-%5")
        .arg(hex.mid(0, 8), hex.mid(8, 4), hex.mid(12, 4), hex.mid(16, 4), hex.mid(20, 12));
}

QString localPathOfItem(const QString &text)
{
    // A file URL keeps its leading "/" here: stripping "file:///" would make it relative.
    if (text.startsWith(QLatin1String("file:")))
        return QUrl(text).toLocalFile();
    return stripFileUrlText(text);
}

void showInFileManager(const QString &path)
{
    const auto openFolder = [path] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList { QUrl::fromLocalFile(path).toString() } << QString();
    // Asynchronous: a file manager that is slow to start must not freeze the window meanwhile.
    auto *watcher
        = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, openFolder] {
        if (watcher->isError())
            openFolder();
        watcher->deleteLater();
    });
}

bool startInstaller(const QString &path)
{
    QFile file(path);
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ReadOwner);
    return QProcess::startDetached(path, QStringList(), QFileInfo(path).absolutePath());
}

namespace {
int terminationPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t written = ::write(terminationPipe[1], &byte, 1);
}
} // namespace

void quitOnTerminationRequest()
{
    if (terminationPipe[0] >= 0
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0)
        return;
    ::fcntl(terminationPipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char byte;
        [[maybe_unused]] ssize_t got = ::read(terminationPipe[0], &byte, 1);
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

} // namespace platform
