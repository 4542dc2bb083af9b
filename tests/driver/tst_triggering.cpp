// The software trigger's counter rules and firing, and the continuous-mode
// query, on an open virtual camera.
#include "virtualdevices.h"

#include <QSemaphore>

#include <iterator>
#include <thread>

using namespace drvtest;

namespace {

const char* const kSerial = "ZEQ4096T01";

struct Counters
{
    int product;
    int capture;
    int cycle;
    bool operator==(const Counters& o) const
    {
        return product == o.product && capture == o.capture && cycle == o.cycle;
    }
};

char* toString(const Counters& c)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3)").arg(c.product).arg(c.capture).arg(c.cycle));
}

Counters countersOf(CameraLorvex* camera)
{
    lorvex::HostLocker frames(camera->getMutex());
    return {camera->productCounter, camera->cycleCapture, camera->cycleProduct};
}

void setCounters(CameraLorvex* camera, const Counters& c)
{
    lorvex::HostLocker frames(camera->getMutex());
    camera->productCounter = c.product;
    camera->cycleCapture = c.capture;
    camera->cycleProduct = c.cycle;
}

void trigger(CameraLorvex* camera, int productId, int triggerIndex, std::function<void()> callback = [] {})
{
    lorvex::HostLocker frames(camera->getMutex());
    camera->softTrigger(productId, triggerIndex, std::move(callback));
}

void setTriggerMode(unsigned mode)
{
    static const unsigned kModes[] = {0, 1};
    VCC_SetEnumFeature(kSerial, "TriggerMode", mode, kModes, 2);
}

} // namespace

Q_DECLARE_METATYPE(Counters)

class TestTriggering : public QObject
{
    Q_OBJECT

    FeatureFolder features;
    std::unique_ptr<CameraLorvex> camera;

private slots:
    void initTestCase()
    {
        resetSdk();
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        camera.reset(createListed(1, QString::fromLatin1(kSerial)));
        QVERIFY(probe(camera).opened());
    }

    void cleanupTestCase() { camera.reset(); }

    void rules_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sync");
        QTest::addColumn<int>("capturesPerProduct");
        QTest::addColumn<int>("productsPerCycle");
        QTest::addColumn<int>("productId");
        QTest::addColumn<int>("triggerIndex");
        QTest::addColumn<Counters>("expected");
        QTest::addColumn<bool>("fires");

        const Counters kept{7, 7, 7};
        QTest::newRow("32: 9,2 in cycles of 4") << 32 << 0 << 1 << 4 << 9 << 2 << Counters{9, 2, 1} << true;
        QTest::newRow("32: 8,1 ends a cycle") << 32 << 0 << 1 << 4 << 8 << 1 << Counters{8, 1, 4} << true;
        QTest::newRow("32: negative product") << 32 << 0 << 1 << 4 << -5 << 1 << Counters{-5, 1, -1} << true;
        QTest::newRow("32: negative multiple") << 32 << 0 << 1 << 4 << -8 << 1 << Counters{-8, 1, 4} << true;
        QTest::newRow("32: cycle length 0") << 32 << 0 << 1 << 0 << 9 << 2 << Counters{9, 2, 1} << true;
        QTest::newRow("32: cycle length -3") << 32 << 0 << 1 << -3 << 9 << 2 << Counters{9, 2, 1} << true;
        QTest::newRow("32 with sync follows sync") << 32 << 1 << 1 << 4 << 5 << 3 << Counters{4, 0, 0} << true;
        QTest::newRow("32 with sync, mid cycle") << 32 << 1 << 1 << 4 << 6 << 3 << kept << true;
        // A negative value with type 32 counts nothing, so the trigger numbers.
        QTest::newRow("32 negative sync sets") << 32 << -1 << 3 << 4 << 9 << 2 << Counters{9, 2, 1} << true;
        QTest::newRow("32 negative sync, opens") << 32 << -1 << 3 << 4 << 5 << 1 << Counters{5, 1, 1} << true;
        // Priming leaves the next frame at its product's place in the cycle,
        // and never restarts a product at its second capture.
        QTest::newRow("2 sync: 2nd of cycle") << 2 << 1 << 2 << 2 << 2 << 1 << Counters{1, 0, 1} << true;
        QTest::newRow("2 sync: 2nd capture, opens cycle") << 2 << 1 << 2 << 2 << 3 << 2 << kept << true;
        QTest::newRow("2 sync: negative product") << 2 << 1 << 2 << 3 << -2 << 1 << Counters{-3, 0, 0} << true;
        QTest::newRow("2 sync: opens product") << 2 << 1 << 3 << 1 << 5 << 1 << Counters{4, 0, 0} << true;
        QTest::newRow("2 sync: second capture") << 2 << 1 << 3 << 1 << 5 << 2 << kept << true;
        QTest::newRow("2 sync: opens cycle") << 2 << 1 << 1 << 3 << 4 << 2 << Counters{3, 0, 0} << true;
        QTest::newRow("2 sync: mid cycle") << 2 << 1 << 1 << 3 << 5 << 2 << kept << true;
        QTest::newRow("2 sync: nothing above 1") << 2 << 1 << 1 << 1 << 5 << 1 << kept << true;
        QTest::newRow("2 negative sync") << 2 << -1 << 3 << 1 << 5 << 1 << Counters{4, 0, 0} << true;
        QTest::newRow("2 no sync") << 2 << 0 << 3 << 4 << 5 << 1 << kept << true;
        QTest::newRow("4 no sync") << 4 << 0 << 1 << 4 << 9 << 2 << kept << true;
        QTest::newRow("1 no sync") << 1 << 0 << 1 << 4 << 9 << 2 << kept << false;
        QTest::newRow("8 no sync") << 8 << 0 << 1 << 4 << 9 << 2 << kept << false;
        QTest::newRow("16 no sync") << 16 << 0 << 1 << 4 << 9 << 2 << kept << false;
        QTest::newRow("1 sync") << 1 << 1 << 3 << 1 << 5 << 1 << Counters{4, 0, 0} << false;
        QTest::newRow("16 sync") << 16 << 1 << 3 << 1 << 5 << 1 << Counters{4, 0, 0} << false;
    }

    void rules()
    {
        QFETCH(int, type);
        QFETCH(int, sync);
        QFETCH(int, capturesPerProduct);
        QFETCH(int, productsPerCycle);
        QFETCH(int, productId);
        QFETCH(int, triggerIndex);
        QFETCH(Counters, expected);
        QFETCH(bool, fires);

        CameraTrigParams params;
        params.triggerType = type;
        params.syncProductId = sync;
        params.capturesPerProduct = capturesPerProduct;
        params.productsPerCycle = productsPerCycle;
        setTrigger(camera.get(), params);
        setCounters(camera.get(), {7, 7, 7});
        int calls = 0;
        VCC_CallLogClear();
        trigger(camera.get(), productId, triggerIndex, [&calls] { ++calls; });
        QCOMPARE(countersOf(camera.get()), expected);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_TriggerSoftwareExecute", nullptr), fires ? 1 : 0);
        // Stored, not called.
        QCOMPARE(calls, 0);
        QVERIFY(bool(camera->triggerCallback));
        camera->triggerCallback();
        QCOMPARE(calls, 1);
    }

    void callbackIsStoredByCopy()
    {
        CameraTrigParams params;
        params.triggerType = 1;
        setTrigger(camera.get(), params);
        auto token = std::make_shared<int>(5);
        {
            std::function<void()> callback = [token] {};
            trigger(camera.get(), 1, 1, callback);
        }
        QCOMPARE(token.use_count(), 2L);
        trigger(camera.get(), 1, 1, std::function<void()>());
        QVERIFY(!camera->triggerCallback);
        QCOMPARE(token.use_count(), 1L);
    }

    void closedCameraChangesNothing()
    {
        CameraLorvex closed;
        CameraTrigParams params;
        params.triggerType = 32;
        params.productsPerCycle = 4;
        setTrigger(&closed, params);
        setCounters(&closed, {3, 2, 1});
        bool marker = false;
        closed.triggerCallback = [&marker] { marker = true; };
        VCC_CallLogClear();
        bool replaced = false;
        trigger(&closed, 9, 2, [&replaced] { replaced = true; });
        QCOMPARE(countersOf(&closed), (Counters{3, 2, 1}));
        closed.triggerCallback();
        QVERIFY(marker);
        QVERIFY(!replaced);
        QVERIFY(!closed.isContinuousMode());
        QCOMPARE(VCC_CallLogCount(), 0);
    }

    // While another thread runs a device operation (an open or a close in
    // progress) both act as on a closed camera instead of waiting.
    void busyDeviceCountsAsClosed()
    {
        CameraTrigParams params;
        params.triggerType = 32;
        params.productsPerCycle = 4;
        setTrigger(camera.get(), params);
        setCounters(camera.get(), {3, 2, 1});
        VCC_CallLogClear();
        LogCapture log;
        bool continuous = true;
        {
            BusyDevice busy(camera.get(), kSerial);
            trigger(camera.get(), 9, 2);
            trigger(camera.get(), 10, 1);
            continuous = camera->isContinuousMode();
        }
        QVERIFY(!continuous);
        // A trigger lost to a busy device is never silent, however often.
        QCOMPARE(log.count(QStringLiteral("dropped")), 2);
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("Camera 1 software trigger for product 10 capture 1")) >= 0);
        QCOMPARE(countersOf(camera.get()), (Counters{3, 2, 1}));
        QCOMPARE(VCC_CallLogCountOf("MV_CC_TriggerSoftwareExecute", nullptr), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_GetEnumValue", "TriggerMode"), 0);
    }

    void continuousMode()
    {
        setTriggerMode(1);
        QVERIFY(!camera->isContinuousMode());
        setTriggerMode(0);
        VCC_CallLogClear();
        QVERIFY(camera->isContinuousMode());
        QCOMPARE(VCC_CallLogCountOf("MV_CC_GetEnumValue", "TriggerMode"), 1);
        // A failed read says nothing about the mode.
        QCOMPARE(VCC_FailNext("MV_CC_GetEnumValue", 1, int(MV_E_GC_GENERIC)), 0);
        QVERIFY(!camera->isContinuousMode());
    }

    // Products in cycles, two captures each: the frames carry the numbers the
    // host triggered with.
    void syncedCyclesKeepTheHostsNumbers()
    {
        // A camera of its own: a receiver stays connected to its camera.
        const char* const serial = "ZEQ4096T02";
        QCOMPARE(addDevice(monoDevice(serial, 64, 16)), 0);
        static const unsigned kModes[] = {0, 1};
        VCC_SetEnumFeature(serial, "TriggerMode", 1, kModes, 2);
        std::unique_ptr<CameraLorvex> cycled(createListed(2, QString::fromLatin1(serial)));
        CameraTrigParams params;
        params.triggerType = 2;
        params.syncProductId = 1;
        params.capturesPerProduct = 2;
        params.productsPerCycle = 2;
        setTrigger(cycled.get(), params);
        QSemaphore arrived;
        Receiver receiver(cycled.get());
        receiver.onRecord = [&arrived](const ImageProcessData&) { arrived.release(); };
        setRunning(cycled.get(), true);
        startGrabbing(cycled.get());
        const Counters table[] = {{1, 1, 1}, {1, 2, 1}, {2, 1, 2}, {2, 2, 2}, {3, 1, 1}, {3, 2, 1}};
        for (const Counters& c : table) {
            trigger(cycled.get(), c.product, c.capture);
            QVERIFY(arrived.tryAcquire(1, 5000));
        }
        cycled->closeCamera();
        std::lock_guard<std::mutex> lock(receiver.mutex);
        QCOMPARE(receiver.records.size(), std::size(table));
        for (size_t i = 0; i < std::size(table); ++i) {
            const ImageProcessData& r = receiver.records[i];
            QCOMPARE((Counters{r.productId, r.cycleCapture, r.cycleProduct}), table[i]);
        }
    }

    // The sync rule seen through the frames that follow the triggers.
    void syncedTriggersNumberTheNextFrames()
    {
        setTriggerMode(1);
        // A restart, so that the device grabs in trigger mode whatever an
        // earlier case left it doing, before anything receives its frames.
        camera->restartCamera();
        CameraTrigParams params;
        params.triggerType = 2;
        params.syncProductId = 1;
        params.capturesPerProduct = 3;
        setTrigger(camera.get(), params);
        QSemaphore arrived;
        Receiver receiver(camera.get());
        receiver.onRecord = [&arrived](const ImageProcessData&) { arrived.release(); };
        setRunning(camera.get(), true);
        setCounters(camera.get(), {0, 0, 0});

        Counters primed{};
        {
            // Read under the same lock: the fired frame may be handled as
            // soon as the lock is released.
            lorvex::HostLocker frames(camera->getMutex());
            camera->softTrigger(5, 1, [] {});
            primed = {camera->productCounter, camera->cycleCapture, camera->cycleProduct};
        }
        QCOMPARE(primed, (Counters{4, 0, 0}));
        QVERIFY(arrived.tryAcquire(1, 5000));
        trigger(camera.get(), 5, 2);
        QVERIFY(arrived.tryAcquire(1, 5000));
        trigger(camera.get(), 5, 3);
        QVERIFY(arrived.tryAcquire(1, 5000));
        trigger(camera.get(), 6, 1);
        QVERIFY(arrived.tryAcquire(1, 5000));

        camera->closeCamera();
        setRunning(camera.get(), false);
        std::lock_guard<std::mutex> lock(receiver.mutex);
        QCOMPARE(receiver.records.size(), size_t(4));
        const int expected[4][2] = {{5, 1}, {5, 2}, {5, 3}, {6, 1}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(receiver.records[size_t(i)].productId, expected[i][0]);
            QCOMPARE(receiver.records[size_t(i)].cycleCapture, expected[i][1]);
            QCOMPARE(receiver.records[size_t(i)].cycleProduct, 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestTriggering)
#include "tst_triggering.moc"
