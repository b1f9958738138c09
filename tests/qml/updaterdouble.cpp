#include "updaterdouble.h"

bool UpdaterDouble::setup()
{
    m_log.record(QStringLiteral("setup"));
    return m_setupResult;
}

QString UpdaterDouble::version()
{
    return QStringLiteral("1.0.9.78");
}

void UpdaterDouble::reset()
{
    m_log.clear();
    m_setupResult = true;
}
