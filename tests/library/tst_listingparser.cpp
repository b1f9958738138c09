#include "library/listingparser.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtTest>

// Listings are parsed and sorted in pieces on several threads and merged; whatever the piece
// count, the result must be the whole listing, each element parsed, in the chosen order.
class TestListingParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void piecesGiveTheWholeListingInOrder_data();
    void piecesGiveTheWholeListingInOrder();
    void busyPoolDelaysNothing();
};

// Few distinct names, times and sizes, so that ties are everywhere and the merge has to keep
// every one of them.
static QJsonArray listing(int count)
{
    QJsonArray elements;
    for (int i = 0; i < count; ++i) {
        const bool folder = i % 7 == 3;
        QJsonObject element { { "id", i + 1 },
                              { "name", QStringLiteral("n%1").arg((i * 37) % 11) },
                              { "path", QStringLiteral("/p/%1").arg(i) },
                              { "create_time", double((i * 13) % 5) },
                              { "type", folder ? "directory" : "video" } };
        if (!folder) {
            element.insert("size", double((i * 29) % 9));
            element.insert("metadata", QJsonObject { { "duration", i } });
        }
        elements.append(element);
    }
    return elements;
}

void TestListingParser::piecesGiveTheWholeListingInOrder_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("pieces");
    QTest::addColumn<int>("oldCount");
    QTest::addColumn<int>("orderType");
    QTest::addColumn<int>("sortType");

    for (int orderType = 0; orderType < 3; ++orderType) {
        for (int sortType = 0; sortType < 2; ++sortType) {
            const QByteArray codes
                = QByteArray::number(orderType) + "/" + QByteArray::number(sortType);
            QTest::newRow(codes + " one piece") << 500 << 1 << 0 << orderType << sortType;
            QTest::newRow(codes + " two pieces") << 500 << 2 << 0 << orderType << sortType;
            QTest::newRow(codes + " odd count, three pieces")
                << 501 << 3 << 0 << orderType << sortType;
            QTest::newRow(codes + " five pieces over a longer old listing")
                << 500 << 5 << 900 << orderType << sortType;
            QTest::newRow(codes + " more pieces than elements")
                << 3 << 8 << 2 << orderType << sortType;
        }
    }
    QTest::newRow("empty over an old listing") << 0 << 0 << 40 << 0 << 0;
    QTest::newRow("chosen by size") << 9000 << 0 << 9000 << 2 << 1;
}

void TestListingParser::piecesGiveTheWholeListingInOrder()
{
    QFETCH(int, count);
    QFETCH(int, pieces);
    QFETCH(int, oldCount);
    QFETCH(int, orderType);
    QFETCH(int, sortType);

    std::vector<MediaEntry> entries;
    parseSortedListing(listing(oldCount), 0, 0, entries, 1);
    parseSortedListing(listing(count), orderType, sortType, entries, pieces);

    QCOMPARE(int(entries.size()), count);
    QSet<int> ids;
    for (size_t row = 0; row < entries.size(); ++row) {
        const MediaEntry &entry = entries[row];
        ids.insert(entry.id);
        // Each element's own values, not a neighbour's.
        QCOMPARE(entry.path, QStringLiteral("/p/%1").arg(entry.id - 1));
        QCOMPARE(entry.duration, entry.fileType == MediaEntry::Video ? entry.id - 1 : 0);
        if (row > 0)
            QVERIFY2(!mediaEntryLess(entry, entries[row - 1], orderType, sortType),
                     qPrintable(QStringLiteral("row %1 out of order").arg(row)));
    }
    QCOMPARE(ids.size(), count);
}

void TestListingParser::busyPoolDelaysNothing()
{
    // Every pool thread is held until the listing is done: the pieces queued for the pool must
    // be taken back and parsed by the caller instead of waiting.
    QThreadPool *pool = QThreadPool::globalInstance();
    QSemaphore release;
    QSemaphore started;
    const int threads = pool->maxThreadCount();
    for (int i = 0; i < threads; ++i) {
        pool->start(QRunnable::create([&] {
            started.release();
            release.acquire();
        }));
    }
    QVERIFY(started.tryAcquire(threads, 5000));

    std::vector<MediaEntry> entries;
    parseSortedListing(listing(4000), 0, 0, entries, 4);
    release.release(threads);
    pool->waitForDone();

    QCOMPARE(int(entries.size()), 4000);
    for (size_t row = 1; row < entries.size(); ++row)
        QVERIFY(!mediaEntryLess(entries[row], entries[row - 1], 0, 0));
}

QTEST_GUILESS_MAIN(TestListingParser)
#include "tst_listingparser.moc"
