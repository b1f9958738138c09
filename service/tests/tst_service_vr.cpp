// What the VR players are told: the layout read from names and containers, the JSON documents of
// their own interfaces and what they post back, the order of listings and the subtitles found
// beside videos.
#include "service/contentdirectory.h"
#include "service/naturalorder.h"
#include "service/subtitles.h"
#include "service/vrlayout.h"
#include "service/vrplayers.h"

#include <QElapsedTimer>
#include <QTest>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <random>

using nlohmann::json;

namespace {

// The layout as HereSphere and DeoVR are told it, in one line.
QString describe(const svc::VrLayout &layout)
{
    const svc::HereSphereLayout here = svc::hereSphereLayout(layout);
    const svc::DeoVrLayout deo = svc::deoVrLayout(layout);
    return QString("%1 %2%3 %4 %5 | %6 %7 %8")
        .arg(here.projection, here.stereo, here.eyesSwapped ? " swapped" : "")
        .arg(here.fov)
        .arg(here.lens, deo.screenType ? deo.screenType : "-",
             deo.stereoMode ? deo.stereoMode : "-", deo.is3d ? "3d" : "2d");
}

svc::PlayerVideo sampleVideo(const QString &fileName, const std::string &declared)
{
    svc::PlayerVideo video;
    video.id = 42;
    video.fileName = fileName.toStdString();
    video.title = "Beach \"day\"";
    video.durationMs = 61499;
    video.width = 3840;
    video.height = 1920;
    video.size = 123456789;
    video.mtimeMs = 1700000000000;
    video.hasCover = true;
    video.layout = svc::videoLayout(video.fileName, declared);
    video.codec = "hevc";
    return video;
}

const std::string Base = "http://192.168.1.20:22824";

// Data rows written one to a line; the first column names the row unless a tag is given.
template<size_t N>
void addRows(const char *const (&columns)[N],
             std::initializer_list<std::array<const char *, N>> rows)
{
    for (const char *column : columns)
        QTest::addColumn<QString>(column);
    for (const auto &row : rows) {
        QTestData &data = QTest::newRow(row[0]);
        for (const char *value : row)
            data << QString::fromUtf8(value);
    }
}

} // namespace

class ServiceVrTest : public QObject
{
    Q_OBJECT

private slots:
    void layoutFromName_data();
    void layoutFromName();
    void nameAndContainerCombine_data();
    void nameAndContainerCombine();
    void dlnaTitleKeepsItsTokens_data();
    void dlnaTitleKeepsItsTokens();
    void playerDocuments_data();
    void playerDocuments();
    void urlsAreAbsoluteAndOptionalFieldsHonest();
    void librariesKeepSectionsAndSurviveOddNames();
    void largeLibrary();
    void requestBodies_data();
    void requestBodies();
    void eventBodies_data();
    void eventBodies();
    void resumePosition_data();
    void resumePosition();
    void naturalOrder();
    void sidecars_data();
    void sidecars();
};

void ServiceVrTest::layoutFromName_data()
{
    // HereSphere: projection stereo fov lens | DeoVR: screenType stereoMode is3d
    addRows({ "name", "expected" },
            {
                { "Holiday.mp4", "perspective mono 0 Linear | flat off 2d" },
                { "a_LR.mp4", "perspective sbs 0 Linear | flat sbs 3d" },
                { "a_SBS.mp4", "perspective sbs 0 Linear | flat sbs 3d" },
                { "a_3DH.mp4", "perspective sbs 0 Linear | flat sbs 3d" },
                { "a_RL.mp4", "perspective sbs swapped 0 Linear | flat sbs 3d" },
                { "a_TB.mp4", "perspective tb 0 Linear | flat tb 3d" },
                { "a_OU.mp4", "perspective tb 0 Linear | flat tb 3d" },
                { "a_3DV.mp4", "perspective tb 0 Linear | flat tb 3d" },
                { "a_TAB.mp4", "perspective tb 0 Linear | flat tb 3d" },
                { "a_BT.mp4", "perspective tb swapped 0 Linear | flat tb 3d" },
                { "a_180.mp4", "equirectangular mono 180 Linear | dome off 3d" },
                { "a_180x180.mp4", "equirectangular mono 180 Linear | dome off 3d" },
                { "a_360.mp4", "equirectangular360 mono 360 Linear | sphere off 3d" },
                { "a_VR360.mp4", "equirectangular360 mono 360 Linear | sphere off 3d" },
                { "a_F180.mp4", "fisheye mono 180 Linear | fisheye off 3d" },
                { "a_VR180.mp4", "fisheye mono 180 Linear | fisheye off 3d" },
                { "a_EAC360.mp4", "equiangularCubemap mono 360 Linear | - - 3d" },
                { "a_FISHEYE.mp4", "fisheye sbs 180 Linear | fisheye sbs 3d" },
                { "a_FISHEYE190.mp4", "fisheye sbs 190 Linear | rf52 sbs 3d" },
                { "a_RF52.mp4", "fisheye sbs 190 Linear | rf52 sbs 3d" },
                { "a_MKX200.mp4", "fisheye sbs 200 MKX200 | mkx200 sbs 3d" },
                { "a_MKX220.mp4", "fisheye sbs 220 MKX220 | mkx220 sbs 3d" },
                { "a_VRCA220.mp4", "fisheye sbs 220 VRCA220 | vrca220 sbs 3d" },
                { "a_180_LR.mp4", "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "a-180-LR.mp4", "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "a.180.LR.mp4", "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "a 180 LR.mp4", "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "a [180] (LR).mp4", "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "a_180_lr.mp4", "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "a_Mkx200.MP4", "fisheye sbs 200 MKX200 | mkx200 sbs 3d" },
                { "a_MKX200_FISHEYE.mp4", "fisheye sbs 200 MKX200 | mkx200 sbs 3d" },
                { "a_180_MKX220_LR.mp4", "fisheye sbs 220 MKX220 | mkx220 sbs 3d" },
                { "a_MKX200_TB.mp4", "fisheye tb 200 MKX200 | mkx200 tb 3d" },
                { "a_LR_TB.mp4", "perspective sbs 0 Linear | flat sbs 3d" },
                { "a_360_TB.mp4", "equirectangular360 tb 360 Linear | sphere tb 3d" },
                { "Studio360Tour.mp4", "perspective mono 0 Linear | flat off 2d" },
                { "LRT_news.mp4", "perspective mono 0 Linear | flat off 2d" },
                { "Concert_BTS.mp4", "perspective mono 0 Linear | flat off 2d" },
                { "clip180.mp4", "perspective mono 0 Linear | flat off 2d" },
                { "a_TBD_LRX_3603_180p.mp4", "perspective mono 0 Linear | flat off 2d" },
            });
}

void ServiceVrTest::layoutFromName()
{
    QFETCH(QString, name);
    QTEST(describe(svc::layoutFromName(name.toStdString())), "expected");
}

void ServiceVrTest::nameAndContainerCombine_data()
{
    addRows({ "tag", "name", "declared", "expected" },
            {
                { "container only", "Concert.mkv", "_180_LR",
                  "equirectangular sbs 180 Linear | dome sbs 3d" },
                { "container packing, no tokens", "Concert.mkv", "_LR",
                  "perspective sbs 0 Linear | flat sbs 3d" },
                { "name packing, container projection", "a_TB.mp4", "_360_LR",
                  "equirectangular360 tb 360 Linear | sphere tb 3d" },
                { "name projection, container packing", "a_180.mp4", "_BT",
                  "equirectangular tb swapped 180 Linear | dome tb 3d" },
                { "name says all", "a_360_TB.mp4", "_180_LR",
                  "equirectangular360 tb 360 Linear | sphere tb 3d" },
                { "rig's packing over container", "a_MKX200.mp4", "_TB",
                  "fisheye sbs 200 MKX200 | mkx200 sbs 3d" },
                { "container garbage", "a.mp4", "_XYZ", "perspective mono 0 Linear | flat off 2d" },
            });
}

void ServiceVrTest::nameAndContainerCombine()
{
    QFETCH(QString, name);
    QFETCH(QString, declared);
    QTEST(describe(svc::videoLayout(name.toStdString(), declared.toStdString())), "expected");
}

void ServiceVrTest::dlnaTitleKeepsItsTokens_data()
{
    // Tokens are added only when the name has none (the last: a token the players know).
    addRows({ "name", "declared", "title" },
            {
                { "Beach & Sun_180_LR.mp4", "_360_TB", "Beach & Sun_180_LR" },
                { "Concert.mkv", "_TB", "Concert_TB" },
                { "Trip.mp4", "_360_BT", "Trip_360_BT" },
                { "Flat.mp4", "", "Flat" },
                { "Trip (360).mp4", "_180_LR", "Trip (360)" },
                { "Trip_TAB.mp4", "_LR", "Trip_TAB" },
                { "Trip-VR360.mp4", "_LR", "Trip-VR360" },
                { "NoSuffix", "_180", "NoSuffix_180" },
                { "Studio360Tour.mp4", "_360", "Studio360Tour_360" },
                { "Trip_MKX220.mp4", "_180_LR", "Trip_MKX220" },
            });
}

void ServiceVrTest::dlnaTitleKeepsItsTokens()
{
    QFETCH(QString, name);
    QFETCH(QString, declared);
    const std::string title = svc::layoutTitle(name.toStdString(), declared.toStdString());
    QTEST(QString::fromStdString(title), "title");
}

void ServiceVrTest::playerDocuments_data()
{
    // DeoVR: screenType stereoMode is3d; HereSphere: projection stereo fov lens
    addRows({ "name", "declared", "deo", "here" },
            {
                { "Holiday.mp4", "", "flat off false", "perspective mono - Linear" },
                { "Beach_180_LR.mp4", "", "dome sbs true", "equirectangular sbs 180 Linear" },
                { "City_360_TB.mp4", "", "sphere tb true", "equirectangular360 tb 360 Linear" },
                { "Concert.mkv", "_LR", "flat sbs true", "perspective sbs - Linear" },
                { "Stage_MKX200.mp4", "", "mkx200 sbs true", "fisheye sbs 200 MKX200" },
            });
}

void ServiceVrTest::playerDocuments()
{
    QFETCH(QString, name);
    QFETCH(QString, declared);
    const svc::PlayerVideo video = sampleVideo(name, declared.toStdString());
    const json deo = json::parse(svc::deoVrVideo(video, Base));
    const auto text
        = [](const json &value) { return QString::fromStdString(value.get<std::string>()); };
    QTEST(QString("%1 %2 %3")
              .arg(text(deo.at("screenType")), text(deo.at("stereoMode")),
                   deo.at("is3d").get<bool>() ? "true" : "false"),
          "deo");
    const json here = json::parse(svc::hereSphereVideo(video, Base, true));
    QTEST(QString("%1 %2 %3 %4")
              .arg(text(here.at("projection")), text(here.at("stereo")),
                   here.contains("fov") ? QString::number(here.at("fov").get<int>()) : "-",
                   text(here.at("lens"))),
          "here");
    QCOMPARE(here.at("isEyeSwapped").get<bool>(), false);
}

void ServiceVrTest::urlsAreAbsoluteAndOptionalFieldsHonest()
{
    svc::PlayerVideo video = sampleVideo("Beach day_180_LR.mp4", "");
    video.converted = svc::PlayerStream { "/converted/42.mp4", "h264" };
    video.subtitles.push_back(
        { "Beach day_180_LR.en.srt", "en", svc::subtitlePath(42, 0, "Beach day_180_LR.en.srt") });
    video.favorite = true;

    const json deo = json::parse(svc::deoVrVideo(video, Base));
    QCOMPARE(deo.at("videoLength").get<int>(), 61);
    QCOMPARE(deo.at("thumbnailUrl").get<std::string>(), Base + "/covers/42.jpg");
    QVERIFY(deo.at("fullVideoReady").get<bool>() && deo.at("fullAccess").get<bool>());
    const json &encodings = deo.at("encodings");
    QCOMPARE(encodings[0].at("name").get<std::string>(), std::string("h265"));
    const json &direct = encodings[0].at("videoSources").at(0);
    QCOMPARE(direct.at("url").get<std::string>(), Base + "/media/42/Beach%20day_180_LR.mp4");
    QCOMPARE(direct.at("resolution").get<int>(), 1920);
    QCOMPARE(direct.at("size").get<int64_t>(), int64_t(123456789));
    const json &converted = encodings[1].at("videoSources").at(0);
    QCOMPARE(encodings[1].at("name").get<std::string>(), std::string("h264"));
    QCOMPARE(converted.at("url").get<std::string>(), Base + "/converted/42.mp4");
    QVERIFY(!converted.contains("size"));

    const json here = json::parse(svc::hereSphereVideo(video, Base, true));
    QCOMPARE(here.at("thumbnailImage").get<std::string>(), Base + "/covers/42.jpg");
    QCOMPARE(here.at("duration").get<int64_t>(), int64_t(61499));
    QCOMPARE(here.at("eventServer").get<std::string>(), Base + "/heresphere/events/42");
    QVERIFY(here.at("isFavorite").get<bool>());
    QVERIFY(here.at("writeFavorite").get<bool>() && here.at("writeRating").get<bool>());
    QVERIFY(here.at("media")[0].at("sources")[0].at("url") == direct.at("url"));
    const json &subtitle = here.at("subtitles").at(0);
    QCOMPARE(subtitle.at("url").get<std::string>(),
             Base + "/subtitles/42/0/Beach%20day_180_LR.en.srt");
    QCOMPARE(subtitle.at("language").get<std::string>(), std::string("en"));

    // Without a cover no address that would fail, and the sources only when asked for.
    video.hasCover = false;
    QVERIFY(!json::parse(svc::deoVrVideo(video, Base)).contains("thumbnailUrl"));
    const json bare = json::parse(svc::hereSphereVideo(video, Base, false));
    QVERIFY(!bare.contains("thumbnailImage"));
    QVERIFY(!bare.contains("media"));
}

void ServiceVrTest::librariesKeepSectionsAndSurviveOddNames()
{
    std::vector<svc::PlayerSection> sections(3);
    sections[0].name = "Trips \"2024\"";
    sections[0].videos = { sampleVideo("b.mp4", ""), sampleVideo("a.mp4", "") };
    sections[0].videos[0].id = 7;
    sections[0].videos[1].id = 3;
    sections[0].videos[1].title = std::string("bad\x01 \xff\xc3(", 8) + "\\";
    sections[0].videos[1].hasCover = false;
    sections[1].name = "Empty";
    sections[2].name = svc::SingleVideosSection;
    sections[2].videos = { sampleVideo("c.mp4", "") };

    const json deo = json::parse(svc::deoVrLibrary(sections, Base));
    QCOMPARE(deo.at("authorized").get<std::string>(), std::string("1"));
    const json &scenes = deo.at("scenes");
    QCOMPARE(scenes.size(), size_t(2));
    QCOMPARE(scenes[0].at("name").get<std::string>(), sections[0].name);
    QCOMPARE(scenes[1].at("name").get<std::string>(), std::string(svc::SingleVideosSection));
    const json &list = scenes[0].at("list");
    QCOMPARE(list[0].at("video_url").get<std::string>(), Base + "/deovr/7");
    QCOMPARE(list[0].at("thumbnailUrl").get<std::string>(), Base + "/covers/7.jpg");
    QCOMPARE(list[0].at("videoLength").get<int>(), 61);
    QCOMPARE(list[1].at("title").get<std::string>(),
             std::string("bad\x01 \xef\xbf\xbd\xef\xbf\xbd(\\"));
    QVERIFY(!list[1].contains("thumbnailUrl"));

    const json here = json::parse(svc::hereSphereLibrary(sections, Base));
    QCOMPARE(here.at("access").get<int>(), 1);
    QCOMPARE(here.at("library").size(), size_t(2));
    QVERIFY(here.at("library")[0].at("list")
            == json({ Base + "/heresphere/7", Base + "/heresphere/3" }));
}

void ServiceVrTest::largeLibrary()
{
    std::vector<svc::PlayerSection> sections(10);
    for (int i = 0; i < 10000; ++i) {
        svc::PlayerVideo video = sampleVideo(QString("clip %1_180_LR.mp4").arg(i), "");
        video.id = i + 1;
        video.title = "clip " + std::to_string(i) + "_180_LR";
        sections[size_t(i % 10)].name = "Folder " + std::to_string(i % 10);
        sections[size_t(i % 10)].videos.push_back(std::move(video));
    }
    QElapsedTimer timer;
    timer.start();
    const std::string deo = svc::deoVrLibrary(sections, Base);
    const qint64 deoMs = timer.restart();
    const std::string here = svc::hereSphereLibrary(sections, Base);
    const qint64 hereMs = timer.restart();
    size_t bytes = 0;
    for (const svc::PlayerVideo &video : sections[0].videos)
        bytes
            += svc::deoVrVideo(video, Base).size() + svc::hereSphereVideo(video, Base, true).size();
    const double perVideoUs = double(timer.nsecsElapsed()) / 1000 / 2 / 1000;
    qInfo("library of 10000 videos: DeoVR %lld ms (%zu bytes), HereSphere %lld ms (%zu bytes); "
          "one video's JSON %.1f us",
          deoMs, deo.size(), hereMs, here.size(), perVideoUs);
    QVERIFY(bytes > 0);
    QCOMPARE(json::parse(deo).at("scenes")[9].at("list").size(), size_t(1000));
    QCOMPARE(json::parse(here).at("library")[9].at("list").size(), size_t(1000));
}

void ServiceVrTest::requestBodies_data()
{
    // valid, media wanted, favourite, rating, delete
    addRows({ "tag", "body", "expected" },
            {
                { "none", "", "valid media - - keep" },
                { "no media", R"({"needsMediaSource":false})", "valid - - - keep" },
                { "no media as text", R"({"needsMediaSource":"FALSE"})", "valid - - - keep" },
                { "favourite, rating", R"({"isFavorite":true,"rating":4.5})",
                  "valid media 1 4.5 keep" },
                { "as text and 0", R"({"isFavorite":0,"rating":"3"})", "valid media 0 3 keep" },
                { "out of range", R"({"isFavorite":2,"rating":7})", "valid media - - keep" },
                { "wrong types", R"({"isFavorite":{"a":1},"rating":[5]})", "valid media - - keep" },
                { "delete", R"({"deleteFile":true})", "valid media - - delete" },
                { "not json", "rating=5", "invalid media - - keep" },
                { "cut short", R"({"rating":4)", "invalid media - - keep" },
                { "not text", "\xff\xfe{", "invalid media - - keep" },
            });
    QTest::newRow("deep") << "" << QString(R"({"rating":)") + QString(100000, '[')
                          << "invalid media - - keep";
}

void ServiceVrTest::requestBodies()
{
    QFETCH(QString, body);
    const svc::HereSphereRequest request = svc::parseHereSphereRequest(body.toStdString());
    QTEST(QString("%1 %2 %3 %4 %5")
              .arg(request.valid ? "valid" : "invalid", request.needsMediaSource ? "media" : "-",
                   request.favorite ? QString::number(*request.favorite) : "-",
                   request.rating ? QString::number(*request.rating) : "-",
                   request.deleteFile ? "delete" : "keep"),
          "expected");
}

void ServiceVrTest::eventBodies_data()
{
    // kind, time, counts a play, leaves a position
    addRows(
        { "tag", "body", "expected" },
        {
            { "pause", R"({"id":"x","event":2,"time":61000.4,"speed":1})", "2 61000 - position" },
            { "close as text", R"({"event":"3","time":"5000"})", "3 5000 - position" },
            { "open", R"({"event":0,"time":0})", "0 0 play -" },
            { "close without time", R"({"event":3})", "3 - - -" },
            { "unknown kind", R"({"event":2.5,"time":10})", "-1 10 - -" },
            { "negative time", R"({"event":2,"time":-5})", "2 - - -" },
            { "huge time", R"({"event":2,"time":1e300})", "2 - - -" },
            { "garbage", "event=2", "-1 - - -" },
        });
}

void ServiceVrTest::eventBodies()
{
    QFETCH(QString, body);
    const svc::HereSphereEvent event = svc::parseHereSphereEvent(body.toStdString());
    QTEST(QString("%1 %2 %3 %4")
              .arg(int(event.kind))
              .arg(event.timeMs ? QString::number(*event.timeMs) : "-",
                   event.countsPlay() ? "play" : "-", event.leavesPosition() ? "position" : "-"),
          "expected");
}

void ServiceVrTest::resumePosition_data()
{
    QTest::addColumn<qlonglong>("stoppedAt");
    QTest::addColumn<qlonglong>("duration");
    QTest::addColumn<qlonglong>("expected");
    QTest::newRow("middle") << 61000LL << 600000LL << 61000LL;
    QTest::newRow("last seconds") << 595000LL << 600000LL << 0LL;
    QTest::newRow("credits of a long one") << 7100000LL << 7200000LL << 0LL;
    QTest::newRow("length unknown") << 5000LL << 0LL << 5000LL;
}

void ServiceVrTest::resumePosition()
{
    QFETCH(qlonglong, stoppedAt);
    QFETCH(qlonglong, duration);
    QTEST(qlonglong(svc::resumePositionMs(stoppedAt, duration)), "expected");
}

void ServiceVrTest::naturalOrder()
{
    struct Item
    {
        bool folder;
        std::string name;
        int64_t id;
    };
    const std::vector<Item> expected {
        { true, "Zoo", 9 },
        { false, "a", 5 },
        { false, "B", 4 },
        { false, "clip 2", 3 },
        { false, "clip 02", 1 },
        { false, "clip 10", 2 },
        { false, "clip 99999999999999999999", 11 },
        { false, "clip 100000000000000000000", 10 },
        { false, "éclair", 14 },
        { false, "Été", 13 },
        { false, "été", 12 },
        { false, "电影", 6 },
        { false, "电影", 7 },
    };
    std::vector<Item> items = expected;
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(items.begin(), items.end(), random);
        std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) {
            return svc::listedBefore({ a.folder, a.name, a.id }, { b.folder, b.name, b.id });
        });
        for (size_t i = 0; i < items.size(); ++i)
            QCOMPARE(items[i].id, expected[i].id);
    }
    for (const Item &a : expected) {
        for (const Item &b : expected)
            QCOMPARE(svc::naturalCompare(a.name, b.name), -svc::naturalCompare(b.name, a.name));
    }
}

void ServiceVrTest::sidecars_data()
{
    QTest::addColumn<QString>("video");
    QTest::addColumn<QStringList>("folder");
    QTest::addColumn<QStringList>("expected"); // name|language|type
    const QStringList folder { "Movie.mp4",     "Movie.srt",   "Movie.en.SRT", "Movie.pt-BR.vtt",
                               "Movie.en.mp4",  "Movie2.srt",  "movie.vtt",    "Movie.srt.txt",
                               "Movie.a b.srt", "Movie.fr.srt" };
    QTest::newRow("beside a video")
        << "/v/Movie.mp4" << folder
        << QStringList { "Movie.srt||text/srt", "Movie.fr.srt|fr|text/srt",
                         "Movie.pt-BR.vtt|pt-BR|text/vtt" };
    QTest::newRow("a name another video owns")
        << "/v/Movie.en.mp4" << folder << QStringList { "Movie.en.SRT||text/srt" };
    QTest::newRow("none") << "/v/Other.mkv" << folder << QStringList {};
    QTest::newRow("suffix only") << "/v/x.mp4" << QStringList { "x.mp4", ".srt", "x..srt" }
                                 << QStringList {};
}

void ServiceVrTest::sidecars()
{
    QFETCH(QString, video);
    QFETCH(QStringList, folder);
    std::vector<std::string> names;
    for (const QString &name : folder)
        names.push_back(name.toStdString());
    QStringList found;
    for (const svc::SidecarSubtitle &subtitle : svc::sidecarSubtitles(video.toStdString(), names))
        found << QString::fromStdString(subtitle.fileName + "|" + subtitle.language + "|"
                                        + svc::subtitleMimeType(subtitle.format));
    QTEST(found, "expected");
}

QTEST_APPLESS_MAIN(ServiceVrTest)
#include "tst_service_vr.moc"
