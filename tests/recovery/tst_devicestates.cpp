// Every stable state a host can leave a camera's device in, met by every event
// that can reach it: the state it ends in, and whether it holds an SDK handle.
// The expected table is written out below, one line per event.
#include "recoveryfixture.h"

using namespace rectest;

namespace {

const std::string kSerial = "ZEQ00000S001";

using S = DeviceState;

enum class Event {
    Restart, Close, Restore, ParamsChanged, SoftTrigger, ContinuousQuery, SelectExposure, Disconnect, ReconnectTimeout
};

constexpr S kFrom[] = {S::Closed, S::Open, S::Grabbing, S::Lost};

struct Expected {
    const char* name;
    Event event;
    S after[4];                     // from each state of kFrom, in its order
    const char* refused = nullptr;  // an SDK call the device refuses throughout the event
};

const Expected kTable[] = {
    //                                                 Closed       Open         Grabbing     Lost
    {"restartCamera", Event::Restart,                 {S::Grabbing, S::Grabbing, S::Grabbing, S::Grabbing}},
    {"closeCamera", Event::Close,                     {S::Closed,   S::Closed,   S::Closed,   S::Closed}},
    {"deserialize", Event::Restore,                   {S::Closed,   S::Grabbing, S::Grabbing, S::Lost}},
    {"paramsChanged", Event::ParamsChanged,           {S::Closed,   S::Open,     S::Grabbing, S::Lost}},
    {"softTrigger", Event::SoftTrigger,               {S::Closed,   S::Open,     S::Grabbing, S::Lost}},
    {"isContinuousMode", Event::ContinuousQuery,      {S::Closed,   S::Open,     S::Grabbing, S::Lost}},
    {"selectExposure", Event::SelectExposure,         {S::Closed,   S::Open,     S::Grabbing, S::Lost}},
    {"disconnect notice", Event::Disconnect,          {S::Closed,   S::Lost,     S::Lost,     S::Lost}},
    {"reconnect timeout", Event::ReconnectTimeout,    {S::Closed,   S::Open,     S::Grabbing, S::Grabbing}},
    {"restart, open refused", Event::Restart,         {S::Lost,     S::Lost,     S::Lost,     S::Lost}, "MV_CC_OpenDevice"},
    {"restart, start refused", Event::Restart,        {S::Lost,     S::Lost,     S::Lost,     S::Lost}, "MV_CC_StartGrabbing"},
    {"restart, stop refused", Event::Restart,         {S::Grabbing, S::Grabbing, S::Grabbing, S::Grabbing}, "MV_CC_StopGrabbing"},
    {"restart, reads refused", Event::Restart,        {S::Grabbing, S::Grabbing, S::Grabbing, S::Grabbing}, "MV_CC_GetIntValue"},
};

} // namespace

Q_DECLARE_METATYPE(DeviceState)
Q_DECLARE_METATYPE(Event)

class TestDeviceStates : public QObject
{
    Q_OBJECT

    FeatureFolder features;

private slots:
    void init()
    {
        resetSdk();
        features.use();
        QCOMPARE(addDevice(smallDevice(kSerial)), 0);
    }

    void cleanup()
    {
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    void everyEventInEveryState_data()
    {
        QTest::addColumn<DeviceState>("from");
        QTest::addColumn<Event>("event");
        QTest::addColumn<DeviceState>("after");
        QTest::addColumn<QByteArray>("refused");
        for (const Expected& row : kTable)
            for (int i = 0; i < 4; ++i)
                QTest::addRow("%s / %s", stateName(kFrom[i]), row.name)
                    << kFrom[i] << row.event << row.after[i] << QByteArray(row.refused);
    }
    void everyEventInEveryState()
    {
        QFETCH(DeviceState, from);
        QFETCH(Event, event);
        QFETCH(DeviceState, after);
        QFETCH(QByteArray, refused);
        Watchdog watchdog("one state and event", 30);

        // Created opens the device; the restore starts it; a detach loses it.
        auto camera = createCamera(1, kSerial);
        SignalCount signals_(camera.get());
        camera->setExposureCount(1);
        if (from == S::Closed)
            camera->closeCamera();
        if (from == S::Grabbing || from == S::Lost)
            startGrabbing(camera.get());
        if (from == S::Lost) {
            QCOMPARE(VCC_DetachDevice(kSerial.c_str()), 0);
            QVERIFY(waitUntil([&] { return probe(camera).state() == S::Lost && signals_.losses == 1; }));
            // Back in place: what follows may find it.
            QCOMPARE(VCC_AttachDevice(kSerial.c_str()), 0);
        }
        QCOMPARE(probe(camera).state(), from);
        LogCapture log;
        if (!refused.isEmpty())
            QCOMPARE(VCC_FailNext(refused.constData(), 1000, int(MV_E_BUSY)), 0);

        switch (event) {
        case Event::Restart: camera->restartCamera(); break;
        case Event::Close: camera->closeCamera(); break;
        case Event::Restore: {
            QJsonObject json;
            camera->serialize(json);
            camera->deserialize(json);
            break;
        }
        case Event::ParamsChanged: camera->paramsChanged(); break;
        case Event::SoftTrigger: {
            lorvex::HostLocker frames(camera->getMutex());
            camera->softTrigger(1, 1, {});
            break;
        }
        case Event::ContinuousQuery: camera->isContinuousMode(); break;
        case Event::SelectExposure: camera->selectExposure(0); break;
        case Event::Disconnect:
            QCOMPARE(VCC_DetachDevice(kSerial.c_str()), 0);
            // The loss runs on the notice's thread.
            waitUntil([&] { return probe(camera).state() == after; });
            break;
        case Event::ReconnectTimeout: reconnectAttempt(camera.get()); break;
        }
        VCC_ClearFailures();

        QCOMPARE(probe(camera).state(), after);
        QCOMPARE(VCC_LiveHandleCount(), deviceIsOpen(after) ? 1 : 0);
        // No step on the way tried a move the table does not hold.
        QCOMPARE(log.count(QStringLiteral("device state: refused")), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeviceStates)
#include "tst_devicestates.moc"
