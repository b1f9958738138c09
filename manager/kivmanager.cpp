#include "manager/kivmanager.h"

KIVManager::KIVManager(QObject *parent)
    : QObject(parent)
{
}
