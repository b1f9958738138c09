#include "logcapture.h"
#include "net/firstinstallflag.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray SavedFalse = "{\n    \"is_first_install\": false\n}\n";
const QByteArray SavedTrue = "{\n    \"is_first_install\": true\n}\n";

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestFirstInstallFlag : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loading_data();
    void loading();
    void saveWritesIndentedDocument();
    void saveIntoMissingFolderFailsQuietly();
    void savedAtExitAndReadNextRun_data();
    void savedAtExitAndReadNextRun();

private:
    QTemporaryDir m_dir;
};

void TestFirstInstallFlag::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void TestFirstInstallFlag::loading_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("expectedLog");

    const QStringList quiet;
    const QStringList parseError { QStringLiteral("json parseError") };
    QTest::newRow("no file") << false << QByteArray() << true << quiet;
    QTest::newRow("true") << true << QByteArray(R"({"is_first_install": true})") << true << quiet;
    QTest::newRow("false") << true << SavedFalse << false << quiet;
    QTest::newRow("empty object") << true << QByteArray("{}") << false << quiet;
    QTest::newRow("number") << true << QByteArray(R"({"is_first_install": 1})") << false << quiet;
    QTest::newRow("string") << true << QByteArray(R"({"is_first_install": "true"})") << false
                            << quiet;
    QTest::newRow("array root") << true << QByteArray("[true]") << false << quiet;
    QTest::newRow("empty file") << true << QByteArray() << true << parseError;
    QTest::newRow("not JSON") << true << QByteArray("is_first_install=false") << true << parseError;
}

void TestFirstInstallFlag::loading()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(bool, expected);
    QFETCH(QStringList, expectedLog);

    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".inf");
    if (exists)
        writeFile(path, content);
    LogCapture log;
    LogCapture::clear();
    const FirstInstallFlag flag(path);
    QCOMPARE(flag.isFirstInstall(), expected);
    QCOMPARE(LogCapture::lines(QtInfoMsg), expectedLog);
    // Loading never writes.
    QCOMPARE(QFile::exists(path), exists);
}

void TestFirstInstallFlag::saveWritesIndentedDocument()
{
    const QString path = m_dir.filePath("save.inf");
    writeFile(path, QByteArray(200, 'x'));
    FirstInstallFlag flag(path);
    QVERIFY(flag.isFirstInstall());
    flag.setFirstInstall(false);
    QVERIFY(!flag.isFirstInstall());
    QVERIFY(flag.save());
    QCOMPARE(readFile(path), SavedFalse);
    flag.setFirstInstall(true);
    QVERIFY(flag.save());
    QCOMPARE(readFile(path), SavedTrue);
}

void TestFirstInstallFlag::saveIntoMissingFolderFailsQuietly()
{
    LogCapture log;
    LogCapture::clear();
    FirstInstallFlag flag(m_dir.filePath("missing/setting.inf"));
    QVERIFY(!flag.save());
    QVERIFY(!QFile::exists(m_dir.filePath("missing/setting.inf")));
    QCOMPARE(LogCapture::count(), 0);
}

void TestFirstInstallFlag::savedAtExitAndReadNextRun_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("firstRun");

    QTest::newRow("first run") << false << QByteArray() << true;
    QTest::newRow("file not JSON") << true << QByteArray("garbage") << true;
    QTest::newRow("welcome already shown") << true << SavedFalse << false;
}

// The helper is the process-wide flag's user: it prints the flag, clears it and exits.
void TestFirstInstallFlag::savedAtExitAndReadNextRun()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(bool, firstRun);

    QTemporaryDir dataHome;
    QVERIFY(dataHome.isValid());
    const QString folder = dataHome.filePath("QXLT/VelnorAssistant");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/setting.inf";
    if (exists)
        writeFile(path, content);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", dataHome.path());
    auto run = [&environment] {
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(QStringLiteral(VELNOR_NET_EXIT_HELPER), { "flag" });
        if (!helper.waitForFinished(20000) || helper.exitStatus() != QProcess::NormalExit
            || helper.exitCode() != 0)
            return QByteArray("failed");
        return helper.readAllStandardOutput().trimmed();
    };
    QCOMPARE(run(), QByteArray(firstRun ? "true" : "false"));
    QCOMPARE(readFile(path), SavedFalse);
    QCOMPARE(run(), QByteArray("false"));
    QCOMPARE(readFile(path), SavedFalse);
}

QTEST_GUILESS_MAIN(TestFirstInstallFlag)
#include "tst_firstinstallflag.moc"
