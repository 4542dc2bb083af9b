// A host compiled from its own copy of Interfaces/: it links its own
// meta-object code of CameraInterface, loads the built plug-in, casts the root
// object and calls every operation of the virtual tables, in slot order, with
// the answers a camera without a device gives. Connections use the host's
// pointer-to-member signals, so a mismatch between the host's and the
// plug-in's meta-objects shows up as a missed or misrouted signal.
#include <QJsonArray>
#include <QJsonObject>
#include <QMetaMethod>
#include <QPluginLoader>
#include <QPointer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include "camerainterface.h"
#include "pluginfile.h"

namespace {

// Records what reached the host through its own connections.
struct SignalLog
{
    int completed = 0;
    int losses = 0;
    int reconnects = 0;
    ImageProcessData lastData;
};

void connectAll(CameraInterface* camera, QObject* context, SignalLog* log)
{
    QObject::connect(camera, &CameraInterface::captureCompleted, context,
                     [log](ImageProcessData data) { ++log->completed; log->lastData = data; },
                     Qt::DirectConnection);
    QObject::connect(camera, &CameraInterface::CameraLoss, context,
                     [log]() { ++log->losses; }, Qt::DirectConnection);
    QObject::connect(camera, &CameraInterface::CameraReconnect, context,
                     [log]() { ++log->reconnects; }, Qt::DirectConnection);
}

const char kBogusSerial[] = "NO-SUCH-SERIAL-0000";

} // namespace

class HostContractTest : public QObject
{
    Q_OBJECT

private:
    QPluginLoader loader;
    CameraInterface* root = nullptr;

private slots:
    void initTestCase()
    {
        loader.setFileName(pluginFilePath());
        QVERIFY2(loader.load(), qPrintable(loader.errorString()));
        QObject* instance = loader.instance();
        QVERIFY(instance);
        root = qobject_cast<CameraInterface*>(instance);
        QVERIFY(root);
    }

    // The host's signal indexes are the plug-in's.
    void signalIndexesAgree()
    {
        const QMetaObject* pluginMeta = root->metaObject();
        struct { QMetaMethod host; const char* signature; } signalList[] = {
            {QMetaMethod::fromSignal(&CameraInterface::captureCompleted), "captureCompleted(ImageProcessData)"},
            {QMetaMethod::fromSignal(&CameraInterface::CameraLoss), "CameraLoss()"},
            {QMetaMethod::fromSignal(&CameraInterface::CameraReconnect), "CameraReconnect()"},
        };
        for (const auto& s : signalList) {
            QVERIFY(s.host.isValid());
            QCOMPARE(s.host.methodSignature(), QByteArray(s.signature));
            QCOMPARE(pluginMeta->indexOfSignal(s.signature), s.host.methodIndex());
        }
    }

    // Signals raised by the plug-in's own meta-object code reach slots that
    // the host connected through its copy.
    void pluginSignalsReachHostConnections()
    {
        SignalLog log;
        QObject context;
        connectAll(root, &context, &log);
        const QMetaObject* mo = root->metaObject();

        ImageProcessData data;
        data.productId = 41;
        data.cycleCapture = 2;
        data.image = cv::Mat::zeros(2, 3, CV_8UC1);
        const QMetaMethod completed = mo->method(mo->indexOfSignal("captureCompleted(ImageProcessData)"));
        QVERIFY(completed.invoke(root, Qt::DirectConnection, Q_ARG(ImageProcessData, data)));
        QCOMPARE(log.completed, 1);
        QCOMPARE(log.lastData.productId, 41);
        QCOMPARE(log.lastData.cycleCapture, 2);
        QCOMPARE(log.lastData.image.data, data.image.data);

        QVERIFY(mo->method(mo->indexOfSignal("CameraReconnect()")).invoke(root, Qt::DirectConnection));
        QCOMPARE(log.reconnects, 1);
        QCOMPARE(log.losses, 0);
        QCOMPARE(log.completed, 1);
    }

    // ---- SerializeInterface and PluginInterface, in slot order ----------------

    void serializeSlots()
    {
        QJsonObject json;
        root->serialize(json);
        QVERIFY(json.contains(QStringLiteral("paramsWrap")));
        QVERIFY(json.value(QStringLiteral("paramsWrap")).isArray());
        // Restoring what was just written changes nothing a host can see.
        root->deserialize(json);
        QJsonObject again;
        root->serialize(again);
        QCOMPARE(again, json);
    }

    void pluginSlots()
    {
        QCOMPARE(root->getPluginID(), QStringLiteral("com.zeq.quorlan.camerainterface.CameraLorvex"));
        QCOMPARE(root->getPluginName(), QString::fromUtf8("Lorvex相机"));
        QCOMPARE(root->getVersion(), QStringLiteral("V1.10"));
        QCOMPARE(root->getHelpText(), QString::fromUtf8("请查看帮助文档"));
        QVERIFY(root->getIcon().isNull());
        QVector<ParamWrap*>* items = root->getParamItems();
        QVERIFY(items);
        QCOMPARE(root->getParamItems(), items);  // the camera's own list, not a copy
        QCOMPARE(root->hostFlagQuery(), true);
        QCOMPARE(root->hostObjectQuery(), quint64(0));
    }

    // ---- CameraInterface, in slot order ------------------------------------

    void cameraSlotsOnRoot()
    {
        SignalLog log;
        QObject context;
        connectAll(root, &context, &log);

        QCOMPARE(root->getSerialNumber(), QString());                  // 1
        root->paramsChanged();                                         // 2
        QCOMPARE(root->getImageSize(), QSize(0, 0));                   // 3
        QCOMPARE(root->getChannels(), 1);                              // 4
        bool called = false;
        root->softTrigger(7, 1, [&called]() { called = true; });      // 5
        QVERIFY(!called);
        QVERIFY(!root->triggerCallback);  // not open: nothing stored
        // 6 createCamera: own test below.
        int count = -1;
        const QVector<QString> serials = root->getCameraList(count);   // 7
        QCOMPARE(count, serials.size());
        QVERIFY(!serials.contains(QString::fromLatin1(kBogusSerial)));
        QCOMPARE(root->hasCapabilityA(), true);                        // 8
        QCOMPARE(root->getTriggerTypeMask(), 63);                      // 9
        CameraTrigParams params;
        root->setTrigParams(&params);                                  // 10
        root->hostHookA();                                             // 11
        QCOMPARE(root->isContinuousMode(), false);                     // 12
        root->saveParams();                                            // 13
        root->loadParams();                                            // 14
        root->setExposureCount(1);                                     // 15
        QCOMPARE(root->hasCapabilityB(), false);                       // 16
        QCOMPARE(root->hasCapabilityC(), false);                       // 17
        QMutex* mutex = root->getMutex();                              // 18
        QVERIFY(mutex);
        QCOMPARE(root->getMutex(), mutex);
        QVERIFY(root->getBlankImage().empty());                        // 19
        root->hostHookB();                                             // 20
        root->closeCamera();                                           // 21
        // 22 restartCamera: own test below (it reports a missing device).
        QCOMPARE(root->hasCapabilityD(), true);                        // 23
        const QVector<AdjustItem> adjust = root->getAdjustItems();     // 24
        QCOMPARE(adjust.size(), 2);
        QCOMPARE(adjust.at(0).name, QString::fromUtf8("曝光时间"));
        QCOMPARE(adjust.at(1).name, QString::fromUtf8("增益调节"));
        QVERIFY(adjust.at(0).value);
        QVERIFY(adjust.at(1).value);
        QCOMPARE(root->selectExposure(-1), -1);                        // 25
        QCOMPARE(root->selectExposure(1 << 20), -1);
        // Without a device the write cannot succeed, and must not say so.
        QVERIFY(root->selectExposure(0) != 0);
        float value = 3.5f;
        root->setExposureValue(-1, value);                             // 26
        QCOMPARE(value, 3.5f);
        root->setExposureValue(1 << 20, value);
        QCOMPARE(value, 3.5f);
        QCOMPARE(root->getExposureValue(-1), 0.0f);                    // 27
        QCOMPARE(root->getExposureValue(1 << 20), 0.0f);

        // No device was touched, nothing was announced, nothing was numbered.
        QCOMPARE(log.losses, 0);
        QCOMPARE(log.completed, 0);
        QCOMPARE(log.reconnects, 0);
        QCOMPARE(root->productCounter, 0);
        QCOMPARE(root->cycleCapture, 0);
        QCOMPARE(root->cycleProduct, 0);
    }

    // The host holds getMutex() around these calls while frames can arrive;
    // they must not take it themselves (it is not recursive).
    void callsUnderHostLockDoNotRelock()
    {
        QMutex* mutex = root->getMutex();
        QVERIFY(mutex->tryLock());
        QVERIFY(!mutex->tryLock());  // not recursive
        CameraTrigParams params;
        params.triggerType = 32;
        // A plain thread: its start and join order the memory accesses in a
        // way ThreadSanitizer sees, unlike Qt's uninstrumented pool.
        std::atomic<bool> done{false};
        std::thread calls([this, &params, &done]() {
            root->setTrigParams(&params);
            root->softTrigger(3, 1, []() {});
            root->isRunning = true;
            root->isRunning = false;
            done = true;
        });
        QElapsedTimer waited;
        waited.start();
        while (!done && waited.elapsed() < 10000)
            QThread::msleep(5);
        const bool finished = done;
        mutex->unlock();
        calls.join();
        QVERIFY2(finished, "an operation the host calls under getMutex() locked it again");
        CameraTrigParams defaults;
        root->setTrigParams(&defaults);
    }

    // The factory always answers with an object; a missing device is reported
    // by CameraLoss, never by a missing object.
    void createCameraWithoutDevice()
    {
        int count = 0;
        root->getCameraList(count);
        std::unique_ptr<CameraInterface> camera(root->createCamera(4, QString::fromLatin1(kBogusSerial), 0));
        QVERIFY(camera);
        QVERIFY(camera.get() != root);
        QVERIFY(!camera->parent());
        QCOMPARE(camera->getSerialNumber(), QString::fromLatin1(kBogusSerial));
        QVERIFY(qobject_cast<CameraInterface*>(camera.get()));
        QCOMPARE(camera->metaObject()->className(), "CameraLorvex");
        QCOMPARE(camera->isContinuousMode(), false);
        QCOMPARE(camera->getImageSize(), QSize(0, 0));
        QVERIFY(camera->getMutex() != root->getMutex());

        // restartCamera reopens, finds no device, and says so through the
        // plug-in's own CameraLoss, on this thread.
        SignalLog log;
        QObject context;
        connectAll(camera.get(), &context, &log);
        QSignalSpy spy(camera.get(), &CameraInterface::CameraLoss);
        camera->restartCamera();
        QCOMPARE(log.losses, 1);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(log.completed, 0);
        QCOMPARE(log.reconnects, 0);
        camera->closeCamera();
        QCOMPARE(camera->isContinuousMode(), false);
        // The root object is a factory only: it is not affected.
        QCOMPARE(root->getSerialNumber(), QString());
    }
};

QTEST_MAIN(HostContractTest)
#include "tst_host_contract.moc"
