#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

// One line of the day's log, without the trailing "\r\n".
QString formatLogLine(QtMsgType type, const char *file, int line, const QString &message,
                      const QTime &time);

// The day's log file inside the given folder.
QString logFilePath(const QString &directory, const QDate &date);

using LogClock = QDateTime (*)();

// Appends one message to the day's log file. The clock is read twice under the lock, once for
// the line's time and once for the file's date, so a message at midnight may carry the old
// day's time and land in the new day's file.
void writeLogMessage(QtMsgType type, const QMessageLogContext &context, const QString &message,
                     LogClock clock = &QDateTime::currentDateTime);

// The process-wide message handler: every message goes to the log file and nowhere else.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
