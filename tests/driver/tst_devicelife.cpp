// The device's life in the driver: open with its limits, model and pixel
// format, the failures of an open, start, stop, close and restart.
#include "virtualdevices.h"

using namespace drvtest;

namespace {

const char* const kSerial = "ZEQ4096001";

std::unique_ptr<CameraLorvex> create(int cameraIndex, const QString& serial = QString::fromLatin1(kSerial))
{
    return std::unique_ptr<CameraLorvex>(createListed(cameraIndex, serial));
}

// Leaves a recognisable pattern in the stack area the open's records will
// occupy, so a record that is read without being set shows up as garbage.
__attribute__((noinline)) void poisonStack()
{
    volatile unsigned char junk[256 * 1024];
    for (size_t i = 0; i < sizeof junk; ++i)
        junk[i] = 0xA5;
}

unsigned lastFrameNum(CameraLorvex* camera)
{
    lorvex::HostLocker frames(camera->getMutex());
    return probe(camera).lastFrameNum();
}

bool grabbing(const char* serial)
{
    VCC_DEVICE_COUNTERS counters{};
    VCC_GetDeviceCounters(serial, &counters);
    return counters.grabbing == 1;
}

} // namespace

class TestDeviceLife : public QObject
{
    Q_OBJECT

    FeatureFolder features;

private slots:
    void init()
    {
        resetSdk();
        features.use();
    }

    void limitsAreReadIntoThePanel()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 2048, 1000)), 0);
        auto camera = create(1);
        QVERIFY(probe(camera).opened());
        QCOMPARE(camera->sensorWidthMax, 2048);
        QCOMPARE(camera->sensorHeightMax, 4096);
        QCOMPARE(camera->widthInfo.min, 8);
        QCOMPARE(camera->widthInfo.max, 2048);
        QCOMPARE(camera->widthInfo.step, 8);
        QCOMPARE(camera->heightInfo.max, 4096);
        QCOMPARE(camera->offsetYInfo.max, 4096 - 1000);
        QCOMPARE(camera->exposureMin, 0.001f); // a line-scan sensor's 1 µs to 10 ms
        QCOMPARE(camera->exposureMax, 10.0f);
        QCOMPARE(camera->gainLimits.min, 0);
        QCOMPARE(camera->gainLimits.max, 175);
        QCOMPARE(camera->gammaLimits.min, 1);
        QCOMPARE(camera->gammaLimits.max, 40);
        QCOMPARE(camera->sharpnessLimits.max, 100);
        QCOMPARE(camera->debounceTimeLimits.max, 1000000);
        QCOMPARE(camera->packetIntervalLimits.max, 1000000);
        QCOMPARE(camera->contrastLimits.min, 0);
        QCOMPARE(camera->contrastLimits.max, 0);
        QVERIFY(!camera->paramItems.isEmpty());
        // The open switches automatic exposure off and writes nothing else.
        QCOMPARE(VCC_CallLogCountOf("MV_CC_SetEnumValue", "ExposureAuto"), 1);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_SetEnumValue", nullptr), 1);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_SetIntValue", nullptr), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_SetFloatValue", nullptr), 0);
    }

    void monoSensorDecidesTheFormat_data()
    {
        QTest::addColumn<QString>("modelName");
        QTest::addColumn<bool>("colorImage");
        QTest::addColumn<int>("mono");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("matType");
        QTest::newRow("M, colour wanted") << "LX-LS2048-GM" << true << 1 << 1 << 0;
        QTest::newRow("C, colour wanted") << "LX-LS2048-GC" << true << 0 << 3 << 16;
        QTest::newRow("C, colour off") << "LX-LS2048-GC" << false << 0 << 1 << 0;
        QTest::newRow("lower-case m") << "LX-LS2048-Gm" << true << 0 << 3 << 16;
        QTest::newRow("empty name") << "" << true << 0 << 3 << 16;
    }

    void monoSensorDecidesTheFormat()
    {
        QFETCH(QString, modelName);
        QFETCH(bool, colorImage);
        QFETCH(int, mono);
        QFETCH(int, channels);
        QFETCH(int, matType);
        QCOMPARE(addDevice(colourDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_SetStringFeature(kSerial, "DeviceModelName", modelName.toLatin1().constData()), 0);
        LogCapture log;
        auto camera = create(1);
        QCOMPARE(probe(camera).monoSensor(), mono);
        QVERIFY(log.indexOf(QtInfoMsg, QStringLiteral("bMonoSensor: %1").arg(mono)) >= 0);
        camera->colorImage = colorImage;
        startGrabbing(camera.get());
        QCOMPARE(camera->channels, channels);
        QCOMPARE(camera->matType, matType);
        QCOMPARE(camera->getChannels(), channels);
        QCOMPARE(probe(camera).frameFormat().matType, matType);
        QCOMPARE(probe(camera).frameFormat().width, 64);
        QCOMPARE(probe(camera).frameFormat().height, 16);
        QCOMPARE(probe(camera).frameFormat().channels, channels);
        const cv::Mat blank = camera->getBlankImage();
        QCOMPARE(blank.type(), matType);
        QCOMPARE(blank.rows, 16);
        QCOMPARE(blank.cols, 64);
        QCOMPARE(camera->getImageSize(), QSize(64, 16));
    }

    void pixelFormatChoice_data()
    {
        QTest::addColumn<std::vector<unsigned>>("formats");
        QTest::addColumn<int>("expected");
        const unsigned mono10 = 0x01100003;
        const unsigned yuv422 = 0x02100032;
        QTest::newRow("BGR8 before RG8")
            << std::vector<unsigned>{PixelType_Gvsp_Mono8, PixelType_Gvsp_BGR8_Packed, PixelType_Gvsp_BayerRG8}
            << int(PixelType_Gvsp_BGR8_Packed);
        QTest::newRow("RG8 before BGR8")
            << std::vector<unsigned>{PixelType_Gvsp_BayerRG8, PixelType_Gvsp_BGR8_Packed}
            << int(PixelType_Gvsp_BayerRG8);
        QTest::newRow("last of the list")
            << std::vector<unsigned>{PixelType_Gvsp_Mono8, mono10, PixelType_Gvsp_BayerBG8}
            << int(PixelType_Gvsp_BayerBG8);
        QTest::newRow("none fits") << std::vector<unsigned>{PixelType_Gvsp_Mono8, mono10, yuv422} << -1;
    }

    void pixelFormatChoice()
    {
        QFETCH(std::vector<unsigned>, formats);
        QFETCH(int, expected);
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_SetEnumFeature(kSerial, "PixelFormat", formats[0], formats.data(), unsigned(formats.size())), 0);
        LogCapture log;
        auto camera = create(1);
        QVERIFY(probe(camera).opened());
        QCOMPARE(probe(camera).pixelType(), expected);
        QVERIFY2(log.indexOf(QtInfoMsg, QStringLiteral("pixelType: %1").arg(expected)) >= 0, qPrintable(log.dump()));
    }

    void featureFile()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        {
            LogCapture log;
            auto camera = create(1);
            QVERIFY(probe(camera).opened());
            QCOMPARE(VCC_CallLogCountOf("MV_CC_FeatureLoad", "Lorvex.mfs"), 1);
            QCOMPARE(log.indexOf(QtCriticalMsg, QStringLiteral("Load configuration file")), -1);
        }
        features.hide();
        LogCapture log;
        auto camera = create(2);
        const int critical = log.indexOf(QtCriticalMsg, QStringLiteral("Load configuration file(Lorvex.mfs) failed:"));
        QVERIFY2(critical >= 0, qPrintable(log.dump()));
        QVERIFY(log.indexOf(QtInfoMsg, QStringLiteral("Open Camera 2 success."), critical) > critical);
        QVERIFY(probe(camera).opened());
        QVERIFY(!probe(camera).lost());
    }

    void openFailureReleasesTheHandle_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("written");
        QTest::newRow("negative status") << int(0x80000203u) << "ffffffff80000203";
        QTest::newRow("positive status") << 0x1ab << "1ab";
    }

    void openFailureReleasesTheHandle()
    {
        QFETCH(int, status);
        QFETCH(QString, written);
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_OpenDevice", 1, status), 0);
        LogCapture log;
        auto camera = create(3);
        const auto records = log.records();
        const int failed = log.indexOf(QtWarningMsg, QStringLiteral("Open camera 3 failed: ") + written);
        QVERIFY2(failed >= 0, qPrintable(log.dump()));
        QVERIFY(records[size_t(failed)].text.endsWith(written));
        QVERIFY(!probe(camera).opened());
        QVERIFY(probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_CreateHandle", nullptr), 1);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_DestroyHandle", nullptr), 1);
        QCOMPARE(VCC_LiveHandleCount(), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_FeatureLoad", nullptr), 0);
        QCOMPARE(log.count(QStringLiteral("success")), 0);
    }

    // A device without its callbacks would never deliver nor report a loss.
    void refusedCallbackRegistrationIsAFailedOpen_data()
    {
        QTest::addColumn<QByteArray>("function");
        QTest::newRow("image") << QByteArray("MV_CC_RegisterImageCallBackEx");
        QTest::newRow("exception") << QByteArray("MV_CC_RegisterExceptionCallBack");
    }
    void refusedCallbackRegistrationIsAFailedOpen()
    {
        QFETCH(QByteArray, function);
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_FailNext(function.constData(), 1, int(MV_E_RESOURCE)), 0);
        LogCapture log;
        auto camera = create(3);
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("Camera 3 callback registration failed: ")) >= 0,
                 qPrintable(log.dump()));
        QVERIFY(!probe(camera).opened());
        QVERIFY(probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    void handleCreationFailureIsLost()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_CreateHandle", 1, int(MV_E_RESOURCE)), 0);
        LogCapture log;
        auto camera = create(3);
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("Camera 3 create handle failed: ")
                                               + QString::number(int(MV_E_RESOURCE), 16)) >= 0,
                 qPrintable(log.dump()));
        QVERIFY(!probe(camera).opened());
        QVERIFY(probe(camera).lost());
        QCOMPARE(VCC_LiveHandleCount(), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_OpenDevice", nullptr), 0);
        QCOMPARE(VCC_LiveHandleCount(), 0);
        // A closed camera leaves the SDK alone when it is closed and deleted.
        VCC_CallLogClear();
        camera->closeCamera();
        camera.reset();
        QCOMPARE(VCC_CallLogCount(), 0);
    }

    // A refused read leaves its field as it was before the open, never
    // garbage nor a neighbour's value.
    void failedFeatureReadsKeepTheLastValues()
    {
        QCOMPARE(addDevice(colourDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_GetIntValue", 100, int(MV_E_GC_GENERIC)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_GetFloatValue", 100, int(MV_E_GC_GENERIC)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_GetStringValue", 1, int(MV_E_GC_GENERIC)), 0);
        QCOMPARE(VCC_FailNext("MV_CC_GetPixelFormat", 1, int(MV_E_GC_GENERIC)), 0);
        const CameraLorvex before;
        CameraLorvex root;
        int count = 0;
        root.getCameraList(count);
        poisonStack();
        std::unique_ptr<CameraLorvex> camera(
            static_cast<CameraLorvex*>(root.createCamera(1, QString::fromLatin1(kSerial), 0)));
        QVERIFY(probe(camera).opened());
        QCOMPARE(probe(camera).monoSensor(), 0);
        QCOMPARE(probe(camera).pixelType(), -1);
        QCOMPARE(camera->sensorWidthMax, before.sensorWidthMax);
        QCOMPARE(camera->sensorHeightMax, before.sensorHeightMax);
        const IntParamInfo* const infos[] = {&camera->widthInfo, &camera->heightInfo, &camera->offsetXInfo,
                                             &camera->offsetYInfo};
        const IntParamInfo* const infosBefore[] = {&before.widthInfo, &before.heightInfo, &before.offsetXInfo,
                                                   &before.offsetYInfo};
        for (size_t i = 0; i < std::size(infos); ++i) {
            QCOMPARE(infos[i]->min, infosBefore[i]->min);
            QCOMPARE(infos[i]->max, infosBefore[i]->max);
            QCOMPARE(infos[i]->step, infosBefore[i]->step);
        }
        QCOMPARE(camera->exposureMin, before.exposureMin);
        QCOMPARE(camera->exposureMax, before.exposureMax);
        const IntParamLimits* const limits[] = {&camera->gainLimits, &camera->gammaLimits, &camera->sharpnessLimits,
                                                &camera->debounceTimeLimits, &camera->packetIntervalLimits};
        const IntParamLimits* const limitsBefore[] = {&before.gainLimits, &before.gammaLimits, &before.sharpnessLimits,
                                                      &before.debounceTimeLimits, &before.packetIntervalLimits};
        for (size_t i = 0; i < std::size(limits); ++i) {
            QCOMPARE(limits[i]->min, limitsBefore[i]->min);
            QCOMPARE(limits[i]->max, limitsBefore[i]->max);
        }
        // A read-back whose reads are refused leaves the geometry alone.
        startGrabbing(camera.get());
        QCOMPARE(camera->getImageSize(), QSize(before.width, before.height));
        QVERIFY(camera->getBlankImage().empty());
    }

    void startOnAClosedCameraDoesNothing()
    {
        auto camera = std::make_unique<CameraLorvex>();
        VCC_CallLogClear();
        LogCapture log;
        probe(camera).restoreDevice();
        camera->closeCamera();
        QVERIFY2(log.records().empty(), qPrintable(log.dump()));
        QCOMPARE(probe(camera).state(), DeviceState::Closed);
        QCOMPARE(VCC_CallLogCount(), 0);
    }

    void startResetsTheFrameNumber()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_SetFreeRunPaused(kSerial, 1), 0);  // no frame may move the number
        auto camera = create(1);
        LogCapture log;
        startGrabbing(camera.get());
        QCOMPARE(lastFrameNum(camera.get()), 0u);
        QVERIFY(grabbing(kSerial));
        const int start = log.indexOf(QtInfoMsg, QStringLiteral("CameraLorvex CameraStart"));
        QVERIFY(log.indexOf(QtInfoMsg, QStringLiteral("CameraLorvex MV_CC_StartGrabbing:  0"), start) > start);

        // A restore of a grabbing device starts nothing: a second start
        // would be refused, and that refusal is no loss.
        log.clear();
        startGrabbing(camera.get());
        QCOMPARE(log.count(QStringLiteral("CameraLorvex CameraStart")), 0);
        QVERIFY(grabbing(kSerial));
    }

    void closeCameraPausesAndASecondCallDoesNothing()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        auto camera = create(1);
        startGrabbing(camera.get());
        QElapsedTimer clock;
        clock.start();
        camera->closeCamera();
        QVERIFY2(clock.elapsed() >= 210, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!probe(camera).opened());
        QVERIFY(!grabbing(kSerial));
        QCOMPARE(VCC_LiveHandleCount(), 0);

        VCC_CallLogClear();
        clock.restart();
        camera->closeCamera();
        QVERIFY(clock.elapsed() < 100);
        QVERIFY(!camera->isContinuousMode());
        QCOMPARE(VCC_CallLogCount(), 0);
    }

    void restartAfterCloseOpensAgain()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        QCOMPARE(VCC_SetFreeRunPaused(kSerial, 1), 0);
        auto camera = create(1);
        startGrabbing(camera.get());
        camera->closeCamera();
        QVERIFY(!probe(camera).opened());
        camera->restartCamera();
        QVERIFY(probe(camera).opened());
        QVERIFY(grabbing(kSerial));
        QCOMPARE(lastFrameNum(camera.get()), 0u);
        QCOMPARE(camera->getImageSize(), QSize(64, 16));
        QCOMPARE(VCC_LiveHandleCount(), 1);
        // A restart of a grabbing camera closes the old handle first.
        camera->restartCamera();
        QCOMPARE(VCC_LiveHandleCount(), 1);
        QVERIFY(grabbing(kSerial));
    }

    // A camera made by the factory, restored from JSON as the host does, and
    // closed: exactly these SDK calls, in this order.
    void lifeOfAHostCreatedCamera()
    {
        QCOMPARE(addDevice(monoDevice(kSerial, 64, 16)), 0);
        CameraLorvex root;
        int count = 0;
        QCOMPARE(root.getCameraList(count), QVector<QString>{kSerial});
        VCC_CallLogClear();

        std::unique_ptr<CameraInterface> created(root.createCamera(1, QString::fromLatin1(kSerial), 0));
        auto* camera = static_cast<CameraLorvex*>(created.get());
        QVERIFY(probe(camera).opened());
        QVERIFY(!grabbing(kSerial));
        const QStringList opened{
            "MV_CC_CreateHandle",
            "MV_CC_OpenDevice",
            "MV_CC_FeatureLoad Lorvex.mfs",
            "MV_CC_RegisterImageCallBackEx",
            "MV_CC_RegisterExceptionCallBack",
            "MV_CC_SetImageNodeNum",
            "MV_CC_GetStringValue DeviceModelName",
            "MV_CC_SetEnumValue ExposureAuto",
            "MV_CC_GetIntValue WidthMax",
            "MV_CC_GetIntValue HeightMax",
            "MV_CC_GetIntValue Width",
            "MV_CC_GetIntValue Height",
            "MV_CC_GetIntValue OffsetX",
            "MV_CC_GetIntValue OffsetY",
            "MV_CC_GetFloatValue ExposureTime",
            "MV_CC_GetFloatValue Gain",
            "MV_CC_GetFloatValue Gamma",
            "MV_CC_GetIntValue Sharpness",
            "MV_CC_GetIntValue LineDebouncerTime",
            "MV_CC_GetIntValue GevSCPD",
            "MV_CC_GetPixelFormat PixelFormat",
            "MV_CC_GetDeviceInfo",
        };
        QCOMPARE(callNames(), opened);
        const auto calls = callLog();
        QCOMPARE(QString::fromLatin1(calls[1].value), QStringLiteral("access=1 key=0"));
        QCOMPARE(QString::fromLatin1(calls[5].value), QStringLiteral("30"));

        QJsonObject json;
        camera->serialize(json);
        VCC_CallLogClear();
        camera->deserialize(json);
        QVERIFY(grabbing(kSerial));
        QVERIFY(probe(camera).timerActive());
        const QStringList started{
            "MV_CC_GetIntValue Width",  "MV_CC_GetIntValue Height",   "MV_CC_GetIntValue OffsetX",
            "MV_CC_GetIntValue OffsetY", "MV_CC_GetBoolValue ReverseX", "MV_CC_GetBoolValue ReverseY",
            "MV_CC_StartGrabbing",
        };
        QCOMPARE(callNames(), started);

        VCC_CallLogClear();
        camera->closeCamera();
        const QStringList closed{"MV_CC_StopGrabbing", "MV_CC_ClearImageBuffer", "MV_CC_CloseDevice",
                                 "MV_CC_DestroyHandle"};
        QCOMPARE(callNames(), closed);
        QCOMPARE(VCC_LiveHandleCount(), 0);

        VCC_CallLogClear();
        created.reset();
        QCOMPARE(VCC_CallLogCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeviceLife)
#include "tst_devicelife.moc"
