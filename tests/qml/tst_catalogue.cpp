#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>

namespace {

struct Text
{
    QString context;
    QString source;
    QString where;
};

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void collect(QList<Text> &texts, const QString &path, const QString &context,
             const QRegularExpression &pattern)
{
    auto matches = pattern.globalMatch(readAll(path));
    while (matches.hasNext())
        texts.append({ context, matches.next().captured(1), path });
}

} // namespace

// An English system shows every text through the catalogue; one left out stays Chinese there.
class CatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void everyTextHasAnEnglishTranslation()
    {
        QTranslator catalogue;
        QVERIFY(catalogue.load(QStringLiteral(CATALOGUE)));

        QList<Text> texts;
        const QRegularExpression qsTr(QStringLiteral("qsTr\\(\"([^\"]+)\"\\)"));
        QDirIterator scenes(QStringLiteral(":/qml"), { QStringLiteral("*.qml") }, QDir::Files,
                            QDirIterator::Subdirectories);
        while (scenes.hasNext()) {
            const QString path = scenes.next();
            collect(texts, path, QFileInfo(path).baseName(), qsTr);
        }
        const int sceneTexts = texts.size();
        QVERIFY(sceneTexts > 40);

        // The core translates with the context QObject.
        const QRegularExpression coreTr(QStringLiteral(
            "(?:QObject::tr|QCoreApplication::translate)\\((?:\"QObject\", )?\"([^\"]+)\""));
        for (const char *folder : { "app", "net", "library", "manager", "update", "window" }) {
            QDirIterator core(QStringLiteral(SOURCE_DIR "/") + QLatin1String(folder),
                              { QStringLiteral("*.cpp"), QStringLiteral("*.h") }, QDir::Files);
            while (core.hasNext())
                collect(texts, core.next(), QStringLiteral("QObject"), coreTr);
        }
        QVERIFY(texts.size() > sceneTexts);

        for (const Text &text : qAsConst(texts)) {
            const QString english = catalogue.translate(text.context.toUtf8().constData(),
                                                        text.source.toUtf8().constData());
            QVERIFY2(!english.isEmpty(),
                     qPrintable(text.where + ": " + text.source + " is not translated"));
        }
    }
};

QTEST_GUILESS_MAIN(CatalogueTest)

#include "tst_catalogue.moc"
