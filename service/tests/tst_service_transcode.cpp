// What the headset cannot play as it is: which files are remuxed or transcoded, how such a stream
// is announced, the ffmpeg command for it, time seeks, and the ffmpeg children themselves: what
// they send, and that none outlives its stream.
#include "fixtures.h"
#include "serviceprocess.h"

#include "service/database.h"
#include "service/mediaprobe.h"
#include "service/playability.h"
#include "service/timeseek.h"
#include "service/transcoder.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSize>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(svc::Delivery)
Q_DECLARE_METATYPE(svc::StreamFacts)

namespace {

using std::chrono::milliseconds;

svc::StreamFacts facts(const char *container, const char *codec, int profile,
                       const char *pixelFormat, int bitDepth, int width, int height,
                       const char *audio)
{
    svc::StreamFacts facts;
    facts.container = container;
    facts.videoCodec = codec;
    facts.profile = profile;
    facts.pixelFormat = pixelFormat;
    facts.bitDepth = bitDepth;
    facts.width = width;
    facts.height = height;
    facts.audioCodec = audio;
    return facts;
}

const char *Mp4 = "mov,mp4,m4a,3gp,3g2,mj2";
const char *Mkv = "matroska,webm";

// Processes whose parent is parent (this test by default): the ffmpeg children a stream may
// have left.
int childProcesses(qint64 parent = getpid())
{
    int count = 0;
    const QString self = QString::number(parent);
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!entry.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self.toLatin1())
            ++count;
    }
    return count;
}

QByteArray readWhole(svc::TranscodeStream &stream)
{
    QByteArray all;
    char buffer[65536];
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000) {
        const ssize_t n = stream.read(buffer, sizeof buffer, milliseconds(1000));
        if (n == 0)
            break;
        if (n > 0)
            all.append(buffer, int(n));
    }
    return all;
}

QString run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAll());
}

QJsonObject ffprobe(const QString &file)
{
    QProcess process;
    process.start("ffprobe",
                  { "-v", "error", "-show_entries",
                    "stream=codec_type,codec_name:format=format_name,duration", "-of", "json",
                    file });
    process.waitForFinished(20000);
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

QString codecOf(const QJsonObject &probe, const QString &type)
{
    for (const QJsonValue &stream : probe["streams"].toArray()) {
        if (stream["codec_type"].toString() == type)
            return stream["codec_name"].toString();
    }
    return {};
}

svc::Transcoder::Options libx264(unsigned maxStreams = 2)
{
    svc::Transcoder::Options options;
    options.encoder = svc::EncoderChoice {};
    options.maxStreams = maxStreams;
    return options;
}

} // namespace

class ServiceTranscodeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probedClips_data();
    void probedClips();
    void decided_data();
    void decided();
    void announced_data();
    void announced();
    void transcodedSizes_data();
    void transcodedSizes();
    void arguments_data();
    void arguments();
    void nptRanges_data();
    void nptRanges();
    void startSegments_data();
    void startSegments();
    void conversionsPlayWhole_data();
    void conversionsPlayWhole();
    void seekStartsThere();
    void droppedReaderLeavesNoChild();
    void startsBeyondTheLimitAreRefused();
    void vaapiFailureFallsBackToX264();
    void childFaults_data();
    void childFaults();
    void stopAllEndsEveryStream();
    void servedByTheService_data();
    void servedByTheService();
    void playersThatLeaveLeaveNoProcess();
    void olderLibrariesLearnTheirCodecs();

private:
    QString clip(const QString &name) const { return m_dir.path() + "/" + name; }
    svc::MediaInfo probe(const QString &name)
    {
        const auto result = svc::probeVideo(clip(name).toStdString(), false);
        return result.info;
    }

    QTemporaryDir m_dir;
};

void ServiceTranscodeTest::initTestCase()
{
    svc::quietMediaLibraries();
    QString error;
    QVERIFY2(fixtures::make(m_dir.path(),
                            { "wmv2.wmv", "mpeg2.mpg", "flv1.flv", "xvid.avi", "h264.avi",
                              "prores.mov", "h264aac.mp4", "h264hi10.mkv", "hevc10.mp4" },
                            error),
             qPrintable(error));
}

void ServiceTranscodeTest::probedClips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<svc::Delivery>("delivery");
    QTest::addColumn<QString>("audio");
    QTest::addColumn<int>("bitDepth");
    using D = svc::Delivery;
    QTest::newRow("WMV in ASF") << "wmv2.wmv" << D::Transcode << "wmav2" << 8;
    QTest::newRow("MPEG-2 in MPEG-PS") << "mpeg2.mpg" << D::Transcode << "mp2" << 8;
    QTest::newRow("Sorenson in FLV") << "flv1.flv" << D::Transcode << "mp3" << 8;
    QTest::newRow("MPEG-4 ASP in AVI") << "xvid.avi" << D::Transcode << "mp3" << 8;
    QTest::newRow("H.264 in AVI") << "h264.avi" << D::Remux << "mp3" << 8;
    QTest::newRow("ProRes in MOV") << "prores.mov" << D::Transcode << "" << 10;
    QTest::newRow("H.264 and AAC in MP4") << "h264aac.mp4" << D::Direct << "aac" << 8;
    QTest::newRow("10-bit H.264 in MKV") << "h264hi10.mkv" << D::Transcode << "" << 10;
    QTest::newRow("10-bit HEVC in MP4") << "hevc10.mp4" << D::Direct << "" << 10;
}

void ServiceTranscodeTest::probedClips()
{
    QFETCH(QString, name);
    const svc::MediaInfo info = probe(name);
    QVERIFY(!info.container.empty());
    QFETCH(QString, audio);
    QCOMPARE(QString::fromStdString(info.audioCodec), audio);
    QTEST(info.bitDepth, "bitDepth");
    QTEST(svc::decideDelivery(svc::streamFacts(info)), "delivery");
}

void ServiceTranscodeTest::decided_data()
{
    QTest::addColumn<svc::StreamFacts>("facts");
    QTest::addColumn<svc::Delivery>("delivery");
    using D = svc::Delivery;
    const int unknown = svc::UnknownProfile;
    QTest::newRow("H.264 at the 4096 limit")
        << facts(Mp4, "h264", 100, "yuv420p", 8, 4096, 4096, "aac") << D::Direct;
    QTest::newRow("H.264 past it")
        << facts(Mp4, "h264", 100, "yuv420p", 8, 4098, 2048, "aac") << D::Transcode;
    QTest::newRow("H.264 High 10 in 8 bits")
        << facts(Mkv, "h264", 110, "yuv420p", 8, 1920, 1080, "") << D::Transcode;
    QTest::newRow("H.264 in FLV") << facts("flv", "h264", 77, "yuv420p", 8, 1280, 720, "aac")
                                  << D::Remux;
    QTest::newRow("H.264 and WMA in ASF")
        << facts("asf", "h264", 100, "yuv420p", 8, 1280, 720, "wmav2") << D::Remux;
    QTest::newRow("H.264 and DTS in MKV")
        << facts(Mkv, "h264", 100, "yuv420p", 8, 1920, 1080, "dts") << D::Remux;
    QTest::newRow("HEVC 12-bit") << facts(Mkv, "hevc", 4, "yuv420p12le", 12, 3840, 2160, "aac")
                                 << D::Transcode;
    QTest::newRow("HEVC 10-bit 4:2:2")
        << facts(Mkv, "hevc", 4, "yuv422p10le", 10, 3840, 2160, "aac") << D::Transcode;
    QTest::newRow("HEVC 8K") << facts(Mp4, "hevc", 2, "yuv420p10le", 10, 8192, 4096, "aac")
                             << D::Direct;
    QTest::newRow("VP9 in AVI, which TS cannot carry")
        << facts("avi", "vp9", 0, "yuv420p", 8, 1920, 1080, "mp3") << D::Transcode;
    QTest::newRow("AV1 and Opus in WebM")
        << facts(Mkv, "av1", 0, "yuv420p10le", 10, 3840, 2160, "opus") << D::Direct;
    QTest::newRow("MPEG-4 part 2 in MP4")
        << facts(Mp4, "mpeg4", 0, "yuv420p", 8, 640, 480, "aac") << D::Transcode;
    QTest::newRow("nothing known") << facts("", "", unknown, "", 0, 0, 0, "") << D::Direct;
    QTest::newRow("H.264 of unknown profile")
        << facts(Mp4, "h264", unknown, "", 0, 1920, 1080, "aac") << D::Direct;
}

void ServiceTranscodeTest::decided()
{
    QFETCH(svc::StreamFacts, facts);
    QTEST(svc::decideDelivery(facts), "delivery");
}

void ServiceTranscodeTest::announced_data()
{
    QTest::addColumn<svc::StreamFacts>("facts");
    QTest::addColumn<svc::Delivery>("delivery");
    QTest::addColumn<QString>("profile");
    using D = svc::Delivery;
    QTest::newRow("transcode 720p")
        << facts("mpeg", "mpeg2video", 4, "yuv420p", 8, 1280, 720, "mp2") << D::Transcode
        << "AVC_TS_MP_HD_AAC_MULT5_ISO";
    QTest::newRow("transcode PAL") << facts("avi", "mpeg4", 15, "yuv420p", 8, 720, 576, "mp3")
                                   << D::Transcode << "AVC_TS_MP_SD_AAC_MULT5_ISO";
    QTest::newRow("transcode 4K: no profile")
        << facts(Mp4, "prores", 0, "yuv422p10le", 10, 3840, 2160, "aac") << D::Transcode << "";
    QTest::newRow("transcode without sound")
        << facts(Mp4, "prores", 0, "yuv422p10le", 10, 1280, 720, "") << D::Transcode << "";
    QTest::newRow("remux High and AC-3")
        << facts("avi", "h264", 100, "yuv420p", 8, 1920, 1080, "ac3") << D::Remux
        << "AVC_TS_HP_HD_AC3_ISO";
    QTest::newRow("remux High and AAC")
        << facts("flv", "h264", 100, "yuv420p", 8, 1920, 1080, "aac") << D::Remux << "";
    QTest::newRow("remux Main, WMA made AAC")
        << facts("asf", "h264", 77, "yuv420p", 8, 1280, 720, "wmav2") << D::Remux
        << "AVC_TS_MP_HD_AAC_MULT5_ISO";
    QTest::newRow("remux HEVC") << facts("avi", "hevc", 1, "yuv420p", 8, 1280, 720, "mp3")
                                << D::Remux << "";
}

void ServiceTranscodeTest::announced()
{
    QFETCH(svc::StreamFacts, facts);
    QFETCH(svc::Delivery, delivery);
    QFETCH(QString, profile);
    const svc::ConvertedType type = svc::convertedType(facts, delivery);
    QCOMPARE(QString::fromStdString(type.profile), profile);
    const QString expected = QString("http-get:*:video/mpeg:")
        + (profile.isEmpty() ? "" : "DLNA.ORG_PN=" + profile + ";")
        + "DLNA.ORG_OP=10;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=01500000000000000000000000000000";
    QCOMPARE(QString::fromStdString(type.protocolInfo), expected);
    QVERIFY(svc::convertedType(facts, svc::Delivery::Direct).protocolInfo.empty());
}

void ServiceTranscodeTest::transcodedSizes_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("sent");
    QTest::newRow("within the limit") << QSize(3840, 2160) << QSize(3840, 2160);
    QTest::newRow("wide VR") << QSize(5760, 2880) << QSize(4096, 2048);
    QTest::newRow("tall, rounded as ffmpeg rounds") << QSize(3000, 5000) << QSize(2458, 4096);
    QTest::newRow("odd sides") << QSize(321, 241) << QSize(320, 240);
}

void ServiceTranscodeTest::transcodedSizes()
{
    QFETCH(QSize, source);
    const svc::PictureSize sent = svc::transcodedSize(source.width(), source.height());
    QTEST(QSize(sent.width, sent.height), "sent");
}

void ServiceTranscodeTest::arguments_data()
{
    // present: runs of adjacent arguments, blank-separated; absent: single arguments.
    QTest::addColumn<svc::StreamFacts>("facts");
    QTest::addColumn<svc::Delivery>("delivery");
    QTest::addColumn<qlonglong>("startMs");
    QTest::addColumn<QString>("device"); // empty: libx264
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    using D = svc::Delivery;
    const QString scale = "-vf scale=w='min(iw,4096)':h='min(ih,4096)':force_original_aspect_"
                          "ratio=decrease:force_divisible_by=2";
    const auto mpeg2 = facts("mpeg", "mpeg2video", 4, "yuv420p", 8, 1920, 1080, "mp2");
    QTest::newRow("transcode") << mpeg2 << D::Transcode << 0LL << ""
                               << QStringList { "-nostdin",
                                                "-i file:/v/concat:a|b.mpg -map 0:V:0 -map 0:a:0?",
                                                "-c:v libx264 -preset veryfast",
                                                "-profile:v main -pix_fmt yuv420p",
                                                "-force_key_frames expr:gte(t,n_forced*2)",
                                                "-c:a aac -ac 2",
                                                "-muxdelay 0 -muxpreload 0",
                                                "-f mpegts pipe:1" }
                               << QStringList { "-vf", "-ss", "-output_ts_offset", "copy" };
    QTest::newRow("transcode wider than 4096")
        << facts(Mp4, "prores", 0, "yuv422p10le", 10, 5760, 2880, "aac") << D::Transcode << 0LL
        << "" << QStringList { scale } << QStringList {};
    QTest::newRow("remux copies what TS carries")
        << facts("avi", "h264", 100, "yuv420p", 8, 1280, 720, "mp3") << D::Remux << 0LL << ""
        << QStringList { "-fflags +genpts", "-c:v copy -c:a copy" }
        << QStringList { "aac", "libx264", "-vf" };
    QTest::newRow("remux encodes WMA")
        << facts("asf", "h264", 100, "yuv420p", 8, 1280, 720, "wmav2") << D::Remux << 0LL << ""
        << QStringList { "-c:v copy -c:a aac" } << QStringList {};
    QTest::newRow("seek") << mpeg2 << D::Transcode << 90500LL << ""
                          << QStringList { "-ss 90.500 -i", "-output_ts_offset 90.500" }
                          << QStringList {};
    QTest::newRow("VA-API") << facts(Mp4, "prores", 0, "yuv422p10le", 10, 5760, 2880, "aac")
                            << D::Transcode << 0LL << "/dev/dri/renderD128"
                            << QStringList { "-vaapi_device /dev/dri/renderD128",
                                             scale + ",format=nv12,hwupload",
                                             "-c:v h264_vaapi -profile:v main" }
                            << QStringList { "libx264", "-pix_fmt" };
    QTest::newRow("direct needs none")
        << mpeg2 << D::Direct << 0LL << "" << QStringList {} << QStringList { "-i" };
}

void ServiceTranscodeTest::arguments()
{
    QFETCH(svc::StreamFacts, facts);
    QFETCH(svc::Delivery, delivery);
    QFETCH(qlonglong, startMs);
    QFETCH(QString, device);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    svc::EncoderChoice encoder;
    if (!device.isEmpty())
        encoder = { svc::Encoder::Vaapi, device.toStdString() };
    QStringList args;
    for (const std::string &arg :
         svc::ffmpegArguments("/v/concat:a|b.mpg", facts, delivery, startMs, encoder))
        args << QString::fromStdString(arg);
    // Each argument is one list entry, so the joined form finds runs of them.
    const QString joined = " " + args.join(' ') + " ";
    for (const QString &run : present)
        QVERIFY2(joined.contains(" " + run + " "), qPrintable(run + " not in" + joined));
    for (const QString &arg : absent)
        QVERIFY2(!args.contains(arg), qPrintable(arg + " in" + joined));
    // Options of the input before it, or ffmpeg applies them to the output.
    const int input = args.indexOf("-i");
    for (const char *option : { "-ss", "-vaapi_device", "-fflags" }) {
        if (args.contains(option))
            QVERIFY(args.indexOf(option) < input);
    }
}

void ServiceTranscodeTest::nptRanges_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<qlonglong>("durationMs");
    QTest::addColumn<QString>("reply"); // empty: refused
    const qlonglong hour = 3600000;
    QTest::newRow("from the start") << "npt=0-" << hour << "npt=0.000-3600.000/3600.000";
    QTest::newRow("seconds with a fraction")
        << " npt=90.5- " << hour << "npt=90.500-3600.000/3600.000";
    QTest::newRow("clock times") << "npt=0:01:02.25-1:00:00" << 2 * hour
                                 << "npt=62.250-3600.000/7200.000";
    QTest::newRow("beyond a millisecond cut")
        << "npt=5.123456-" << hour << "npt=5.123-3600.000/3600.000";
    QTest::newRow("end past the duration")
        << "npt=10-5000" << hour << "npt=10.000-3600.000/3600.000";
    QTest::newRow("duration unknown") << "npt=10-" << 0LL << "npt=10.000-/*";
    for (const char *bad :
         { "npt=-5", "npt=10", "npt=20-10", "npt=10-10", "npt=now-", "bytes=0-", "npt=1:60:00-",
           "npt=1:2:03-", "npt=5x-", "npt=5-6 7", "npt=99999999999-", "npt=5.-.5", "" })
        QTest::newRow(bad) << bad << hour << "";
}

void ServiceTranscodeTest::nptRanges()
{
    QFETCH(QString, header);
    QFETCH(qlonglong, durationMs);
    QFETCH(QString, reply);
    const auto range = svc::parseNptRange(header.toStdString());
    QCOMPARE(range.has_value(), !reply.isEmpty());
    if (range)
        QCOMPARE(QString::fromStdString(svc::formatNptRange(*range, durationMs)), reply);
}

void ServiceTranscodeTest::startSegments_data()
{
    QTest::addColumn<QString>("segment");
    QTest::addColumn<qlonglong>("ms"); // -1: refused
    QTest::newRow("whole") << "90" << 90000LL;
    QTest::newRow("fraction") << "90.25" << 90250LL;
    QTest::newRow("zero") << "0" << 0LL;
    for (const char *bad : { "90.", "-1", "1e3", "90.5.1", "12345678901", "" })
        QTest::newRow(bad) << bad << -1LL;
}

void ServiceTranscodeTest::startSegments()
{
    QFETCH(QString, segment);
    QFETCH(qlonglong, ms);
    const auto parsed = svc::parseStartSegment(segment.toStdString());
    QCOMPARE(parsed ? qlonglong(*parsed) : -1LL, ms);
    if (parsed)
        QCOMPARE(QString::fromStdString(svc::formatStartSegment(*parsed)), segment);
}

void ServiceTranscodeTest::conversionsPlayWhole_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("audio"); // what the stream carries
    QTest::newRow("WMV") << "wmv2.wmv"
                         << "aac";
    QTest::newRow("MPEG-2") << "mpeg2.mpg"
                            << "aac";
    QTest::newRow("FLV") << "flv1.flv"
                         << "aac";
    QTest::newRow("Xvid") << "xvid.avi"
                          << "aac";
    QTest::newRow("ProRes, silent") << "prores.mov"
                                    << "";
    QTest::newRow("10-bit H.264, silent") << "h264hi10.mkv"
                                          << "";
    QTest::newRow("H.264 in AVI, remuxed") << "h264.avi"
                                           << "mp3";
}

void ServiceTranscodeTest::conversionsPlayWhole()
{
    QFETCH(QString, name);
    QFETCH(QString, audio);
    const svc::MediaInfo info = probe(name);
    const svc::StreamFacts facts = svc::streamFacts(info);
    svc::Transcoder transcoder(libx264());
    QElapsedTimer timer;
    timer.start();
    auto started = transcoder.start(clip(name).toStdString(), facts, svc::decideDelivery(facts), 0);
    QVERIFY2(started.stream, started.reason.c_str());
    const qint64 firstOutput = timer.elapsed();
    const QByteArray stream = readWhole(*started.stream);
    const qint64 whole = timer.elapsed();
    QVERIFY(started.stream->ended());
    QVERIFY2(!started.stream->failed(), started.stream->error().c_str());
    qInfo("%s: first output after %lld ms, %.1f times real time", qPrintable(name),
          static_cast<long long>(firstOutput), double(info.durationMs) / double(whole));

    const QString output = m_dir.path() + "/out-" + name + ".ts";
    QVERIFY(fixtures::writeText(output, stream));
    const QJsonObject probe = ffprobe(output);
    QCOMPARE(probe["format"]["format_name"].toString(), QString("mpegts"));
    QCOMPARE(codecOf(probe, "video"), QString("h264"));
    QCOMPARE(codecOf(probe, "audio"), audio);
    QVERIFY2(qAbs(probe["format"]["duration"].toString().toDouble() * 1000 - info.durationMs)
                 <= 1000,
             qPrintable(probe["format"]["duration"].toString()));
    QCOMPARE(run("ffmpeg", { "-v", "error", "-i", output, "-f", "null", "-" }), QString());
}

void ServiceTranscodeTest::seekStartsThere()
{
    const svc::StreamFacts facts = svc::streamFacts(probe("mpeg2.mpg"));
    svc::Transcoder transcoder(libx264());
    auto started
        = transcoder.start(clip("mpeg2.mpg").toStdString(), facts, svc::Delivery::Transcode, 5000);
    QVERIFY2(started.stream, started.reason.c_str());
    const QString output = m_dir.path() + "/seek.ts";
    QVERIFY(fixtures::writeText(output, readWhole(*started.stream)));
    const QString first = run("ffprobe",
                              { "-v", "error", "-select_streams", "v", "-read_intervals", "%+#1",
                                "-show_entries", "packet=pts_time", "-of", "csv=p=0", output })
                              .section(QRegExp("[,\\s]"), 0, 0, QString::SectionSkipEmpty);
    QVERIFY2(qAbs(first.toDouble() - 5.0) <= 2.0, qPrintable(first));
}

void ServiceTranscodeTest::droppedReaderLeavesNoChild()
{
    const svc::StreamFacts facts = svc::streamFacts(probe("xvid.avi"));
    svc::Transcoder transcoder(libx264());
    auto started
        = transcoder.start(clip("xvid.avi").toStdString(), facts, svc::Delivery::Transcode, 0);
    QVERIFY2(started.stream, started.reason.c_str());
    QCOMPARE(childProcesses(), 1);
    qint64 received = 0;
    char buffer[16384];
    while (received < 100 * 1024) {
        const ssize_t n = started.stream->read(buffer, sizeof buffer, milliseconds(5000));
        QVERIFY(n > 0);
        received += n;
    }
    started.stream.reset();
    QCOMPARE(childProcesses(), 0);
    QCOMPARE(transcoder.running(), 0u);
}

void ServiceTranscodeTest::startsBeyondTheLimitAreRefused()
{
    const svc::StreamFacts facts = svc::streamFacts(probe("wmv2.wmv"));
    const std::string path = clip("wmv2.wmv").toStdString();
    svc::Transcoder transcoder(libx264(2));
    auto first = transcoder.start(path, facts, svc::Delivery::Transcode, 0);
    auto second = transcoder.start(path, facts, svc::Delivery::Transcode, 0);
    QVERIFY(first.stream && second.stream);
    auto third = transcoder.start(path, facts, svc::Delivery::Transcode, 0);
    QVERIFY(!third.stream);
    QCOMPARE(int(third.refusal), int(svc::Transcoder::Refusal::Busy));
    QVERIFY(!third.reason.empty());
    QVERIFY(childProcesses() <= 2);
    // A slot is free again as soon as its stream is dropped.
    first.stream.reset();
    auto fourth = transcoder.start(path, facts, svc::Delivery::Transcode, 0);
    QVERIFY2(fourth.stream, fourth.reason.c_str());
}

void ServiceTranscodeTest::vaapiFailureFallsBackToX264()
{
    const svc::StreamFacts facts = svc::streamFacts(probe("flv1.flv"));
    auto options = libx264();
    options.encoder = svc::EncoderChoice { svc::Encoder::Vaapi, "/nonexistent/renderD128" };
    svc::Transcoder transcoder(options);
    auto started
        = transcoder.start(clip("flv1.flv").toStdString(), facts, svc::Delivery::Transcode, 0);
    QVERIFY2(started.stream, started.reason.c_str());
    QCOMPARE(int(started.stream->encoder()), int(svc::Encoder::Libx264));
    QVERIFY(readWhole(*started.stream).size() > 100 * 1024);
    QVERIFY2(!started.stream->failed(), started.stream->error().c_str());
}

void ServiceTranscodeTest::childFaults_data()
{
    // A stand-in for ffmpeg (a shell script; it ignores ffmpeg's arguments).
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("error"); // in the refusal's reason or the stream's error
    QTest::newRow("silent after its first bytes")
        << QByteArray("printf G; exec sleep 30") << true << QByteArray("G") << "no output for";
    QTest::newRow("fails before any output") << QByteArray("echo 'boom: no decoder' >&2; exit 1")
                                             << false << QByteArray() << "boom: no decoder";
    QTest::newRow("inherits no descriptor of the service")
        << QByteArray("if [ -e /proc/$$/fd/77 ]; then printf leaked; else printf clean; fi") << true
        << QByteArray("clean") << "";
}

void ServiceTranscodeTest::childFaults()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, starts);
    QFETCH(QString, error);
    const QString program = m_dir.path() + "/fake-ffmpeg";
    QVERIFY(fixtures::writeText(program, "#!/bin/sh\n" + script + "\n"));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    // A descriptor the service would have open without close-on-exec, like a socket.
    const int leak = dup2(open("/dev/null", O_RDONLY), 77);
    QCOMPARE(leak, 77);

    auto options = libx264();
    options.program = program.toStdString();
    options.stallLimit = milliseconds(300);
    svc::Transcoder transcoder(options);
    QElapsedTimer timer;
    timer.start();
    auto started
        = transcoder.start("/nonexistent.avi", svc::StreamFacts {}, svc::Delivery::Transcode, 0);
    close(leak);
    QCOMPARE(bool(started.stream), starts);
    if (!starts) {
        QCOMPARE(int(started.refusal), int(svc::Transcoder::Refusal::Failed));
        QVERIFY2(QString::fromStdString(started.reason).contains(error), started.reason.c_str());
    } else {
        QTEST(readWhole(*started.stream), "output");
        QCOMPARE(started.stream->failed(), !error.isEmpty());
        QVERIFY2(QString::fromStdString(started.stream->error()).contains(error),
                 started.stream->error().c_str());
    }
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(childProcesses(), 0);
}

void ServiceTranscodeTest::stopAllEndsEveryStream()
{
    const QString program = m_dir.path() + "/endless-ffmpeg";
    QVERIFY(fixtures::writeText(program, "#!/bin/sh\nprintf G; exec sleep 30\n"));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    auto options = libx264();
    options.program = program.toStdString();
    svc::Transcoder transcoder(options);
    auto started = transcoder.start("/x.avi", svc::StreamFacts {}, svc::Delivery::Transcode, 0);
    QVERIFY2(started.stream, started.reason.c_str());
    transcoder.stopAll();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readWhole(*started.stream), QByteArray("G"));
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(started.stream->failed());
    QCOMPARE(childProcesses(), 0);
    auto refused = transcoder.start("/x.avi", svc::StreamFacts {}, svc::Delivery::Transcode, 0);
    QCOMPARE(int(refused.refusal), int(svc::Transcoder::Refusal::Stopping));
}

namespace {

// A running service with the clips imported; the ids of the clips by name.
struct Served
{
    QTemporaryDir clips;
    QTemporaryDir data;
    ServiceProcess service;
    QHash<QString, qint64> ids;
};

bool serve(Served &served, const QString &clips)
{
    if (!served.service.start(served.data.path(), { "--lan-port", "0" })
        || served.service.importPath(clips).code() != 0)
        return false;
    const QJsonObject top = served.service.list(0).at(0).toObject();
    for (const QJsonValue &entry : served.service.list(top["id"].toInt()))
        served.ids[entry["name"].toString()] = entry["id"].toInt();
    return true;
}

// A raw request on the LAN port; the reply's head, and up to bodyBytes of its body.
QByteArray rawRequest(QTcpSocket &socket, int port, const QByteArray &request, int bodyBytes)
{
    socket.connectToHost("127.0.0.1", quint16(port));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        const int head = reply.indexOf("\r\n\r\n");
        if (head >= 0 && reply.size() - head - 4 >= bodyBytes)
            break;
        if (!socket.waitForReadyRead(1000) && socket.state() != QAbstractSocket::ConnectedState)
            break;
        reply += socket.readAll();
    }
    return reply;
}

} // namespace

void ServiceTranscodeTest::servedByTheService_data()
{
    // What a player asks of the converted stream of the ten-second wmv2 clip, and what it gets.
    QTest::addColumn<QString>("path"); // {id}: the clip's
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("status");
    // The start of one of the reply's headers, when not empty.
    QTest::addColumn<QByteArray>("replyHeader");
    QTest::newRow("whole") << "/media/{id}/t/0/wmv2.ts" << QByteArray() << 200 << QByteArray();
    QTest::newRow("time seek") << "/media/{id}/t/0/wmv2.ts"
                               << QByteArray("TimeSeekRange.dlna.org: npt=5-") << 200
                               << QByteArray("TimeSeekRange.dlna.org: npt=5.000-10.");
    QTest::newRow("start in the URL")
        << "/media/{id}/t/5/wmv2.ts" << QByteArray() << 200 << QByteArray();
    QTest::newRow("the whole by range")
        << "/media/{id}/t/0/wmv2.ts" << QByteArray("Range: bytes=0-") << 200 << QByteArray();
    QTest::newRow("another range")
        << "/media/{id}/t/0/wmv2.ts" << QByteArray("Range: bytes=1000-") << 406 << QByteArray();
    QTest::newRow("start beyond the end")
        << "/media/{id}/t/11/wmv2.ts" << QByteArray() << 416 << QByteArray();
    QTest::newRow("unknown video")
        << "/media/99999/t/0/x.ts" << QByteArray() << 404 << QByteArray();
    QTest::newRow("a video that plays as it is")
        << "/media/{direct}/t/0/h264aac.ts" << QByteArray() << 404 << QByteArray();
}

void ServiceTranscodeTest::servedByTheService()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, header);
    QFETCH(int, status);
    QFETCH(QByteArray, replyHeader);
    static Served served;
    if (served.ids.isEmpty()) {
        const QDir clips(served.clips.filePath("Old"));
        QVERIFY(fixtures::copy(m_dir.filePath("wmv2.wmv"), clips.filePath("wmv2.wmv")));
        QVERIFY(fixtures::copy(m_dir.filePath("h264aac.mp4"), clips.filePath("h264aac.mp4")));
        QVERIFY(serve(served, clips.path()));
    }
    path.replace("{id}", QString::number(served.ids["wmv2.wmv"]));
    path.replace("{direct}", QString::number(served.ids["h264aac.mp4"]));
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!header.isEmpty())
        headers << qMakePair(header.left(header.indexOf(':')), header.mid(header.indexOf(':') + 2));
    const ServiceReply reply
        = served.service.send("GET", served.service.lanUrl(path), {}, 30000, headers);
    QCOMPARE(reply.status, status);
    if (!replyHeader.isEmpty()) {
        const QByteArray name = replyHeader.left(replyHeader.indexOf(':'));
        QCOMPARE((name + ": " + reply.header(name)).left(replyHeader.size()), replyHeader);
    }
    if (status != 200)
        return;
    // What came is H.264 and AAC in MPEG-TS, from where it was asked to start to the end.
    QTemporaryDir out;
    const QString file = out.filePath("stream.ts");
    QVERIFY(fixtures::writeText(file, reply.body));
    const QJsonObject probe = ffprobe(file);
    QCOMPARE(probe["format"].toObject()["format_name"].toString(), QString("mpegts"));
    QCOMPARE(codecOf(probe, "video"), QString("h264"));
    QCOMPARE(codecOf(probe, "audio"), QString("aac"));
    const bool seeked = header.contains("npt=5") || path.contains("/t/5/");
    const QString frames
        = run("ffprobe",
              { "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time",
                "-read_intervals", "%+#1", "-of", "csv=p=0", file });
    const double first = frames.section('\n', 0, 0).section(',', 0, 0).toDouble();
    QVERIFY2(qAbs(first - (seeked ? 5.0 : 0.0)) <= 2.0, qPrintable(frames));
    const double end = first + probe["format"].toObject()["duration"].toString().toDouble();
    QVERIFY2(qAbs(end - 10.0) <= 1.0, qPrintable(QString::number(end)));
    QCOMPARE(run("ffmpeg", { "-v", "error", "-i", file, "-f", "null", "-" }), QString());
}

// A player that closes the stream, or that holds every slot, leaves no ffmpeg running for long,
// and one more is told why it is not served.
void ServiceTranscodeTest::playersThatLeaveLeaveNoProcess()
{
    Served served;
    QVERIFY(fixtures::copy(m_dir.filePath("wmv2.wmv"), served.clips.filePath("Old/wmv2.wmv")));
    QVERIFY(serve(served, served.clips.filePath("Old")));
    const qint64 pid = served.service.process().processId();
    const QByteArray get = "GET /media/" + QByteArray::number(served.ids["wmv2.wmv"])
        + "/t/0/wmv2.ts HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const QByteArray head = QByteArray(get).replace("GET", "HEAD");

    QTcpSocket probe;
    QVERIFY(rawRequest(probe, served.service.lanPort(), head, 0).startsWith("HTTP/1.1 200"));
    QCOMPARE(childProcesses(pid), 0);
    {
        QTcpSocket reader;
        const QByteArray part = rawRequest(reader, served.service.lanPort(), get, 100 * 1024);
        QVERIFY(part.startsWith("HTTP/1.1 200"));
        QVERIFY(part.size() > 100 * 1024);
    }
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(pid), 0, 5000);

    // Every slot held by a player that reads nothing more.
    const int limit = int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::unique_ptr<QTcpSocket>> holders;
    for (int i = 0; i < limit; ++i) {
        holders.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(rawRequest(*holders.back(), served.service.lanPort(), get, 1)
                    .startsWith("HTTP/1.1 200"));
    }
    QTcpSocket refused;
    const QByteArray reply = rawRequest(refused, served.service.lanPort(), get, 10);
    QVERIFY2(reply.startsWith("HTTP/1.1 503"), reply.left(300).constData());
    holders.clear();
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(pid), 0, 5000);
}

// A library made before the codecs were kept learns them in the background after the upgrade,
// and its videos are then offered converted.
void ServiceTranscodeTest::olderLibrariesLearnTheirCodecs()
{
    Served served;
    QVERIFY(fixtures::copy(m_dir.filePath("wmv2.wmv"), served.clips.filePath("Old/wmv2.wmv")));
    QVERIFY(serve(served, served.clips.filePath("Old")));
    const QString stream = QString("/media/%1/t/0/wmv2.ts").arg(served.ids["wmv2.wmv"]);
    const auto head = [&] {
        return served.service.send("HEAD", served.service.lanUrl(stream), {}, 5000).status;
    };
    QCOMPARE(head(), 200);
    QVERIFY(served.service.terminate() >= 0);
    {
        svc::Database database(served.data.filePath("library.db").toStdString());
        auto connection = database.connection();
        connection->exec("UPDATE entries SET container = '', audio_codec = ''");
    }
    QVERIFY(served.service.start(served.data.path(), { "--lan-port", "0" }));
    QTRY_COMPARE_WITH_TIMEOUT(head(), 200, 10000);
    QFile log(served.data.filePath("logs/" + QDate::currentDate().toString("yyyy-MM-dd") + ".txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("reading the container and codecs of 1 videos"));
}

QTEST_GUILESS_MAIN(ServiceTranscodeTest)
#include "tst_service_transcode.moc"
