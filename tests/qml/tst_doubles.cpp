#include "kivdouble.h"
#include "library/videolistmodel.h"
#include "listmodeldouble.h"
#include "manager/kivmanager.h"
#include "update/kivupdate.h"
#include "updaterdouble.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QStandardPaths>
#include <QTest>

namespace {

// What a scene can reach of a class: its properties, its invokable methods and its signals.
QStringList sceneSurface(const QMetaObject &meta)
{
    QStringList surface;
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        surface << QStringLiteral("property %1 %2 notify %3")
                       .arg(QLatin1String(property.typeName()), QLatin1String(property.name()),
                            QLatin1String(property.notifySignal().methodSignature()));
    }
    for (int i = QObject::staticMetaObject.methodCount(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.access() != QMetaMethod::Public)
            continue;
        if (method.methodType() != QMetaMethod::Signal
            && method.methodType() != QMetaMethod::Method)
            continue;
        surface << QStringLiteral("%1 %2").arg(QLatin1String(method.typeName()),
                                               QLatin1String(method.methodSignature()));
    }
    return surface;
}

} // namespace

// The scene tests trust the doubles; these checks keep them in step with the real classes.
class DoublesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void surfaceMatches_data()
    {
        QTest::addColumn<QStringList>("real");
        QTest::addColumn<QStringList>("twin");
        QTest::newRow("kiv") << sceneSurface(KIVManager::staticMetaObject)
                             << sceneSurface(KivDouble::staticMetaObject);
        QTest::newRow("kivupdate") << sceneSurface(KIVUpdate::staticMetaObject)
                                   << sceneSurface(UpdaterDouble::staticMetaObject);
    }

    void surfaceMatches()
    {
        QFETCH(QStringList, real);
        QFETCH(QStringList, twin);
        QVERIFY(!real.isEmpty());
        for (const QString &entry : qAsConst(real))
            QVERIFY2(twin.contains(entry), qPrintable(QStringLiteral("double lacks ") + entry));
    }

    void modelRolesMatch()
    {
        VideoListModel real;
        ListModelDouble twin;
        QCOMPARE(twin.roleNames(), real.roleNames());
        QVERIFY(ListModelDouble::staticMetaObject.indexOfSignal("selectIndex(int)") >= 0);
        QVERIFY(VideoListModel::staticMetaObject.indexOfSignal("selectIndex(int)") >= 0);
    }
};

QTEST_GUILESS_MAIN(DoublesTest)

#include "tst_doubles.moc"
