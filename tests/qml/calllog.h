#pragma once

#include <QStringList>
#include <QVariant>

// The calls a scene made on a double, each as "name(arg,...)" with strings quoted, so a test
// compares one list against what a person would write down.
class CallLog
{
public:
    void record(const QString &name, const QVariantList &args = {});
    void clear() { m_calls.clear(); }
    const QStringList &calls() const { return m_calls; }

private:
    QStringList m_calls;
};
