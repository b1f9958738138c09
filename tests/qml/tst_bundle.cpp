#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QTest>

// A picture or page missing from the bundle shows as nothing at all, so nobody would notice.
class BundleTest : public QObject
{
    Q_OBJECT

private:
    static QMap<QString, QString> sceneTexts()
    {
        QMap<QString, QString> texts;
        QDirIterator it(QStringLiteral(":/qml"), { QStringLiteral("*.qml") }, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                texts.insert(file.fileName(), QString::fromUtf8(file.readAll()));
        }
        return texts;
    }

    // Every match of the pattern's first group in every scene, with the scene that names it.
    static QList<QPair<QString, QString>> references(const QString &pattern)
    {
        QList<QPair<QString, QString>> found;
        const QRegularExpression re(pattern);
        const QMap<QString, QString> texts = sceneTexts();
        for (auto it = texts.begin(); it != texts.end(); ++it) {
            auto matches = re.globalMatch(it.value());
            while (matches.hasNext())
                found << qMakePair(it.key(), matches.next().captured(1));
        }
        return found;
    }

private slots:
    void everyPictureTheScenesNameIsBundled()
    {
        const auto pictures = references(QStringLiteral("qrc(:/res/image/[^\"']+)[\"']"));
        QVERIFY(pictures.size() >= 17);
        for (const auto &ref : pictures)
            QVERIFY2(QFile::exists(ref.second), qPrintable(ref.first + " names " + ref.second));
    }

    void everyPageTheMainWindowLoadsIsBundled()
    {
        const auto pages = references(QStringLiteral("loadPage\\(\"(\\w+)\"\\)"));
        QCOMPARE(pages.size(), 6);
        for (const auto &ref : pages) {
            const QString path = QStringLiteral(":/qml/windows/%1.qml").arg(ref.second);
            QVERIFY2(QFile::exists(path), qPrintable(ref.first + " loads " + path));
        }
    }

    void everySceneCreatedByAddressIsBundled()
    {
        const auto scenes = references(QStringLiteral("createComponent\\(\"qrc(:/[^\"]+)\"\\)"));
        QVERIFY(!scenes.isEmpty());
        for (const auto &ref : scenes)
            QVERIFY2(QFile::exists(ref.second), qPrintable(ref.first + " creates " + ref.second));
    }

    // Qt Quick picks NAME@2x.png on high-density screens by itself; a picture without one is
    // blurred there, and one that is not exactly twice the size is drawn at the wrong size.
    void everyPictureHasATwiceAsLargePartner()
    {
        QDirIterator it(QStringLiteral(":/res/image"), { QStringLiteral("*.png") }, QDir::Files);
        int pictures = 0;
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(QLatin1String("@2x.png")))
                continue;
            ++pictures;
            const QString partner = path.chopped(4) + QLatin1String("@2x.png");
            const QSize size = QImageReader(path).size();
            QVERIFY2(QFile::exists(partner), qPrintable(path + " has no " + partner));
            QCOMPARE(QImageReader(partner).size(), size * 2);
        }
        QVERIFY(pictures >= 17);
    }

    void theRootScenesAreBundled()
    {
        QVERIFY(QFile::exists(QStringLiteral(":/qml/mainWindow.qml")));
        QVERIFY(QFile::exists(QStringLiteral(":/qml/windows/SingleAppTip.qml")));
        QVERIFY(QFile::exists(QStringLiteral(":/res/SourceHanSansCN-Medium.ttf")));
    }
};

QTEST_GUILESS_MAIN(BundleTest)

#include "tst_bundle.moc"
