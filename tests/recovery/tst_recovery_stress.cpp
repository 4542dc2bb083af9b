// Stress of the driver's locks: devices that come and go while the host
// triggers under the frame lock, edits parameters and frames arrive; cameras
// deleted in the middle of their recovery; several cameras recovering at once.
// Each test has a watchdog that aborts with a message instead of hanging.
//
// Reconnect attempts are started by calling the reconnect timer's handler on
// the camera's thread every few milliseconds, instead of waiting up to
// 3000 ms for the timer: the same code runs, the cycles just follow faster. The cycle
// counts are lower under a sanitizer; LORVEX_STRESS_CYCLES sets them, and the
// time limits grow with it.
#include "recoveryfixture.h"

#include <QLoggingCategory>
#include <QRandomGenerator>

#include <cstdio>

#include <vector>

using namespace rectest;

namespace {

std::string serialOf(int i)
{
    return "ZEQ00000S" + std::to_string(100 + i);
}

void restore(CameraLorvex* camera)
{
    QJsonObject json;
    camera->serialize(json);
    camera->deserialize(json);
}

// Waits on a thread without an event loop.
bool spinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Checks every delivered image against the only geometry the devices have.
struct FrameCheck
{
    explicit FrameCheck(CameraLorvex* camera)
    {
        QObject::connect(
            camera, &CameraInterface::captureCompleted, camera,
            [this](ImageProcessData data) {
                ++frames;
                if (data.image.cols != 64 || data.image.rows != 16 || data.image.type() != 0)
                    ++malformed;
            },
            Qt::DirectConnection);
    }
    std::atomic<int> frames{0};
    std::atomic<int> malformed{0};
};

} // namespace

class TestRecoveryStress : public QObject
{
    Q_OBJECT

    FeatureFolder features;

private slots:
    void initTestCase()
    {
        // Hundreds of thousands of routine records would only cost time;
        // warnings still show.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.info=false"));
    }

    void init()
    {
        resetSdk();
        VCC_CallLogEnable(0);  // the log would only cost time here
        features.use();
    }

    void cleanup()
    {
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    // (a) The device comes and goes while the host, holding getMutex(),
    // triggers at a high rate and toggles isRunning, paramsChanged runs from
    // a timer, the exposure is written and frames flow in free run.
    void hostKeepsWorkingWhileTheDeviceComesAndGoes()
    {
        const StressRun run = stressRun(200, 120);
        const int cycles = run.cycles;
        Watchdog watchdog("hostKeepsWorkingWhileTheDeviceComesAndGoes", run.scaled(150));
        const std::string serial = serialOf(0);
        QCOMPARE(addDevice(smallDevice(serial, 300.0)), 0);
        auto camera = createCamera(1, serial);
        camera->setExposureCount(2);
        restore(camera.get());
        CameraTrigParams trigger;
        trigger.triggerType = 2;
        setTrigger(camera.get(), trigger);
        SignalCount signals_(camera.get());
        FrameCheck frames(camera.get());
        std::atomic<int> callbacks{0};

        int productId = 0;
        int triggers = 0;
        QTimer host;
        host.setInterval(1);
        QObject::connect(&host, &QTimer::timeout, [&] {
            for (int i = 0; i < 4; ++i) {
                lorvex::HostLocker frame(camera->getMutex());
                camera->softTrigger(++productId, 1, [&callbacks] { ++callbacks; });
                camera->isRunning = !camera->isRunning;
                camera->isContinuousMode();
                ++triggers;
            }
            camera->selectExposure(productId % 2);
            camera->getImageSize();
            camera->getAdjustItems();
        });
        QTimer edits;
        edits.setInterval(5);
        QObject::connect(&edits, &QTimer::timeout, [&] { camera->paramsChanged(); });
        // Timeouts of the reconnect timer, far more often than every 3000 ms;
        // each does nothing unless the camera is lost.
        QTimer timeouts;
        timeouts.setInterval(2);
        QObject::connect(&timeouts, &QTimer::timeout, [&] { reconnectTimeout(camera.get()); });
        host.start();
        edits.start();
        timeouts.start();

        std::atomic<bool> finished{false};
        std::atomic<int> stuckAt{0};
        std::thread operatorThread([&] {
            for (int cycle = 1; cycle <= cycles; ++cycle) {
                VCC_DetachDevice(serial.c_str());
                if (!spinUntil([&] { return signals_.losses.load() == cycle; }, 10000)) {
                    stuckAt = cycle;
                    break;
                }
                VCC_AttachDevice(serial.c_str());
                const bool back = spinUntil([&] { return signals_.reconnects.load() == cycle; }, 10000);
                if (!back) {
                    stuckAt = -cycle;
                    break;
                }
                // Up for a while, so that frames flow in every cycle.
                std::this_thread::sleep_for(std::chrono::milliseconds(10 + cycle % 20));
            }
            finished = true;
        });
        const bool done = waitUntil([&] { return finished.load(); }, run.scaled(140000));
        operatorThread.join();
        host.stop();
        edits.stop();
        timeouts.stop();
        QVERIFY(done);
        QVERIFY2(stuckAt == 0, qPrintable(QStringLiteral("stuck in cycle %1 (negative: waiting for the reconnect)")
                                              .arg(stuckAt.load())));
        QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }));

        const VCC_DEVICE_COUNTERS device = counters(serial);
        std::printf("%d cycles, %d triggers, %d frames, %d trigger callbacks; device produced %llu, delivered %llu\n", cycles,
              triggers, frames.frames.load(), callbacks.load(), device.framesProduced, device.framesDelivered);
        std::fflush(stdout);
        QCOMPARE(signals_.losses.load(), cycles);
        QCOMPARE(signals_.reconnects.load(), cycles);
        QVERIFY(frames.frames > 0);
        QCOMPARE(frames.malformed.load(), 0);
        QVERIFY(!probe(camera).lost());
        QVERIFY(probe(camera).opened());
        QCOMPARE(counters(serial).grabbing, 1);
        QCOMPARE(VCC_LiveHandleCount(), 1);
        camera.reset();
        QCOMPARE(counters(serial).opened, 0);
    }

    // (b) Cameras deleted at every stage of their loss and recovery: during
    // the exception callback's close, while a reopen waits in a slow open,
    // just after it, and while frames arrive.
    void camerasDeletedWhileTheyRecover()
    {
        const StressRun run = stressRun(30, 20);
        const int rounds = run.cycles;
        const int cameraCount = 3;
        Watchdog watchdog("camerasDeletedWhileTheyRecover", run.scaled(150));
        for (int i = 0; i < cameraCount; ++i)
            QCOMPARE(addDevice(smallDevice(serialOf(i), 300.0)), 0);
        QRandomGenerator random(20240607);

        for (int round = 0; round < rounds; ++round) {
            std::vector<std::unique_ptr<CameraLorvex>> cameras;
            std::vector<std::unique_ptr<SignalCount>> signals_;
            for (int i = 0; i < cameraCount; ++i) {
                cameras.push_back(createCamera(i + 1, serialOf(i)));
                signals_.push_back(std::make_unique<SignalCount>(cameras.back().get()));
                QVERIFY(probe(cameras.back()).opened());
                restore(cameras.back().get());
            }
            for (int i = 0; i < cameraCount; ++i)
                QCOMPARE(VCC_DetachDevice(serialOf(i).c_str()), 0);

            if (round % 3 == 0) {
                // Deleted while the exception callbacks close.
                QTest::qWait(int(random.bounded(150)));
            } else {
                QVERIFY(waitUntil([&] {
                    for (auto& camera : cameras)
                        if (!probe(camera).lost())
                            return false;
                    return true;
                }));
                for (int i = 0; i < cameraCount; ++i) {
                    QCOMPARE(VCC_AttachDevice(serialOf(i).c_str()), 0);
                    VCC_SetOpenDelayMs(serialOf(i).c_str(), random.bounded(300u));
                    reconnectTimeout(cameras[size_t(i)].get());
                }
                QTest::qWait(int(random.bounded(400)));
            }
            cameras.clear();
            QCOMPARE(VCC_LiveHandleCount(), 0);
            for (int i = 0; i < cameraCount; ++i) {
                const VCC_DEVICE_COUNTERS c = counters(serialOf(i));
                QCOMPARE(c.opened, 0);
                if (!c.attached)
                    QCOMPARE(VCC_AttachDevice(serialOf(i).c_str()), 0);
                VCC_SetOpenDelayMs(serialOf(i).c_str(), 0);
            }
            signals_.clear();
        }
    }

    // (c) Several cameras lost at once, all reconnecting at once, each
    // refilling the shared device table, while frames flow and parameters change.
    void severalCamerasRecoverTogether()
    {
        const StressRun run = stressRun(25, 16);
        const int rounds = run.cycles;
        const int cameraCount = 4;
        Watchdog watchdog("severalCamerasRecoverTogether", run.scaled(150));
        for (int i = 0; i < cameraCount; ++i)
            QCOMPARE(addDevice(smallDevice(serialOf(i), 200.0)), 0);
        std::vector<std::unique_ptr<CameraLorvex>> cameras;
        std::vector<std::unique_ptr<SignalCount>> signals_;
        std::vector<std::unique_ptr<FrameCheck>> frames;
        for (int i = 0; i < cameraCount; ++i) {
            cameras.push_back(createCamera(i + 1, serialOf(i)));
            signals_.push_back(std::make_unique<SignalCount>(cameras.back().get()));
            frames.push_back(std::make_unique<FrameCheck>(cameras.back().get()));
            restore(cameras.back().get());
        }
        QTimer edits;
        edits.setInterval(10);
        int next = 0;
        QObject::connect(&edits, &QTimer::timeout, [&] { cameras[size_t(next++ % cameraCount)]->paramsChanged(); });
        edits.start();

        for (int round = 1; round <= rounds; ++round) {
            std::vector<std::thread> unplugs;
            for (int i = 0; i < cameraCount; ++i)
                unplugs.emplace_back([i] { VCC_DetachDevice(serialOf(i).c_str()); });
            for (auto& t : unplugs)
                t.join();
            QVERIFY(waitUntil(
                [&] {
                    for (auto& s : signals_)
                        if (s->losses != round)
                            return false;
                    return true;
                },
                10000));
            for (int i = 0; i < cameraCount; ++i)
                QCOMPARE(VCC_AttachDevice(serialOf(i).c_str()), 0);
            QVERIFY2(waitUntil(
                         [&] {
                             bool all = true;
                             for (int i = 0; i < cameraCount; ++i) {
                                 if (signals_[size_t(i)]->reconnects == round)
                                     continue;
                                 all = false;
                                 reconnectTimeout(cameras[size_t(i)].get());
                             }
                             return all;
                         },
                         15000),
                     qPrintable(QStringLiteral("round %1").arg(round)));
        }
        edits.stop();
        for (int i = 0; i < cameraCount; ++i) {
            CameraLorvex* camera = cameras[size_t(i)].get();
            QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }));
            QCOMPARE(signals_[size_t(i)]->losses.load(), rounds);
            QCOMPARE(signals_[size_t(i)]->reconnects.load(), rounds);
            QVERIFY(!probe(camera).lost());
            QVERIFY(probe(camera).opened());
            QCOMPARE(counters(serialOf(i)).grabbing, 1);
            QCOMPARE(frames[size_t(i)]->malformed.load(), 0);
        }
        QCOMPARE(VCC_LiveHandleCount(), cameraCount);
        cameras.clear();
    }
};

int main(int argc, char** argv)
{
    // QtTest ends a test function after five minutes; a longer soak asks for
    // proportionally more (the test with the smallest usual count grows most).
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(stressRun(25, 16).scaled(300000)));
    QCoreApplication app(argc, argv);
    TestRecoveryStress test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery_stress.moc"
