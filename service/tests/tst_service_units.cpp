// The service's small rules that need no running service: command line, request paths,
// suffixes, device names, ids, hosts and log lines, and what library listings keep between
// changes.
#include "service/byterange.h"
#include "service/contentdirectory.h"
#include "service/coverspool.h"
#include "service/devicename.h"
#include "service/folderimport.h"
#include "service/lanaddresses.h"
#include "service/library.h"
#include "service/listing.h"
#include "service/log.h"
#include "service/options.h"
#include "service/pathutil.h"
#include "service/requestregistry.h"
#include "service/requestrules.h"
#include "service/suffixfilter.h"
#include "service/upnpdescription.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <tuple>

class ServiceUnitsTest : public QObject
{
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void defaultDataDirFollowsXdg();
    void normalizePath_data();
    void normalizePath();
    void suffixes_data();
    void suffixes();
    void deviceName_data();
    void deviceName();
    void ids_data();
    void ids();
    void utf8_data();
    void utf8();
    void cancelBeforeItsImportStarts();
    void requestEndsEvenWhenItThrows();
    void hosts_data();
    void hosts();
    void lanAddressOrder_data();
    void lanAddressOrder();
    void logLinesStayLines_data();
    void logLinesStayLines();
    void ranges_data();
    void ranges();
    void coverSpool_data();
    void coverSpool();
    void listingFollowsChanges_data();
    void listingFollowsChanges();
    void longListingEqualsItsPages();
    void didlObjects_data();
    void didlObjects();
    void folderImportPlansMovesOnce();
    void changesTellTheirFolders_data();
    void changesTellTheirFolders();
};

void ServiceUnitsTest::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("lanPort");
    QTest::addColumn<bool>("lan");
    QTest::newRow("defaults") << QStringList {} << true << 22823 << 22824 << true;
    QTest::newRow("all given") << QStringList { "--port", "0", "--lan-port=9000", "--no-lan" }
                               << true << 0 << 9000 << false;
    QTest::newRow("port too big") << QStringList { "--port", "65536" } << false << 0 << 0 << false;
    QTest::newRow("port not a number")
        << QStringList { "--port", "12a" } << false << 0 << 0 << false;
    QTest::newRow("negative port") << QStringList { "--port", "-1" } << false << 0 << 0 << false;
    QTest::newRow("value missing") << QStringList { "--data-dir" } << false << 0 << 0 << false;
    QTest::newRow("unknown option") << QStringList { "--verbose" } << false << 0 << 0 << false;
    QTest::newRow("flag with value") << QStringList { "--no-lan=1" } << false << 0 << 0 << false;
}

void ServiceUnitsTest::options()
{
    QFETCH(QStringList, args);
    QFETCH(bool, valid);
    std::vector<std::string> list;
    for (const QString &arg : args)
        list.push_back(arg.toStdString());
    std::string error;
    const auto parsed = svc::parseOptions(list, error);
    QCOMPARE(parsed.has_value(), valid);
    if (!valid) {
        QVERIFY(!error.empty());
        return;
    }
    QTEST(parsed->port, "port");
    QTEST(parsed->lanPort, "lanPort");
    QTEST(parsed->lan, "lan");
}

void ServiceUnitsTest::defaultDataDirFollowsXdg()
{
    qputenv("XDG_DATA_HOME", "/srv/xdg");
    QCOMPARE(QString::fromStdString(svc::defaultDataDir()),
             QString("/srv/xdg/QXLT/KivVelnorService"));
    qputenv("XDG_DATA_HOME", "relative/is/ignored");
    qputenv("HOME", "/home/someone");
    QCOMPARE(QString::fromStdString(svc::defaultDataDir()),
             QString("/home/someone/.local/share/QXLT/KivVelnorService"));
    std::string error;
    const auto parsed = svc::parseOptions({ "--data-dir", "/x/y" }, error);
    QCOMPARE(QString::fromStdString(parsed->dataDir), QString("/x/y"));
}

void ServiceUnitsTest::normalizePath_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected"); // empty: refused
    QTest::newRow("plain") << "/home/a/Movies"
                           << "/home/a/Movies";
    QTest::newRow("trailing slash") << "/home/a/Movies/"
                                    << "/home/a/Movies";
    QTest::newRow("doubled and dot") << "//home/./a//Movies"
                                     << "/home/a/Movies";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("dots in a name") << "/a/..b/c.."
                                    << "/a/..b/c..";
    QTest::newRow("parent segment") << "/home/a/../b"
                                    << "";
    QTest::newRow("parent at the end") << "/home/.."
                                       << "";
    QTest::newRow("relative") << "home/a"
                              << "";
    QTest::newRow("windows drive") << "C:/Movies"
                                   << "";
    QTest::newRow("empty") << ""
                           << "";
}

void ServiceUnitsTest::normalizePath()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    std::string error;
    const auto result = svc::normalizeLocalPath(input.toStdString(), error);
    QCOMPARE(result.has_value(), !expected.isEmpty());
    if (result)
        QCOMPARE(QString::fromStdString(*result), expected);
    else
        QVERIFY(!error.empty());
}

void ServiceUnitsTest::suffixes_data()
{
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    const QStringList standard { ".mp4", ".mkv" };
    QTest::newRow("lower") << standard << "a.mp4" << true;
    QTest::newRow("upper") << standard << "A.MP4" << true;
    QTest::newRow("mixed filter") << QStringList { ".MkV" } << "x.mkv" << true;
    QTest::newRow("without dot") << QStringList { "mp4" } << "x.mp4" << true;
    QTest::newRow("no dot before") << standard << "xmp4" << false;
    QTest::newRow("only the suffix") << standard << ".mp4" << false;
    QTest::newRow("other suffix") << standard << "a.mp4.txt" << false;
    QTest::newRow("empty filters") << QStringList { "", "." } << "a.mp4" << false;
}

void ServiceUnitsTest::suffixes()
{
    QFETCH(QStringList, filters);
    QFETCH(QString, name);
    std::vector<std::string> list;
    for (const QString &filter : filters)
        list.push_back(filter.toStdString());
    QTEST(svc::SuffixFilter(list).accepts(name.toStdString()), "accepted");
}

void ServiceUnitsTest::deviceName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected"); // empty: refused
    QTest::newRow("trimmed") << "  Living room \t"
                             << "Living room";
    QTest::newRow("63 CJK") << QString(63, QChar(0x7535)) << QString(63, QChar(0x7535));
    QTest::newRow("64 CJK") << QString(64, QChar(0x7535)) << "";
    QTest::newRow("63 ASCII with blanks around")
        << " " + QString(63, 'a') + " " << QString(63, 'a');
    QTest::newRow("blank") << " \t "
                           << "";
    QTest::newRow("tab inside") << "a\tb"
                                << "";
    QTest::newRow("delete character") << "a\x7f"
                                      << "";
}

void ServiceUnitsTest::deviceName()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    std::string error;
    const auto result = svc::validDeviceName(input.toStdString(), error);
    QCOMPARE(result.has_value(), !expected.isEmpty());
    if (result)
        QCOMPARE(QString::fromStdString(*result), expected);
    QVERIFY(!svc::defaultDeviceName().empty());
}

void ServiceUnitsTest::ids_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qlonglong>("expected"); // -1: refused
    QTest::newRow("zero") << "0" << 0LL;
    QTest::newRow("number") << "42" << 42LL;
    QTest::newRow("leading zeros") << "007" << 7LL;
    QTest::newRow("18 digits") << "999999999999999999" << 999999999999999999LL;
    QTest::newRow("19 digits") << "9999999999999999999" << -1LL;
    QTest::newRow("negative") << "-1" << -1LL;
    QTest::newRow("plus sign") << "+1" << -1LL;
    QTest::newRow("blank") << "" << -1LL;
    QTest::newRow("trailing text") << "1x" << -1LL;
}

void ServiceUnitsTest::ids()
{
    QFETCH(QString, text);
    QFETCH(qlonglong, expected);
    const auto id = svc::parseId(text.toStdString());
    QCOMPARE(id ? qlonglong(*id) : -1LL, expected);
}

void ServiceUnitsTest::utf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ascii") << QByteArray("abc") << true;
    QTest::newRow("chinese") << QString::fromUtf8("电影").toUtf8() << true;
    QTest::newRow("emoji") << QByteArray("\xf0\x9f\x8e\xac") << true;
    QTest::newRow("latin-1 byte") << QByteArray("caf\xe9") << false;
    QTest::newRow("cut short") << QByteArray("\xe7\x94") << false;
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << false;
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
}

void ServiceUnitsTest::utf8()
{
    QFETCH(QByteArray, bytes);
    QTEST(svc::isValidUtf8(bytes.toStdString()), "valid");
}

void ServiceUnitsTest::cancelBeforeItsImportStarts()
{
    svc::RequestRegistry registry;
    QVERIFY(!registry.cancel("early"));
    const auto early = registry.begin("early");
    QVERIFY(early->load());
    const auto other = registry.begin("other");
    QVERIFY(!other->load());
    QVERIFY(registry.cancel("other"));
    QVERIFY(other->load());
    registry.end(early);
    registry.end(other);
    registry.cancelAll();
    QVERIFY(registry.begin("late")->load());
}

void ServiceUnitsTest::requestEndsEvenWhenItThrows()
{
    svc::RequestRegistry registry;
    try {
        const svc::RequestRegistry::Scope running(registry, "doomed");
        QVERIFY(registry.cancel("doomed"));
        throw std::runtime_error("no space left");
    } catch (const std::runtime_error &) {
    }
    QVERIFY(!registry.cancel("doomed"));
}

void ServiceUnitsTest::hosts_data()
{
    // The control interface listens on port 22823 here.
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("loopback");
    QTest::addColumn<bool>("address");
    QTest::newRow("loopback address") << "127.0.0.1:22823" << true << true;
    QTest::newRow("localhost, any case") << "LocalHost:22823" << true << false;
    QTest::newRow("another port") << "127.0.0.1:22824" << false << true;
    QTest::newRow("no port") << "127.0.0.1" << false << true;
    QTest::newRow("port too large") << "10.0.0.2:65536" << false << false;
    QTest::newRow("address then a name") << "127.0.0.1.evil.example:22823" << false << false;
    QTest::newRow("localhost with a dot") << "localhost.:22823" << false << false;
    QTest::newRow("short address") << "10.1" << false << false;
    QTest::newRow("IPv6 with trailing text") << "[fe80::1]x" << false << false;
    QTest::newRow("LAN address") << "192.168.1.20:22824" << false << true;
}

void ServiceUnitsTest::hosts()
{
    QFETCH(QString, host);
    QTEST(svc::isLoopbackHost(host.toStdString(), 22823), "loopback");
    QTEST(svc::isAddressLiteralHost(host.toStdString()), "address");
}

void ServiceUnitsTest::lanAddressOrder_data()
{
    // "interface address" pairs as the system lists them; the first result is what the
    // assistant shows.
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("ordered");
    QTest::newRow("container bridge listed first")
        << QStringList { "docker0 172.17.0.1", "eth0 192.168.1.20" }
        << QStringList { "192.168.1.20", "172.17.0.1" };
    QTest::newRow("link-local and VPN after the network card")
        << QStringList { "enp3s0 169.254.7.1", "wg0 10.8.0.2", "wlan0 192.168.1.31" }
        << QStringList { "192.168.1.31", "10.8.0.2", "169.254.7.1" };
    QTest::newRow("loopback and repeats left out")
        << QStringList { "lo 127.0.0.1", "eth0 10.0.0.5", "eth0 10.0.0.5", "eth1 10.0.1.5" }
        << QStringList { "10.0.0.5", "10.0.1.5" };
}

void ServiceUnitsTest::lanAddressOrder()
{
    QFETCH(QStringList, found);
    std::vector<svc::InterfaceAddress> addresses;
    for (const QString &item : found)
        addresses.push_back(
            { item.section(' ', 0, 0).toStdString(), item.section(' ', 1).toStdString() });
    QStringList ordered;
    for (const std::string &address : svc::orderLanAddresses(addresses))
        ordered << QString::fromStdString(address);
    QTEST(ordered, "ordered");
}

void ServiceUnitsTest::logLinesStayLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("forged line") << QByteArray("GET /x\n2024-01-01 [error] y")
                                 << QByteArray("GET /x\\n2024-01-01 [error] y");
    QTest::newRow("carriage return and tab") << QByteArray("a\r\tb") << QByteArray("a\\r\\tb");
    QTest::newRow("terminal escape") << QByteArray("\x1b[2Jx\x7f") << QByteArray("\\x1b[2Jx\\x7f");
    QTest::newRow("text as it is")
        << QString::fromUtf8("电影 \\ a").toUtf8() << QString::fromUtf8("电影 \\ a").toUtf8();
}

void ServiceUnitsTest::logLinesStayLines()
{
    QFETCH(QByteArray, text);
    QTEST(QByteArray::fromStdString(svc::escapeControlCharacters(text.toStdString())), "written");
}

void ServiceUnitsTest::ranges_data()
{
    // kind: 0 whole, 1 partial, 2 unsatisfiable; the file has 1000 bytes unless said otherwise.
    QTest::addColumn<QString>("header");
    QTest::addColumn<qulonglong>("size");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qulonglong>("first");
    QTest::addColumn<qulonglong>("length");
    QTest::newRow("none") << "" << 1000ULL << 0 << 0ULL << 0ULL;
    QTest::newRow("closed") << "bytes=10-19" << 1000ULL << 1 << 10ULL << 10ULL;
    QTest::newRow("blanks and case") << " Bytes= 10 - 19 " << 1000ULL << 1 << 10ULL << 10ULL;
    QTest::newRow("open") << "bytes=990-" << 1000ULL << 1 << 990ULL << 10ULL;
    QTest::newRow("suffix") << "bytes=-10" << 1000ULL << 1 << 990ULL << 10ULL;
    QTest::newRow("suffix past start") << "bytes=-5000" << 1000ULL << 1 << 0ULL << 1000ULL;
    QTest::newRow("end clamped") << "bytes=0-5000" << 1000ULL << 1 << 0ULL << 1000ULL;
    QTest::newRow("start at size") << "bytes=1000-" << 1000ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("start beyond 64 bits")
        << "bytes=18446744073709551616-" << 1000ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("end beyond 63 bits")
        << "bytes=0-9223372036854775808" << 1000ULL << 1 << 0ULL << 1000ULL;
    QTest::newRow("end beyond 64 bits")
        << "bytes=5-18446744073709551616" << 1000ULL << 1 << 5ULL << 995ULL;
    QTest::newRow("zero suffix") << "bytes=-0" << 1000ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("empty file") << "bytes=0-" << 0ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("suffix of empty file") << "bytes=-5" << 0ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("reversed") << "bytes=9-3" << 1000ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("two ranges") << "bytes=0-1,4-5" << 1000ULL << 0 << 0ULL << 0ULL;
    QTest::newRow("two ranges, one reversed") << "bytes=0-1,5-2" << 1000ULL << 0 << 0ULL << 0ULL;
    QTest::newRow("negative") << "bytes=-5-9" << 1000ULL << 2 << 0ULL << 0ULL;
    QTest::newRow("other unit") << "items=0-1" << 1000ULL << 0 << 0ULL << 0ULL;
}

void ServiceUnitsTest::ranges()
{
    QFETCH(QString, header);
    QFETCH(qulonglong, size);
    const svc::RangeChoice choice = svc::chooseRange(header.toStdString(), size);
    QTEST(int(choice.kind), "kind");
    if (choice.kind == svc::RangeChoice::Kind::Partial) {
        QTEST(qulonglong(choice.first), "first");
        QTEST(qulonglong(choice.length), "length");
        QVERIFY(choice.first + choice.length <= size);
    }
}

void ServiceUnitsTest::coverSpool_data()
{
    QTest::addColumn<bool>("onDisk");
    QTest::newRow("in a file") << true;
    QTest::newRow("in memory") << false;
}

void ServiceUnitsTest::coverSpool()
{
    QFETCH(bool, onDisk);
    QTemporaryDir folder;
    svc::CoverSpool spool(onDisk ? folder.path().toStdString() : std::string());
    std::vector<svc::CoverSpool::Slot> places(64);
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            for (int i = w; i < 64; i += 4)
                places[size_t(i)] = spool.put(std::vector<uint8_t>(size_t(i * 7), uint8_t(i)));
        });
    }
    for (std::thread &writer : writers)
        writer.join();
    for (int i = 0; i < 64; ++i)
        QVERIFY(spool.take(places[size_t(i)]) == std::vector<uint8_t>(size_t(i * 7), uint8_t(i)));
    // The file has no name: nothing is left in the folder.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 0);
}

enum class LibraryChange { VideoAdded, CoverAdded, CoverDropped, SubfolderEmptied, VideoMoved };
Q_DECLARE_METATYPE(LibraryChange)

void ServiceUnitsTest::listingFollowsChanges_data()
{
    // A folder of a subfolder (holding one video), a video with a cover and one without.
    QTest::addColumn<LibraryChange>("change");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("inSubfolder");
    QTest::addColumn<QList<bool>>("covers"); // of the folder's videos, by id
    QTest::newRow("video added") << LibraryChange::VideoAdded << 4 << 1
                                 << QList<bool> { true, false, true };
    QTest::newRow("cover added") << LibraryChange::CoverAdded << 3 << 1
                                 << QList<bool> { true, true };
    QTest::newRow("cover dropped by a new reading")
        << LibraryChange::CoverDropped << 3 << 1 << QList<bool> { false, false };
    QTest::newRow("subfolder emptied")
        << LibraryChange::SubfolderEmptied << 3 << 0 << QList<bool> { true, false };
    QTest::newRow("video moved up")
        << LibraryChange::VideoMoved << 4 << 0 << QList<bool> { true, true, false };
}

void ServiceUnitsTest::listingFollowsChanges()
{
    QFETCH(LibraryChange, change);
    QTemporaryDir folder;
    svc::Database database(folder.filePath("library.db").toStdString());
    svc::Library library(database);
    const std::vector<uint8_t> jpeg { 0xff, 0xd8, 0xff, 0xd9 };
    int64_t top = 0, sub = 0, covered = 0, bare = 0, inside = 0;
    const auto entry = [](int64_t parent, svc::EntryType type, const std::string &path) {
        svc::Entry made;
        made.parentId = parent;
        made.type = type;
        made.name = path.substr(path.rfind('/') + 1);
        made.realPath = path;
        return made;
    };
    QVERIFY(library.write([&](svc::LibraryWriter &writer) {
        top = writer.insert(entry(0, svc::EntryType::Folder, "/m"));
        sub = writer.insert(entry(top, svc::EntryType::Folder, "/m/s"));
        inside = writer.insert(entry(sub, svc::EntryType::Video, "/m/s/c.mp4"));
        covered = writer.insert(entry(top, svc::EntryType::Video, "/m/a.mp4"));
        writer.putCover(covered, jpeg);
        bare = writer.insert(entry(top, svc::EntryType::Video, "/m/b.mp4"));
        return true;
    }));
    // Read once, so that whatever listings keep is kept before the change.
    QCOMPARE(library.listing(top).total, 3);
    QCOMPARE(library.listing(top, 1, 1).entries.at(0).id, covered);
    QCOMPARE(library.childCount(sub), 1);

    QVERIFY(library.write([&](svc::LibraryWriter &writer) {
        switch (change) {
        case LibraryChange::VideoAdded:
            writer.putCover(writer.insert(entry(top, svc::EntryType::Video, "/m/d.mp4")), jpeg);
            break;
        case LibraryChange::CoverAdded:
            writer.putCover(bare, jpeg);
            break;
        case LibraryChange::CoverDropped:
            writer.updateVideo(covered, top, 1, 1, svc::MediaInfo());
            break;
        case LibraryChange::SubfolderEmptied:
            writer.remove(inside);
            break;
        case LibraryChange::VideoMoved:
            writer.setParent(inside, top);
            writer.putCover(inside, jpeg);
            break;
        }
        return true;
    }));
    const svc::Listing all = library.listing(top);
    QTEST(int(all.total), "total");
    QCOMPARE(int64_t(all.entries.size()), all.total);
    QTEST(int(all.childCounts.at(sub)), "inSubfolder");
    QTEST(int(library.childCount(sub)), "inSubfolder");
    QList<bool> covers;
    for (const svc::Entry &video : all.entries) {
        if (video.type == svc::EntryType::Video)
            covers << video.hasCover;
    }
    QTEST(covers, "covers");
    // Pages are cut from the same order, and one past the end is empty but counted.
    const svc::Listing page = library.listing(top, 1, 2);
    QCOMPARE(page.entries.size(), size_t(2));
    QCOMPARE(page.entries[0].id, all.entries[1].id);
    QCOMPARE(page.entries[1].hasCover, all.entries[2].hasCover);
    const svc::Listing beyond = library.listing(top, 9, 5);
    QVERIFY(beyond.entries.empty());
    QCOMPARE(beyond.total, all.total);
}

// A long listing is written in pieces; put together they must say what its pages say.
void ServiceUnitsTest::longListingEqualsItsPages()
{
    QTemporaryDir folder;
    svc::Database database(folder.filePath("library.db").toStdString());
    svc::Library library(database);
    library.write([](svc::LibraryWriter &writer) {
        svc::Entry top;
        top.type = svc::EntryType::Folder;
        top.name = "Long";
        top.realPath = "/videos/Long";
        const int64_t topId = writer.insert(top);
        for (int i = 0; i < 700; ++i) {
            svc::Entry entry;
            entry.parentId = topId;
            entry.type = i % 100 == 0 ? svc::EntryType::Folder : svc::EntryType::Video;
            entry.name = "clip & " + std::to_string(i) + ".mp4";
            entry.realPath = "/videos/Long/" + entry.name;
            entry.info.layout = i % 3 ? "" : "_180_LR";
            const int64_t id = writer.insert(entry);
            if (i % 2)
                writer.putCover(id, { 0xff, 0xd8, 0xff, 0xd9 });
        }
        return true;
    });
    svc::ContentDirectory directory(library);
    svc::ContentDirectory::Request request;
    request.objectId = "1";
    request.browseFlag = "BrowseDirectChildren";
    const auto whole = directory.browse(request, "http://10.0.0.1:1");
    QCOMPARE(whole.numberReturned, 700u);
    // The pieces' bodies between one root: what the pages hold, in order.
    const auto body = [](const std::string &didl) {
        return QString::fromStdString(
            didl.substr(didl.find('>') + 1, didl.rfind("</DIDL-Lite>") - didl.find('>') - 1));
    };
    QString pages;
    request.requestedCount = 100;
    for (request.startingIndex = 0; request.startingIndex < 700; request.startingIndex += 100)
        pages += body(directory.browse(request, "http://10.0.0.1:1").didl);
    QCOMPARE(body(whole.didl), pages);
    QVERIFY(whole.didl.find("xmlns:dlna=") < whole.didl.find('>'));
    // What goes into a SOAP reply is the same listing escaped, long or short.
    request.escaped = true;
    for (const uint32_t count : { 0u, 100u }) {
        request.startingIndex = 0;
        request.requestedCount = count;
        const std::string escaped = directory.browse(request, "http://10.0.0.1:1").didl;
        request.escaped = false;
        const std::string plain = directory.browse(request, "http://10.0.0.1:1").didl;
        request.escaped = true;
        QCOMPARE(escaped, svc::upnp::escapeXml(plain));
    }
    // What was written before is kept only for objects that still show the same: a video
    // read again, one that got its cover, a folder that got a child, one removed.
    library.write([](svc::LibraryWriter &writer) {
        svc::MediaInfo info;
        info.width = 640;
        info.height = 360;
        info.durationMs = 61000;
        writer.updateVideo(3, 1, 999, 5, info);
        writer.putCover(4, { 0xff, 0xd8, 0xff, 0xd9 });
        svc::Playback stopped;
        stopped.positionMs = 61000;
        writer.setPlayback(6, stopped);
        svc::Entry child;
        child.parentId = 2;
        child.name = "inside.mp4";
        child.realPath = "/videos/Long/clip & 0.mp4/inside.mp4";
        writer.insert(child);
        writer.remove(5);
        return true;
    });
    request.requestedCount = 0;
    const std::string escaped = directory.browse(request, "http://10.0.0.1:1").didl;
    request.escaped = false;
    QCOMPARE(escaped, svc::upnp::escapeXml(directory.browse(request, "http://10.0.0.1:1").didl));
}

void ServiceUnitsTest::didlObjects_data()
{
    // Each object exactly as a player reads it: what the writer, the cache or a refactoring
    // changes in any attribute shows here.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("object");
    QTest::newRow("folder") << "Trips"
                            << "<container id=\"2\" parentID=\"1\" restricted=\"1\" "
                               "childCount=\"1\" searchable=\"0\"><dc:title>Trips</dc:title>"
                               "<upnp:class>object.container.storageFolder</upnp:class>"
                               "</container>";
    QTest::newRow("declared layout, cover")
        << "Concert.mkv"
        << "<item id=\"4\" parentID=\"1\" restricted=\"1\"><dc:title>Concert_180_TB</dc:title>"
           "<upnp:class>object.item.videoItem</upnp:class><dc:date>2023-11-14</dc:date>"
           "<res size=\"1048576\" resolution=\"3840x3840\" protocolInfo=\"http-get:*:"
           "video/x-matroska:DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=0170000000000000000000"
           "0000000000\" duration=\"1:01:01.005\">http://10.0.0.1:22824/media/4/Concert.mkv</res>"
           "<upnp:albumArtURI dlna:profileID=\"JPEG_SM\">http://10.0.0.1:22824/covers/4.jpg"
           "</upnp:albumArtURI><res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM;"
           "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=00f00000000000000000000000000000\">"
           "http://10.0.0.1:22824/covers/4.jpg</res></item>";
    QTest::newRow("layout in the name, odd characters")
        << "Beach \"Sun\" & 'Sea' \u00fc_180_LR.mp4"
        << "<item id=\"5\" parentID=\"1\" restricted=\"1\"><dc:title>Beach \"Sun\" &amp; "
           "'Sea' \u00fc_180_LR</dc:title><upnp:class>object.item.videoItem</upnp:class>"
           "<dc:date>2023-11-14</dc:date><res size=\"10\" protocolInfo=\"http-get:*:video/mp4:"
           "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000\">"
           "http://10.0.0.1:22824/media/5/Beach%20%22Sun%22%20%26%20%27Sea%27%20%C3%BC_180_LR.mp4"
           "</res></item>";
    QTest::newRow("where playback stopped")
        << "Resumed.mp4"
        << "<item id=\"6\" parentID=\"1\" restricted=\"1\"><dc:title>Resumed</dc:title>"
           "<upnp:class>object.item.videoItem</upnp:class><dc:date>2023-11-14</dc:date>"
           "<res size=\"7\" protocolInfo=\"http-get:*:video/mp4:DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
           "DLNA.ORG_FLAGS=01700000000000000000000000000000\">http://10.0.0.1:22824/media/6/"
           "Resumed.mp4</res><upnp:lastPlaybackPosition>0:00:42.500</upnp:lastPlaybackPosition>"
           "<upnp:playbackCount>2</upnp:playbackCount></item>";
}

void ServiceUnitsTest::didlObjects()
{
    QFETCH(QString, name);
    QFETCH(QString, object);
    QTemporaryDir folder;
    svc::Database database(folder.filePath("library.db").toStdString());
    svc::Library library(database);
    library.write([](svc::LibraryWriter &writer) {
        const auto add = [&writer](int64_t parent, svc::EntryType type, const std::string &name,
                                   const svc::MediaInfo &info, int64_t size) {
            svc::Entry entry;
            entry.parentId = parent;
            entry.type = type;
            entry.name = name;
            entry.realPath = "/videos/" + name;
            entry.size = size;
            entry.mtimeMs = 1700000000000;
            entry.info = info;
            return writer.insert(entry);
        };
        const int64_t top = add(0, svc::EntryType::Folder, "Videos", {}, 0);
        const int64_t trips = add(top, svc::EntryType::Folder, "Trips", {}, 0);
        add(trips, svc::EntryType::Video, "inside.mp4", {}, 1);
        svc::MediaInfo declared;
        declared.width = 3840;
        declared.height = 3840;
        declared.durationMs = 3661005;
        declared.layout = "_180_TB";
        writer.putCover(add(top, svc::EntryType::Video, "Concert.mkv", declared, 1 << 20),
                        { 0xff, 0xd8, 0xff, 0xd9 });
        add(top, svc::EntryType::Video, "Beach \"Sun\" & 'Sea' \u00fc_180_LR.mp4", {}, 10);
        svc::Playback resumed;
        resumed.positionMs = 42500;
        resumed.playCount = 2;
        writer.setPlayback(add(top, svc::EntryType::Video, "Resumed.mp4", {}, 7), resumed);
        return true;
    });
    svc::ContentDirectory directory(library);
    svc::ContentDirectory::Request request;
    request.objectId = "1";
    request.browseFlag = "BrowseDirectChildren";
    const std::string expected = object.toStdString();
    const std::string listing = directory.browse(request, "http://10.0.0.1:22824").didl;
    QVERIFY2(listing.find(expected) != std::string::npos, listing.c_str());
    // The same object alone, and escaped as it goes into a SOAP reply, from the cache too.
    const auto entry = library.entryByRealPath("/videos/" + name.toStdString());
    QVERIFY(entry);
    request.objectId = std::to_string(entry->id);
    request.browseFlag = "BrowseMetadata";
    QVERIFY(directory.browse(request, "http://10.0.0.1:22824").didl.find(expected)
            != std::string::npos);
    request.objectId = "1";
    request.browseFlag = "BrowseDirectChildren";
    request.escaped = true;
    for (int round = 0; round < 2; ++round) {
        QVERIFY(directory.browse(request, "http://10.0.0.1:22824")
                    .didl.find(svc::upnp::escapeXml(expected))
                != std::string::npos);
    }
}

// A video renamed on the disk keeps its entry and is not read again: the plan finds the move,
// the apply step makes it, and nothing reads the file.
void ServiceUnitsTest::folderImportPlansMovesOnce()
{
    QTemporaryDir folder;
    const std::string root = folder.filePath("tree").toStdString();
    QVERIFY(QDir().mkpath(folder.filePath("tree/Sub")));
    QFile video(folder.filePath("tree/Sub/renamed.mp4"));
    QVERIFY(video.open(QIODevice::WriteOnly) && video.write("not read") == 8);
    video.close();
    struct stat info
    {
    };
    QCOMPARE(stat((root + "/Sub/renamed.mp4").c_str(), &info), 0);
    svc::Database database(folder.filePath("library.db").toStdString());
    svc::Library library(database);
    int64_t videoId = 0;
    library.write([&](svc::LibraryWriter &writer) {
        svc::Entry entry;
        entry.type = svc::EntryType::Folder;
        entry.name = "tree";
        entry.realPath = root;
        const int64_t top = writer.insert(entry);
        entry.parentId = top;
        entry.name = "Sub";
        entry.realPath = root + "/Sub";
        entry.parentId = writer.insert(entry);
        entry.type = svc::EntryType::Video;
        entry.name = "old.mp4";
        entry.realPath = root + "/Sub/old.mp4";
        entry.size = 8;
        entry.mtimeMs = svc::modificationMs(info);
        videoId = writer.insert(entry);
        return true;
    });
    svc::WorkerPool pool(1);
    int reads = 0;
    svc::FolderImport import(
        library, pool, std::string(),
        [&reads](const std::string &, int64_t, int64_t, const std::atomic<bool> &) {
            ++reads;
            return svc::ProbeResult();
        });
    const std::atomic<bool> cancel { false };
    svc::ImportRequest request;
    request.path = root;
    const svc::FolderImport::Plan plan = import.plan(request, cancel);
    QVERIFY(plan.toRead.empty());
    QCOMPARE(plan.moves.size(), size_t(1));
    svc::FolderImport::Reading reading = import.read(plan, cancel);
    QCOMPARE(import.apply(plan, reading, cancel).status, svc::ImportOutcome::Status::Imported);
    QCOMPARE(reads, 0);
    const auto moved = library.entryByRealPath(root + "/Sub/renamed.mp4");
    QVERIFY(moved);
    QCOMPARE(moved->id, videoId);
}

void ServiceUnitsTest::changesTellTheirFolders_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QList<qint64>>("folders");
    // Top level 0 > folder 1 > folder 2 > video 3; video 4 in folder 1. A folder's count of
    // children shows in the folder above it.
    QTest::newRow("video added") << "add" << QList<qint64> { 1, 2 };
    QTest::newRow("video read again") << "update" << QList<qint64> { 2 };
    QTest::newRow("video moved up") << "move" << QList<qint64> { 0, 1, 2 };
    QTest::newRow("cover made") << "cover" << QList<qint64> { 1 };
    QTest::newRow("video removed") << "remove" << QList<qint64> { 1, 2 };
    QTest::newRow("folder added at the top") << "top" << QList<qint64> { 0 };
    // -1: not told at all.
    QTest::newRow("values written again") << "same" << QList<qint64> { -1 };
}

void ServiceUnitsTest::changesTellTheirFolders()
{
    QFETCH(QString, change);
    QFETCH(QList<qint64>, folders);
    QTemporaryDir folder;
    svc::Database database(folder.filePath("library.db").toStdString());
    svc::Library library(database);
    library.write([](svc::LibraryWriter &writer) {
        for (const auto &[parent, type, name] :
             std::initializer_list<std::tuple<int64_t, svc::EntryType, std::string>> {
                 { 0, svc::EntryType::Folder, "A" },
                 { 1, svc::EntryType::Folder, "B" },
                 { 2, svc::EntryType::Video, "v.mp4" },
                 { 1, svc::EntryType::Video, "w.mp4" } }) {
            svc::Entry entry;
            entry.parentId = parent;
            entry.type = type;
            entry.name = name;
            entry.realPath = "/" + name + std::to_string(parent);
            writer.insert(entry);
        }
        return true;
    });
    QList<qint64> told { -1 };
    const uint64_t updateId = library.updateId();
    const auto observing
        = library.addObserver([&told](svc::Library::Change, const std::set<int64_t> &touched) {
              told = QList<qint64>(touched.begin(), touched.end());
          });
    library.write([&change](svc::LibraryWriter &writer) {
        svc::Entry entry;
        entry.parentId = change == "top" ? 0 : 2;
        entry.type = change == "top" ? svc::EntryType::Folder : svc::EntryType::Video;
        entry.name = "new";
        entry.realPath = "/new";
        if (change == "add" || change == "top")
            writer.insert(entry);
        else if (change == "update")
            writer.updateVideo(3, 2, 10, 10, {});
        else if (change == "move")
            writer.setParent(3, 1);
        else if (change == "cover")
            writer.putCover(4, { 0xff, 0xd8, 0xff, 0xd9 });
        else if (change == "same") {
            writer.updateFolder(2, 1, 0);
            writer.setParent(3, 2);
            writer.move(4, 1, "w.mp4", "/w.mp41");
        } else
            writer.remove(3);
        return true;
    });
    QCOMPARE(told, folders);
    QCOMPARE(library.updateId(), updateId + (change == "same" ? 0 : 1));
}

QTEST_APPLESS_MAIN(ServiceUnitsTest)
#include "tst_service_units.moc"
