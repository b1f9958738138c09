// Everyday videos of the lengths, codecs and containers people have, imported into the real
// service: a 10-second H.264 clip once crashed what 1-second clips never showed. And a file
// whose reading once ended the service is skipped from then on, until it changes.
#include "fixtures.h"
#include "serviceprocess.h"

#include "service/probejournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Sample
{
    const char *name;
    QStringList recipe;
    int height;
    int seconds;
};

QStringList source(const char *size, int rate, int seconds)
{
    return {
        "-f", "lavfi", "-i",
        QStringLiteral("testsrc=size=%1:rate=%2:duration=%3").arg(size).arg(rate).arg(seconds)
    };
}

QStringList tone(int seconds)
{
    return { "-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds) };
}

const QStringList H264 { "-c:v", "libx264", "-pix_fmt", "yuv420p" };

const QList<Sample> &samples()
{
    static const QList<Sample> all {
        { "h264_8s.mp4", source("160x120", 25, 8) + H264, 120, 8 },
        { "h264_10s.mp4", source("160x120", 25, 10) + H264, 120, 10 },
        { "h264_12s.mp4", source("160x120", 25, 12) + H264, 120, 12 },
        { "h264_20s_aac.mp4",
          source("160x120", 25, 20) + tone(20) + H264 + QStringList { "-c:a", "aac" }, 120, 20 },
        { "h264_30s_aac.mkv",
          source("160x120", 25, 30) + tone(30) + H264 + QStringList { "-c:a", "aac" }, 120, 30 },
        { "h264_24fps.mp4", source("160x120", 24, 10) + H264 + QStringList { "-frames:v", "250" },
          120, 10 },
        { "h264_long_gop.mp4", source("160x120", 25, 20) + H264 + QStringList { "-g", "500" }, 120,
          20 },
        { "hevc10.mkv",
          source("160x120", 25, 3)
              + QStringList { "-c:v", "libx265", "-pix_fmt", "yuv420p10le", "-x265-params",
                              "log-level=error" },
          120, 3 },
        { "vp9_opus.webm",
          source("160x120", 25, 3) + tone(3)
              + QStringList { "-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8",
                              "-c:a", "libopus" },
          120, 3 },
        { "mpeg4.avi", source("160x120", 25, 3) + QStringList { "-c:v", "mpeg4" }, 120, 3 },
        { "mpeg2.mpg", source("160x120", 25, 3) + QStringList { "-c:v", "mpeg2video" }, 120, 3 },
        { "wmv.wmv",
          source("160x120", 25, 3) + tone(3) + QStringList { "-c:v", "wmv2", "-c:a", "wmav2" }, 120,
          3 },
        { "flash.flv", source("160x120", 25, 3) + QStringList { "-c:v", "flv1" }, 120, 3 },
        { "h263.3gp", source("176x144", 15, 3) + QStringList { "-c:v", "h263" }, 144, 3 },
        { "prores.mov", source("160x120", 25, 2) + QStringList { "-c:v", "prores_ks" }, 120, 2 },
        { "odd_size.mp4", source("250x142", 25, 3) + H264, 142, 3 },
        { "portrait.m4v", source("120x212", 25, 3) + H264, 212, 3 },
    };
    return all;
}

} // namespace

class ServiceCorpusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyPlayableFileIsIndexed_data();
    void everyPlayableFileIsIndexed();
    void brokenFilesAreFailuresAndTheServiceRuns();
    void fileThatEndedTheServiceIsSkippedUntilItChanges();

private:
    QTemporaryDir m_temp;
    QString m_folder;
    ServiceProcess m_service;
    QJsonObject m_imported;
    QJsonArray m_listing;
};

void ServiceCorpusTest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_folder = m_temp.filePath("Everyday");
    QHash<QString, QStringList> recipes;
    for (const Sample &sample : samples())
        recipes.insert(sample.name, sample.recipe);
    QString error;
    QVERIFY2(fixtures::encode(m_folder, recipes, error), qPrintable(error));
    // Its index lies at the end, so the first part alone is not a readable video.
    QFile whole(m_folder + "/h264_10s.mp4");
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QVERIFY(fixtures::writeText(m_folder + "/truncated.mp4", whole.read(whole.size() / 3)));
    QVERIFY(fixtures::writeText(m_folder + "/empty.mp4", {}));

    QVERIFY(m_service.start(m_temp.filePath("data")));
    const ServiceReply reply = m_service.importPath(m_folder);
    QCOMPARE(reply.code(), 0);
    m_imported = reply.data().toObject();
    m_listing = m_service.list(m_imported.value("id").toInt());
}

void ServiceCorpusTest::everyPlayableFileIsIndexed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("seconds");
    for (const Sample &sample : samples())
        QTest::newRow(sample.name) << QString(sample.name) << sample.height << sample.seconds;
}

void ServiceCorpusTest::everyPlayableFileIsIndexed()
{
    QFETCH(QString, name);
    QFETCH(int, height);
    QFETCH(int, seconds);
    const QJsonObject entry = entryNamed(m_listing, name);
    QVERIFY2(!entry.isEmpty(), "not in the library");
    const QJsonObject metadata = entry.value("metadata").toObject();
    QCOMPARE(metadata.value("height").toInt(), height);
    QVERIFY2(qAbs(metadata.value("duration").toDouble() - seconds * 1000.0) < 200,
             qPrintable(QString::number(metadata.value("duration").toDouble())));
    const ServiceReply cover = m_service.get(metadata.value("cover_img").toString());
    QCOMPARE(cover.status, 200);
    const QImage picture = QImage::fromData(cover.body, "JPEG");
    QCOMPARE(qMax(picture.width(), picture.height()), 320);
}

void ServiceCorpusTest::brokenFilesAreFailuresAndTheServiceRuns()
{
    QCOMPARE(m_imported.value("successCount").toInt(), samples().size());
    QCOMPARE(m_imported.value("failureCount").toInt(), 2);
    QVERIFY(entryNamed(m_listing, "truncated.mp4").isEmpty());
    QVERIFY(entryNamed(m_listing, "empty.mp4").isEmpty());
    QCOMPARE(m_service.process().state(), QProcess::Running);
    QVERIFY(m_service.terminate() >= 0);
}

void ServiceCorpusTest::fileThatEndedTheServiceIsSkippedUntilItChanges()
{
    const QString data = m_temp.filePath("data-crashed");
    const QString poison = m_folder + "/h264_8s.mp4";
    struct stat info
    {
    };
    QVERIFY(stat(QFile::encodeName(poison).constData(), &info) == 0);
    // A process that crashes in the middle of reading the file, as the service did on a
    // decoder fault.
    QVERIFY(QDir().mkpath(data));
    const pid_t child = fork();
    if (child == 0) {
        svc::ProbeJournal journal(QFile::encodeName(data).toStdString());
        const svc::ProbeJournal::File file { QFile::encodeName(poison).toStdString(),
                                             int64_t(info.st_size),
                                             int64_t(info.st_mtim.tv_sec) * 1000
                                                 + info.st_mtim.tv_nsec / 1000000 };
        const svc::ProbeJournal::Reading reading(&journal, file);
        raise(SIGSEGV);
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV);

    ServiceProcess service;
    QVERIFY(service.start(data));
    ServiceReply reply = service.importPath(m_folder);
    QCOMPARE(reply.code(), 0);
    QCOMPARE(reply.data().toObject().value("failureCount").toInt(), 3);
    const int folder = reply.data().toObject().value("id").toInt();
    QVERIFY(entryNamed(service.list(folder), "h264_8s.mp4").isEmpty());
    QVERIFY(!entryNamed(service.list(folder), "h264_10s.mp4").isEmpty());

    // Still skipped after a restart: the journal of that run is not the only record.
    QVERIFY(service.terminate() >= 0);
    QVERIFY(service.start(data));
    QCOMPARE(service.importPath(m_folder).data().toObject().value("failureCount").toInt(), 3);

    // A new copy of the file is a new file.
    QFile file(poison);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                             QFileDevice::FileModificationTime));
    file.close();
    reply = service.importPath(m_folder);
    QCOMPARE(reply.data().toObject().value("failureCount").toInt(), 2);
    QVERIFY(!entryNamed(service.list(folder), "h264_8s.mp4").isEmpty());
}

QTEST_GUILESS_MAIN(ServiceCorpusTest)
#include "tst_service_corpus.moc"
