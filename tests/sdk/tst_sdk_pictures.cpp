// What the devices show and at what pace: the chart's colours through every
// Bayer layout, playback strips that join across frames, rejected image files,
// and triggers lost while a frame is read out.
#include "sdktestutil.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace sdktest;

namespace {

// Frames delivered synchronously from a paused device, as images.
std::vector<cv::Mat> grab(const char* serial, int count)
{
    std::vector<cv::Mat> out;
    struct Keep {
        static void MV_CC_CALL cb(unsigned char* d, MV_FRAME_OUT_INFO_EX* i, void* u)
        {
            const int channels = int(i->nFrameLen / (unsigned(i->nWidth) * i->nHeight));
            cv::Mat m(i->nHeight, i->nWidth, CV_8UC(channels), d);
            static_cast<std::vector<cv::Mat>*>(u)->push_back(m.clone());
        }
    };
    void* h = openDevice(serial);
    VCC_SetFreeRunPaused(serial, 1);
    if (h && MV_CC_RegisterImageCallBackEx(h, Keep::cb, &out) == MV_OK && MV_CC_StartGrabbing(h) == MV_OK)
        for (int i = 0; i < count; ++i)
            VCC_DeliverDeviceFrame(h);
    if (h)
        closeDevice(h);
    return out;
}

// Converted by the SDK, on a handle of any open device.
cv::Mat toRgb(void* h, const cv::Mat& bayer, unsigned format)
{
    cv::Mat rgb(bayer.rows, bayer.cols, CV_8UC3);
    MV_CC_PIXEL_CONVERT_PARAM p{};
    p.nWidth = static_cast<unsigned short>(bayer.cols);
    p.nHeight = static_cast<unsigned short>(bayer.rows);
    p.enSrcPixelType = format;
    p.pSrcData = bayer.data;
    p.nSrcDataLen = static_cast<unsigned>(bayer.total());
    p.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
    p.pDstBuffer = rgb.data;
    p.nDstBufferSize = static_cast<unsigned>(rgb.total() * 3);
    return MV_CC_ConvertPixelType(h, &p) == MV_OK ? rgb : cv::Mat();
}

int loadDevices(const QTemporaryDir& dir, const QByteArray& devices)
{
    QFile f(dir.filePath("devices.json"));
    if (!f.open(QIODevice::WriteOnly))
        return -1;
    f.write("{\"devices\": [" + devices + "]}");
    f.close();
    return VCC_LoadDeviceFile(f.fileName().toLocal8Bit().constData());
}

} // namespace

class TestSdkPictures : public QObject {
    Q_OBJECT

private slots:
    void init() { VCC_Reset(); }

    void chartColoursSurviveEveryBayerLayout_data()
    {
        QTest::addColumn<unsigned>("format");
        for (unsigned f : {PixelType_Gvsp_BayerGR8, PixelType_Gvsp_BayerRG8, PixelType_Gvsp_BayerGB8, PixelType_Gvsp_BayerBG8})
            QTest::newRow(QByteArray::number(f, 16).constData()) << f;
    }

    void chartColoursSurviveEveryBayerLayout()
    {
        QFETCH(unsigned, format);
        // An odd height makes frame 2 start on an odd row of the chart.
        QCOMPARE_STATUS(addDevice("CHART-000001", 400, 599, format), MV_OK);
        const std::vector<cv::Mat> frames = grab("CHART-000001", 2);
        QCOMPARE(frames.size(), size_t(2));
        QCOMPARE_STATUS(addDevice("CONV-0000001"), MV_OK);
        void* h = openDevice("CONV-0000001");
        for (int f = 0; f < 2; ++f) {
            cv::Mat rgb = toRgb(h, frames[size_t(f)], format);
            QVERIFY(!rgb.empty());
            for (int i = 0; i < 3; ++i) { // the patches: red, green, blue from the left
                cv::Vec3b c = rgb.at<cv::Vec3b>(130 + f, int(400 * (0.16 + 0.24 * i)));
                for (int other = 0; other < 3; ++other)
                    QVERIFY2(other == i || c[i] > c[other] + 100, qPrintable(QString("frame %1 patch %2").arg(f + 1).arg(i)));
            }
        }
        closeDevice(h);
    }

    void stripJoinsAcrossFramesAndLoops()
    {
        QTemporaryDir dir;
        cv::Mat a(7, 16, CV_8UC1), b(4, 16, CV_8UC1);
        cv::randu(a, 0, 256);
        cv::randu(b, 0, 256);
        QVERIFY(cv::imwrite(dir.filePath("a.png").toStdString(), a) && cv::imwrite(dir.filePath("b.pgm").toStdString(), b));
        QCOMPARE_STATUS(loadDevices(dir, R"({"manufacturer": "m", "model": "S", "serial": "STRIP-000001",
            "widthMax": 16, "heightMax": 64, "height": 5, "images": ".", "strip": true})"), MV_OK);
        cv::Mat strip, got;
        cv::vconcat(a, b, strip);
        cv::vconcat(grab("STRIP-000001", 5), got); // 25 rows: the 11-row strip twice and a bit
        for (int r = 0; r < got.rows; ++r)
            QVERIFY2(cv::norm(got.row(r), strip.row(r % strip.rows), cv::NORM_INF) == 0, qPrintable(QString::number(r)));
    }

    void playbackOrderIsTheRecordingsOrNatural()
    {
        // Frame n must show the n-th image, pixel for pixel in either colour
        // order: a recording folder in its report's order (frames not written
        // or not placed by the recording host skipped), a glob with p2 before p10.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("rec"));
        QStringList csv{"camera,product,named_by,file"};
        for (int p = 1; p <= 12; ++p) {
            const QString name = QStringLiteral("cam_p%1_c1.png").arg(p);
            const cv::Mat bgr(4, 8, CV_8UC3, cv::Scalar(p, 2 * p, 3 * p));
            QVERIFY(cv::imwrite(dir.filePath("rec/" + name).toStdString(), bgr));
            csv << QStringLiteral("\"a,b\",%1,%2,\"%3\"").arg(p).arg(p == 7 ? "unplaced" : "trigger").arg(p == 5 ? QString() : name);
        }
        std::swap(csv[1], csv[2]); // received p2 before p1
        QFile index(dir.filePath("rec/frames.csv"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write((csv.join('\n') + '\n').toUtf8());
        index.close();
        QCOMPARE_STATUS(loadDevices(dir, R"({"manufacturer": "m", "model": "R", "serial": "RECORDING-01",
            "widthMax": 8, "heightMax": 4, "pixelFormats": ["BGR8"], "images": "rec"},
            {"manufacturer": "m", "model": "G", "serial": "GLOB-0000001", "widthMax": 8, "heightMax": 4,
             "pixelFormats": ["RGB8"], "images": "rec/cam_p*.png"})"), MV_OK);
        // The image number of each frame, from its blue channel; -1 where
        // the red one is not three times it.
        auto numbers = [](const std::vector<cv::Mat>& frames, int blue, int red) {
            QList<int> v;
            for (const cv::Mat& f : frames) {
                const cv::Vec3b px = f.at<cv::Vec3b>(1, 1);
                v << (px[red] == 3 * px[blue] ? int(px[blue]) : -1);
            }
            return v;
        };
        QCOMPARE(numbers(grab("RECORDING-01", 10), 0, 2), (QList<int>{2, 1, 3, 4, 6, 8, 9, 10, 11, 12}));
        QCOMPARE(numbers(grab("GLOB-0000001", 12), 2, 0), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    }

    void mirroringWhileGrabbingLeavesTheImagesAlone()
    {
        QTemporaryDir dir;
        cv::Mat a(4, 16, CV_8UC1);
        cv::randu(a, 0, 256);
        QVERIFY(cv::imwrite(dir.filePath("a.png").toStdString(), a));
        QCOMPARE_STATUS(loadDevices(dir, R"({"manufacturer": "m", "model": "S", "serial": "FLIP-000001",
            "widthMax": 16, "heightMax": 64, "height": 4, "images": "a.png"})"), MV_OK);
        std::vector<cv::Mat> frames;
        struct Keep {
            static void MV_CC_CALL cb(unsigned char* d, MV_FRAME_OUT_INFO_EX* i, void* u)
            {
                static_cast<std::vector<cv::Mat>*>(u)->push_back(cv::Mat(i->nHeight, i->nWidth, CV_8UC1, d).clone());
            }
        };
        void* h = openDevice("FLIP-000001");
        QCOMPARE_STATUS(VCC_SetFreeRunPaused("FLIP-000001", 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Keep::cb, &frames), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        for (int flip : {0, 1, 0}) {
            QCOMPARE_STATUS(VCC_SetBoolFeature("FLIP-000001", "ReverseX", flip), MV_OK);
            QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK);
        }
        closeDevice(h);
        cv::Mat mirrored;
        cv::flip(a, mirrored, 1);
        QCOMPARE(frames.size(), size_t(3));
        QCOMPARE(cv::norm(frames[1], mirrored, cv::NORM_INF), 0.0);
        QCOMPARE(cv::norm(frames[2], a, cv::NORM_INF), 0.0);
    }

    void unreadableImagesRejectTheFile_data()
    {
        QTest::addColumn<QByteArray>("images");
        QTest::newRow("missing") << QByteArray(R"("images": "nothing.png")");
        QTest::newRow("not an image") << QByteArray(R"("images": "notes.png")");
        QTest::newRow("empty folder") << QByteArray(R"("images": "empty")");
        QTest::newRow("no match") << QByteArray(R"("images": "*.tiff")");
        QTest::newRow("strip not a flag") << QByteArray(R"("images": "notes.png", "strip": "yes")");
    }

    void unreadableImagesRejectTheFile()
    {
        QFETCH(QByteArray, images);
        QCOMPARE_STATUS(addDevice("KEEP-0000001"), MV_OK);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("empty"));
        QFile notes(dir.filePath("notes.png"));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a picture") > 0);
        notes.close();
        QVERIFY(loadDevices(dir, R"({"manufacturer": "m", "model": "S", "serial": "PLAY-000001", "widthMax": 8,
            "heightMax": 8, )" + images + "}") != MV_OK);
        QCOMPARE(VCC_DeviceCount(), 1);
    }

    void noiseLooksLikeASensorsAndIsOffByDefault()
    {
        // Below the frame label, a noisy device shows the plain device's chart
        // plus noise of about the standard deviation asked for, different in
        // consecutive frames; a bad value rejects the file.
        QTemporaryDir dir;
        const QByteArray dev = R"({"manufacturer": "m", "model": "S", "widthMax": 256, "heightMax": 256, "height": 200, )";
        QCOMPARE_STATUS(loadDevices(dir, dev + R"("serial": "PLAIN-000001"}, )" + dev
                                             + R"("serial": "NOISY-000001", "noise": 3})"), MV_OK);
        const std::vector<cv::Mat> plain = grab("PLAIN-000001", 2), noisy = grab("NOISY-000001", 2);
        QCOMPARE(noisy.size(), size_t(2));
        const cv::Rect below(0, 40, 256, 160);
        for (size_t i = 0; i < 2; ++i) {
            cv::Mat diff;
            cv::subtract(noisy[i](below), plain[i](below), diff, cv::noArray(), CV_32F);
            cv::Scalar mean, sd;
            cv::meanStdDev(diff, mean, sd);
            QVERIFY2(std::abs(mean[0]) < 0.5 && sd[0] > 2.5 && sd[0] < 3.5, qPrintable(QString::number(sd[0])));
        }
        QVERIFY(cv::norm(noisy[0](below), noisy[1](below), cv::NORM_INF) > 0);
        for (const QByteArray bad : {R"("noise": -1)", R"("noise": 65)", R"("noise": "low")"})
            QVERIFY(loadDevices(dir, dev + R"("serial": "BAD-00000001", )" + bad + "}") != MV_OK);
    }

    void chartAnswersExposureAndGain()
    {
        // 16 lines at 16000 lines/s: a line period of 62.5 µs. The chart is
        // drawn for the first exposure, a typical 10 µs.
        QCOMPARE_STATUS(addDevice("EXPO-0000001"), MV_OK);
        auto set = [](float exposureUs, float gainDb) {
            void* h = openDevice("EXPO-0000001");
            QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "ExposureTime", exposureUs), MV_OK);
            QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "Gain", gainDb), MV_OK);
            closeDevice(h);
        };
        auto background = [] { // below the frame label: the dim ramp and the track
            return grab("EXPO-0000001", 1).at(0)(cv::Rect(0, 10, 64, 6)).clone();
        };
        const cv::Mat first = background();
        const double m = cv::mean(first)[0];
        set(20.0f, 0.0f);
        QVERIFY(std::abs(cv::mean(background())[0] - 2 * m) < 2);
        set(5.0f, 0.0f);
        QVERIFY(std::abs(cv::mean(background())[0] - m / 2) < 2);
        set(10.0f, 6.0206f); // +6 dB: twice the signal
        QVERIFY(std::abs(cv::mean(background())[0] - 2 * m) < 2);
        set(10000.0f, 17.5f);
        double lo = 0;
        cv::minMaxLoc(background(), &lo);
        QCOMPARE(lo, 255.0); // saturated, not wrapped
        set(10.0f, 0.0f);
        QCOMPARE(cv::norm(background(), first, cv::NORM_INF), 0.0);

        // The line rate holds while the exposure fits in a line period, and
        // follows the exposure once it is longer.
        auto frameTicks = [&](float exposureUs) {
            set(exposureUs, 0.0f);
            VCC_SetFreeRunPaused("EXPO-0000001", 0);
            void* h = openDevice("EXPO-0000001");
            Collector frames;
            MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames);
            MV_CC_StartGrabbing(h);
            const bool two = frames.waitFor(2);
            closeDevice(h);
            auto stamp = [&](size_t i) {
                return (uint64_t(frames.frames[i].nDevTimeStampHigh) << 32) | frames.frames[i].nDevTimeStampLow;
            };
            return two ? double(stamp(1) - stamp(0)) : 0.0;
        };
        QVERIFY(std::abs(frameTicks(31.25f) - 100000) < 1000);   // 1 ms of the 100 MHz clock
        QVERIFY(std::abs(frameTicks(625.0f) - 1000000) < 10000); // 16 x 625 µs
    }

    void triggersDuringReadOutAreLostAndCounted()
    {
        QCOMPARE_STATUS(addDevice("PACE-0000001"), MV_OK);
        QCOMPARE_STATUS(VCC_SetLineRate("PACE-0000001", 320), MV_OK); // 16 lines: 50 ms a frame
        void* h = openDevice("PACE-0000001");
        Collector frames;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "TriggerMode", 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        for (int i = 0; i < 3; ++i)
            QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_OK);
        QVERIFY(frames.waitFor(1));
        QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_OK); // the read-out is over
        QVERIFY(frames.waitFor(2));
        QTest::qWait(60);
        closeDevice(h);
        VCC_DEVICE_COUNTERS c{};
        QCOMPARE_STATUS(VCC_GetDeviceCounters("PACE-0000001", &c), MV_OK);
        QCOMPARE(c.triggerOverruns, 2ull);
        QCOMPARE(frames.count(), size_t(2));
        QCOMPARE(frames.frames[1].nTriggerIndex, 4u);
        QCOMPARE(frames.frames[1].nFrameCounter, 2u);
        const uint64_t t0 = (uint64_t(frames.frames[0].nDevTimeStampHigh) << 32) | frames.frames[0].nDevTimeStampLow;
        const uint64_t t1 = (uint64_t(frames.frames[1].nDevTimeStampHigh) << 32) | frames.frames[1].nDevTimeStampLow;
        QVERIFY(t1 - t0 >= 5000000); // 50 ms of the 100 MHz clock
    }
};

QTEST_GUILESS_MAIN(TestSdkPictures)
#include "tst_sdk_pictures.moc"
