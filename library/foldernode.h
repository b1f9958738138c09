#pragma once

#include <QString>

// One folder the breadcrumb navigation knows: built from a listed entry when the user opens it.
struct FolderNode
{
    qint32 id = 0;
    qint32 pid = 0;
    QString path;
    QString realPath;
};
