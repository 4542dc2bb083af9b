// Circles of waits between the host, its lock, the SDK's callbacks and the
// device's operations. A host that holds getMutex() around a change while a
// frame waits for that lock: the SDK's stop waits for the frame, the frame
// for the host; each case must end, with the waiting frame dropped, counted
// and logged. Operations asked for inside the pause of another, and
// receivers of CameraLoss and CameraReconnect that take the host's lock or
// close the camera: each must end with the camera and its device agreeing.
#include "recoveryfixture.h"

#include <QSemaphore>

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

} // namespace

Q_DECLARE_METATYPE(DeviceState)

namespace {

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
            lorvex::HostLocker host(camera->getMutex());
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
            lorvex::HostLocker host(camera->getMutex());
            WaitingFrame frame;
            QCOMPARE(VCC_DetachDevice(kSerial.c_str()), 0);
            // The notice is in its stop, holding the device lock.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            camera->loadParams();
        }
        QVERIFY(waitUntil([&] { return signals_.losses.load() == 1; }));
        QVERIFY(probe(camera).lost());
        QCOMPARE(probe(camera).framesDroppedForStop(), 1ull);
        QVERIFY(!probe(camera).opened());
        QCOMPARE(counters(kSerial).liveHandles, 0);
    }

    // Operations asked for from a slot that runs inside the pause of another
    // (a timer here) are never nested: each runs after the one it interrupted,
    // before that call returns; two restarts asked during one make one; a
    // close asked during one wins. No handle is ever left open behind.
    void operationsAskedInAPauseRunAfterIt_data()
    {
        QTest::addColumn<QString>("outer");
        QTest::addColumn<QStringList>("inner");
        QTest::addColumn<DeviceState>("ends");
        QTest::addColumn<int>("opens");
        QTest::newRow("restart in restart") << "restart" << QStringList{"restart"} << DeviceState::Grabbing << 2;
        QTest::newRow("two restarts in restart") << "restart" << QStringList{"restart", "restart"}
                                                 << DeviceState::Grabbing << 2;
        QTest::newRow("reload in restart") << "restart" << QStringList{"load"} << DeviceState::Grabbing << 1;
        QTest::newRow("close in restart") << "restart" << QStringList{"close"} << DeviceState::Closed << 1;
        QTest::newRow("restart then close") << "restart" << QStringList{"restart", "close"} << DeviceState::Closed << 1;
        QTest::newRow("restart in close") << "close" << QStringList{"restart"} << DeviceState::Grabbing << 1;
    }
    void operationsAskedInAPauseRunAfterIt()
    {
        QFETCH(QString, outer);
        QFETCH(QStringList, inner);
        QFETCH(DeviceState, ends);
        QFETCH(int, opens);
        Watchdog watchdog("an operation queued into a pause", 20);
        VCC_CallLogClear();
        int ran = 0;
        // Inside the close's 200 ms pause of the outer operation.
        QTimer::singleShot(100, camera.get(), [&] {
            for (const QString& op : inner) {
                if (op == "restart")
                    camera->restartCamera();
                else if (op == "load")
                    camera->loadParams();
                else
                    camera->closeCamera();
                ++ran;
            }
        });
        if (outer == "restart")
            camera->restartCamera();
        else
            camera->closeCamera();
        QCOMPARE(ran, inner.size());
        QCOMPARE(probe(camera).state(), ends);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_OpenDevice", nullptr), opens);
        QCOMPARE(VCC_LiveHandleCount(), deviceIsOpen(ends) ? 1 : 0);
    }

    // A receiver of CameraLoss or CameraReconnect connected directly takes the
    // host's lock, as a host does to write isRunning, while the host holds it
    // around a close or a reload: both must end. A close from the receiver
    // itself is final.
    void receiversOfLossAndReconnect_data()
    {
        QTest::addColumn<bool>("loss");
        QTest::addColumn<QString>("hostCall");
        QTest::newRow("loss, host closes") << true << "close";
        QTest::newRow("loss, host reloads") << true << "load";
        QTest::newRow("reconnect, host closes") << false << "close";
        QTest::newRow("reconnect, host reloads") << false << "load";
        QTest::newRow("loss, receiver closes") << true << "";
    }
    void receiversOfLossAndReconnect()
    {
        QFETCH(bool, loss);
        QFETCH(QString, hostCall);
        Watchdog watchdog("a receiver waiting for the host's lock", 20);
        SignalCount signals_(camera.get());
        QSemaphore emitting;
        std::atomic<bool> hostHolds{false};
        std::function<void()> receiver = [&] {
            if (hostCall.isEmpty()) {
                camera->closeCamera();
                return;
            }
            emitting.release();
            while (!hostHolds)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lorvex::HostLocker host(camera->getMutex());
            camera->isRunning = false;
        };
        (loss ? signals_.onLoss : signals_.onReconnect) = receiver;
        if (loss) {
            QCOMPARE(VCC_DetachDevice(kSerial.c_str()), 0);
        } else {
            QVERIFY(unplug(camera.get(), kSerial));
            QCOMPARE(VCC_AttachDevice(kSerial.c_str()), 0);
            reconnectTimeout(camera.get());
        }
        if (hostCall.isEmpty()) {
            QVERIFY(waitUntil([&] { return signals_.losses.load() == 1; }));
            QCOMPARE(VCC_AttachDevice(kSerial.c_str()), 0);
            reconnectAttempt(camera.get());
            QCOMPARE(probe(camera).state(), DeviceState::Closed);
            QCOMPARE(signals_.reconnects.load(), 0);
            return;
        }
        QVERIFY(emitting.tryAcquire(1, 10000));
        {
            lorvex::HostLocker host(camera->getMutex());
            hostHolds = true;
            if (hostCall == "close")
                camera->closeCamera();
            else
                camera->loadParams();
        }
        QVERIFY(waitUntil([&] { return (loss ? signals_.losses : signals_.reconnects).load() == 1; }));
        probe(camera).waitForReconnect();
    }
};

QTEST_GUILESS_MAIN(TestLockCircles)
#include "tst_lockcircles.moc"
