// The inline product-numbering rule of CameraInterface, as every camera
// plug-in compiles it from the host's header: counting, the settings that act
// as 1, the type that takes its numbers from the software trigger, and the
// product and cycle time-outs with their warnings.
//
// Time-outs are driven by the real clock. An elapsed time exactly equal to
// the time-out cannot be forced through QElapsedTimer, so the tests take
// elapsed times far below and far past the time-out, with margins wide enough
// for a loaded machine or a sanitizer build.
#include <QtTest>

#include <vector>

#include "stubcamera.h"

namespace {

struct Record
{
    QtMsgType type;
    QString message;
    QByteArray file;
    int line;
    QByteArray function;
};

std::vector<Record> records;

void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    records.push_back({type, message, QByteArray(context.file), context.line, QByteArray(context.function)});
}

struct Numbers
{
    int product;
    int capture;
    int productInCycle;
    bool operator==(const Numbers& o) const
    {
        return product == o.product && capture == o.capture && productInCycle == o.productInCycle;
    }
};

constexpr int kCameraIndex = 3;

Numbers frame(CameraInterface& camera, CameraTrigParams& params)
{
    // Poison the results: the rule must write all three.
    Numbers n{-99, -99, -99};
    camera.getProductID(kCameraIndex, &params, n.product, n.capture, n.productInCycle);
    return n;
}

CameraTrigParams settings(int triggerType, int capturesPerProduct, int productsPerCycle, int cycleTimeout)
{
    CameraTrigParams p;
    p.triggerType = triggerType;
    p.capturesPerProduct = capturesPerProduct;
    p.productsPerCycle = productsPerCycle;
    p.cycleTimeout = cycleTimeout;
    return p;
}

// Past any time-out used below by a wide margin.
constexpr int kWellPastMs = 250;

} // namespace

QT_BEGIN_NAMESPACE
namespace QTest {
template <>
char* toString(const Numbers& n)
{
    return qstrdup(QByteArray("(" + QByteArray::number(n.product) + ", " + QByteArray::number(n.capture)
                              + ", " + QByteArray::number(n.productInCycle) + ")").constData());
}
} // namespace QTest
QT_END_NAMESPACE

class ProductNumberingTest : public QObject
{
    Q_OBJECT

private:
    QtMessageHandler previousHandler = nullptr;

    static QStringList warnings()
    {
        QStringList list;
        for (const Record& r : records)
            if (r.type == QtWarningMsg)
                list << r.message;
        return list;
    }

private slots:
    void init()
    {
        records.clear();
        previousHandler = qInstallMessageHandler(captureMessages);
    }

    void cleanup()
    {
        qInstallMessageHandler(previousHandler);
    }

    void notRunningNumbersNothing_data()
    {
        QTest::addColumn<int>("triggerType");
        QTest::addColumn<int>("syncProductId");
        QTest::addColumn<int>("capturesPerProduct");
        QTest::addColumn<int>("cycleTimeout");
        QTest::newRow("type 1") << 1 << 0 << 1 << 0;
        QTest::newRow("type 4, three captures, time-out") << 4 << 0 << 3 << 10;
        QTest::newRow("type 32, no sync") << 32 << 0 << 2 << 10;
        QTest::newRow("type 32, sync") << 32 << 1 << 2 << 10;
        QTest::newRow("zero captures") << 2 << 0 << 0 << 0;
    }

    void notRunningNumbersNothing()
    {
        QFETCH(int, triggerType);
        QFETCH(int, syncProductId);
        QFETCH(int, capturesPerProduct);
        QFETCH(int, cycleTimeout);
        StubCamera camera;
        CameraTrigParams p = settings(triggerType, capturesPerProduct, 2, cycleTimeout);
        p.syncProductId = syncProductId;
        camera.productCounter = 5;
        camera.cycleCapture = 2;
        camera.cycleProduct = 3;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(frame(camera, p), (Numbers{0, 1, 1}));
        QCOMPARE(camera.productCounter, 5);
        QCOMPARE(camera.cycleCapture, 2);
        QCOMPARE(camera.cycleProduct, 3);
        QVERIFY(!camera.cycleTimer.isValid());
        QVERIFY(records.empty());
    }

    // ---- counting -----------------------------------------------------------

    void oneCapturePerProduct()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(1, 1, 1, 0);
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 1}));
        QCOMPARE(frame(camera, p), (Numbers{3, 1, 1}));
        QCOMPARE(camera.productCounter, 3);
    }

    void threeCapturesTwoProductsPerCycle()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(1, 3, 2, 0);
        const Numbers expected[] = {{1, 1, 1}, {1, 2, 1}, {1, 3, 1}, {2, 1, 2},
                                    {2, 2, 2}, {2, 3, 2}, {3, 1, 1}, {3, 2, 1}};
        for (const Numbers& n : expected)
            QCOMPARE(frame(camera, p), n);
    }

    void everyTypeButUnsyncedSoftwareNumbersCounts_data()
    {
        QTest::addColumn<int>("triggerType");
        QTest::addColumn<int>("syncProductId");
        for (int type : {1, 2, 4, 8, 16})
            QTest::newRow(qPrintable(QStringLiteral("type %1").arg(type))) << type << 0;
        QTest::newRow("type 32 with sync") << 32 << 1;
        QTest::newRow("unknown type 64") << 64 << 0;
        QTest::newRow("unknown type 0") << 0 << 0;
    }

    void everyTypeButUnsyncedSoftwareNumbersCounts()
    {
        QFETCH(int, triggerType);
        QFETCH(int, syncProductId);
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(triggerType, 2, 1, 0);
        p.syncProductId = syncProductId;
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        QCOMPARE(frame(camera, p), (Numbers{1, 2, 1}));
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 1}));
    }

    void unsyncedSoftwareTypeKeepsTriggerNumbers_data()
    {
        QTest::addColumn<int>("syncProductId");
        QTest::newRow("sync 0") << 0;
        QTest::newRow("sync negative") << -1;
    }

    void unsyncedSoftwareTypeKeepsTriggerNumbers()
    {
        QFETCH(int, syncProductId);
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(32, 3, 4, 20);
        p.syncProductId = syncProductId;
        // As the software trigger left them.
        camera.productCounter = 9;
        camera.cycleCapture = 2;
        camera.cycleProduct = 1;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(frame(camera, p), (Numbers{9, 2, 1}));
            QTest::qSleep(30);  // past the time-out: still no check
        }
        QCOMPARE(camera.productCounter, 9);
        QCOMPARE(camera.cycleCapture, 2);
        QCOMPARE(camera.cycleProduct, 1);
        QVERIFY(!camera.cycleTimer.isValid());
        QVERIFY(records.empty());
    }

    void settingsBelowOneActAsOne_data()
    {
        QTest::addColumn<int>("capturesPerProduct");
        QTest::addColumn<int>("productsPerCycle");
        QTest::addColumn<QVector<int>>("captures");   // expected capture numbers
        QTest::addColumn<QVector<int>>("products");   // expected product numbers
        QTest::newRow("zero captures") << 0 << 1 << QVector<int>{1, 1, 1, 1} << QVector<int>{1, 2, 3, 4};
        QTest::newRow("negative captures") << -4 << 1 << QVector<int>{1, 1, 1, 1} << QVector<int>{1, 2, 3, 4};
        QTest::newRow("zero products") << 2 << 0 << QVector<int>{1, 2, 1, 2} << QVector<int>{1, 1, 2, 2};
        QTest::newRow("negative products") << 2 << -3 << QVector<int>{1, 2, 1, 2} << QVector<int>{1, 1, 2, 2};
        QTest::newRow("both zero") << 0 << 0 << QVector<int>{1, 1, 1, 1} << QVector<int>{1, 2, 3, 4};
    }

    void settingsBelowOneActAsOne()
    {
        QFETCH(int, capturesPerProduct);
        QFETCH(int, productsPerCycle);
        QFETCH(QVector<int>, captures);
        QFETCH(QVector<int>, products);
        StubCamera camera;
        camera.isRunning = true;
        // A time-out too: the rule must not divide or misread the settings there.
        CameraTrigParams p = settings(1, capturesPerProduct, productsPerCycle, 60000);
        for (int i = 0; i < captures.size(); ++i)
            QCOMPARE(frame(camera, p), (Numbers{products.at(i), captures.at(i), 1}));
        QVERIFY(records.empty());
    }

    void numberingContinuesAcrossRunningChanges()
    {
        StubCamera camera;
        CameraTrigParams p = settings(1, 2, 1, 0);
        camera.isRunning = true;
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        camera.isRunning = false;
        QCOMPARE(frame(camera, p), (Numbers{0, 1, 1}));
        camera.isRunning = true;
        QCOMPARE(frame(camera, p), (Numbers{1, 2, 1}));
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 1}));
    }

    // ---- time-outs ----------------------------------------------------------

    void lateCaptureStartsNextProduct()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(1, 2, 1, 100);
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        QVERIFY(camera.cycleTimer.isValid());
        QTest::qSleep(kWellPastMs);
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 1}));
        QCOMPARE(warnings(), QStringList{QStringLiteral("Camera 3 cycle capture timeout with product 1 cycle 2")});
        // The late frame restarted the clock: the next one is on time.
        QCOMPARE(frame(camera, p), (Numbers{2, 2, 1}));
        QCOMPARE(warnings().size(), 1);
    }

    void captureWellBeforeTimeoutIsOnTime()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(1, 2, 1, 60000);
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        QTest::qSleep(50);
        QCOMPARE(frame(camera, p), (Numbers{1, 2, 1}));
        QVERIFY(records.empty());
    }

    void lateProductStartsNewCycle()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(1, 1, 3, 100);
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));  // opens the cycle
        QTest::qSleep(kWellPastMs);
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 1}));
        QCOMPARE(warnings(), QStringList{QStringLiteral("Camera 3 cycle product timeout with product 2 cycle 2")});
        QCOMPARE(frame(camera, p), (Numbers{3, 1, 2}));   // on time again
        QCOMPARE(frame(camera, p), (Numbers{4, 1, 3}));
        QCOMPARE(frame(camera, p), (Numbers{5, 1, 1}));
        QCOMPARE(warnings().size(), 1);
    }

    void lateCaptureInLaterProductLogsBothInOrder()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(4, 2, 3, 100);
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        QCOMPARE(frame(camera, p), (Numbers{1, 2, 1}));
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 2}));  // opens product 2, restarts the clock
        QTest::qSleep(kWellPastMs);
        QCOMPARE(frame(camera, p), (Numbers{3, 1, 1}));
        QCOMPARE(warnings(), (QStringList{QStringLiteral("Camera 3 cycle capture timeout with product 2 cycle 2"),
                                          QStringLiteral("Camera 3 cycle product timeout with product 3 cycle 2")}));
        QCOMPARE(camera.productCounter, 3);
        QCOMPARE(camera.cycleCapture, 1);
        QCOMPARE(camera.cycleProduct, 1);

        // Each record says where it comes from.
        QCOMPARE(int(records.size()), 2);
        for (const Record& r : records) {
            QCOMPARE(r.type, QtWarningMsg);
            QVERIFY2(r.file.endsWith("camerainterface.h"), r.file.constData());
            QVERIFY(r.line > 0);
            QVERIFY2(r.function.contains("getProductID"), r.function.constData());
        }
        QVERIFY(records[0].line < records[1].line);
    }

    void timeoutSwitchedOff_data()
    {
        QTest::addColumn<int>("cycleTimeout");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -100;
    }

    void timeoutSwitchedOff()
    {
        QFETCH(int, cycleTimeout);
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(1, 2, 2, cycleTimeout);
        QCOMPARE(frame(camera, p), (Numbers{1, 1, 1}));
        QTest::qSleep(60);
        QCOMPARE(frame(camera, p), (Numbers{1, 2, 1}));
        QCOMPARE(frame(camera, p), (Numbers{2, 1, 2}));
        QTest::qSleep(60);
        QCOMPARE(frame(camera, p), (Numbers{2, 2, 2}));
        QVERIFY(!camera.cycleTimer.isValid());
        QVERIFY(records.empty());
    }

    // A clock that never ran has not timed out: a counter left above 1 (by
    // the software trigger, or by raised settings) must not be cut short on
    // the first frame. That frame starts the clock instead.
    void unstartedTimerIsNotATimeout()
    {
        StubCamera camera;
        camera.isRunning = true;
        CameraTrigParams p = settings(2, 3, 1, 50);
        camera.productCounter = 4;
        camera.cycleCapture = 1;
        camera.cycleProduct = 1;
        QVERIFY(!camera.cycleTimer.isValid());
        QCOMPARE(frame(camera, p), (Numbers{4, 2, 1}));
        QVERIFY(records.empty());
        QVERIFY(camera.cycleTimer.isValid());
        // It really runs from that frame on.
        QTest::qSleep(kWellPastMs);
        QCOMPARE(frame(camera, p), (Numbers{5, 1, 1}));
        QCOMPARE(warnings(), QStringList{QStringLiteral("Camera 3 cycle capture timeout with product 4 cycle 3")});
    }
};

QTEST_GUILESS_MAIN(ProductNumberingTest)
#include "tst_product_numbering.moc"
