// The live path: images arrive queued, only the newest is drawn, the rest
// are counted as not shown and none is lost; numbering, upstream loss,
// strip, view geometry and colour order.
#include "../interfaces/stubcamera.h"
#include "camerasession.h"
#include "cameratab.h"
#include "framegate.h"
#include "imagedisplay.h"
#include "imageview.h"
#include "logwatch.h"
#include "stripview.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QThread>
#include <QtTest>

namespace {

ImageProcessData frame(int product, int capture, uchar value = 0, int cols = 64, int rows = 16, int type = CV_8UC1)
{
    ImageProcessData d;
    d.productId = product;
    d.cycleCapture = capture;
    d.image = cv::Mat(rows, cols, type, cv::Scalar::all(value));
    return d;
}

// Records whether the caller held the camera's mutex (it is not recursive,
// so a try-lock from the holding thread fails).
struct LockCheckingCamera : StubCamera
{
    QSize getImageSize() override { return QSize(64, 16); }  // an opened camera
    bool held() { return mutex.tryLock() ? (mutex.unlock(), false) : true; }
    void softTrigger(int product, int capture, std::function<void()>) override
    {
        triggers << qMakePair(product, capture);
        if (onTrigger)
            onTrigger();
        allHeld = allHeld && held();
    }
    void setTrigParams(CameraTrigParams* p) override
    {
        perProduct = p->capturesPerProduct;
        allHeld = allHeld && held();
    }
    QVector<QPair<int, int>> triggers;
    std::function<void()> onTrigger;  // the plug-in's warning, written inside the call
    int perProduct = 0;
    bool allHeld = true;
};

} // namespace

class TestViewerLive : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { logwatch::install(false); }

    // A host's own log watch takes the records while it lives, then hands
    // them back to the one before it; a HostCamera reads the watch it is given.
    void logWatchesNestAndCamerasReadTheirOwn()
    {
        const char* dropped = "Camera 5 software trigger for product 3 capture 1 dropped: the device is busy";
        LogWatch* outer = LogWatch::installed();
        QVERIFY(outer);
        const int outerBefore = outer->triggersDropped(5);
        {
            LogWatch mine(false);
            QCOMPARE(LogWatch::installed(), &mine);
            auto* cam = new LockCheckingCamera;
            HostCamera host(cam, QStringLiteral("S5"), 5, nullptr, &mine);
            cam->onTrigger = [&] { qWarning("%s", dropped); };
            int product = 3;
            QVERIFY(!host.trigger(product, 1));  // the plug-in said it dropped it
            QCOMPARE(mine.triggersDropped(5), 1);
            QCOMPARE(outer->triggersDropped(5), outerBefore);
        }
        QCOMPARE(LogWatch::installed(), outer);
        qWarning("%s", dropped);
        QCOMPARE(outer->triggersDropped(5), outerBefore + 1);
    }

    void gateKeepsNewestAndCountsTheRest()
    {
        FrameAccounting counts;
        FrameGate gate;
        cv::Mat first;
        for (int i = 1; i <= 100; ++i) {
            ImageProcessData d = frame(i, 1, uchar(i));
            if (i == 1)
                first = d.image;
            counts.frameReceived({d.productId, d.cycleCapture, 1});
            gate.offer(d);
            if (i % 10 == 0)
                QCOMPARE(gate.take().productId, i);  // always the newest
        }
        QCOMPARE(counts.delivered(), 100);
        QCOMPARE(gate.shownCount(), 10);
        QCOMPARE(gate.notShownCount(), 90);
        QVERIFY(!gate.hasPending());
        QCOMPARE(first.u->refcount, 1);  // a replaced image is not held on to
    }

    void queuedImagesUnderLoadAreAllReceived()
    {
        auto* cam = new StubCamera;  // the session owns its camera
        CameraSession session(nullptr, QStringLiteral("S1"), 0, true, cam);
        int drawn = 0;
        connect(&session, &CameraSession::drawDue, [&] { session.gate().take(); ++drawn; });
        constexpr int kFrames = 500;
        QThread sdk;
        QObject sender;
        sender.moveToThread(&sdk);
        sdk.start();
        QMetaObject::invokeMethod(&sender, [&] {
            for (int i = 1; i <= kFrames; ++i)
                emit cam->captureCompleted(frame(i, 1));
        });
        // The GUI thread is busy while the camera sends.
        QThread::msleep(300);
        QTRY_COMPARE(session.accounting().delivered(), qint64(kFrames));
        sdk.quit();
        sdk.wait();
        QTRY_VERIFY(!session.gate().hasPending());
        const FrameGate& c = session.gate();
        QCOMPARE(c.shownCount(), qint64(drawn));
        QCOMPARE(c.shownCount() + c.notShownCount(), qint64(kFrames));
        QVERIFY(c.notShownCount() > 0);
        QCOMPARE(session.accounting().misnumbered(), 0);
        session.close();
    }

    void productionCallsHoldTheCamerasMutex()
    {
        auto* cam = new LockCheckingCamera;
        cam->productCounter = 41;
        CameraSession session(nullptr, QStringLiteral("S1"), 0, false, cam);
        CameraTrigParams p;
        p.capturesPerProduct = 2;
        session.setTrigParams(p);
        QCOMPARE(cam->perProduct, 2);
        for (int i = 0; i < 3; ++i)
            session.trigger();
        // Triggers continue the camera's own count, two captures a product.
        QCOMPARE(cam->triggers, (QVector<QPair<int, int>>{{42, 1}, {42, 2}, {43, 1}}));
        session.setRunning(true);
        QVERIFY(cam->isRunning);
        QVERIFY(cam->allHeld);
        session.close();
        session.trigger();  // a closed session reaches no camera
    }

    // The session's state is the kit's one state of the camera: a camera
    // that did not open says so, an outage is counted once it ends, and a
    // closed camera stays closed whatever arrives late.
    void sessionFollowsTheCamerasOneState()
    {
        auto* cam = new StubCamera;  // reports no image size: it did not open
        CameraSession session(nullptr, QStringLiteral("S1"), 0, false, cam);
        QSignalSpy changes(&session, &CameraSession::stateChanged);
        QCOMPARE(session.state(), CameraState::NotOpened);
        QVERIFY(session.stateMachine()->down());
        emit cam->CameraReconnect();
        QTRY_COMPARE(session.state(), CameraState::Open);
        QCOMPARE(session.stateMachine()->outages(), 0);  // opening late is no outage
        emit cam->captureCompleted(frame(0, 1));
        QTRY_COMPARE(session.state(), CameraState::Grabbing);
        emit cam->CameraLoss();
        QTRY_COMPARE(session.state(), CameraState::Lost);
        emit cam->CameraReconnect();
        QTRY_COMPARE(session.state(), CameraState::Open);
        QCOMPARE(session.stateMachine()->outages(), 1);
        QVERIFY(session.stateMachine()->lastOutageEnd() >= session.stateMachine()->lastOutageStart());
        QCOMPARE(changes.count(), 4);
        session.close();
        QCOMPARE(session.state(), CameraState::Closed);
    }

    // While the camera delivers nothing its last image is dimmed and marked;
    // afterwards the status tells of the outage. A trigger that reaches no
    // device moves no number, so the Trigger label and the status line show
    // the same next product.
    void aLossShowsOnTheImageAndInTheStatus()
    {
        auto* cam = new LockCheckingCamera;
        cam->productCounter = 1;
        CameraTab tab(new CameraSession(nullptr, QStringLiteral("S1"), 0, true, cam), nullptr);
        tab.show();
        CameraSession& session = *tab.session();
        emit cam->captureCompleted(frame(1, 1, 90));
        QTRY_VERIFY(!tab.shown().image.empty());
        QVERIFY(tab.imageView()->staleMark().isEmpty());
        QVERIFY(session.trigger());
        const QString next = session.nextText();
        emit cam->CameraLoss();
        QTRY_VERIFY(tab.imageView()->staleMark().contains(QLatin1String("lost")));
        QCOMPARE(tab.stripView()->staleMark(), tab.imageView()->staleMark());
        for (int i = 0; i < 4; ++i)
            QVERIFY(!session.trigger());
        QCOMPARE(session.nextText(), next);
        QCOMPARE(cam->triggers.size(), 1);
        QVERIFY(tab.statusText().contains(next));
        bool labelAgrees = false;
        for (const QLabel* l : tab.findChildren<QLabel*>())
            labelAgrees = labelAgrees || l->text() == next;
        QVERIFY(labelAgrees);
        emit cam->CameraReconnect();
        QTRY_VERIFY(tab.imageView()->staleMark().isEmpty());
        QVERIFY2(tab.statusText().contains(QLatin1String("outages 1")), qPrintable(tab.statusText()));
        tab.session()->close();
    }

    void pixelReadoutClearsWhenTheCursorLeaves()
    {
        ImageView view;
        view.resize(160, 80);
        view.setImage(cv::Mat(16, 64, CV_8UC1, cv::Scalar(7)));
        QSignalSpy hovered(&view, &ImageView::pixelHovered);
        QMouseEvent move(QEvent::MouseMove, QPointF(80, 40), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        QVERIFY(!hovered.last().at(0).toString().isEmpty());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&view, &leave);
        QCOMPARE(hovered.last().at(0).toString(), QString());
    }

    void numberingAndUpstreamLoss()
    {
        FrameAccounting counts;
        counts.followNumbers(ProductSchedule(2), true);
        for (auto pc : {std::pair{1, 1}, {1, 2}, {0, 1}, {2, 1}, {3, 1}, {3, 2}})
            counts.frameReceived({pc.first, pc.second, 1});
        QCOMPARE(counts.misnumbered(), 1);  // (3, 1) where (2, 2) was due
        counts.restartNumbering();
        counts.frameReceived({9, 1, 1});
        QCOMPARE(counts.misnumbered(), 1);

        // The session of camera 7 counts the plug-in's reports for camera 7
        // only, with the frame they were logged for, running or not.
        auto* cam = new StubCamera;
        CameraSession session(nullptr, QStringLiteral("S7"), 7, true, cam);

        qWarning() << "Camera" << 7 << "SDK with product" << 3 << "cycle" << 1 << "last frame" << 10
                   << "current frame" << 13 << "width" << 64 << "height" << 16 << "lost packets" << 0;
        qWarning() << "Camera" << 8 << "SDK with product" << 3 << "cycle" << 1 << "last frame" << 10
                   << "current frame" << 12 << "width" << 64 << "height" << 16 << "lost packets" << 0;
        emit cam->captureCompleted(frame(3, 1));
        QTRY_COMPARE(session.accounting().delivered(), 1);
        QCOMPARE(session.accounting().lostUpstream(), 3);
        qWarning() << "Camera" << 7 << "SDK with product" << 0 << "cycle" << 1 << "last frame" << 14
                   << "current frame" << 16 << "width" << 64 << "height" << 16 << "lost packets" << 0;
        emit cam->captureCompleted(frame(0, 1));
        QTRY_COMPARE(session.accounting().lostUpstream(), 5);
        session.close();
    }

    void stripStacksConsecutiveFrames()
    {
        StripView strip;
        for (uchar v : {10, 20, 30})
            strip.append(frame(1, 1, v, 4096, 1000).image);
        const cv::Mat s = strip.contents();
        QCOMPARE(s.cols, 1024);
        QCOMPARE(s.rows, 750);  // reduced by 4 both ways
        QCOMPARE(int(s.at<uchar>(0, 0)), 10);
        QCOMPARE(int(s.at<uchar>(749, 0)), 30);
        for (uchar v = 40; v < 140; v += 10)
            strip.append(frame(1, 1, v, 4096, 1000).image);
        QCOMPARE(strip.rowsHeld(), 2048);
        QCOMPARE(int(strip.contents().at<uchar>(2047, 5)), 130);
    }

    void stripJoinsOnlyFramesThatFollowEachOther()
    {
        // Preview frames are thinned, so they never stack; frames lost
        // upstream break a run's strip, which then starts again.
        auto* cam = new StubCamera;
        CameraTab tab(new CameraSession(nullptr, QStringLiteral("S1"), 0, false, cam), nullptr);
        tab.showStrip(true);
        StripView& strip = *tab.stripView();
        emit cam->captureCompleted(frame(0, 1, 10));
        emit cam->captureCompleted(frame(0, 1, 20));
        QTRY_COMPARE(strip.rowsHeld(), 16); // the newest preview alone
        QVERIFY(strip.note().contains(QLatin1String("running")));
        emit cam->captureCompleted(frame(1, 1, 30));
        emit cam->captureCompleted(frame(2, 1, 40));
        QTRY_COMPARE(strip.rowsHeld(), 32);
        QVERIFY(strip.note().isEmpty());
        QCOMPARE(int(strip.contents().at<uchar>(0, 0)), 30);
        qWarning() << "Camera" << 0 << "SDK with product" << 4 << "cycle" << 1 << "last frame" << 2
                   << "current frame" << 4 << "width" << 64 << "height" << 16 << "lost packets" << 0;
        emit cam->captureCompleted(frame(4, 1, 50));
        QTRY_VERIFY(strip.note().contains(QLatin1String("lost before product 4")));
        QCOMPARE(strip.rowsHeld(), 16);
        tab.session()->close();
    }

    void viewGeometryAndColourOrder()
    {
        ImageView view;
        view.resize(410, 100);
        view.setImage(frame(1, 1, 0, 4096, 1000).image);
        const QPointF centre = view.toImage(QPointF(205, 50));
        QVERIFY(qAbs(centre.x() - 2048) < 1 && qAbs(centre.y() - 500) < 1);
        view.actualSize();
        QCOMPARE(view.scale(), 1.0);
        QVERIFY(qAbs(view.toImage(QPointF(205, 50)).x() - centre.x()) < 1);  // 1:1 keeps the centre

        cv::Mat rgb(2, 2, CV_8UC3, cv::Scalar(200, 100, 50));  // red, green, blue
        const QImage shown = imagedisplay::render(rgb, QRect(0, 0, 2, 2), QSize(4, 4));
        QCOMPARE(qRed(shown.pixel(3, 3)), 200);
        QCOMPARE(qBlue(shown.pixel(3, 3)), 50);
        QCOMPARE(imagedisplay::pixelText(rgb, 1, 1), QStringLiteral("1, 1: R 200 G 100 B 50"));
        QCOMPARE(imagedisplay::copyOf(rgb).pixelColor(0, 0).red(), 200);
        QVERIFY(imagedisplay::pixelText(rgb, 2, 0).isEmpty());
    }
};

QTEST_MAIN(TestViewerLive)
#include "tst_viewer_live.moc"
