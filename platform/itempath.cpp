#include "platform/itempath.h"

#include <QByteArray>

QString stripFileUrlText(const QString &text)
{
    QString path = text;
    path.remove(QStringLiteral("file:///"), Qt::CaseSensitive);
    if (path.contains(QLatin1Char('%')))
        path = QString::fromUtf8(QByteArray::fromPercentEncoding(path.toUtf8()));
    return path;
}
