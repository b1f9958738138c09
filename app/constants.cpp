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
const QString AppVersion = QStringLiteral("1.0.9.78");
