// Random schedules of everything that can happen to a camera at once: host
// operations (each at random under getMutex() or not, some queued by a timer
// into the pause of another), frames at random moments from a thread of
// their own, disconnects and returns, reconnect timeouts, refusals of any SDK
// call, devices without optional features, and receivers of CameraLoss and
// CameraReconnect connected directly that take getMutex() or close the camera. After each schedule the camera must
// agree with its device, hold no handle it does not use, come back when lost,
// and every frame it delivered must carry its own pixels.
//
//   LORVEX_SCHEDULES=N        schedules to run (300; 100 under a sanitizer)
//   LORVEX_SCHEDULE_SEED=S    replay the one schedule of seed S
//
// A stuck schedule ends the process through the watchdog, which names its seed.
#include "recoveryfixture.h"

#include <QRandomGenerator>

#include <set>

using namespace rectest;

namespace {

const std::string kSerial = "ZEQ00000R001";
constexpr int kWidth = 64;
constexpr int kHeight = 16;
constexpr quint32 kFirstSeed = 1000;
constexpr int kOperationsPerSchedule = 10;
constexpr int kStuckSeconds = 30;

// SDK calls a device may refuse; the close and the destruction of a handle are
// not among them, since a handle the SDK refuses to destroy stays its own.
const char* const kRefusable[] = {
    "MV_CC_CreateHandle",        "MV_CC_OpenDevice",       "MV_CC_RegisterImageCallBackEx",
    "MV_CC_RegisterExceptionCallBack", "MV_CC_StartGrabbing", "MV_CC_StopGrabbing",
    "MV_CC_GetIntValue",         "MV_CC_GetBoolValue",     "MV_CC_GetFloatValue",
    "MV_CC_EnumDevices",         "MV_CC_TriggerSoftwareExecute", "MV_CC_GetEnumValue",
    "MV_CC_ClearImageBuffer",    "MV_CC_SetFloatValue",    "MV_CC_GetStringValue",
    "MV_CC_GetPixelFormat",      "MV_CC_FeatureLoad",
};
// Features a device may lack; none of them shapes a frame.
const char* const kOptional[] = {"OffsetX", "OffsetY", "ReverseX", "ReverseY"};

// What a host does in its receivers of CameraLoss and CameraReconnect, run on
// the emitting thread.
enum class Receivers { Count, TakeHostLock, CloseOnLoss };

void react(CameraLorvex* camera, Receivers kind, bool loss)
{
    // A host's own thread holds getMutex() around its calls: a receiver run
    // there must not take it again (it is not recursive).
    const bool hostThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    if (kind == Receivers::TakeHostLock && !hostThread) {
        lorvex::HostLocker host(camera->getMutex());
        camera->isRunning = camera->isRunning;
    } else if (kind == Receivers::CloseOnLoss && loss) {
        camera->closeCamera();
    }
}

// A host operation run by a timer: it fires inside the pause of the
// operation that the schedule starts right after it.
void queueIntoPause(CameraLorvex* camera, const QJsonObject& stored, int which, int delayMs)
{
    QTimer::singleShot(delayMs, camera, [camera, stored, which] {
        switch (which) {
        case 0: camera->restartCamera(); break;
        case 1: camera->loadParams(); break;
        case 2: camera->deserialize(stored); break;
        default: camera->closeCamera(); break;
        }
    });
}

int scheduleCount()
{
    bool ok = false;
    const int forced = qEnvironmentVariableIntValue("LORVEX_SCHEDULES", &ok);
    if (ok && forced > 0)
        return forced;
    return (kThreadSanitizer || kAddressSanitizer) ? 100 : 300;
}

// Frames whose pixels and time stamp both name the frame: every pixel holds
// the stamp's low byte, and the device clock reads the stamp in milliseconds.
class FramePump
{
public:
    explicit FramePump(quint32 seed)
        : random(seed ^ 0x9e3779b9u), pixels(size_t(kWidth) * kHeight)
    {
        worker = std::thread([this] { run(); });
    }
    ~FramePump() { stop(); }
    void stop()
    {
        done = true;
        if (worker.joinable())
            worker.join();
    }
    std::set<qint64> sent;  // read after stop()

private:
    void run()
    {
        quint32 stamp = 0;
        while (!done) {
            ++stamp;
            std::fill(pixels.begin(), pixels.end(), static_cast<unsigned char>(stamp));
            MV_FRAME_OUT_INFO_EX info = drvtest::frameInfo(stamp, kWidth, kHeight, PixelType_Gvsp_Mono8,
                                                           kWidth * kHeight);
            const quint64 ticks = quint64(stamp) * 100000u;
            info.nDevTimeStampHigh = static_cast<unsigned int>(ticks >> 32);
            info.nDevTimeStampLow = static_cast<unsigned int>(ticks);
            if (VCC_DeliverFrameToDevice(kSerial.c_str(), &info, pixels.data()) == MV_OK)
                sent.insert(stamp);
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(3000u)));
        }
    }

    QRandomGenerator random;
    std::vector<unsigned char> pixels;
    std::atomic<bool> done{false};
    std::thread worker;
};

// Every delivered frame, checked against the stamp it carries.
class FrameAudit
{
public:
    explicit FrameAudit(CameraLorvex* camera)
    {
        QObject::connect(
            camera, &CameraInterface::captureCompleted, camera,
            [this](ImageProcessData data) {
                const qint64 stamp = data.captureTime.toMSecsSinceEpoch();
                std::lock_guard<std::mutex> lock(mutex);
                ++delivered;
                if (data.cameraIndex != 1 || data.image.cols != kWidth || data.image.rows != kHeight
                    || data.image.type() != CV_8UC1
                    || cv::countNonZero(data.image != static_cast<unsigned char>(stamp)) != 0)
                    faults << QStringLiteral("frame %1 does not carry its own pixels").arg(stamp);
                if (!stamps.insert(stamp).second)
                    faults << QStringLiteral("frame %1 delivered twice").arg(stamp);
            },
            Qt::DirectConnection);
    }
    std::mutex mutex;
    std::set<qint64> stamps;
    QStringList faults;
    int delivered = 0;
};

struct Outcome
{
    QString failure;  // empty when the schedule held
    QStringList steps;
};

// The camera's own view against its device's.
QString disagreement(CameraLorvex* camera)
{
    const VCC_DEVICE_COUNTERS c = counters(kSerial);
    const DeviceState state = probe(camera).state();
    const bool opened = deviceIsOpen(state);
    if (int(opened) != c.opened)
        return QStringLiteral("camera %1, device opened %2").arg(stateName(state)).arg(c.opened);
    if (opened && int(state == DeviceState::Grabbing) != c.grabbing)
        return QStringLiteral("camera %1, device grabbing %2").arg(stateName(state)).arg(c.grabbing);
    if (VCC_LiveHandleCount() != int(opened))
        return QStringLiteral("%1 live handles for a camera %2").arg(VCC_LiveHandleCount()).arg(stateName(state));
    return QString();
}

Outcome runSchedule(quint32 seed)
{
    Outcome out;
    QRandomGenerator random(seed);
    resetSdk();
    VCC_CallLogEnable(0);
    addDevice(smallDevice(kSerial));
    VCC_SetFreeRunPaused(kSerial.c_str(), 1);
    for (const char* feature : kOptional)
        if (random.bounded(4) == 0)
            VCC_RemoveFeature(kSerial.c_str(), feature);
    std::unique_ptr<CameraLorvex> camera = createCamera(1, kSerial);
    QJsonObject stored;
    camera->serialize(stored);
    camera->deserialize(stored);
    FrameAudit audit(camera.get());
    SignalCount signals_(camera.get());
    const auto receivers = static_cast<Receivers>(random.bounded(3));
    CameraLorvex* const reacting = camera.get();
    signals_.onLoss = [reacting, receivers] { react(reacting, receivers, true); };
    signals_.onReconnect = [reacting, receivers] { react(reacting, receivers, false); };
    bool attached = true;
    int productId = 0;
    {
        FramePump pump(seed);
        for (int step = 0; step < kOperationsPerSchedule; ++step) {
            const bool hostLock = random.bounded(2) == 0;
            const int op = int(random.bounded(12));
            out.steps << QStringLiteral("%1%2").arg(op).arg(hostLock ? "L" : "");
            std::unique_ptr<lorvex::HostLocker> lock;
            if (hostLock && op != 3)  // paramsChanged takes the lock itself
                lock = std::make_unique<lorvex::HostLocker>(camera->getMutex());
            switch (op) {
            case 0: camera->closeCamera(); break;
            case 1: camera->restartCamera(); break;
            case 2:
                if (random.bounded(2))
                    camera->deserialize(stored);
                else
                    camera->loadParams();
                break;
            case 3: camera->paramsChanged(); break;
            case 4: {
                lorvex::HostLocker frames(lock ? nullptr : camera->getMutex());
                camera->softTrigger(++productId, 1, nullptr);
                break;
            }
            case 5: {
                lorvex::HostLocker frames(lock ? nullptr : camera->getMutex());
                camera->isRunning = !camera->isRunning;
                break;
            }
            case 6:
                if (attached)
                    VCC_DetachDevice(kSerial.c_str());
                else
                    VCC_AttachDevice(kSerial.c_str());
                attached = !attached;
                break;
            case 7: reconnectTimeout(camera.get()); break;
            case 8:
                VCC_FailNext(kRefusable[random.bounded(quint32(std::size(kRefusable)))], 1 + int(random.bounded(2u)),
                             static_cast<int>(MV_E_BUSY));
                break;
            case 9: camera->saveParams(); break;
            case 10:
                // Into the pause of a stop or close (10 and 200 ms).
                queueIntoPause(camera.get(), stored, int(random.bounded(4u)), int(random.bounded(220u)));
                if (random.bounded(2))
                    camera->restartCamera();
                else
                    camera->closeCamera();
                break;
            default: break;
            }
            lock.reset();
            QTest::qWait(int(random.bounded(40u)));
        }
        pump.stop();
        // Settle: every refusal spent or cancelled, the device back, notices
        // handled; a lost camera must then come back.
        VCC_ClearFailures();
        if (!attached)
            VCC_AttachDevice(kSerial.c_str());
        const bool settled = waitUntil(
            [&] {
                if (probe(camera).lost())
                    reconnectTimeout(camera.get());
                return !probe(camera).lost() && !probe(camera).reconnectRunning() && disagreement(camera.get()).isEmpty();
            },
            15000);
        if (!settled) {
            out.failure = probe(camera).lost() ? QStringLiteral("still lost with its device back")
                                              : disagreement(camera.get());
            if (out.failure.isEmpty())
                out.failure = QStringLiteral("a reconnect still running");
        }
        std::lock_guard<std::mutex> lockAudit(audit.mutex);
        for (qint64 stamp : audit.stamps)
            if (!pump.sent.count(stamp))
                audit.faults << QStringLiteral("frame %1 delivered but never sent").arg(stamp);
        if (out.failure.isEmpty() && !audit.faults.isEmpty())
            out.failure = audit.faults.join(QStringLiteral("; "));
    }
    // A camera that says it grabs delivers.
    if (out.failure.isEmpty() && probe(camera).grabbing()) {
        setRunning(camera.get(), true);
        const int before = audit.delivered;
        std::vector<unsigned char> pixels(size_t(kWidth) * kHeight, 7);
        MV_FRAME_OUT_INFO_EX info = drvtest::frameInfo(1, kWidth, kHeight, PixelType_Gvsp_Mono8, kWidth * kHeight);
        info.nDevTimeStampLow = 7 * 100000u;
        const int status = VCC_DeliverFrameToDevice(kSerial.c_str(), &info, pixels.data());
        std::lock_guard<std::mutex> lockAudit(audit.mutex);
        if (status != MV_OK || audit.delivered != before + 1)
            out.failure = QStringLiteral("grabbing but silent (delivery status %1)").arg(status);
    }
    camera.reset();
    if (out.failure.isEmpty() && VCC_LiveHandleCount() != 0)
        out.failure = QStringLiteral("%1 handles left after the camera was deleted").arg(VCC_LiveHandleCount());
    return out;
}

} // namespace

class TestSchedules : public QObject
{
    Q_OBJECT

    FeatureFolder features;

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.info=false\ndefault.warning=false"));
        features.use();
    }

    void everyOrderEndsInAgreement()
    {
        bool replay = false;
        const quint32 only = quint32(qEnvironmentVariableIntValue("LORVEX_SCHEDULE_SEED", &replay));
        const int count = replay ? 1 : scheduleCount();
        for (int i = 0; i < count; ++i) {
            const quint32 seed = replay ? only : kFirstSeed + quint32(i);
            const std::string name = "schedule of seed " + std::to_string(seed)
                                     + " (replay: LORVEX_SCHEDULE_SEED=" + std::to_string(seed) + ")";
            Watchdog watchdog(name.c_str(), kStuckSeconds);
            const Outcome outcome = runSchedule(seed);
            QVERIFY2(outcome.failure.isEmpty(),
                     qPrintable(QStringLiteral("seed %1 (replay with LORVEX_SCHEDULE_SEED=%1), steps %2: %3")
                                    .arg(seed)
                                    .arg(outcome.steps.join(QLatin1Char(' ')), outcome.failure)));
        }
        std::printf("%d schedules held\n", count);
        std::fflush(stdout);
    }
};

int main(int argc, char** argv)
{
    // A soak of many schedules runs longer than QtTest's five minutes.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(qint64(scheduleCount()) * kStuckSeconds * 1000));
    QCoreApplication app(argc, argv);
    TestSchedules test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_schedules.moc"
