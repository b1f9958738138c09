#include "app/loghandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

namespace {

QString logDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QByteArray readLog(const QDate &date)
{
    QFile file(logFilePath(logDir(), date));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A clock that steps across midnight between its two readings of one message.
int midnightReadings = 0;
QDateTime midnightClock()
{
    return ++midnightReadings % 2 ? QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999))
                                  : QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 0));
}

QMessageLogContext noLocation()
{
    return QMessageLogContext(nullptr, 0, nullptr, nullptr);
}

} // namespace

class LogHandlerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("QXLT"));
    }

    void init()
    {
        QDir(logDir()).removeRecursively();
        QVERIFY(QDir().mkpath(logDir()));
    }

    void cleanup() { qInstallMessageHandler(nullptr); }

    void formatsLine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");

        const QString noWhere = QStringLiteral("\"(0)\"");
        QTest::newRow("info has no level word")
            << int(QtInfoMsg) << QByteArray() << 0 << "KivVelnorService error: QProcess::Crashed"
            << "[08:15:02.123  " + noWhere + "]:KivVelnorService error: QProcess::Crashed";
        QTest::newRow("debug with location")
            << int(QtDebugMsg) << QByteArray("a.cpp") << 42 << "hello"
            << "[Debug:08:15:02.123  \"a.cpp(42)\"]:hello";
        QTest::newRow("warning") << int(QtWarningMsg) << QByteArray() << 0 << "w"
                                 << "[Warning:08:15:02.123  " + noWhere + "]:w";
        QTest::newRow("critical") << int(QtCriticalMsg) << QByteArray() << 0 << "c"
                                  << "[Critical:08:15:02.123  " + noWhere + "]:c";
        QTest::newRow("fatal") << int(QtFatalMsg) << QByteArray() << 0 << "f"
                               << "[Fatal:08:15:02.123  " + noWhere + "]:f";
        QTest::newRow("line breaks kept")
            << int(QtInfoMsg) << QByteArray() << 0 << "one\ntwo\r\nthree"
            << "[08:15:02.123  " + noWhere + "]:one\ntwo\r\nthree";
        QTest::newRow("percent signs are not placeholders")
            << int(QtInfoMsg) << QByteArray("%1.cpp") << 7 << "100% %2"
            << "[08:15:02.123  \"%1.cpp(7)\"]:100% %2";
    }

    void formatsLine()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, file);
        QFETCH(int, line);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        const char *fileName = file.isNull() ? nullptr : file.constData();
        QCOMPARE(formatLogLine(QtMsgType(type), fileName, line, message, QTime(8, 15, 2, 123)),
                 expected);
    }

    void writesOneCrLfTerminatedLinePerMessage()
    {
        qInstallMessageHandler(logMessageHandler);
        qInfo() << "KivVelnorService error:" << 3;
        qInfo("two\nlines");
        const QByteArray log = readLog(QDate::currentDate());
        const QList<QByteArray> lines = log.split('\n');
        QCOMPARE(lines.size(), 4); // "[..]:a\r", "[..]:two", "lines\r", ""
        QVERIFY(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "
                                                  "\"\\(0\\)\"\\]:KivVelnorService error: 3\r$"))
                    .match(QString::fromUtf8(lines[0]))
                    .hasMatch());
        QVERIFY(log.endsWith("]:two\nlines\r\n"));
        QCOMPARE(log.count("\r\n"), 2);
    }

    void midnightSplitsFiles()
    {
        midnightReadings = 0;
        writeLogMessage(QtInfoMsg, noLocation(), QStringLiteral("late"), &midnightClock);
        // The line keeps the old day's time; the file is chosen by the second reading.
        QCOMPARE(readLog(QDate(2027, 1, 1)), QByteArray("[23:59:59.999  \"(0)\"]:late\r\n"));
        QVERIFY(readLog(QDate(2026, 12, 31)).isEmpty());

        writeLogMessage(QtInfoMsg, noLocation(), QStringLiteral("before"),
                        [] { return QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 500)); });
        writeLogMessage(QtInfoMsg, noLocation(), QStringLiteral("after"),
                        [] { return QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 500)); });
        QCOMPARE(readLog(QDate(2026, 12, 31)), QByteArray("[23:59:59.500  \"(0)\"]:before\r\n"));
        QVERIFY(readLog(QDate(2027, 1, 1)).endsWith("[00:00:00.500  \"(0)\"]:after\r\n"));
    }

    void concurrentMessagesNeverInterleave()
    {
        qInstallMessageHandler(logMessageHandler);
        const int threads = 6, perThread = 150;
        QList<QThread *> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qInfo(
                        "thread %d message %d with a long enough tail to make a torn write visible",
                        t, i);
            });
            workers.last()->start();
        }
        for (QThread *worker : workers) {
            QVERIFY(worker->wait(30000));
            delete worker;
        }
        const QList<QByteArray> lines = readLog(QDate::currentDate()).split('\n');
        QCOMPARE(lines.size(), threads * perThread + 1);
        const QRegularExpression shape(
            QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  \"\\(0\\)\"\\]:thread \\d message "
                           "\\d+ with a long enough tail to make a torn write visible\r$"));
        for (int i = 0; i < lines.size() - 1; ++i)
            QVERIFY2(shape.match(QString::fromUtf8(lines[i])).hasMatch(), lines[i].constData());
    }

    void missingFolderDropsMessagesSilently()
    {
        QVERIFY(QDir(logDir()).removeRecursively());
        qInstallMessageHandler(logMessageHandler);
        qInfo("lost");
        qWarning("also lost");
        QVERIFY(!QDir(logDir()).exists());
    }
};

QTEST_GUILESS_MAIN(LogHandlerTest)
#include "tst_loghandler.moc"
