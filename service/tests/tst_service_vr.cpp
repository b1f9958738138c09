// What the VR players are told: the layout read from names and containers, the JSON documents of
// their own interfaces and what they post back, the order of listings and the subtitles found
// beside videos.
#include "service/contentdirectory.h"
#include "service/naturalorder.h"
#include "service/subtitles.h"
#include "service/vrlayout.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <random>

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
    // asBefore 0: a token only the new table knows, so the declared layout is not added.
    addRows({ "name", "declared", "title", "asBefore" },
            {
                { "Beach & Sun_180_LR.mp4", "_360_TB", "Beach & Sun_180_LR", "1" },
                { "Concert.mkv", "_TB", "Concert_TB", "1" },
                { "Trip.mp4", "_360_BT", "Trip_360_BT", "1" },
                { "Flat.mp4", "", "Flat", "1" },
                { "Trip (360).mp4", "_180_LR", "Trip (360)", "1" },
                { "Trip_TAB.mp4", "_LR", "Trip_TAB", "1" },
                { "Trip-VR360.mp4", "_LR", "Trip-VR360", "1" },
                { "NoSuffix", "_180", "NoSuffix_180", "1" },
                { "Studio360Tour.mp4", "_360", "Studio360Tour_360", "1" },
                { "Trip_MKX220.mp4", "_180_LR", "Trip_MKX220", "0" },
            });
}

void ServiceVrTest::dlnaTitleKeepsItsTokens()
{
    QFETCH(QString, name);
    QFETCH(QString, declared);
    QFETCH(QString, asBefore);
    const std::string title = svc::layoutTitle(name.toStdString(), declared.toStdString());
    QTEST(QString::fromStdString(title), "title");
    QCOMPARE(title == svc::videoTitle(name.toStdString(), declared.toStdString()), asBefore == "1");
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
