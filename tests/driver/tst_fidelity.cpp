// Pictures and pace through the whole plug-in: playback devices' images,
// delivered by the SDK's callback and emitted by captureCompleted, come out as
// they went in, and a trigger the device lost shows in the plug-in's log.
#include "virtualdevices.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace drvtest;

namespace {

// One frame of the device through a camera of the plug-in.
cv::Mat capture(const char* serial, bool colour)
{
    std::unique_ptr<CameraLorvex> camera(createListed(1, QString::fromLatin1(serial)));
    VCC_SetFreeRunPaused(serial, 1);
    camera->colorImage = colour;
    startGrabbing(camera.get());
    setRunning(camera.get(), true);
    Receiver receiver(camera.get());
    if (VCC_DeliverDeviceFrameToDevice(serial) != MV_OK || receiver.count() != 1)
        return cv::Mat();
    return receiver.at(0).image.clone();
}

} // namespace

class TestFidelity : public QObject
{
    Q_OBJECT

    FeatureFolder features;
    QTemporaryDir dir;
    cv::Mat first, second, colour; // colour in red, green, blue order

private slots:
    void initTestCase()
    {
        first.create(64, 128, CV_8UC1);
        second.create(64, 128, CV_8UC1);
        cv::randu(first, 0, 256);
        cv::randu(second, 0, 256);
        // A smooth chart: red grows to the right, blue downwards, green across.
        colour.create(64, 128, CV_8UC3);
        for (int y = 0; y < colour.rows; ++y)
            for (int x = 0; x < colour.cols; ++x)
                colour.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(2 * x), uchar(60 + x + y), uchar(4 * y));
        cv::Mat bgr;
        cv::cvtColor(colour, bgr, cv::COLOR_RGB2BGR);
        QVERIFY(QDir(dir.path()).mkdir("mono"));
        QVERIFY(cv::imwrite(dir.filePath("mono/1.png").toStdString(), first));
        QVERIFY(cv::imwrite(dir.filePath("mono/2.tiff").toStdString(), second));
        QVERIFY(cv::imwrite(dir.filePath("colour.png").toStdString(), bgr));
        QFile f(dir.filePath("devices.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"devices": [
            {"manufacturer": "ZEQ Vision", "model": "LX-M", "serial": "PLAYM00001", "widthMax": 128, "heightMax": 4096,
             "height": 64, "images": "mono"},
            {"manufacturer": "ZEQ Vision", "model": "LX-M", "serial": "PLAYF00001", "widthMax": 128, "heightMax": 4096,
             "height": 64, "images": "mono/1.png", "features": {"ReverseX": true, "ReverseY": true}},
            {"manufacturer": "ZEQ Vision", "model": "LX-C", "serial": "PLAYC00001", "widthMax": 128, "heightMax": 4096,
             "height": 64, "pixelFormats": ["BayerRG8", "Mono8"], "images": "colour.png"}]})");
    }

    void init() { resetSdk(); QCOMPARE(VCC_LoadDeviceFile(dir.filePath("devices.json").toLocal8Bit().constData()), 0); }

    void monoFolderPlaysBitExactInOrder()
    {
        std::unique_ptr<CameraLorvex> camera(createListed(1, QStringLiteral("PLAYM00001")));
        VCC_SetFreeRunPaused("PLAYM00001", 1);
        startGrabbing(camera.get());
        setRunning(camera.get(), true);
        Receiver receiver(camera.get());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(VCC_DeliverDeviceFrameToDevice("PLAYM00001"), 0);
        QCOMPARE(receiver.count(), size_t(3));
        QCOMPARE(cv::norm(receiver.at(0).image, first, cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(receiver.at(1).image, second, cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(receiver.at(2).image, first, cv::NORM_INF), 0.0); // the folder loops
    }

    void mirroredDeviceDeliversTheMirroredImage()
    {
        cv::Mat flipped;
        cv::flip(first, flipped, -1);
        QCOMPARE(cv::norm(capture("PLAYF00001", false), flipped, cv::NORM_INF), 0.0);
    }

    void bayerDeviceConvertedRestoresTheColours()
    {
        cv::Mat got = capture("PLAYC00001", true);
        QCOMPARE(got.type(), CV_8UC3);
        QVERIFY2(cv::PSNR(got, colour) >= 30, qPrintable(QString::number(cv::PSNR(got, colour))));
        cv::Mat swapped;
        cv::cvtColor(colour, swapped, cv::COLOR_RGB2BGR);
        QVERIFY(cv::PSNR(got, swapped) < 20); // red and blue in their places
    }

    void triggerLostDuringReadOutIsLogged()
    {
        QCOMPARE(addDevice(monoDevice("PACE000001", 64, 16)), 0);
        QCOMPARE(VCC_SetLineRate("PACE000001", 80), 0); // 200 ms a frame
        static const unsigned kModes[] = {0, 1};
        QCOMPARE(VCC_SetEnumFeature("PACE000001", "TriggerMode", 1, kModes, 2), 0);
        std::unique_ptr<CameraLorvex> camera(createListed(1, QStringLiteral("PACE000001")));
        CameraTrigParams params;
        params.triggerType = 32;
        setTrigger(camera.get(), params);
        setRunning(camera.get(), true);
        LogCapture log;
        startGrabbing(camera.get());
        Receiver receiver(camera.get());
        auto trigger = [&camera](int product) {
            lorvex::HostLocker frames(camera->getMutex());
            camera->softTrigger(product, 1, std::function<void()>());
        };
        trigger(1);
        trigger(2); // during the first frame's read-out: lost
        QVERIFY(waitUntil([&] { return receiver.count() == 1; }));
        trigger(3);
        QVERIFY(waitUntil([&] { return receiver.count() == 2; }));
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("Camera 1 SDK with FrameCounter 2 TriggerIndex 3")) >= 0);
    }
};

QTEST_GUILESS_MAIN(TestFidelity)
#include "tst_fidelity.moc"
