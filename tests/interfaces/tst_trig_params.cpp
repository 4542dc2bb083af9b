// The camera's own trigger record: how a new camera sets it up, and how the
// host's setTrigParams, called through the camera interface, replaces its
// contents without touching the numbering state.
#include <QtTest>

#include "cameralorvex.h"
#include "../common/cameraprobe.h"

namespace {

// A record with every field away from its default.
CameraTrigParams distinctRecord()
{
    CameraTrigParams p;
    p.triggerType = 32;
    p.hostParam1 = 11;
    p.hostParam2 = 12;
    p.hostParam3 = 13;
    p.capturesPerProduct = 5;
    p.hostParam4 = 14;
    p.hostParam5 = 15;
    p.hostText = QStringLiteral("line B");
    p.hostParam6 = 16;
    p.hostParam7 = 17;
    p.hostParam8 = 18;
    p.productsPerCycle = 6;
    p.cycleTimeout = 750;
    p.syncProductId = 1;
    p.hostParam9 = 19;
    p.hostParam10 = 20;
    p.hostParam11 = 21;
    p.hostParam12 = 22;
    p.hostOptions.insert(QStringLiteral("station"), QStringLiteral("east"));
    p.hostOptions.insert(QStringLiteral("lane"), 2);
    return p;
}

void compareAllFields(const CameraTrigParams& a, const CameraTrigParams& b)
{
    QCOMPARE(a.triggerType, b.triggerType);
    QCOMPARE(a.hostParam1, b.hostParam1);
    QCOMPARE(a.hostParam2, b.hostParam2);
    QCOMPARE(a.hostParam3, b.hostParam3);
    QCOMPARE(a.capturesPerProduct, b.capturesPerProduct);
    QCOMPARE(a.hostParam4, b.hostParam4);
    QCOMPARE(a.hostParam5, b.hostParam5);
    QCOMPARE(a.hostText, b.hostText);
    QCOMPARE(a.hostParam6, b.hostParam6);
    QCOMPARE(a.hostParam7, b.hostParam7);
    QCOMPARE(a.hostParam8, b.hostParam8);
    QCOMPARE(a.productsPerCycle, b.productsPerCycle);
    QCOMPARE(a.cycleTimeout, b.cycleTimeout);
    QCOMPARE(a.syncProductId, b.syncProductId);
    QCOMPARE(a.hostParam9, b.hostParam9);
    QCOMPARE(a.hostParam10, b.hostParam10);
    QCOMPARE(a.hostParam11, b.hostParam11);
    QCOMPARE(a.hostParam12, b.hostParam12);
    QCOMPARE(a.hostOptions, b.hostOptions);
}

} // namespace

class TrigParamsTest : public QObject
{
    Q_OBJECT

private slots:
    void newCameraRecord()
    {
        CameraLorvex camera;
                QCOMPARE(camera.initialTriggerType, 1);
        CameraTrigParams expected;
        expected.triggerType = 1;
        compareAllFields(probe(camera).trigParams(), expected);
        QCOMPARE(camera.productCounter, 0);
        QCOMPARE(camera.cycleCapture, 0);
        QCOMPARE(camera.cycleProduct, 0);
        QVERIFY(!camera.cycleTimer.isValid());
    }

    void setTrigParamsCopiesEveryFieldAndLeavesCounters()
    {
        CameraLorvex camera;
        CameraInterface* host = &camera;
        CameraTrigParams* own = &probe(camera).trigParams();
        host->productCounter = 41;
        host->cycleCapture = 2;
        host->cycleProduct = 3;
        host->cycleTimer.start();
        const qint64 timerStart = host->cycleTimer.msecsSinceReference();

        CameraTrigParams given = distinctRecord();
        host->setTrigParams(&given);
        QCOMPARE(&probe(camera).trigParams(), own);  // assigned into, not replaced
        compareAllFields(probe(camera).trigParams(), given);
        QCOMPARE(host->productCounter, 41);
        QCOMPARE(host->cycleCapture, 2);
        QCOMPARE(host->cycleProduct, 3);
        QCOMPARE(host->cycleTimer.msecsSinceReference(), timerStart);

        // The host keeps its record: later changes to it, or its destruction,
        // do not reach the camera's copy.
        given.hostText = QStringLiteral("changed");
        given.hostOptions.insert(QStringLiteral("lane"), 9);
        given.capturesPerProduct = 1;
        QCOMPARE(probe(camera).trigParams().hostText, QStringLiteral("line B"));
        QCOMPARE(probe(camera).trigParams().hostOptions.value(QStringLiteral("lane")).toInt(), 2);
        QCOMPARE(probe(camera).trigParams().capturesPerProduct, 5);

        // Back to a record at its defaults: every field follows.
        CameraTrigParams defaults;
        host->setTrigParams(&defaults);
        compareAllFields(probe(camera).trigParams(), defaults);
    }

    // The camera numbers its frames with its own record as last given.
    void numberingUsesTheGivenRecord()
    {
        CameraLorvex camera;
        CameraTrigParams given;
        given.capturesPerProduct = 2;
        camera.setTrigParams(&given);
        camera.isRunning = true;
        int product = 0, capture = 0, inCycle = 0;
        camera.getProductID(camera.cameraIndex, &probe(camera).trigParams(), product, capture, inCycle);
        camera.getProductID(camera.cameraIndex, &probe(camera).trigParams(), product, capture, inCycle);
        QCOMPARE(product, 1);
        QCOMPARE(capture, 2);
        QCOMPARE(inCycle, 1);
    }
};

QTEST_MAIN(TrigParamsTest)
#include "tst_trig_params.moc"
