#include "fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>

#include <memory>
#include <unistd.h>
#include <vector>

namespace fixtures {
namespace {

QStringList testSource(const QString &size)
{
    return { "-f", "lavfi", "-i", QStringLiteral("testsrc=size=%1:rate=10:duration=1").arg(size) };
}

QStringList h264()
{
    return { "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" };
}

// Ten seconds at 320x240 with a tone, for what plays for a while: conversions, seeks.
QStringList longSource(bool sound = true)
{
    QStringList args { "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=10" };
    if (sound)
        args += QStringList { "-f", "lavfi", "-i", "sine=frequency=440:duration=10" };
    return args;
}

QHash<QString, QStringList> recipes()
{
    return {
        { "wmv2.wmv", longSource() + QStringList { "-c:v", "wmv2", "-c:a", "wmav2" } },
        { "mpeg2.mpg",
          longSource() + QStringList { "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob" } },
        { "flv1.flv",
          longSource() + QStringList { "-ar", "44100", "-c:v", "flv1", "-c:a", "mp3" } },
        { "xvid.avi",
          longSource()
              + QStringList { "-c:v", "mpeg4", "-vtag", "XVID", "-bf", "2", "-c:a", "mp3" } },
        { "h264.avi", longSource() + h264() + QStringList { "-c:a", "mp3" } },
        { "prores.mov",
          longSource(false) + QStringList { "-c:v", "prores_ks", "-profile:v", "0" } },
        { "h264aac.mp4", longSource() + h264() + QStringList { "-c:a", "aac" } },
        { "h264hi10.mkv",
          longSource(false)
              + QStringList { "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                              "yuv420p10le" } },
        { "hevc10.mp4",
          longSource(false)
              + QStringList { "-c:v", "libx265", "-preset", "ultrafast", "-pix_fmt", "yuv420p10le",
                              "-x265-params", "log-level=error" } },
        { "clip720.mp4", testSource("1280x720") + h264() },
        { "clip360.mkv", testSource("640x360") + h264() },
        { "small.mp4", testSource("320x180") + h264() },
        { "mpeg4.mp4", testSource("320x240") + QStringList { "-c:v", "mpeg4" } },
        // A plain picture keeps the 4K encode to about a second.
        { "clip2160.webm",
          QStringList { "-f", "lavfi", "-i", "color=c=0x3366aa:size=3840x2160:rate=2:duration=1",
                        "-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "16" } },
    };
}

} // namespace

bool encode(const QString &dir, const QHash<QString, QStringList> &recipes, QString &error)
{
    QDir().mkpath(dir);
    std::vector<std::unique_ptr<QProcess>> running;
    for (auto recipe = recipes.begin(); recipe != recipes.end(); ++recipe) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start("ffmpeg",
                       QStringList { "-v", "error", "-y", "-threads", "1" } + recipe.value()
                           + QStringList { dir + "/" + recipe.key() });
        running.push_back(std::move(process));
    }
    for (auto &process : running) {
        if (!process->waitForFinished(40000) || process->exitCode() != 0) {
            error = "ffmpeg failed: " + process->arguments().join(' ') + "\n"
                + QString::fromLocal8Bit(process->readAll());
            return false;
        }
    }
    return true;
}

bool make(const QString &dir, const QStringList &names, QString &error)
{
    const auto known = recipes();
    QStringList wanted = names;
    if ((names.contains("truncated.mp4")) && !names.contains("small.mp4"))
        wanted << "small.mp4";
    QHash<QString, QStringList> chosen;
    for (const QString &name : wanted) {
        if (name == "truncated.mp4" || name == "text.mp4")
            continue;
        if (!known.contains(name)) {
            error = "no recipe for " + name;
            return false;
        }
        chosen.insert(name, known.value(name));
    }
    QDir().mkpath(dir);
    if (!encode(dir, chosen, error))
        return false;
    if (names.contains("truncated.mp4")) {
        QFile whole(dir + "/small.mp4");
        if (!whole.open(QIODevice::ReadOnly))
            return false;
        if (!writeText(dir + "/truncated.mp4", whole.read(whole.size() / 3)))
            return false;
    }
    if (names.contains("text.mp4") && !writeText(dir + "/text.mp4", "this is not a video\n"))
        return false;
    return true;
}

bool copy(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to);
}

bool link(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

} // namespace fixtures
