#pragma once

#include <QObject>

// The updater the scenes talk to as "kivupdate".
class KIVUpdate : public QObject
{
    Q_OBJECT
public:
    explicit KIVUpdate(QObject *parent = nullptr);
};
