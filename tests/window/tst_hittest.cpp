#include "platform/hittest.h"

#include <QtTest>

using platform::HitRegion;

Q_DECLARE_METATYPE(platform::HitRegion)
Q_DECLARE_METATYPE(platform::FrameRect)
Q_DECLARE_METATYPE(platform::SizeLimits)

namespace {
// Qt's default maximum window size.
constexpr int Unbounded = 16777215;
const platform::FrameRect window { 100, 50, 400, 350 };
const platform::SizeLimits both { 0, Unbounded, 0, Unbounded };
const platform::SizeLimits widthOnly { 0, Unbounded, 300, 300 };
const platform::SizeLimits heightOnly { 300, 300, 0, Unbounded };
} // namespace

class TestHitTest : public QObject
{
    Q_OBJECT
private slots:
    void hitTest_data();
    void hitTest();
};

void TestHitTest::hitTest_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<platform::FrameRect>("rect");
    QTest::addColumn<int>("border");
    QTest::addColumn<bool>("resizeable");
    QTest::addColumn<platform::SizeLimits>("limits");
    QTest::addColumn<bool>("overCaption");
    QTest::addColumn<HitRegion>("expected");

    const auto row = [](const char *name, int x, int y, int border, bool resizeable,
                        platform::SizeLimits limits, bool caption, HitRegion expected,
                        platform::FrameRect rect = window) {
        QTest::newRow(name) << x << y << rect << border << resizeable << limits << caption
                            << expected;
    };

    row("not resizeable, left edge", 100, 200, 5, false, both, false, HitRegion::NotHandled);
    row("not resizeable, left edge over caption", 100, 60, 5, false, both, true,
        HitRegion::Caption);
    row("zero border, left edge", 100, 200, 0, true, both, false, HitRegion::NotHandled);
    row("zero border, corner", 100, 50, 0, true, both, false, HitRegion::NotHandled);

    row("x = L", 100, 200, 5, true, both, false, HitRegion::Left);
    row("x = L + w - 1", 104, 200, 5, true, both, false, HitRegion::Left);
    row("x = L + w", 105, 200, 5, true, both, false, HitRegion::NotHandled);
    row("x = L - 1", 99, 200, 5, true, both, false, HitRegion::NotHandled);
    row("x = R - 1", 399, 200, 5, true, both, false, HitRegion::Right);
    row("x = R - w", 395, 200, 5, true, both, false, HitRegion::Right);
    row("x = R", 400, 200, 5, true, both, false, HitRegion::NotHandled);
    row("y = T", 200, 50, 5, true, both, false, HitRegion::Top);
    row("y = B - 1", 200, 349, 5, true, both, false, HitRegion::Bottom);
    row("y = B", 200, 350, 5, true, both, false, HitRegion::NotHandled);
    row("border 1, x = L", 100, 200, 1, true, both, false, HitRegion::Left);
    row("border 1, x = R - 1", 399, 200, 1, true, both, false, HitRegion::Right);

    row("top left", 102, 52, 5, true, both, false, HitRegion::TopLeft);
    row("top right", 399, 50, 5, true, both, false, HitRegion::TopRight);
    row("bottom left", 100, 349, 5, true, both, false, HitRegion::BottomLeft);
    row("bottom right", 399, 349, 5, true, both, false, HitRegion::BottomRight);

    row("fixed width, left band", 100, 200, 5, true, heightOnly, false, HitRegion::NotHandled);
    row("fixed width, right band", 399, 200, 5, true, heightOnly, false, HitRegion::NotHandled);
    row("fixed width, top band", 200, 50, 5, true, heightOnly, false, HitRegion::Top);
    row("fixed width, bottom band", 200, 349, 5, true, heightOnly, false, HitRegion::Bottom);
    row("fixed width, top left corner", 100, 50, 5, true, heightOnly, false, HitRegion::Top);
    row("fixed width, bottom right corner", 399, 349, 5, true, heightOnly, false,
        HitRegion::Bottom);
    row("fixed height, top band", 200, 50, 5, true, widthOnly, false, HitRegion::NotHandled);
    row("fixed height, top left corner", 100, 50, 5, true, widthOnly, false, HitRegion::Left);
    row("fixed height, bottom right corner", 399, 349, 5, true, widthOnly, false, HitRegion::Right);
    row("fixed both, corner", 100, 50, 5, true, { 300, 300, 300, 300 }, false,
        HitRegion::NotHandled);
    row("fixed both, corner over caption", 100, 50, 5, true, { 300, 300, 300, 300 }, true,
        HitRegion::Caption);

    // Narrower than two bands: the point lies in both the left and the right band.
    row("narrow, both bands, width only", 102, 200, 5, true, widthOnly, false, HitRegion::Right,
        { 100, 50, 106, 350 });
    row("narrow, both bands and top", 102, 50, 5, true, both, false, HitRegion::TopRight,
        { 100, 50, 106, 350 });

    row("band over caption", 100, 60, 5, true, both, true, HitRegion::Left);
    row("top band over caption", 200, 52, 5, true, both, true, HitRegion::Top);
    row("inside, caption", 200, 60, 5, true, both, true, HitRegion::Caption);
    row("inside, not caption", 200, 200, 5, true, both, false, HitRegion::NotHandled);
}

void TestHitTest::hitTest()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(platform::FrameRect, rect);
    QFETCH(int, border);
    QFETCH(bool, resizeable);
    QFETCH(platform::SizeLimits, limits);
    QFETCH(bool, overCaption);
    QFETCH(HitRegion, expected);

    const HitRegion got = platform::hitTest(x, y, rect, border, resizeable, limits, overCaption);
    QCOMPARE(static_cast<int>(got), static_cast<int>(expected));
}

QTEST_APPLESS_MAIN(TestHitTest)
#include "tst_hittest.moc"
