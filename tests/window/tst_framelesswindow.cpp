#include "recordingframeops.h"
#include "window/framelessquickwindow.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QtTest>

using platform::HitRegion;

Q_DECLARE_METATYPE(platform::HitRegion)

namespace {

class PressRecorder : public QQuickItem
{
public:
    explicit PressRecorder(QQuickItem *parent)
        : QQuickItem(parent)
    {
        setAcceptedMouseButtons(Qt::LeftButton);
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        ++presses;
        event->accept();
    }
};

// A 300 x 200 window whose 300 x 40 title bar holds a button at the right and a hidden item.
struct Scene
{
    FramelessQuickWindow window;
    PressRecorder *titleBar;
    PressRecorder *button;
    QQuickItem *hidden;

    Scene()
    {
        window.resize(300, 200);
        titleBar = new PressRecorder(window.contentItem());
        titleBar->setSize({ 300, 40 });
        button = new PressRecorder(titleBar);
        button->setPosition({ 250, 5 });
        button->setSize({ 30, 30 });
        hidden = new QQuickItem(titleBar);
        hidden->setPosition({ 100, 5 });
        hidden->setSize({ 30, 30 });
        hidden->setVisible(false);
        window.setTitleBar(titleBar);
        window.setResizeable(true);
        window.setBorderWidth(5);
    }
};

const QString fullStyle = QStringLiteral("style 10020000");
const QString bareStyle = QStringLiteral("style 10000000");

} // namespace

class TestFramelessWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void defaults();
    void settersEmitOnlyOnChange_data();
    void settersEmitOnlyOnChange();
    void shadowUpdateOnNeedShadow_data();
    void shadowUpdateOnNeedShadow();
    void shadowUpdateAfterShowAndHide();
    void pendingShadowUpdateOutlivesNothing();
    void titleBarWatch();
    void parentWinRelaysTransientParent();
    void hitTest_data();
    void hitTest();
    void pressRouting_data();
    void pressRouting();
    void systemCloseRequest();
    void closeFromSceneIsNotASystemRequest();

private:
    RecordingFrameOps *ops = nullptr;
};

void TestFramelessWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    qmlRegisterType<FramelessQuickWindow>("QtPelago.Window", 1, 0, "FramelessWindow");
}

void TestFramelessWindow::init()
{
    ops = new RecordingFrameOps;
    platform::setWindowFrameOps(ops);
}

void TestFramelessWindow::cleanup()
{
    platform::setWindowFrameOps(nullptr);
    delete ops;
    ops = nullptr;
}

void TestFramelessWindow::defaults()
{
    FramelessQuickWindow window;
    QCOMPARE(window.borderWidth(), 0);
    QCOMPARE(window.needShadow(), true);
    QCOMPARE(window.resizeable(), false);
    QCOMPARE(window.titleBar(), nullptr);
    QVERIFY(window.flags().testFlag(Qt::FramelessWindowHint));
    const QMetaObject *meta = window.metaObject();
    const QMetaProperty activity = meta->property(meta->indexOfProperty("activity"));
    QCOMPARE(activity.notifySignal().name(), QByteArray("activeChanged"));
    QVERIFY(activity.isReadable() && !activity.isWritable());
    QVERIFY(ops->calls.isEmpty());
}

void TestFramelessWindow::settersEmitOnlyOnChange_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("needShadow") << QByteArray("needShadow") << QVariant(false);
    QTest::newRow("resizeable") << QByteArray("resizeable") << QVariant(true);
    QTest::newRow("borderWidth") << QByteArray("borderWidth") << QVariant(6);
}

void TestFramelessWindow::settersEmitOnlyOnChange()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    FramelessQuickWindow window;
    const QMetaProperty meta
        = window.metaObject()->property(window.metaObject()->indexOfProperty(property));
    QSignalSpy spy(&window, meta.notifySignal());

    QVERIFY(window.setProperty(property, window.property(property)));
    QCOMPARE(spy.count(), 0);
    QVERIFY(window.setProperty(property, value));
    QCOMPARE(spy.count(), 1);
    QVERIFY(window.setProperty(property, value));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(window.property(property), value);
}

void TestFramelessWindow::shadowUpdateOnNeedShadow_data()
{
    QTest::addColumn<QList<bool>>("values");
    QTest::addColumn<WId>("handle");
    QTest::addColumn<bool>("composition");
    QTest::addColumn<QStringList>("calls");

    const QStringList hide { "handle", bareStyle, "ncrendering 0", "extend 1 1 1 1" };
    const QStringList show { "handle", fullStyle, "ncrendering 1", "extend 1 1 1 1" };
    QTest::newRow("same value") << QList<bool> { true } << WId(42) << true << QStringList();
    QTest::newRow("off") << QList<bool> { false } << WId(42) << true << hide;
    QTest::newRow("off and on") << QList<bool> { false, true } << WId(42) << true << hide + show;
    QTest::newRow("off twice") << QList<bool> { false, false } << WId(42) << true << hide;
    QTest::newRow("no native window")
        << QList<bool> { false } << WId(0) << true << QStringList { "handle" };
    QTest::newRow("no composition") << QList<bool> { false, true } << WId(42) << false
                                    << QStringList { "handle", bareStyle, "handle", fullStyle };
}

void TestFramelessWindow::shadowUpdateOnNeedShadow()
{
    QFETCH(QList<bool>, values);
    QFETCH(WId, handle);
    QFETCH(bool, composition);
    QFETCH(QStringList, calls);
    ops->handle = handle;
    ops->composition = composition;
    ops->style = 0x10020000;

    FramelessQuickWindow window;
    for (bool value : values)
        window.setNeedShadow(value);
    QCOMPARE(ops->calls, calls);
}

void TestFramelessWindow::shadowUpdateAfterShowAndHide()
{
    FramelessQuickWindow window;
    window.resize(100, 100);
    window.show();
    QVERIFY(ops->calls.isEmpty());
    const QStringList update { "handle", fullStyle, "ncrendering 1", "extend 1 1 1 1" };
    QTRY_COMPARE_WITH_TIMEOUT(ops->calls, update, 2000);

    ops->calls.clear();
    window.hide();
    QVERIFY(ops->calls.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(ops->calls, update, 2000);
}

void TestFramelessWindow::pendingShadowUpdateOutlivesNothing()
{
    auto *window = new FramelessQuickWindow;
    window->resize(100, 100);
    window->show();
    delete window;
    QTest::qWait(250);
    QVERIFY(ops->calls.isEmpty());
}

void TestFramelessWindow::titleBarWatch()
{
    FramelessQuickWindow window;
    QSignalSpy spy(&window, &FramelessQuickWindow::titleBarChanged);
    auto *first = new QQuickItem(window.contentItem());
    auto *second = new QQuickItem(window.contentItem());

    window.setTitleBar(first);
    window.setTitleBar(first);
    QCOMPARE(spy.count(), 1);

    delete first;
    QCOMPARE(window.titleBar(), nullptr);
    QCOMPARE(spy.count(), 2);

    auto *third = new QQuickItem(window.contentItem());
    window.setTitleBar(second);
    window.setTitleBar(third);
    QCOMPARE(spy.count(), 4);
    delete second; // replaced already: no effect
    QCOMPARE(window.titleBar(), third);
    QCOMPARE(spy.count(), 4);
}

void TestFramelessWindow::parentWinRelaysTransientParent()
{
    FramelessQuickWindow owner;
    FramelessQuickWindow window;
    QSignalSpy transientParent(&window, qOverload<>(&FramelessQuickWindow::transientParentChanged));
    QSignalSpy parentWin(&window, &FramelessQuickWindow::parentWinChanged);

    QVERIFY(window.setProperty("parentWin", QVariant::fromValue<QWindow *>(&owner)));
    QCOMPARE(window.transientParent(), &owner);
    QCOMPARE(window.property("parentWin").value<QWindow *>(), &owner);
    QCOMPARE(transientParent.count(), 1);
    QCOMPARE(parentWin.count(), 1);
    window.setTransientParent(&owner);
    QCOMPARE(parentWin.count(), 1);
}

void TestFramelessWindow::hitTest_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("ignoreButton");
    QTest::addColumn<bool>("withTitleBar");
    QTest::addColumn<HitRegion>("expected");

    QTest::newRow("gap") << QPoint(150, 20) << false << true << HitRegion::Caption;
    QTest::newRow("button") << QPoint(260, 20) << false << true << HitRegion::NotHandled;
    QTest::newRow("ignored button") << QPoint(260, 20) << true << true << HitRegion::Caption;
    QTest::newRow("hidden child") << QPoint(110, 20) << false << true << HitRegion::Caption;
    QTest::newRow("below title bar") << QPoint(150, 100) << false << true << HitRegion::NotHandled;
    QTest::newRow("left band over title bar") << QPoint(0, 20) << false << true << HitRegion::Left;
    QTest::newRow("top band over button") << QPoint(260, 2) << false << true << HitRegion::Top;
    QTest::newRow("title bar gone") << QPoint(150, 20) << false << false << HitRegion::NotHandled;
}

void TestFramelessWindow::hitTest()
{
    QFETCH(QPoint, point);
    QFETCH(bool, ignoreButton);
    QFETCH(bool, withTitleBar);
    QFETCH(HitRegion, expected);

    Scene scene;
    if (ignoreButton) {
        scene.window.addIgnore(scene.button);
        scene.window.addIgnore(scene.button);
    }
    if (!withTitleBar)
        delete scene.titleBar;
    const HitRegion got = scene.window.hitTest(point, point);
    QCOMPARE(int(got), int(expected));
}

void TestFramelessWindow::pressRouting_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("systemAccepts");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("titleBarPresses");
    QTest::addColumn<int>("buttonPresses");

    QTest::newRow("gap moves") << QPoint(150, 20) << true << QStringList { "move" } << 0 << 0;
    QTest::newRow("button gets press") << QPoint(260, 20) << true << QStringList() << 0 << 1;
    QTest::newRow("left band resizes")
        << QPoint(1, 100) << true << QStringList { QStringLiteral("resize %1").arg(Qt::LeftEdge) }
        << 0 << 0;
    QTest::newRow("corner over title bar")
        << QPoint(298, 1) << true
        << QStringList { QStringLiteral("resize %1").arg(int(Qt::TopEdge | Qt::RightEdge)) } << 0
        << 0;
    QTest::newRow("system refuses the move")
        << QPoint(150, 20) << false << QStringList { "move" } << 1 << 0;
}

void TestFramelessWindow::pressRouting()
{
    QFETCH(QPoint, point);
    QFETCH(bool, systemAccepts);
    QFETCH(QStringList, calls);
    QFETCH(int, titleBarPresses);
    QFETCH(int, buttonPresses);

    Scene scene;
    scene.window.setNeedShadow(false); // keeps the delayed shadow updates out of the record
    ops->handle = 0;
    scene.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&scene.window));
    const QRect g = scene.window.geometry();
    ops->rect = { g.left(), g.top(), g.right() + 1, g.bottom() + 1 };
    QTest::qWait(150);
    ops->calls.clear();
    ops->systemAccepts = systemAccepts;

    QTest::mousePress(&scene.window, Qt::LeftButton, {}, point);
    QCOMPARE(ops->calls, calls);
    QCOMPARE(scene.titleBar->presses, titleBarPresses);
    QCOMPARE(scene.button->presses, buttonPresses);
    QTest::mouseRelease(&scene.window, Qt::LeftButton, {}, point);
}

void TestFramelessWindow::systemCloseRequest()
{
    // Nobody listens: the window closes as usual.
    {
        FramelessQuickWindow window;
        window.show();
        QCloseEvent request;
        QCoreApplication::sendEvent(&window, &request);
        QVERIFY(!window.isVisible());
    }
    // The scene listens and closes the window itself, once.
    {
        FramelessQuickWindow window;
        window.show();
        int emitted = 0;
        connect(&window, &FramelessQuickWindow::closeAll, this, [&] {
            ++emitted;
            window.close();
        });
        QCloseEvent request;
        QCoreApplication::sendEvent(&window, &request);
        QCOMPARE(emitted, 1);
        QVERIFY(!window.isVisible());
    }
    // A second request while the scene still handles the first (the main scene waits for its
    // usage upload there) goes no further: the scene's clean-up runs once.
    {
        FramelessQuickWindow window;
        window.show();
        int emitted = 0;
        bool secondAccepted = true;
        connect(&window, &FramelessQuickWindow::closeAll, this, [&] {
            if (++emitted == 1) {
                QCloseEvent again;
                QCoreApplication::sendEvent(&window, &again);
                secondAccepted = again.isAccepted();
            }
            window.close();
        });
        QCloseEvent request;
        QCoreApplication::sendEvent(&window, &request);
        QCOMPARE(emitted, 1);
        QVERIFY(!secondAccepted);
        QVERIFY(!window.isVisible());
    }
    // The scene listens but keeps the window.
    {
        FramelessQuickWindow window;
        window.show();
        QSignalSpy spy(&window, &FramelessQuickWindow::closeAll);
        QCloseEvent request;
        QCoreApplication::sendEvent(&window, &request);
        QCOMPARE(spy.count(), 1);
        QVERIFY(window.isVisible());
    }
}

void TestFramelessWindow::closeFromSceneIsNotASystemRequest()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick 2.14\n"
                      "import QtPelago.Window 1.0\n"
                      "FramelessWindow {\n"
                      "    property int requests: 0\n"
                      "    function shut() { return close() }\n"
                      "    onCloseAll: requests++\n"
                      "}\n",
                      QUrl());
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    auto *window = qobject_cast<FramelessQuickWindow *>(object.data());
    QVERIFY(window);
    window->show();

    QVariant closed;
    QVERIFY(QMetaObject::invokeMethod(window, "shut", Q_RETURN_ARG(QVariant, closed)));
    QCOMPARE(closed.toBool(), true);
    QVERIFY(!window->isVisible());
    QCOMPARE(window->property("requests").toInt(), 0);

    window->show();
    QCloseEvent request;
    QCoreApplication::sendEvent(window, &request);
    QCOMPARE(window->property("requests").toInt(), 1);
    QVERIFY(window->isVisible());
}

QTEST_MAIN(TestFramelessWindow)
#include "tst_framelesswindow.moc"
