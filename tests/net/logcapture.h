#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QStringList>
#include <QtGlobal>

// Collects the messages the code under test writes, whole, as the log handler would get them.
class LogCapture
{
public:
    LogCapture() { s_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList lines(QtMsgType type)
    {
        QMutexLocker locker(&s_mutex);
        QStringList result;
        for (const auto &entry : qAsConst(s_entries))
            if (entry.first == type)
                result.append(entry.second);
        return result;
    }
    static int count()
    {
        QMutexLocker locker(&s_mutex);
        return s_entries.size();
    }
    static void clear()
    {
        QMutexLocker locker(&s_mutex);
        s_entries.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker locker(&s_mutex);
        s_entries.append({ type, message });
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QList<QPair<QtMsgType, QString>> s_entries;
};
