#pragma once

#include "calllog.h"

#include <QObject>

// Stands in for the updater the scenes know as "kivupdate"; a test decides what setup() answers.
class UpdaterDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList calls READ calls)
    Q_PROPERTY(bool setupResult MEMBER m_setupResult)

public:
    using QObject::QObject;

    QStringList calls() const { return m_log.calls(); }

    Q_INVOKABLE bool setup();
    Q_INVOKABLE QString version();
    Q_INVOKABLE void reset();

signals:
    void updateSignal(const QString &note, bool isForce);
    void processStatus(float val);
    void downExeFinish();

private:
    CallLog m_log;
    bool m_setupResult = true;
};
