#include "app/loghandler.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTextStream>

namespace {

QString levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug:");
    case QtWarningMsg:
        return QStringLiteral("Warning:");
    case QtCriticalMsg:
        return QStringLiteral("Critical:");
    case QtFatalMsg:
        return QStringLiteral("Fatal:");
    case QtInfoMsg:
        break;
    }
    return QString();
}

QMutex &logMutex()
{
    // A function-local static gives a creation that is safe against concurrent first calls.
    static QMutex mutex;
    return mutex;
}

} // namespace

QString formatLogLine(QtMsgType type, const char *file, int line, const QString &message,
                      const QTime &time)
{
    // One multi-argument arg() call, so that a "%1" inside the file name stays text.
    const QString location = QStringLiteral("\"%1(%2)\"")
                                 .arg(QString::fromUtf8(file ? file : ""), QString::number(line));
    return QStringLiteral("[%1%2  %3]:%4")
        .arg(levelWord(type), time.toString(QStringLiteral("hh:mm:ss.zzz")), location, message);
}

QString logFilePath(const QString &directory, const QDate &date)
{
    return directory + QStringLiteral("/%1.txt").arg(date.toString(QStringLiteral("yyyy-MM-dd")));
}

void writeLogMessage(QtMsgType type, const QMessageLogContext &context, const QString &message,
                     LogClock clock)
{
    QMutexLocker locker(&logMutex());
    const QString text = formatLogLine(type, context.file, context.line, message, clock().time());
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    // Never create the folder here: start-up does that once, and a message must not be able
    // to recreate a folder the user removed while we run.
    QFile file(logFilePath(dir, clock().date()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << text << "\r\n";
    stream.flush();
    file.close();
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    writeLogMessage(type, context, message);
}
