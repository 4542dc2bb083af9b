// A host that holds getMutex() around a change while a frame waits for that
// lock: the SDK's stop waits for the frame, the frame for the host. Each case
// must end, with the waiting frame dropped, counted and logged.
#include "recoveryfixture.h"

using namespace rectest;

namespace {

const std::string kSerial = "ZEQ00000L001";

// One device frame delivered on the SDK's callback thread from a thread of
// its own; the delivery returns once the callback did.
class WaitingFrame
{
public:
    WaitingFrame()
    {
        worker = std::thread([this] { status = VCC_DeliverDeviceFrameToDevice(kSerial.c_str()); });
        // Long enough for the callback to be waiting for the host's lock.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~WaitingFrame() { worker.join(); }
    WaitingFrame(const WaitingFrame&) = delete;
    WaitingFrame& operator=(const WaitingFrame&) = delete;

    std::atomic<int> status{-1};

private:
    std::thread worker;
};

const QString kDropped = QStringLiteral("Camera 1 frame dropped: the camera is stopping while its lock is held");

} // namespace

class TestLockCircles : public QObject
{
    Q_OBJECT

    FeatureFolder features;
    std::unique_ptr<CameraLorvex> camera;

private slots:
    void init()
    {
        resetSdk();
        features.use();
        QCOMPARE(addDevice(smallDevice(kSerial)), 0);
        QCOMPARE(VCC_SetFreeRunPaused(kSerial.c_str(), 1), 0);
        camera = createCamera(1, kSerial);
        startGrabbing(camera.get());
        setRunning(camera.get(), true);
    }

    void cleanup()
    {
        camera.reset();
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    void hostChangeUnderItsLockWhileAFrameWaits_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("close") << false;
        QTest::newRow("restart") << true;
    }
    void hostChangeUnderItsLockWhileAFrameWaits()
    {
        QFETCH(bool, restart);
        Watchdog watchdog(restart ? "restartCamera under getMutex()" : "closeCamera under getMutex()", 20);
        Receiver receiver(camera.get());
        LogCapture log;
        {
            QMutexLocker host(camera->getMutex());
            WaitingFrame frame;
            if (restart)
                camera->restartCamera();
            else
                camera->closeCamera();
        }
        QCOMPARE(receiver.count(), size_t(0));
        QCOMPARE(probe(camera).framesDroppedForStop(), 1ull);
        QCOMPARE(log.count(kDropped), 1);
        QCOMPARE(counters(kSerial).grabbing, restart ? 1 : 0);
        QVERIFY(!probe(camera).lost());

        // Nothing stays pending: frames flow again after a restart.
        if (restart) {
            QCOMPARE(VCC_DeliverDeviceFrameToDevice(kSerial.c_str()), 0);
            QCOMPARE(receiver.count(), size_t(1));
        }
    }

    // The disconnect's stop waits for the frame, the frame for the host's
    // lock, and the host's restore for the device lock the notice holds.
    void restoreUnderTheHostsLockDuringADisconnect()
    {
        Watchdog watchdog("loadParams under getMutex() during a disconnect", 20);
        SignalCount signals_(camera.get());
        camera->saveParams();
        {
            QMutexLocker host(camera->getMutex());
            WaitingFrame frame;
            QCOMPARE(VCC_DetachDevice(kSerial.c_str()), 0);
            // The notice is in its stop, holding the device lock.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            camera->loadParams();
        }
        QVERIFY(waitUntil([&] { return probe(camera).lost(); }));
        QCOMPARE(signals_.losses.load(), 1);
        QCOMPARE(probe(camera).framesDroppedForStop(), 1ull);
        QVERIFY(!probe(camera).opened());
        QCOMPARE(counters(kSerial).liveHandles, 0);
    }
};

QTEST_GUILESS_MAIN(TestLockCircles)
#include "tst_lockcircles.moc"
