#include "platform/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString FailedStartLine = QStringLiteral("KivVelnorService error: QProcess::FailedToStart");

// One user session: its own runtime folder (the single-instance marker) and data folder (the log).
class Session
{
public:
    Session()
    {
        QDir(dir.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(path(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner);
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }

    // Copies the assistant into a folder of its own, so that its "server" folder is ours to lay
    // out.
    QString installAssistant(const QString &folder) const
    {
        QDir().mkpath(path(folder));
        const QString target = path(folder + QStringLiteral("/VelnorAssistant"));
        QFile::copy(QStringLiteral(ASSISTANT_BINARY), target);
        return target;
    }

    // Puts a shell script in the place of the media service beside the assistant in folder.
    bool installServiceScript(const QString &folder, const QByteArray &body) const
    {
        QDir().mkpath(path(folder + QStringLiteral("/server")));
        QFile script(path(folder + QStringLiteral("/server/KivVelnorService")));
        if (!script.open(QIODevice::WriteOnly))
            return false;
        script.write("#!/bin/sh\n" + body);
        script.close();
        return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }

    QProcess *start(const QString &program, const QStringList &arguments = {})
    {
        auto *process = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        processes << process;
        return process;
    }

    // Lines of every log file the assistant wrote in this session.
    QStringList logLines(const QString &appName = QStringLiteral("VelnorAssistant")) const
    {
        QStringList lines;
        QDir logs(path(QStringLiteral("data/QXLT/") + appName));
        for (const QString &name :
             logs.entryList({ QStringLiteral("*.txt") }, QDir::Files, QDir::Name)) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                lines << QString::fromUtf8(file.readAll())
                             .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        }
        return lines;
    }

    int count(const QString &text) const { return logLines().filter(text).size(); }

    ~Session()
    {
        // Ask politely first, so that an assistant ends the service it launched.
        for (QProcess *process : qAsConst(processes)) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
            }
            process->waitForFinished(2000);
            delete process;
        }
    }

    QTemporaryDir dir;
    QList<QProcess *> processes;
};

QTime lineTime(const QString &line)
{
    return QTime::fromString(line.mid(1, 12), QStringLiteral("hh:mm:ss.zzz"));
}

// A real executable with the given name that just waits: /proc/<pid>/exe then carries that name.
QProcess *startNamedProcess(Session &session, const QString &name)
{
    QDir().mkpath(session.path(QStringLiteral("decoy")));
    const QString program = session.path(QStringLiteral("decoy/") + name);
    QFile::copy(QStringLiteral("/bin/sleep"), program);
    return session.start(program, { QStringLiteral("30") });
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Every assistant started here would see it and launch nothing: fail at once and say why.
        QVERIFY2(!platform::runningProcessNames().contains(QStringLiteral("KivVelnorService")),
                 "a KivVelnorService process is running on this machine; these tests need none");
    }

    void entryFunctionExitCode_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("root scene cannot be created") << "broken" << 255; // -1 as a process status
        QTest::newRow("last window closed") << "closing" << 0;
    }

    void entryFunctionExitCode()
    {
        QFETCH(QString, scene);
        QFETCH(int, exitCode);
        Session session;
        QProcess *probe = session.start(QStringLiteral(PROBE_BINARY), { scene });
        QVERIFY(probe->waitForFinished(20000));
        QCOMPARE(probe->exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe->exitCode(), exitCode);
    }

    void failedServiceStartIsRetriedEveryThreeSeconds()
    {
        Session session;
        QProcess *first = session.start(session.installAssistant(QStringLiteral("app")));
        QTRY_VERIFY_WITH_TIMEOUT(session.count(FailedStartLine) >= 2, 15000);
        const QStringList lines = session.logLines().filter(FailedStartLine);
        for (const QString &line : lines)
            QVERIFY2(QRegularExpression(
                         QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  \"\\(0\\)\"\\]:")
                         + FailedStartLine + "$")
                         .match(line)
                         .hasMatch(),
                     qPrintable(line));
        const int gap = lineTime(lines[0]).msecsTo(lineTime(lines[1]));
        // A three-second single shot is a coarse timer, which may fire up to 5% early.
        QVERIFY2(gap >= 2500 && gap < 4500, qPrintable(QString::number(gap)));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void secondInstanceShowsNoticeAndEnds()
    {
        Session session;
        const QString program = session.installAssistant(QStringLiteral("app"));
        QProcess *first = session.start(program);
        QTRY_VERIFY_WITH_TIMEOUT(session.count(FailedStartLine) >= 1, 15000);

        QProcess *second = session.start(program);
        // The notice closes itself after four seconds.
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
    }

    void markerOfKilledInstanceDoesNotBlock()
    {
        Session session;
        const QString program = session.installAssistant(QStringLiteral("app"));
        QProcess *first = session.start(program);
        QTRY_VERIFY_WITH_TIMEOUT(session.count(FailedStartLine) >= 1, 15000);
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(5000));

        const int before = session.count(FailedStartLine);
        QProcess *next = session.start(program);
        // Only a first instance launches the service; a second one would end after its notice.
        QTRY_VERIFY_WITH_TIMEOUT(session.count(FailedStartLine) > before, 15000);
        QCOMPARE(next->state(), QProcess::Running);
    }

    void runningServiceIsNotLaunchedAgain_data()
    {
        QTest::addColumn<QString>("runningName");
        QTest::addColumn<bool>("launched");
        QTest::newRow("same name") << "KivVelnorService" << false;
        QTest::newRow("name differs in case") << "kivVelnorService" << true;
    }

    void runningServiceIsNotLaunchedAgain()
    {
        QFETCH(QString, runningName);
        QFETCH(bool, launched);
        Session session;
        QProcess *decoy = startNamedProcess(session, runningName);
        QVERIFY(decoy->waitForStarted(5000));

        const QString program = session.installAssistant(QStringLiteral("app"));
        QVERIFY(
            session.installServiceScript(QStringLiteral("app"), "touch launched\nexec sleep 30\n"));

        session.start(program);
        const QString marker = session.path(QStringLiteral("app/server/launched"));
        QTest::qWait(0);
        if (launched) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 15000);
        } else {
            QTest::qWait(3000);
            QVERIFY(!QFile::exists(marker));
            QCOMPARE(session.count(QStringLiteral("KivVelnorService error:")), 0);
        }
    }

    void serviceOutputIsNotKeptInMemory()
    {
        Session session;
        const QString program = session.installAssistant(QStringLiteral("app"));
        // A chatty service: 300 MB on each of its output streams.
        QVERIFY(session.installServiceScript(QStringLiteral("app"),
                                             "head -c 300000000 /dev/zero\n"
                                             "head -c 300000000 /dev/zero >&2\n"
                                             "touch done\nexec sleep 30\n"));

        QProcess *assistant = session.start(program);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(session.path(QStringLiteral("app/server/done"))),
                                 30000);
        QFile status(QStringLiteral("/proc/%1/status").arg(assistant->processId()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const QString rss = QString::fromLatin1(status.readAll())
                                .section(QStringLiteral("VmRSS:"), 1)
                                .section(QStringLiteral("kB"), 0, 0);
        QVERIFY2(rss.trimmed().toLongLong() < 250 * 1024, qPrintable(rss));
    }

    void terminationEndsLaunchedService()
    {
        Session session;
        const QString program = session.installAssistant(QStringLiteral("app"));
        QVERIFY(
            session.installServiceScript(QStringLiteral("app"), "echo $$ > pid\nexec sleep 30\n"));

        QProcess *assistant = session.start(program);
        const QString pidFile = session.path(QStringLiteral("app/server/pid"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(pidFile).size() > 0, 15000);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const pid_t servicePid = pid_t(file.readAll().trimmed().toInt());
        QVERIFY(servicePid > 0);

        assistant->terminate();
        QVERIFY(assistant->waitForFinished(10000));
        QCOMPARE(assistant->exitStatus(), QProcess::NormalExit);
        QCOMPARE(assistant->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(servicePid, 0) != 0, 5000);
    }

    // The real service, on a port of its own. Asked to stop and given the time, it logs "stopped"
    // last; killed outright it never gets there, and the assistant would log a crash.
    void closingStopsTheRealServiceInOrder()
    {
#ifndef SERVICE_BINARY
        QSKIP("the media service is not built");
#else
        Session session;
        const QString program = session.installAssistant(QStringLiteral("app"));
        const QString data = session.path(QStringLiteral("service-data"));
        QVERIFY(session.installServiceScript(QStringLiteral("app"),
                                             "exec '" SERVICE_BINARY
                                             "' --port 0 --no-lan --data-dir '"
                                                 + QFile::encodeName(data) + "'\n"));
        const auto serviceLog = [&] {
            QStringList lines;
            QDir logs(data + QStringLiteral("/logs"));
            for (const QString &name :
                 logs.entryList({ QStringLiteral("*.txt") }, QDir::Files, QDir::Name)) {
                QFile file(logs.filePath(name));
                if (file.open(QIODevice::ReadOnly))
                    lines << QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
            }
            return lines;
        };

        QProcess *assistant = session.start(program);
        QTRY_VERIFY_WITH_TIMEOUT(
            !serviceLog().filter(QStringLiteral("control interface on")).isEmpty(), 15000);
        // Ends the event loop as the last window closing does; the same teardown follows.
        assistant->terminate();
        QVERIFY(assistant->waitForFinished(10000));
        QCOMPARE(assistant->exitStatus(), QProcess::NormalExit);
        QCOMPARE(assistant->exitCode(), 0);

        const QStringList lines = serviceLog();
        QVERIFY(!lines.isEmpty());
        QVERIFY2(lines.last().endsWith(QLatin1String("] stopped")), qPrintable(lines.join('\n')));
        QCOMPARE(session.logLines().filter(QStringLiteral("KivVelnorService error:")),
                 QStringList());
#endif
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
