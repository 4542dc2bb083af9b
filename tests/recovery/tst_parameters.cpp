// The host's parameter changes on a live camera: the geometry read-back of
// paramsChanged, the exposure configurations, the exposure write to the
// device and the quick-adjust list.
#include "recoveryfixture.h"

#include <climits>

using namespace rectest;

namespace {

const std::string kSerial = "ZEQ00000P001";

// The values of the logged writes of "ExposureTime", oldest first.
QStringList exposureWrites()
{
    QStringList values;
    for (const VCC_CALL_RECORD& r : callLog())
        if (QLatin1String(r.function) == QLatin1String("MV_CC_SetFloatValue")
            && QLatin1String(r.key) == QLatin1String("ExposureTime"))
            values << QString::fromLatin1(r.value);
    return values;
}

int deviceWrites()
{
    int n = 0;
    for (const char* f : {"MV_CC_SetFloatValue", "MV_CC_SetIntValue", "MV_CC_SetBoolValue", "MV_CC_SetEnumValue",
                          "MV_CC_SetEnumValueByString", "MV_CC_SetStringValue", "MV_CC_SetCommandValue"})
        n += VCC_CallLogCountOf(f, nullptr);
    return n;
}

} // namespace

class TestParameters : public QObject
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
        camera = createCamera(1, kSerial);
        QVERIFY(probe(camera).opened());
        VCC_CallLogClear();
    }

    void cleanup()
    {
        camera.reset();
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    // ---- setExposureValue -------------------------------------------------------------

    void exposureValueIsClamped_data()
    {
        QTest::addColumn<float>("minimum");
        QTest::addColumn<float>("maximum");
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("stored");
        QTest::newRow("below minimum becomes 30") << 0.02f << 100.0f << 0.01f << 30.0f;
        QTest::newRow("above maximum becomes maximum") << 0.02f << 100.0f << 250.0f << 100.0f;
        QTest::newRow("inside stays") << 0.02f << 100.0f << 5.0f << 5.0f;
        QTest::newRow("minimum itself stays") << 0.02f << 100.0f << 0.02f << 0.02f;
        QTest::newRow("maximum itself stays") << 0.02f << 100.0f << 100.0f << 100.0f;
        QTest::newRow("30 is not held to a lower maximum") << 0.02f << 20.0f << 0.01f << 30.0f;
        QTest::newRow("negative becomes 30") << 0.02f << 100.0f << -4.0f << 30.0f;
    }
    void exposureValueIsClamped()
    {
        QFETCH(float, minimum);
        QFETCH(float, maximum);
        QFETCH(float, value);
        QFETCH(float, stored);
        camera->setExposureCount(2);
        camera->exposureMin = minimum;
        camera->exposureMax = maximum;
        float v = value;
        camera->setExposureValue(0, v);
        QCOMPARE(v, stored);
        QCOMPARE(camera->exposureTimes.at(0), stored);
        QCOMPARE(camera->getExposureValue(0), stored);
        QCOMPARE(camera->exposureTimes.at(1), 0.0f);
        QCOMPARE(deviceWrites(), 0);  // the time reaches the device only through selectExposure
    }

    void exposureValueOutsideTheConfigurationsChangesNothing()
    {
        camera->setExposureCount(2);
        camera->exposureTimes = {1.0f, 2.0f};
        for (int index : {-1, 2, INT_MAX, INT_MIN}) {
            float v = 7.5f;
            camera->setExposureValue(index, v);
            QCOMPARE(v, 7.5f);
        }
        QCOMPARE(camera->exposureTimes, (QVector<float>{1.0f, 2.0f}));
    }

    void exposureValueReadsBack()
    {
        camera->setExposureCount(2);
        camera->exposureTimes = {2.5f, 4.0f};
        QCOMPARE(camera->getExposureValue(0), 2.5f);
        QCOMPARE(camera->getExposureValue(1), 4.0f);
        QCOMPARE(camera->getExposureValue(-1), 0.0f);
        QCOMPARE(camera->getExposureValue(2), 0.0f);
    }

    // ---- selectExposure -------------------------------------------------------------------

    void selectExposureWritesMicroseconds()
    {
        camera->setExposureCount(2);
        camera->exposureTimes = {2.5f, 4.0f};
        camera->exposureIndex = 0;
        QCOMPARE(camera->selectExposure(1), 0);
        QCOMPARE(camera->exposureIndex, 1);
        QCOMPARE(exposureWrites(), QStringList{QStringLiteral("4000")});

        QCOMPARE(camera->selectExposure(2), -1);
        QCOMPARE(camera->selectExposure(-1), -1);
        QCOMPARE(camera->exposureIndex, 1);
        QCOMPARE(exposureWrites().size(), 1);

        QCOMPARE(camera->selectExposure(0), 0);
        QCOMPARE(exposureWrites(), (QStringList{QStringLiteral("4000"), QStringLiteral("2500")}));
    }

    void selectExposureReturnsTheSdkStatusWithoutLogging()
    {
        camera->setExposureCount(2);
        camera->exposureTimes = {2.5f, 4.0f};
        VCC_FailNext("MV_CC_SetFloatValue", 1, static_cast<int>(MV_E_GC_RANGE));
        LogCapture log;
        QCOMPARE(camera->selectExposure(1), static_cast<int>(MV_E_GC_RANGE));
        QCOMPARE(camera->exposureIndex, 1);
        QVERIFY2(log.records().empty(), qPrintable(log.dump()));
    }

    // A closed camera, or one whose device is being opened or closed on another
    // thread, has no handle to write through: an error status, no SDK call.
    void selectExposureWithoutADeviceUsesNoHandle()
    {
        camera->setExposureCount(2);
        camera->exposureTimes = {2.5f, 4.0f};
        camera->closeCamera();
        VCC_CallLogClear();
        QCOMPARE(camera->selectExposure(1), static_cast<int>(0x80000000u));
        QCOMPARE(camera->exposureIndex, 1);
        QCOMPARE(exposureWrites().size(), 0);

        camera->restartCamera();
        QVERIFY(probe(camera).opened());
        VCC_CallLogClear();
        {
            BusyDevice busy(camera.get(), kSerial.c_str());
            QCOMPARE(camera->selectExposure(0), static_cast<int>(0x80000000u));
            QCOMPARE(camera->exposureIndex, 0);
        }
        QCOMPARE(exposureWrites().size(), 0);
    }

    // ---- setExposureCount -------------------------------------------------------------------

    void exposureCountOnAFreshCamera()
    {
        camera->setExposureCount(2);
        QCOMPARE(camera->exposureCount, 2);
        QCOMPARE(camera->exposureTimes, (QVector<float>{0.0f, 0.0f}));
        QCOMPARE(camera->paramItems.size(), 23);
        // 0.0 is sent as it is; the device refuses it below its minimum and
        // the status comes back unchanged.
        QCOMPARE(camera->selectExposure(1), static_cast<int>(MV_E_GC_RANGE));
        QCOMPARE(camera->exposureIndex, 1);
        QCOMPARE(exposureWrites(), QStringList{QStringLiteral("0")});
    }

    void exposureCountKeepsTimesAndRetiresItems()
    {
        camera->setExposureCount(3);
        camera->exposureTimes = {1.0f, 2.0f, 3.0f};
        camera->exposureIndex = 2;
        const QVector<ParamWrap*> before = camera->paramItems;
        camera->setExposureCount(2);
        QCOMPARE(camera->exposureTimes, (QVector<float>{1.0f, 2.0f}));
        QCOMPARE(camera->exposureIndex, 2);  // left alone
        QCOMPARE(camera->paramItems.size(), 23);
        // The host may still hold the old items: they stay alive.
        for (ParamWrap* item : before) {
            QVERIFY(probe(camera).retiredParamItems().contains(item));
            QVERIFY(!camera->paramItems.contains(item));
        }
        camera->setExposureCount(4);
        QCOMPARE(camera->exposureTimes, (QVector<float>{1.0f, 2.0f, 0.0f, 0.0f}));
        QCOMPARE(camera->paramItems.size(), 25);
    }

    void negativeExposureCountBuildsNone_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("-1") << -1;
        QTest::newRow("-1000") << -1000;
        QTest::newRow("INT_MIN") << INT_MIN;
    }
    void negativeExposureCountBuildsNone()
    {
        QFETCH(int, count);
        camera->setExposureCount(count);
        QCOMPARE(camera->exposureCount, 0);
        QVERIFY(camera->exposureTimes.isEmpty());
        QCOMPARE(camera->paramItems.size(), 21);
        QCOMPARE(camera->selectExposure(0), -1);
        QCOMPARE(camera->getExposureValue(0), 0.0f);
        QCOMPARE(camera->getAdjustItems().size(), 2);
    }

    void hugeExposureCountIsRefused_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one above the bound") << CameraLorvex::kMaxExposureCount + 1;
        QTest::newRow("INT_MAX") << INT_MAX;
    }
    void hugeExposureCountIsRefused()
    {
        QFETCH(int, count);
        camera->setExposureCount(2);
        camera->exposureTimes = {1.0f, 2.0f};
        const QVector<ParamWrap*> items = camera->paramItems;
        LogCapture log;
        camera->setExposureCount(count);
        QVERIFY(log.indexOf(QtWarningMsg, QStringLiteral("refused")) >= 0);
        QCOMPARE(camera->exposureCount, 2);
        QCOMPARE(camera->exposureTimes, (QVector<float>{1.0f, 2.0f}));
        QCOMPARE(camera->paramItems, items);
    }

    void exposureCountAtTheBoundIsBuilt()
    {
        camera->setExposureCount(CameraLorvex::kMaxExposureCount);
        QCOMPARE(camera->exposureTimes.size(), CameraLorvex::kMaxExposureCount);
        QCOMPARE(camera->paramItems.size(), 21 + CameraLorvex::kMaxExposureCount);
    }

    // ---- getAdjustItems ------------------------------------------------------------------------

    void adjustItemsAreExposureThenGain()
    {
        camera->setExposureCount(2);
        camera->exposureTimes = {2.5f, 4.0f};
        camera->exposureIndex = 1;
        camera->gainLimits.min = 3;
        camera->gainLimits.max = 175;
        camera->exposureMin = 0.02f;
        camera->exposureMax = 1000.0f;
        const QVector<AdjustItem> items = camera->getAdjustItems();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].name, QString::fromUtf8("曝光时间"));
        QCOMPARE(items[0].valueType, int(Float));
        QVERIFY(items[0].value == &camera->exposureTimes[1]);
        QCOMPARE(items[0].min, double(0.02f));
        QCOMPARE(items[0].max, 1000.0);
        QCOMPARE(items[0].step, 0.01);
        QCOMPARE(items[1].name, QString::fromUtf8("增益调节"));
        QCOMPARE(items[1].valueType, int(Int));
        QVERIFY(items[1].value == &camera->gain);
        QCOMPARE(items[1].min, 3.0);
        QCOMPARE(items[1].max, 175.0);
        QCOMPARE(items[1].step, 0.1);
    }

    // Outside the configurations the exposure entry points at the camera's own
    // spare value, never past the end of exposureTimes.
    // An index outside the configurations edits the nearest one; only with no
    // configuration at all does the entry point at the camera's own value.
    void adjustItemsOutsideTheConfigurations_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("edited");
        QTest::newRow("index past the end") << 2 << 2 << 1;
        QTest::newRow("index far past the end") << 2 << 1000000 << 1;
        QTest::newRow("negative index") << 2 << -1 << 0;
        QTest::newRow("no configurations") << 0 << 0 << -1;
    }
    void adjustItemsOutsideTheConfigurations()
    {
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(int, edited);
        camera->setExposureCount(count);
        for (int i = 0; i < camera->exposureTimes.size(); ++i)
            camera->exposureTimes[i] = 1.0f + i;
        QVector<float> expected = camera->exposureTimes;
        if (edited >= 0)
            expected[edited] = 55.0f;
        camera->exposureIndex = index;
        const QVector<AdjustItem> items = camera->getAdjustItems();
        QCOMPARE(items.size(), 2);
        if (edited < 0)
            QVERIFY(items[0].value == &probe(camera).detachedExposure());
        // The host writes through the pointer: it lands in a configuration.
        *static_cast<float*>(items[0].value) = 55.0f;
        QCOMPARE(camera->exposureTimes, expected);
        QCOMPARE(camera->exposureIndex, index);
        QVERIFY(items[1].value == &camera->gain);
    }

    void adjustItemsAfterLoweringTheCount()
    {
        camera->setExposureCount(3);
        camera->exposureIndex = 2;
        QVERIFY(camera->getAdjustItems()[0].value == &camera->exposureTimes[2]);
        camera->setExposureCount(1);
        QVERIFY(camera->getAdjustItems()[0].value == &camera->exposureTimes[0]);
    }

    // Limits not yet read from a device clamp nothing away.
    void exposureSetBeforeTheFirstOpenIsKept()
    {
        camera.reset();
        resetSdk();
        camera = createCamera(1, kSerial);  // no device: never opened
        QVERIFY(!probe(camera).opened());
        camera->setExposureCount(1);
        float value = 5.0f;
        camera->setExposureValue(0, value);
        QCOMPARE(value, 5.0f);
        QJsonObject stored;
        camera->serialize(stored);
        auto restored = createCamera(2, kSerial);
        restored->setExposureCount(1);
        restored->deserialize(stored);
        QCOMPARE(restored->getExposureValue(0), 5.0f);
    }

    // A host may hold the frame lock around any call that changes the camera:
    // the restore, its read-back and its start never take it themselves.
    void restoreUnderTheHostsFrameLockReturns()
    {
        startGrabbing(camera.get());
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", 32, 8, 64, 8), 0);
        Watchdog watchdog("loadParams under getMutex()", 20);
        camera->saveParams();
        {
            lorvex::HostLocker frames(camera->getMutex());
            camera->loadParams();
        }
        QCOMPARE(camera->getImageSize(), QSize(32, 16));
        QCOMPARE(probe(camera).frameFormat().width, 32);
    }

    // ---- paramsChanged ----------------------------------------------------------------------------

    void paramsChangedReadsTheGeometryFromTheDevice()
    {
        startGrabbing(camera.get());
        camera->width = 1;
        camera->height = 1;
        camera->offsetX = 99;
        camera->mirrorX = false;
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", 48, 8, 64, 8), 0);
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Height", 12, 1, 4096, 1), 0);
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "OffsetX", 16, 0, 16, 8), 0);
        QCOMPARE(VCC_SetBoolFeature(kSerial.c_str(), "ReverseX", 1), 0);
        VCC_CallLogClear();
        LogCapture log;

        camera->paramsChanged();
        QVERIFY(log.indexOf(QtInfoMsg, QStringLiteral("CameraLorvex::paramsChanged")) >= 0);
        QCOMPARE(camera->width, 48);
        QCOMPARE(camera->height, 12);
        QCOMPARE(camera->offsetX, 16);
        QCOMPARE(camera->offsetY, 0);
        QVERIFY(camera->mirrorX);
        QVERIFY(!camera->mirrorY);
        QCOMPARE(camera->getImageSize(), QSize(48, 12));
        QCOMPARE(probe(camera).frameFormat().width, 48);
        QCOMPARE(probe(camera).frameFormat().height, 12);
        QCOMPARE(probe(camera).frameFormat().width, 48);
        QCOMPARE(deviceWrites(), 0);  // nothing is written to the device
    }

    // A device busy for one read during a read-back: the whole format stays
    // as it was, with a warning, and frames keep arriving at their size.
    void refusedReadBackKeepsTheLastFormat_data()
    {
        QTest::addColumn<QByteArray>("function");
        QTest::newRow("width") << QByteArray("MV_CC_GetIntValue");
    }
    void refusedReadBackKeepsTheLastFormat()
    {
        QFETCH(QByteArray, function);
        QCOMPARE(VCC_SetFreeRunPaused(kSerial.c_str(), 1), 0);
        startGrabbing(camera.get());
        setRunning(camera.get(), true);
        Receiver receiver(camera.get());
        const QSize size = camera->getImageSize();
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", 32, 8, 64, 8), 0);
        QCOMPARE(VCC_FailNext(function.constData(), 1, int(MV_E_BUSY)), 0);
        LogCapture log;

        camera->paramsChanged();
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", size.width(), 8, 64, 8), 0);
        QCOMPARE(VCC_DeliverDeviceFrameToDevice(kSerial.c_str()), 0);
        QCOMPARE(receiver.count(), size_t(1));
        QCOMPARE(log.count(QStringLiteral("unexpected size")), 0);
        QCOMPARE(camera->getImageSize(), size);
        QCOMPARE(probe(camera).frameFormat().width, size.width());
        QCOMPARE(probe(camera).frameFormat().height, size.height());
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("keeping the last image format")) >= 0, qPrintable(log.dump()));
    }

    // A refused mirror read, as from a camera that has no such flag, keeps the
    // flag's last value and lets the geometry it read shape the frames.
    void refusedMirrorReadKeepsTheMirrorOnly()
    {
        QCOMPARE(VCC_SetFreeRunPaused(kSerial.c_str(), 1), 0);
        startGrabbing(camera.get());
        setRunning(camera.get(), true);
        Receiver receiver(camera.get());
        const QSize size = camera->getImageSize();
        QCOMPARE(VCC_FailNext("MV_CC_GetBoolValue", 2, int(MV_E_GC_GENERIC)), 0);
        LogCapture log;

        camera->paramsChanged();
        QCOMPARE(VCC_DeliverDeviceFrameToDevice(kSerial.c_str()), 0);
        QCOMPARE(receiver.count(), size_t(1));
        QCOMPARE(log.count(QStringLiteral("unexpected size")), 0);
        QCOMPARE(probe(camera).frameFormat().width, size.width());
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("ReverseX failed")) >= 0, qPrintable(log.dump()));
        QVERIFY2(log.indexOf(QtWarningMsg, QStringLiteral("keeping the last value")) >= 0, qPrintable(log.dump()));
    }

    // A device without an optional offset, or one that refuses the first
    // read-back, still delivers its frames at its own size; with no format
    // known, a frame asks the device again, at most every 500 ms.
    void framesComeAtTheDevicesSize_data()
    {
        QTest::addColumn<bool>("withoutOffsetY");
        QTest::addColumn<int>("refusedReads");
        QTest::newRow("no OffsetY") << true << 0;
        QTest::newRow("restore's read-back refused") << false << 1;
        QTest::newRow("restore's and first frame's read-back refused") << false << 2;
    }
    void framesComeAtTheDevicesSize()
    {
        QFETCH(bool, withoutOffsetY);
        QFETCH(int, refusedReads);
        camera.reset();
        if (withoutOffsetY)
            QCOMPARE(VCC_RemoveFeature(kSerial.c_str(), "OffsetY"), 0);
        camera = createCamera(1, kSerial);
        QCOMPARE(VCC_SetFreeRunPaused(kSerial.c_str(), 1), 0);
        VCC_CallLogClear();
        // The open has read the limits: the restore's first integer read is
        // Width, the frame's read-back starts with it too.
        QCOMPARE(VCC_FailNext("MV_CC_GetIntValue", refusedReads, int(MV_E_BUSY)), 0);
        startGrabbing(camera.get());
        QVERIFY(probe(camera).grabbing());
        QCOMPARE(probe(camera).frameFormat().known(), refusedReads == 0);
        setRunning(camera.get(), true);
        Receiver receiver(camera.get());
        LogCapture log;

        QElapsedTimer clock;
        clock.start();
        while (receiver.count() < 3 && clock.elapsed() < 3000) {
            QCOMPARE(VCC_DeliverDeviceFrameToDevice(kSerial.c_str()), 0);
            QTest::qWait(20);
        }
        QCOMPARE(receiver.count(), size_t(3));
        for (size_t i = 0; i < 3; ++i)
            QCOMPARE(receiver.at(i).image.size(), cv::Size(64, 16));
        QCOMPARE(camera->getImageSize(), QSize(64, 16));
        if (refusedReads < 2) {
            QCOMPARE(log.count(QStringLiteral("unexpected size")), 0);
        } else {
            // The first frame's ask was refused; the next came 500 ms later,
            // the frames between asked nothing.
            QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(VCC_CallLogCountOf("MV_CC_GetIntValue", "Width"), 3);
        }
    }

    // The size answers follow the frames' format, which a refused read-back
    // keeps, not the panel; a camera that never opened has no size.
    void sizeAnswersFollowTheFrames()
    {
        QCOMPARE(VCC_SetFreeRunPaused(kSerial.c_str(), 1), 0);
        startGrabbing(camera.get());
        setRunning(camera.get(), true);
        Receiver receiver(camera.get());
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", 32, 8, 64, 8), 0);
        camera->width = 32;
        camera->height = 8;
        camera->channels = 3;
        QCOMPARE(VCC_FailNext("MV_CC_GetIntValue", 1, int(MV_E_BUSY)), 0);
        camera->paramsChanged();
        QCOMPARE(VCC_DeliverDeviceFrameToDevice(kSerial.c_str()), 0);
        QCOMPARE(receiver.count(), size_t(1));
        const cv::Mat frame = receiver.at(0).image;
        QCOMPARE(frame.size(), cv::Size(64, 16));
        QCOMPARE(camera->getImageSize(), QSize(frame.cols, frame.rows));
        QCOMPARE(camera->getChannels(), frame.channels());
        const cv::Mat blank = camera->getBlankImage();
        QCOMPARE(blank.size(), frame.size());
        QCOMPARE(blank.type(), frame.type());

        camera.reset();
        resetSdk();
        camera = createCamera(1, kSerial);  // no device: never opened
        camera->width = 64;
        camera->height = 16;
        QCOMPARE(camera->getImageSize(), QSize(0, 0));
        QVERIFY(camera->getBlankImage().empty());
    }

    // The panel's limits and geometry are written by a reconnect on a pool
    // thread; the host's reads of them take the same lock.
    void hostReadsDuringAReconnectDoNotRace()
    {
        camera->setExposureCount(1);
        QJsonObject json;
        camera->serialize(json);
        camera->deserialize(json);
        QVERIFY(rectest::unplug(camera.get(), kSerial));
        QCOMPARE(VCC_AttachDevice(kSerial.c_str()), 0);
        reconnectTimeout(camera.get());
        while (probe(camera).reconnectRunning()) {
            QJsonObject saved;
            camera->serialize(saved);
            float value = 5.0f;
            camera->setExposureValue(0, value);
        }
        probe(camera).waitForReconnect();
        QVERIFY(!probe(camera).lost());
    }

    void paramsChangedOnAClosedCameraOnlyLogs()
    {
        camera->closeCamera();
        camera->width = 123;
        camera->height = 45;
        VCC_CallLogClear();
        LogCapture log;
        camera->paramsChanged();
        const auto records = log.records();
        QCOMPARE(int(records.size()), 1);
        QCOMPARE(records[0].type, QtInfoMsg);
        QCOMPARE(records[0].text, QStringLiteral("CameraLorvex::paramsChanged"));
        QCOMPARE(camera->width, 123);
        QCOMPARE(camera->height, 45);
        QCOMPARE(VCC_CallLogCount(), 0);
    }

    // Runs under the frame lock, and behaves as on a closed camera while the
    // device lock is busy instead of waiting for it (a close holding it may
    // itself wait for a frame that waits for the frame lock).
    void paramsChangedTakesTheFrameLockAndOnlyTriesTheDeviceLock()
    {
        startGrabbing(camera.get());
        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", 32, 8, 64, 8), 0);

        std::atomic<bool> finished{false};
        camera->getMutex()->lock();
        std::thread editor([&] {
            camera->paramsChanged();
            finished = true;
        });
        QTest::qWait(100);
        QVERIFY(!finished);
        camera->getMutex()->unlock();
        editor.join();
        QCOMPARE(camera->width, 32);

        QCOMPARE(VCC_SetIntFeature(kSerial.c_str(), "Width", 16, 8, 64, 8), 0);
        {
            BusyDevice busy(camera.get(), kSerial.c_str());
            QElapsedTimer clock;
            clock.start();
            camera->paramsChanged();
            QVERIFY(clock.elapsed() < 500);
            // The format, not the panel: the restart writes the panel's
            // fields on its own thread once its open is done.
            QCOMPARE(probe(camera).frameFormat().width, 32);
        }
    }
};

QTEST_GUILESS_MAIN(TestParameters)
#include "tst_parameters.moc"
