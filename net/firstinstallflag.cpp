#include "net/firstinstallflag.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace {

const char *const FlagMember = "is_first_install";

void saveProcessFlag()
{
    firstInstallFlag().save();
}

} // namespace

FirstInstallFlag::FirstInstallFlag(const QString &path)
    : m_path(path)
{
    QFile file(m_path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    file.close();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError) {
        qInfo() << "json parseError";
        return;
    }
    m_flag = document.object().value(QLatin1String(FlagMember)).toBool();
}

bool FirstInstallFlag::isFirstInstall() const
{
    return m_flag;
}

void FirstInstallFlag::setFirstInstall(bool value)
{
    m_flag = value;
}

QString FirstInstallFlag::path() const
{
    return m_path;
}

bool FirstInstallFlag::save() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    const QJsonObject root { { QLatin1String(FlagMember), m_flag } };
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    return true;
}

FirstInstallFlag &firstInstallFlag()
{
    struct Holder
    {
        FirstInstallFlag flag;
        Holder()
            : flag(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
                   + QStringLiteral("/setting.inf"))
        {
            // A post routine runs while the application object still exists, unlike a static
            // destructor, which may run after the file and codec machinery is gone.
            qAddPostRoutine(&saveProcessFlag);
        }
    };
    static Holder holder;
    return holder.flag;
}
