#include "library/entrytext.h"

#include <QCoreApplication>

QString definitionLabel(int definition)
{
    switch (definition) {
    case 1:
        return QStringLiteral("360P");
    case 2:
        return QStringLiteral("720P");
    case 3:
        return QStringLiteral("1080P");
    case 4:
        return QStringLiteral("2K");
    case 5:
        return QStringLiteral("4K");
    case 6:
        return QStringLiteral("8K");
    default:
        return QCoreApplication::translate("QObject", "未知");
    }
}

QString sizeText(qint64 bytes)
{
    constexpr qint64 kib = qint64(1) << 10;
    constexpr qint64 mib = qint64(1) << 20;
    constexpr qint64 gib = qint64(1) << 30;
    double value = double(bytes);
    QLatin1String unit("B");
    if (bytes >= gib) {
        value /= double(gib);
        unit = QLatin1String("GB");
    } else if (bytes >= mib) {
        value /= double(mib);
        unit = QLatin1String("MB");
    } else if (bytes >= kib) {
        value /= double(kib);
        unit = QLatin1String("KB");
    }
    // Printed from single precision, as the list has always shown it.
    const float shown = float(value);
    return QStringLiteral("%1 %2").arg(QString::number(double(shown), 'f', 2), unit);
}

QString durationText(qint32 milliseconds)
{
    const qint32 seconds = milliseconds / 1000;
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds / 60 % 60).arg(seconds % 60);
}
