// The unchanged plug-in over the SDK for real cameras, against lorvexgige on
// loopback addresses: it lists the cameras its maker filter accepts, captures
// on software triggers with the products numbered right, and a pulled cable
// gives CameraLoss, then CameraReconnect once the camera is back; the same
// for Aravis's own simulator, a camera nobody here wrote.
#include "wirechart.h"

#include "../common/cameraprobe.h"
#include "convert.h"
#include "triggercodes.h"

#include <QDir>
#include <QJsonDocument>
#include <QMutexLocker>

#include <atomic>
#include <memory>

using namespace wire;

namespace {

constexpr int kFrameTimeoutMs = 5000;
// The SDK's silence limit (5 s) and the close, with a margin for load.
constexpr int kLossTimeoutMs = 15000;
// How long the simulator keeps a silent controller (its heartbeat time-out).
constexpr int kCameraHeartbeatMs = 3500;
// One reconnect interval of the plug-in (3 s), the open, and a margin.
constexpr int kReconnectTimeoutMs = 15000;

const WireDevice kCamera{QStringLiteral("WIRE1024M11"), QStringLiteral("LX-LS1024-GM"), 1024, 64,
                         {QStringLiteral("Mono8")}, 12800, QStringLiteral("127.0.0.1")};
// A simulator entry by its serial number: the plug-in must not list it.
const WireDevice kSimulatorEntry{QStringLiteral("VirWIRE0012"), QStringLiteral("LX-LS1024-GM"), 1024, 64,
                                 {QStringLiteral("Mono8")}, 12800, QStringLiteral("127.0.0.2")};

// The colour camera of the stored demo settings (colour on), at their geometry.
const WireDevice kColour{QStringLiteral("WIRE2048C21"), QStringLiteral("LX-LS2048-GC"), 2048, 1000,
                         {QStringLiteral("BayerRG8"), QStringLiteral("Mono8")}, 50000, QStringLiteral("127.0.0.1")};

// Aravis's simulator as the plug-in takes it: a serial number long enough
// to open, and a maker its filter accepts written in before the test.
const char* const kForeignSerial = "ARVFAKE0001";
const QByteArray kForeignMaker = QByteArrayLiteral("GEV");

// The plug-in's warnings that a frame's counters disagree (the device made
// a frame no trigger asked for), counted from the plug-in's threads.
std::atomic<int> gCounterWarnings{0};
QtMessageHandler gPreviousHandler = nullptr;

void countCounterWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text.contains(QLatin1String("SDK with FrameCounter")))
        ++gCounterWarnings;
    gPreviousHandler(type, context, text);
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

std::unique_ptr<CameraLorvex> createListed(int cameraIndex, const QString& serial)
{
    CameraLorvex root;
    int count = 0;
    root.getCameraList(count);
    return std::unique_ptr<CameraLorvex>(static_cast<CameraLorvex*>(root.createCamera(cameraIndex, serial, 0)));
}

// The host's restore of the camera's own settings, as at every start: it
// starts grabbing and the plug-in's reconnect timer.
void restoreAsHost(CameraInterface& camera)
{
    QJsonObject json;
    camera.serialize(json);
    camera.deserialize(json);
}

// The host's side of software triggering: the camera runs on the plug-in's
// software triggers, and each product is fired under the host's lock.
void runOnSoftwareTriggers(CameraLorvex& camera)
{
    CameraTrigParams trigger;
    trigger.triggerType = lorvex::trigger::kSoftware;
    lorvex::HostLocker hold(camera.getMutex());
    camera.setTrigParams(&trigger);
    camera.isRunning = true;
}

void triggerProduct(CameraLorvex& camera, int product)
{
    lorvex::HostLocker hold(camera.getMutex());
    camera.softTrigger(product, 1, [] {});
}

// Keeps a copy of every image the camera hands over, from its delivery
// thread; read under `mu`.
struct ImageSink {
    std::mutex mu;
    std::vector<cv::Mat> images;

    explicit ImageSink(CameraLorvex& camera)
    {
        QObject::connect(
            &camera, &CameraInterface::captureCompleted, &camera,
            [this](ImageProcessData data) {
                std::lock_guard<std::mutex> lk(mu);
                images.push_back(data.image.clone());
            },
            Qt::DirectConnection);
    }
};

// Counts the camera's loss and reconnect signals, from any thread.
void countLossesAndReconnects(CameraLorvex& camera, std::atomic<int>& losses, std::atomic<int>& reconnects)
{
    QObject::connect(&camera, &CameraInterface::CameraLoss, &camera, [&] { ++losses; }, Qt::DirectConnection);
    QObject::connect(&camera, &CameraInterface::CameraReconnect, &camera, [&] { ++reconnects; }, Qt::DirectConnection);
}

} // namespace

class TestWirePlugin : public QObject {
    Q_OBJECT

    // The feature file the plug-in loads at every open: what a simulated
    // camera takes of the shipped one, waiting for the host's triggers.
    QTemporaryDir features;

private slots:
    void initTestCase()
    {
        WIRE_REQUIRE_NAMESPACE();
        QFile f(QDir(features.path()).filePath(QStringLiteral("Lorvex.mfs")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("TriggerMode = On\nOffsetX = 0\nOffsetY = 0\n");
        f.close();
        qputenv("VCC_FEATURE_DIR", features.path().toLocal8Bit());
    }

    void listsOnlyAcceptedCameras()
    {
        Simulator sim({kCamera, kSimulatorEntry});
        QVERIFY(sim.start());
        QVERIFY(findDevice(kSimulatorEntry.serial)); // on the wire, but not offered
        CameraLorvex root;
        int count = 0;
        const QStringList listed = root.getCameraList(count).toList();
        QCOMPARE(count, 1);
        const QString names = listed.join(QLatin1Char(' '));
        QVERIFY2(names.contains(kCamera.serial) && !names.contains(kSimulatorEntry.serial), qPrintable(names));
    }

    void triggeredProductsAreNumberedRight()
    {
        Simulator sim({kCamera});
        QVERIFY(sim.start());
        QVERIFY(findDevice(kCamera.serial));
        auto camera = createListed(1, kCamera.serial);
        QVERIFY(probe(camera).opened());
        std::mutex mu;
        std::vector<int> products;
        QObject::connect(
            camera.get(), &CameraInterface::captureCompleted, camera.get(),
            [&](ImageProcessData data) {
                std::lock_guard<std::mutex> lk(mu);
                products.push_back(data.productId);
            },
            Qt::DirectConnection);
        restoreAsHost(*camera);
        runOnSoftwareTriggers(*camera);
        constexpr int kProducts = 5;
        for (int product = 1; product <= kProducts; ++product) {
            triggerProduct(*camera, product);
            QVERIFY2(waitUntil([&] { std::lock_guard<std::mutex> lk(mu); return products.size() >= size_t(product); },
                               kFrameTimeoutMs),
                     qPrintable(QStringLiteral("product %1").arg(product)));
        }
        QTest::qWait(300); // no frame beyond the triggers
        std::lock_guard<std::mutex> lk(mu);
        QString got;
        for (int p : products)
            got += QString::number(p) + QLatin1Char(' ');
        QVERIFY2(products == (std::vector<int>{1, 2, 3, 4, 5}), qPrintable(got));
    }

    // The chart's colours arrive as colours: the plug-in converts the Bayer
    // frame it receives over the wire, and the picture is the chart's.
    void colourFrameEqualsTheChart()
    {
        QFile stored(qEnvironmentVariable("LORVEX_SOURCE_DIR")
                     + QStringLiteral("/sdk/share/demo-settings/ZQ2048C0002.json"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QJsonObject settings = QJsonDocument::fromJson(stored.readAll()).object();
        Simulator sim({kColour});
        QVERIFY(sim.start());
        QVERIFY(findDevice(kColour.serial));
        auto camera = createListed(3, kColour.serial);
        QVERIFY(probe(camera).opened());
        camera->deserialize(settings);
        ImageSink sink(*camera);
        std::mutex& mu = sink.mu;
        std::vector<cv::Mat>& images = sink.images;
        runOnSoftwareTriggers(*camera);
        triggerProduct(*camera, 1);
        QVERIFY(waitUntil([&] { std::lock_guard<std::mutex> lk(mu); return !images.empty(); }, kFrameTimeoutMs));
        std::lock_guard<std::mutex> lk(mu);
        const cv::Mat& got = images.front();
        QCOMPARE(got.type(), CV_8UC3);
        std::vector<unsigned char> bayer = chartFrame(kColour, PixelType_Gvsp_BayerRG8, 1);
        cv::Mat want(kColour.height, kColour.width, CV_8UC3);
        MV_CC_PIXEL_CONVERT_PARAM p{};
        p.nWidth = static_cast<unsigned short>(kColour.width);
        p.nHeight = static_cast<unsigned short>(kColour.height);
        p.enSrcPixelType = PixelType_Gvsp_BayerRG8;
        p.pSrcData = bayer.data();
        p.nSrcDataLen = static_cast<unsigned>(bayer.size());
        p.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
        p.pDstBuffer = want.data;
        p.nDstBufferSize = static_cast<unsigned>(want.total() * want.elemSize());
        QCOMPARE(vcc::convertPixels(p), MV_OK);
        QCOMPARE(got.rows, want.rows);
        QCOMPARE(got.cols, want.cols);
        QCOMPARE(cv::norm(got, want, cv::NORM_INF), 0.0);
    }

    void pulledCableGivesLossThenReconnect()
    {
        Simulator sim({kCamera});
        QVERIFY(sim.start());
        QVERIFY(findDevice(kCamera.serial));
        auto camera = createListed(2, kCamera.serial);
        QVERIFY(probe(camera).opened());
        restoreAsHost(*camera);
        std::atomic<int> losses{0}, reconnects{0};
        countLossesAndReconnects(*camera, losses, reconnects);

        sim.stop();
        QVERIFY(waitUntil([&] { return losses.load() == 1; }, kLossTimeoutMs));
        QCOMPARE(reconnects.load(), 0);
        QVERIFY(sim.start());
        QVERIFY(waitUntil([&] { return reconnects.load() == 1; }, kReconnectTimeoutMs));
        QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }, kFrameTimeoutMs));
        QVERIFY(probe(camera).opened());
        QVERIFY(!probe(camera).lost());
        QCOMPARE(losses.load(), 1);
    }

    // Aravis's own simulator through the plug-in: listed, opened, a frame of
    // its ramp for each software trigger, and killed and restarted it is a
    // loss and then a reconnect, with frames again.
    void foreignSimulatorStreamsAndReconnects()
    {
        // Its trigger source is a line until its feature file says otherwise.
        QTemporaryDir foreignFeatures;
        QFile f(QDir(foreignFeatures.path()).filePath(QStringLiteral("Lorvex.mfs")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("TriggerMode = On\nTriggerSource = Software\n");
        f.close();
        const QByteArray shared = qgetenv("VCC_FEATURE_DIR");
        qputenv("VCC_FEATURE_DIR", foreignFeatures.path().toLocal8Bit());
        // The loss heard sooner than by the SDK's default, to keep the test short.
        qputenv("LORVEX_LOSS_TIMEOUT_MS", "2000");
        struct Restore {
            QByteArray dir;
            ~Restore()
            {
                qputenv("VCC_FEATURE_DIR", dir);
                qunsetenv("LORVEX_LOSS_TIMEOUT_MS");
            }
        } restore{shared};

        const QString serial = QString::fromLatin1(kForeignSerial);
        ForeignCamera fake(QStringLiteral("127.0.0.1"), serial);
        QVERIFY(fake.start());
        QVERIFY(fake.nameMaker(kForeignMaker));
        QVERIFY(findDevice(serial));
        CameraLorvex root;
        int count = 0;
        const QStringList listed = root.getCameraList(count).toList();
        QVERIFY2(listed.contains(serial), qPrintable(listed.join(QLatin1Char(' '))));
        std::unique_ptr<CameraLorvex> camera(
            static_cast<CameraLorvex*>(root.createCamera(4, serial, listed.indexOf(serial))));
        QVERIFY(probe(camera).opened());
        restoreAsHost(*camera);
        ImageSink sink(*camera);
        std::mutex& mu = sink.mu;
        std::vector<cv::Mat>& images = sink.images;
        std::atomic<int> losses{0}, reconnects{0};
        countLossesAndReconnects(*camera, losses, reconnects);
        runOnSoftwareTriggers(*camera);
        const auto triggerAndWait = [&](int product) {
            triggerProduct(*camera, product);
            return waitUntil([&] { std::lock_guard<std::mutex> lk(mu); return images.size() >= size_t(product); },
                             kFrameTimeoutMs);
        };
        // The ramp in the first channel (a colour image repeats it in each).
        const auto rampProblem = [](const cv::Mat& image) {
            if (image.cols != ForeignCamera::kWidth || image.rows != ForeignCamera::kHeight)
                return QStringLiteral("size %1 x %2").arg(image.cols).arg(image.rows);
            cv::Mat grey;
            cv::extractChannel(image, grey, 0);
            return rampMismatch(grey.ptr(), grey.cols, grey.rows, grey.at<unsigned char>(0, 0));
        };
        constexpr int kBefore = 3;
        for (int product = 1; product <= kBefore; ++product)
            QVERIFY2(triggerAndWait(product), qPrintable(QStringLiteral("product %1").arg(product)));
        {
            std::lock_guard<std::mutex> lk(mu);
            for (const cv::Mat& image : images)
                QVERIFY2(rampProblem(image).isEmpty(), qPrintable(rampProblem(image)));
            QCOMPARE(images[1].at<unsigned char>(0, 0), uchar((images[0].at<unsigned char>(0, 0) + 1) % ForeignCamera::kRampPeriod));
        }

        fake.kill();
        QVERIFY(waitUntil([&] { return losses.load() >= 1; }, kLossTimeoutMs));
        QCOMPARE(reconnects.load(), 0);
        QVERIFY(fake.start()); // as it starts again: the maker is its own until written
        QVERIFY(fake.nameMaker(kForeignMaker));
        QVERIFY(waitUntil([&] { return reconnects.load() == 1; }, kReconnectTimeoutMs));
        QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }, kFrameTimeoutMs));
        QVERIFY(probe(camera).opened());
        QVERIFY(!probe(camera).lost());
        QVERIFY2(triggerAndWait(kBefore + 1), "no frame after the reconnect");
        std::lock_guard<std::mutex> lk(mu);
        QVERIFY2(rampProblem(images.back()).isEmpty(), qPrintable(rampProblem(images.back())));
    }

    // A camera that stalls while a trigger is on its way: the loss is heard,
    // the trigger the camera takes in late must not make a frame of the
    // next session, and after the reconnect each trigger gives one frame
    // whose counters agree.
    void stalledCameraGivesOnlyTriggeredFramesAfterTheReconnect()
    {
        qputenv("LORVEX_LOSS_TIMEOUT_MS", "1500"); // read at each open
        Simulator sim({kCamera});
        QVERIFY(sim.start());
        QVERIFY(findDevice(kCamera.serial));
        auto camera = createListed(4, kCamera.serial);
        QVERIFY(probe(camera).opened());
        restoreAsHost(*camera);
        std::atomic<int> losses{0}, reconnects{0}, frames{0};
        countLossesAndReconnects(*camera, losses, reconnects);
        QObject::connect(camera.get(), &CameraInterface::captureCompleted, camera.get(),
                         [&](ImageProcessData) { ++frames; }, Qt::DirectConnection);
        runOnSoftwareTriggers(*camera);
        triggerProduct(*camera, 1);
        QVERIFY(waitUntil([&] { return frames.load() == 1; }, kFrameTimeoutMs));

        sim.pause();
        triggerProduct(*camera, 2); // waits in the camera's socket until it goes on
        QVERIFY(waitUntil([&] { return losses.load() == 1; }, kLossTimeoutMs));
        QTest::qWait(kCameraHeartbeatMs); // the camera gives up its controller as soon as it goes on
        sim.resume();
        QVERIFY(waitUntil([&] { return reconnects.load() == 1; }, kReconnectTimeoutMs));
        QVERIFY(waitUntil([&] { return !probe(camera).reconnectRunning(); }, kFrameTimeoutMs));
        QTest::qWait(500); // an untriggered frame would come now
        const int before = frames.load();
        gCounterWarnings = 0;
        gPreviousHandler = qInstallMessageHandler(countCounterWarnings);
        constexpr int kProducts = 3;
        for (int product = 3; product < 3 + kProducts; ++product) {
            triggerProduct(*camera, product);
            QVERIFY(waitUntil([&] { return frames.load() >= before + product - 2; }, kFrameTimeoutMs));
        }
        QTest::qWait(300);
        qInstallMessageHandler(gPreviousHandler);
        qunsetenv("LORVEX_LOSS_TIMEOUT_MS");
        QCOMPARE(before, 1);
        QCOMPARE(frames.load(), 1 + kProducts);
        QCOMPARE(gCounterWarnings.load(), 0);
    }
};

QTEST_MAIN(TestWirePlugin)
#include "tst_wire_plugin.moc"
