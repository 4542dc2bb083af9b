// The live path: images arrive queued, only the newest is drawn, the rest
// are counted as not shown and none is lost; numbering, upstream loss,
// strip, view geometry and colour order.
#include "../interfaces/stubcamera.h"
#include "camerasession.h"
#include "framecounts.h"
#include "framegate.h"
#include "imagedisplay.h"
#include "imageview.h"
#include "stripview.h"

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
    bool held() { return mutex.tryLock() ? (mutex.unlock(), false) : true; }
    void softTrigger(int product, int capture, std::function<void()>) override
    {
        triggers << qMakePair(product, capture);
        allHeld = allHeld && held();
    }
    void setTrigParams(CameraTrigParams* p) override
    {
        perProduct = p->capturesPerProduct;
        allHeld = allHeld && held();
    }
    QVector<QPair<int, int>> triggers;
    int perProduct = 0;
    bool allHeld = true;
};

} // namespace

class TestViewerLive : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { FrameCounts::watchLog(); }

    void gateKeepsNewestAndCountsTheRest()
    {
        FrameCounts counts;
        FrameGate gate(counts);
        cv::Mat first;
        for (int i = 1; i <= 100; ++i) {
            ImageProcessData d = frame(i, 1, uchar(i));
            if (i == 1)
                first = d.image;
            counts.received(d.productId, d.cycleCapture, NumberingRule());
            gate.offer(d);
            if (i % 10 == 0)
                QCOMPARE(gate.take().productId, i);  // always the newest
        }
        QCOMPARE(counts.receivedCount(), 100);
        QCOMPARE(counts.shownCount(), 10);
        QCOMPARE(counts.notShownCount(), 90);
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
        QTRY_COMPARE(session.counts().receivedCount(), qint64(kFrames));
        sdk.quit();
        sdk.wait();
        QTRY_VERIFY(!session.gate().hasPending());
        const FrameCounts& c = session.counts();
        QCOMPARE(c.shownCount(), qint64(drawn));
        QCOMPARE(c.shownCount() + c.notShownCount(), qint64(kFrames));
        QVERIFY(c.notShownCount() > 0);
        QCOMPARE(c.misnumbered(), 0);
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

    void numberingAndUpstreamLoss()
    {
        FrameCounts counts(7);
        NumberingRule twoPerProduct{2, true};
        for (auto pc : {std::pair{1, 1}, {1, 2}, {0, 1}, {2, 1}, {3, 1}, {3, 2}})
            counts.received(pc.first, pc.second, twoPerProduct);
        QCOMPARE(counts.misnumbered(), 1);  // (3, 1) where (2, 2) was due
        counts.restartNumbering();
        counts.received(9, 1, twoPerProduct);
        QCOMPARE(counts.misnumbered(), 1);

        qWarning() << "Camera" << 7 << "SDK with product" << 3 << "cycle" << 1 << "last frame" << 10
                   << "current frame" << 13 << "width" << 64 << "height" << 16 << "lost packets" << 0;
        qWarning() << "Camera" << 8 << "SDK with product" << 3 << "cycle" << 1 << "last frame" << 10
                   << "current frame" << 12 << "width" << 64 << "height" << 16 << "lost packets" << 0;
        QCOMPARE(counts.lostUpstream(), 3);
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
