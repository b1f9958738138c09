#include "app/startup.h"

#include "app/loghandler.h"
#include "app/servicelauncher.h"
#include "manager/kivmanager.h"
#include "platform/platform.h"
#include "update/kivupdate.h"
#include "window/framelessquickwindow.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QResource>
#include <QStandardPaths>
#include <QTranslator>
#include <QUrl>

namespace {

// The scenes ask for this family by name; the bundled font carries a family name of our own.
const char *const SceneFontFamily = "Source Han Sans CN Medium";

void loadApplicationFont()
{
    // Registered from the resource's own bytes. Registered by path, the font would be copied out
    // of the resource once to register it and again by every thread that draws text with it.
    const QResource resource(QStringLiteral(":/res/SourceHanSansCN-Medium.ttf"));
    const QByteArray data = resource.compressionAlgorithm() == QResource::NoCompression
        ? QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()),
                                  int(resource.size()))
        : resource.uncompressedData();
    const int id = QFontDatabase::addApplicationFontFromData(data);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty())
        return;
    QFont font = QGuiApplication::font();
    font.setFamily(families.first());
    font.setPixelSize(20);
    QGuiApplication::setFont(font);
    QFont::insertSubstitution(QString::fromLatin1(SceneFontFamily), families.first());
}

int runRootScene(QGuiApplication &app, QQmlApplicationEngine &engine, const QString &scene)
{
    const QUrl url(scene, QUrl::TolerantMode);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);
    return app.exec();
}

} // namespace

int runAssistant(int argc, char **argv, const StartupScenes &scenes)
{
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    platform::quitOnTerminationRequest();

    QLocale locale;
    if (locale.language() == QLocale::English) {
        auto *translator = new QTranslator(&app);
        translator->load(QStringLiteral("chinese.qm"), QString(), QString(), QString());
        app.installTranslator(translator);
    }

    loadApplicationFont();
    app.setWindowIcon(QIcon(QStringLiteral(":/res/image/kiv.ico")));
    // Docks find the installed menu entry, and with it the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.velnor.assistant"));
    app.setOrganizationName(QStringLiteral("QXLT"));
    // Nothing else creates the data folder, and without it neither the log nor the
    // first-install flag could ever be written.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));

    QQmlApplicationEngine engine;
    qmlRegisterType<FramelessQuickWindow>("QtPelago.Window", 1, 0, "FramelessWindow");

    const platform::MarkerResult marker
        = platform::createInstanceMarker(QStringLiteral("QXLT_VelnorAssistant"));
    if (marker == platform::MarkerResult::AlreadyExists)
        return runRootScene(app, engine, scenes.notice);

    qmlRegisterType<KIVManager>("KIVManager", 1, 0, "KIVManagerCLS");
    auto *manager = new KIVManager(&app);
    const QString appDir = QCoreApplication::applicationDirPath();
    if (!isServiceRunning())
        launchService(manager, appDir);
    auto *updater = new KIVUpdate(&app);
    engine.rootContext()->setContextProperty(QStringLiteral("kiv"), manager);
    engine.rootContext()->setContextProperty(QStringLiteral("kivupdate"), updater);
    return runRootScene(app, engine, scenes.main);
}
