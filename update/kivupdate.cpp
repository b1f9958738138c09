#include "update/kivupdate.h"

KIVUpdate::KIVUpdate(QObject *parent)
    : QObject(parent)
{
}
