// Runs what the assistant does around process exit, so tests can see what survives it.
//   flag: prints the first-install flag, clears it and ends; the flag is saved on the way out.
//   http <port>: sends requests to a peer that never answers, queues events and ends with the
//                requests in flight; the manager is torn down with the application.
#include "net/firstinstallflag.h"
#include "net/httpmanager.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("QXLT"));
    app.setApplicationName(QStringLiteral("VelnorAssistant"));
    const QStringList arguments = app.arguments();

    if (arguments.value(1) == QLatin1String("flag")) {
        FirstInstallFlag &flag = firstInstallFlag();
        std::printf("%s\n", flag.isFirstInstall() ? "true" : "false");
        flag.setFirstInstall(false);
        return 0;
    }
    if (arguments.value(1) == QLatin1String("http")) {
        HttpManager *manager = HttpManager::instance();
        const QString peer = QStringLiteral("http://127.0.0.1:") + arguments.value(2);
        manager->setServiceBaseUrl(peer);
        manager->setCloudBaseUrl(peer);
        manager->listFiles(0);
        manager->reportEvent(QStringLiteral("velnorAssistant_velnor_home_0_0_page_view"), {});
        manager->flushEvents(true);
        manager->reportEvent(QStringLiteral("velnorAssistant_velnor_home_0_0_page_view"), {});
        QTimer::singleShot(300, &app, &QCoreApplication::quit);
        const int code = app.exec();
        std::printf("exited\n");
        return code;
    }
    return 2;
}
