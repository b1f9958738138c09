#include "library/listingrows.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtTest>

// Listings are parsed and sorted in pieces on several threads and merged; whatever the piece
// count, the result must be the whole listing, each element parsed, in the chosen order.
class TestListingRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void piecesGiveTheWholeListingInOrder_data();
    void piecesGiveTheWholeListingInOrder();
    void resortingInPiecesKeepsEveryRow_data();
    void resortingInPiecesKeepsEveryRow();
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

// Every element once, each with its own values, in the order of the codes.
static void verifyRows(const ListingRows &rows, int count, int orderType, int sortType)
{
    QCOMPARE(rows.size(), count);
    QSet<int> ids;
    for (int row = 0; row < rows.size(); ++row) {
        const MediaEntry &entry = rows.at(row);
        ids.insert(entry.id);
        QCOMPARE(entry.path, QStringLiteral("/p/%1").arg(entry.id - 1));
        QCOMPARE(entry.duration, entry.fileType == MediaEntry::Video ? entry.id - 1 : 0);
        if (row > 0)
            QVERIFY2(!mediaEntryLess(entry, rows.at(row - 1), orderType, sortType),
                     qPrintable(QStringLiteral("row %1 out of order").arg(row)));
    }
    QCOMPARE(ids.size(), count);
}

void TestListingRows::piecesGiveTheWholeListingInOrder_data()
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

void TestListingRows::piecesGiveTheWholeListingInOrder()
{
    QFETCH(int, count);
    QFETCH(int, pieces);
    QFETCH(int, oldCount);
    QFETCH(int, orderType);
    QFETCH(int, sortType);

    ListingRows rows;
    rows.load(listing(oldCount), 0, 0, 1);
    rows.load(listing(count), orderType, sortType, pieces);
    verifyRows(rows, count, orderType, sortType);
}

void TestListingRows::resortingInPiecesKeepsEveryRow_data()
{
    QTest::addColumn<int>("pieces");
    QTest::newRow("one piece") << 1;
    QTest::newRow("three pieces") << 3;
    QTest::newRow("chosen by size") << 0;
}

void TestListingRows::resortingInPiecesKeepsEveryRow()
{
    QFETCH(int, pieces);
    ListingRows rows;
    rows.load(listing(5000), 0, 0, 2);
    for (int orderType = 0; orderType < 3; ++orderType) {
        for (int sortType = 0; sortType < 2; ++sortType) {
            rows.sort(orderType, sortType, pieces);
            verifyRows(rows, 5000, orderType, sortType);
        }
    }
}

void TestListingRows::busyPoolDelaysNothing()
{
    // Every pool thread is held until the listing is done: the pieces queued for the pool must
    // be taken back and parsed by the caller instead of waiting.
    QThreadPool *pool = listingThreadPool();
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

    ListingRows rows;
    rows.load(listing(4000), 0, 0, 4);
    rows.sort(1, 0, 4);
    release.release(threads);
    pool->waitForDone();
    verifyRows(rows, 4000, 1, 0);
}

QTEST_GUILESS_MAIN(TestListingRows)
#include "tst_listingrows.moc"
