#include "kivdouble.h"
#include "updaterdouble.h"
#include "window/framelessquickwindow.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

// Publishes the doubles exactly where start-up publishes the manager and the updater, so the
// scenes under test reach them by the same names.
class SceneTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        // The scenes close their windows; the test runner must outlive that.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QGuiApplication::setOrganizationName(QStringLiteral("QXLT"));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        qmlRegisterType<FramelessQuickWindow>("QtPelago.Window", 1, 0, "FramelessWindow");
        qmlRegisterType<KivDouble>("KIVManager", 1, 0, "KIVManagerCLS");
        engine->rootContext()->setContextProperty(QStringLiteral("kiv"), &m_kiv);
        engine->rootContext()->setContextProperty(QStringLiteral("kivupdate"), &m_updater);
    }

private:
    KivDouble m_kiv;
    UpdaterDouble m_updater;
};

QUICK_TEST_MAIN_WITH_SETUP(scenes, SceneTestSetup)

#include "scenetest.moc"
