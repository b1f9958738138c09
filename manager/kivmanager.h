#pragma once

#include <QObject>

// The controller the scenes talk to as "kiv".
class KIVManager : public QObject
{
    Q_OBJECT
public:
    explicit KIVManager(QObject *parent = nullptr);
};
