#include "app/constants.h"

const QString ServiceBaseUrl = QStringLiteral("http://127.0.0.1:22823");
const QString CloudBaseUrl = qEnvironmentVariableIsEmpty("VELNOR_CLOUD_URL")
    ? QStringLiteral(VELNOR_DEFAULT_CLOUD_URL)
    : qEnvironmentVariable("VELNOR_CLOUD_URL");
const QStringList supportedSuffixes
    = { QStringLiteral("mkv"),  QStringLiteral("mp4"),  QStringLiteral("3gp"),
        QStringLiteral("avi"),  QStringLiteral("flv"),  QStringLiteral("m4v"),
        QStringLiteral("mov"),  QStringLiteral("mpeg"), QStringLiteral("mpg"),
        QStringLiteral("webm"), QStringLiteral("wmv") };
QString videoNameFilter()
{
    QStringList patterns;
    for (const QString &suffix : supportedSuffixes)
        patterns << QStringLiteral("*.") + suffix;
    return QStringLiteral("Video files (%1)").arg(patterns.join(QLatin1Char(' ')));
}

// The project's version, from the build.
const QString AppVersion = QStringLiteral(VELNOR_VERSION);
