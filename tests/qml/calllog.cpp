#include "calllog.h"

void CallLog::record(const QString &name, const QVariantList &args)
{
    QStringList parts;
    for (const QVariant &arg : args) {
        if (arg.type() == QVariant::String)
            parts << QLatin1Char('"') + arg.toString() + QLatin1Char('"');
        else if (arg.type() == QVariant::Bool)
            parts << QLatin1String(arg.toBool() ? "true" : "false");
        else
            parts << arg.toString();
    }
    m_calls << name + QLatin1Char('(') + parts.join(QLatin1Char(',')) + QLatin1Char(')');
}
