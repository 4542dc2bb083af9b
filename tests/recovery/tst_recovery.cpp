// Loss and recovery of a camera on the virtual SDK: what the exception
// callback does with a disconnect, what each timeout of the reconnect timer
// starts, the accepted-device count rule, failures during a reopen, teardown
// during a reopen, and a camera that another path opened while it was lost.
//
// Two tests run on the real 3000 ms timer; the others call the timer's
// handler, which is what a timeout does, so that the executable stays short.
#include "recoveryfixture.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>

using namespace rectest;

namespace {

const std::string kSerialA = "ZEQ0000000A1";
const std::string kSerialB = "ZEQ0000000B2";
const std::string kSerialC = "ZEQ0000000C3";

// The host's restore of stored settings, which also starts the timer.
void restore(CameraLorvex* camera)
{
    QJsonObject json;
    camera->serialize(json);
    camera->deserialize(json);
}

int openCalls()
{
    return VCC_CallLogCountOf("MV_CC_OpenDevice", nullptr);
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

    FeatureFolder features;

private slots:
    void init()
    {
        resetSdk();
        features.use();
    }

    void cleanup()
    {
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    // ---- the exception callback -------------------------------------------------------

    void otherMessagesAndNullUserAreIgnored()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        LogCapture log;

        for (unsigned type : {0u, 0x8000u, 0x8002u, 0x0001u, 0xFFFFFFFFu})
            CameraLorvexProbe::ExceptionImageCallBack(type, camera.get());
        CameraLorvexProbe::ExceptionImageCallBack(MV_EXCEPTION_DEV_DISCONNECT, nullptr);

        QVERIFY2(log.records().empty(), qPrintable(log.dump()));
        QCOMPARE(signals_.losses.load(), 0);
        QVERIFY(!probe(camera).lost());
        QVERIFY(probe(camera).opened());
        QCOMPARE(counters(kSerialA).grabbing, 1);
    }

    void disconnectClosesOnceAndIsReportedOnce()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        restore(camera.get());
        SignalCount signals_(camera.get());

        for (int cycle = 1; cycle <= 2; ++cycle) {
            LogCapture log;
            QVERIFY(unplug(camera.get(), kSerialA));
            QCOMPARE(signals_.losses.load(), cycle);
            QCOMPARE(log.count(QString::fromStdString("camera " + kSerialA + " disconnect")), 1);
            QVERIFY(log.indexOf(QtInfoMsg, QString::fromStdString("camera " + kSerialA + " disconnect")) >= 0);
            QVERIFY(!probe(camera).opened());
            QCOMPARE(VCC_LiveHandleCount(), 0);
            QCOMPARE(counters(kSerialA).liveHandles, 0);

            QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
            reconnectAttempt(camera.get());
            QCOMPARE(signals_.reconnects.load(), cycle);
            QVERIFY(!probe(camera).lost());
            QCOMPARE(counters(kSerialA).grabbing, 1);
            // Frames flow again.
            const unsigned long long delivered = counters(kSerialA).framesDelivered;
            QVERIFY(waitUntil([&] { return counters(kSerialA).framesDelivered >= delivered + 5; }, 2000));
        }
        // Nothing more arrives later.
        QTest::qWait(100);
        QCOMPARE(signals_.losses.load(), 2);
    }

    // CameraLoss comes once the loss is settled: the camera is already lost
    // when told, and a host call on another thread made from the receiver
    // (here a close, which waits its turn) is not held up by the emission.
    void lossIsToldAfterTheStateChangedWithNoLockHeld()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        std::atomic<bool> lostWhenTold{false};
        std::atomic<bool> closedFromElsewhere{false};
        signals_.onLoss = [&] {
            lostWhenTold = probe(camera).state() == DeviceState::Lost;
            std::thread host([&] { camera->closeCamera(); });
            host.join();
            closedFromElsewhere = probe(camera).state() == DeviceState::Closed;
        };
        QCOMPARE(VCC_DetachDevice(kSerialA.c_str()), 0);
        QVERIFY(waitUntil([&] { return signals_.losses.load() == 1; }));
        QVERIFY(lostWhenTold);
        QVERIFY(closedFromElsewhere);
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        reconnectAttempt(camera.get());
        QCOMPARE(probe(camera).state(), DeviceState::Closed);
        QCOMPARE(signals_.reconnects.load(), 0);
    }

    // The SDK's destruction of a handle waits for its running exception
    // callback: a disconnect during the host's close or restart must neither
    // hang the two nor leave the camera believed present.
    // A notice inside a restart leaves the camera lost when the device is
    // gone; inside the host's close it leaves it closed: a close is final,
    // and the device's return must not bring the camera back.
    void disconnectDuringAHostCloseOrRestart_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("close") << false;
        QTest::newRow("restart") << true;
    }
    void disconnectDuringAHostCloseOrRestart()
    {
        QFETCH(bool, restart);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        Watchdog watchdog("disconnect during a close", 30);
        // Fires inside the stop's pause, with the close still to come.
        QTimer::singleShot(2, [] { VCC_DetachDevice(kSerialA.c_str()); });
        if (restart)
            camera->restartCamera();
        else
            camera->closeCamera();
        if (!restart) {
            QTest::qWait(300);
            QCOMPARE(signals_.losses.load(), 0);
            QVERIFY(!probe(camera).lost());
            QVERIFY(!probe(camera).opened());
            QCOMPARE(counters(kSerialA).liveHandles, 0);
            QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
            VCC_CallLogClear();
            reconnectAttempt(camera.get());
            QCOMPARE(openCalls(), 0);
            QCOMPARE(signals_.reconnects.load(), 0);
            return;
        }
        QVERIFY(waitUntil([&] { return signals_.losses.load() > 0; }));
        QTest::qWait(50);
        QCOMPARE(signals_.losses.load(), 1);
        QVERIFY(probe(camera).lost());
        QVERIFY(!probe(camera).opened());
        QCOMPARE(counters(kSerialA).liveHandles, 0);

        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        reconnectAttempt(camera.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QCOMPARE(counters(kSerialA).grabbing, 1);
    }

    // A notice that finds the camera closed by its host changes nothing: the
    // camera must not come back on its own.
    void noticeAfterTheHostClosedChangesNothing()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        restore(camera.get());
        SignalCount signals_(camera.get());
        camera->closeCamera();
        CameraLorvexProbe::ExceptionImageCallBack(MV_EXCEPTION_DEV_DISCONNECT, camera.get());
        QCOMPARE(signals_.losses.load(), 0);
        QVERIFY(!probe(camera).lost());
        VCC_CallLogClear();
        reconnectAttempt(camera.get());
        QCOMPARE(openCalls(), 0);
        QVERIFY(!probe(camera).opened());
    }

    // ---- the timer and the task ---------------------------------------------------------

    // On the real timer: the first attempt within one interval of the loss, one
    // "Reopening camera" per timeout and no signal while the device is away,
    // one CameraReconnect when it is back, nothing from later timeouts.
    void lossAndRecoveryOnTheRealTimer()
    {
        Watchdog watchdog("lossAndRecoveryOnTheRealTimer", 30);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(7, kSerialA);
        restore(camera.get());
        QVERIFY(probe(camera).timerActive());
        QCOMPARE(probe(camera).timerInterval(), 3000);
        SignalCount signals_(camera.get());
        LogCapture log;

        QVERIFY(unplug(camera.get(), kSerialA));
        QElapsedTimer sinceLoss;
        sinceLoss.start();
        const QString attempt = QStringLiteral("Reopening camera 7");

        QVERIFY(waitUntil([&] { return log.count(attempt) >= 1; }, 4000));
        QVERIFY2(sinceLoss.elapsed() <= 3000 + 300, qPrintable(QString::number(sinceLoss.elapsed())));
        QVERIFY(waitUntil([&] { return log.count(attempt) >= 2; }, 4000));
        const qint64 secondAt = sinceLoss.elapsed();
        QTest::qWait(200);
        QCOMPARE(log.count(attempt), 2);
        QVERIFY(secondAt >= 2700);
        QCOMPARE(signals_.losses.load(), 1);
        QCOMPARE(signals_.reconnects.load(), 0);
        QCOMPARE(log.count(QStringLiteral("Successfully reopening camera")), 0);
        QVERIFY(probe(camera).lost());

        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        QVERIFY(waitUntil([&] { return signals_.reconnects.load() == 1; }, 4000));
        QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }));
        QCOMPARE(log.count(attempt), 3);
        QCOMPARE(log.count(QStringLiteral("Successfully reopening camera 7")), 1);
        QVERIFY(log.indexOf(QtInfoMsg, QStringLiteral("Successfully reopening camera 7")) >= 0);
        QVERIFY(!probe(camera).lost());
        QVERIFY(probe(camera).opened());
        QCOMPARE(counters(kSerialA).grabbing, 1);

        // Later timeouts find nothing to do.
        const int opens = openCalls();
        for (int i = 0; i < 3; ++i)
            reconnectAttempt(camera.get());
        QCOMPARE(log.count(attempt), 3);
        QCOMPARE(openCalls(), opens);
        QCOMPARE(signals_.reconnects.load(), 1);
        QCOMPARE(signals_.losses.load(), 1);
    }

    // On the real timer: a device that failed to open at creation is tried
    // only once deserialize has started the timer, and a second deserialize
    // restarts the interval.
    void failedAtCreationComesUpAfterDeserialize()
    {
        Watchdog watchdog("failedAtCreationComesUpAfterDeserialize", 30);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        VCC_FailNext("MV_CC_OpenDevice", 1, static_cast<int>(MV_E_BUSY));
        auto camera = createCamera(3, kSerialA);
        QVERIFY(probe(camera).lost());
        QVERIFY(!probe(camera).opened());
        QVERIFY(!probe(camera).timerActive());
        SignalCount signals_(camera.get());
        LogCapture log;

        QElapsedTimer clock;
        clock.start();
        restore(camera.get());
        QTest::qWait(1500);
        restore(camera.get());
        const qint64 restartedAt = clock.elapsed();

        QVERIFY(waitUntil([&] { return signals_.reconnects.load() == 1; }, 5000));
        const int attemptRecord = log.indexOf(QtInfoMsg, QStringLiteral("Reopening camera 3"));
        QVERIFY(attemptRecord >= 0);
        const qint64 sinceRestart = clock.elapsed() - restartedAt;
        // Not at 3000 ms after the first deserialize, but one interval after the second.
        // (A coarse Qt timer may fire up to 5 % early.)
        QVERIFY2(sinceRestart >= 2800 && sinceRestart <= 3800, qPrintable(QString::number(sinceRestart)));
        QCOMPARE(log.count(QStringLiteral("Reopening camera 3")), 1);
        QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }));
        QVERIFY(!probe(camera).lost());
        QVERIFY(probe(camera).opened());
        QCOMPARE(counters(kSerialA).grabbing, 1);
    }

    void noSecondAttemptWhileOneRuns()
    {
        Watchdog watchdog("noSecondAttemptWhileOneRuns", 20);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        QCOMPARE(VCC_SetOpenDelayMs(kSerialA.c_str(), 1200), 0);
        VCC_CallLogClear();
        LogCapture log;

        reconnectTimeout(camera.get());
        QVERIFY(waitUntil([&] { return log.count(QStringLiteral("Reopening camera")) == 1; }));
        for (int i = 0; i < 5; ++i) {
            reconnectTimeout(camera.get());
            QTest::qWait(50);
        }
        QVERIFY(probe(camera).reconnectRunning());
        probe(camera).waitForReconnect();

        QCOMPARE(log.count(QStringLiteral("Reopening camera")), 1);
        QCOMPARE(openCalls(), 1);
        QCOMPARE(signals_.reconnects.load(), 1);
        QCOMPARE(counters(kSerialA).liveHandles, 1);
        QVERIFY(!probe(camera).lost());
    }

    // CameraReconnect comes once the reopen has ended: the camera is back
    // when told, and a host call on another thread is not held up by it.
    void reconnectIsToldAfterTheReopenWithNoLockHeld()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        std::atomic<bool> backWhenTold{false};
        std::atomic<bool> restartedFromElsewhere{false};
        signals_.onReconnect = [&] {
            backWhenTold = probe(camera).state() == DeviceState::Grabbing && !probe(camera).lost();
            std::thread host([&] { camera->restartCamera(); });
            host.join();
            restartedFromElsewhere = probe(camera).state() == DeviceState::Grabbing;
        };
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        reconnectAttempt(camera.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QVERIFY(backWhenTold);
        QVERIFY(restartedFromElsewhere);
        QCOMPARE(VCC_LiveHandleCount(), 1);
    }

    void reopenWaitsForTheListedDeviceCount()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        QCOMPARE(addDevice(smallDevice(kSerialB)), 0);
        auto first = createCamera(1, kSerialA);
        auto second = createCamera(2, kSerialB);
        QCOMPARE(listCameras(), 2);
        startGrabbing(first.get());
        SignalCount signals_(first.get());
        QVERIFY(unplug(first.get(), kSerialA));
        LogCapture log;
        VCC_CallLogClear();

        // Away: one device of two.
        reconnectAttempt(first.get());
        // Back, but a third accepted device came with it.
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        QCOMPARE(addDevice(smallDevice(kSerialC)), 0);
        reconnectAttempt(first.get());
        reconnectAttempt(first.get());

        QCOMPARE(log.count(QStringLiteral("Reopening camera 1")), 3);
        QCOMPARE(openCalls(), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 0);
        QCOMPARE(signals_.reconnects.load(), 0);
        QCOMPARE(signals_.losses.load(), 1);  // only the disconnect itself
        QVERIFY(probe(first).lost());
        QCOMPARE(log.count(QStringLiteral("Can not found camera")), 0);

        // The host lists again: three now, and the next attempt reopens.
        QCOMPARE(listCameras(), 3);
        reconnectAttempt(first.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QVERIFY(!probe(first).lost());
        QVERIFY(probe(first).opened());
        QCOMPARE(counters(kSerialA).opened, 1);
        QVERIFY(probe(second).opened());
    }

    void deviceAbsentAtListingIsOpenedAfterTheNextListing()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        QCOMPARE(addDevice(smallDevice(kSerialB)), 0);
        QCOMPARE(VCC_DetachDevice(kSerialB.c_str()), 0);
        LogCapture log;
        auto camera = createCamera(2, kSerialB);
        QVERIFY(probe(camera).lost());
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("Can not found camera 2 with SN")) >= 0);
        SignalCount signals_(camera.get());

        QCOMPARE(VCC_AttachDevice(kSerialB.c_str()), 0);
        log.clear();
        reconnectAttempt(camera.get());
        QCOMPARE(log.count(QStringLiteral("Reopening camera 2")), 1);
        QCOMPARE(log.count(QStringLiteral("Can not found camera")), 0);
        QVERIFY(probe(camera).lost());

        QCOMPARE(listCameras(), 2);
        reconnectAttempt(camera.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QVERIFY(probe(camera).opened());
        QVERIFY(!probe(camera).lost());
    }

    // The count is right but another device took the place of this one.
    void anotherDeviceInItsPlaceIsReportedAsLossAgain()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        QCOMPARE(addDevice(smallDevice(kSerialB)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(addDevice(smallDevice(kSerialC)), 0);
        LogCapture log;

        reconnectAttempt(camera.get());
        QCOMPARE(log.count(QStringLiteral("Reopening camera 1")), 1);
        QVERIFY(log.indexOf(QtWarningMsg, QString::fromStdString("Can not found camera 1 with SN " + kSerialA)) >= 0);
        QCOMPARE(signals_.losses.load(), 2);
        QCOMPARE(signals_.reconnects.load(), 0);
        QVERIFY(probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    // ---- failures during a reopen ---------------------------------------------------------------

    // A device that opens but refuses to grab is not reported back: it is
    // closed again and the next timeout tries once more.
    void reopenWhoseStartFailsStaysLostAndIsRetried()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        VCC_FailNext("MV_CC_StartGrabbing", 1, static_cast<int>(MV_E_RESOURCE));
        LogCapture log;

        reconnectAttempt(camera.get());
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("CameraLorvex MV_CC_StartGrabbing:")) >= 0);
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("Camera 1 reopened but refused to start grabbing")) >= 0,
                 qPrintable(log.dump()));
        QCOMPARE(signals_.reconnects.load(), 0);
        QCOMPARE(log.count(QStringLiteral("Successfully reopening camera 1")), 0);
        QVERIFY(probe(camera).lost());
        QVERIFY(!probe(camera).opened());
        QCOMPARE(counters(kSerialA).liveHandles, 0);

        reconnectAttempt(camera.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QVERIFY(!probe(camera).lost());
        QCOMPARE(counters(kSerialA).grabbing, 1);
    }

    // A restart, or a restore of an idle device, whose start is refused: one
    // CameraLoss, the device released, and the next timeout brings it back.
    void refusedStartIsALoss_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("restart") << true;
        QTest::newRow("restore") << false;
    }
    void refusedStartIsALoss()
    {
        QFETCH(bool, restart);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        SignalCount signals_(camera.get());
        VCC_FailNext("MV_CC_StartGrabbing", 1, static_cast<int>(MV_E_RESOURCE));
        LogCapture log;
        if (restart)
            camera->restartCamera();
        else
            restore(camera.get());
        QCOMPARE(signals_.losses.load(), 1);
        QVERIFY(probe(camera).lost());
        QVERIFY(!probe(camera).opened());
        QCOMPARE(counters(kSerialA).liveHandles, 0);
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("Camera 1 refused to start grabbing")) >= 0,
                 qPrintable(log.dump()));

        reconnectAttempt(camera.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QCOMPARE(counters(kSerialA).grabbing, 1);
    }

    // A restore on a device already grabbing starts nothing and loses nothing.
    void restoreOfAGrabbingDeviceStartsNothing()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        restore(camera.get());
        SignalCount signals_(camera.get());
        VCC_CallLogClear();
        restore(camera.get());
        QCOMPARE(VCC_CallLogCountOf("MV_CC_StartGrabbing", nullptr), 0);
        QCOMPARE(signals_.losses.load(), 0);
        QCOMPARE(counters(kSerialA).grabbing, 1);
    }

    // The host's close of a lost camera ends its reconnect.
    void closingALostCameraEndsItsReconnect()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        restore(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        camera->closeCamera();
        QVERIFY(!probe(camera).lost());
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        VCC_CallLogClear();
        reconnectAttempt(camera.get());
        QCOMPARE(openCalls(), 0);
        QCOMPARE(counters(kSerialA).opened, 0);
    }

    void reopenWhoseOpenFailsIsReportedAndRetried()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        VCC_FailNext("MV_CC_OpenDevice", 1, static_cast<int>(MV_E_BUSY));
        LogCapture log;

        reconnectAttempt(camera.get());
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("Open camera 1 failed:")) >= 0);
        QCOMPARE(signals_.losses.load(), 2);
        QCOMPARE(signals_.reconnects.load(), 0);
        QVERIFY(probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 0);  // the handle of the failed open is released

        reconnectAttempt(camera.get());
        QCOMPARE(signals_.reconnects.load(), 1);
        QVERIFY(!probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 1);
    }

    // ---- teardown and other paths --------------------------------------------------------------

    void deletingACameraWaitsForItsRunningReopen()
    {
        Watchdog watchdog("deletingACameraWaitsForItsRunningReopen", 20);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        restore(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);
        QCOMPARE(VCC_SetOpenDelayMs(kSerialA.c_str(), 800), 0);
        LogCapture log;

        reconnectTimeout(camera.get());
        QVERIFY(waitUntil([&] { return log.count(QStringLiteral("Reopening camera 1")) == 1; }));
        QVERIFY(probe(camera).reconnectRunning());
        QElapsedTimer clock;
        clock.start();
        camera.reset();
        QVERIFY2(clock.elapsed() >= 400, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(VCC_LiveHandleCount(), 0);
        const VCC_DEVICE_COUNTERS after = counters(kSerialA);
        QCOMPARE(after.opened, 0);
        QCOMPARE(after.grabbing, 0);
    }

    // A task still queued behind busy pool threads is cancelled by the
    // destructor and never touches the camera.
    void deletingACameraCancelsAQueuedReopen()
    {
        Watchdog watchdog("deletingACameraCancelsAQueuedReopen", 20);
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);

        QThreadPool* pool = QThreadPool::globalInstance();
        const int busy = pool->maxThreadCount();
        QSemaphore started;
        QSemaphore release;
        for (int i = 0; i < busy; ++i)
            pool->start([&] {
                started.release();
                release.acquire();
            });
        QVERIFY(started.tryAcquire(busy, 5000));
        LogCapture log;
        VCC_CallLogClear();

        reconnectTimeout(camera.get());
        camera.reset();
        release.release(busy);
        pool->waitForDone(5000);

        QCOMPARE(log.count(QStringLiteral("Reopening camera")), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_EnumDevices", nullptr), 0);
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    // restartCamera opened the device while the camera was lost: the next
    // attempt keeps that handle, reports the camera back and clears the flag.
    void cameraOpenedByRestartIsNotReopened()
    {
        QCOMPARE(addDevice(smallDevice(kSerialA)), 0);
        auto camera = createCamera(1, kSerialA);
        startGrabbing(camera.get());
        SignalCount signals_(camera.get());
        QVERIFY(unplug(camera.get(), kSerialA));
        QCOMPARE(VCC_AttachDevice(kSerialA.c_str()), 0);

        camera->restartCamera();
        QVERIFY(probe(camera).opened());
        QVERIFY(probe(camera).lost());
        void* const handle = probe(camera).sdkHandle();
        VCC_CallLogClear();
        LogCapture log;

        reconnectAttempt(camera.get());
        QCOMPARE(log.count(QStringLiteral("Reopening camera 1")), 1);
        QCOMPARE(log.count(QStringLiteral("Successfully reopening camera 1")), 1);
        QCOMPARE(signals_.reconnects.load(), 1);
        QVERIFY(!probe(camera).lost());
        QVERIFY(probe(camera).sdkHandle() == handle);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 0);
        QCOMPARE(openCalls(), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CloseDevice", nullptr), 0);
        QCOMPARE(VCC_LiveHandleCount(), 1);
        QCOMPARE(counters(kSerialA).grabbing, 1);

        // And it stays so.
        reconnectAttempt(camera.get());
        QCOMPARE(log.count(QStringLiteral("Reopening camera 1")), 1);
    }
};

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
