// Fault injection and the contract's safety rules: disconnects, scheduled
// failures, lost packets, frame gaps, slow opens, raw deliveries, stale
// handles, exclusive open and the call log.
#include "sdktestutil.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace sdktest;

namespace {

const char* kSerial = "FAULT-000001";

// An exception callback that tears the handle down from inside, as the plug-in does.
struct Teardown {
    std::mutex mu;
    std::condition_variable cv;
    void* handle = nullptr;
    unsigned msg = 0;
    std::thread::id thread;
    int statuses[4] = {-1, -1, -1, -1};
    bool done = false;

    static void MV_CC_CALL callback(unsigned int msgType, void* user)
    {
        auto* t = static_cast<Teardown*>(user);
        int s0 = MV_CC_StopGrabbing(t->handle);
        int s1 = MV_CC_ClearImageBuffer(t->handle);
        int s2 = MV_CC_CloseDevice(t->handle);
        int s3 = MV_CC_DestroyHandle(t->handle);
        std::lock_guard<std::mutex> lk(t->mu);
        t->msg = msgType;
        t->thread = std::this_thread::get_id();
        t->statuses[0] = s0;
        t->statuses[1] = s1;
        t->statuses[2] = s2;
        t->statuses[3] = s3;
        t->done = true;
        t->cv.notify_all();
    }

    bool wait()
    {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::seconds(5), [&] { return done; });
    }
};

struct RawSeen {
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    MV_FRAME_OUT_INFO_EX* info = reinterpret_cast<MV_FRAME_OUT_INFO_EX*>(1);
    std::thread::id thread;
    std::atomic<bool> finished{false};

    static void MV_CC_CALL callback(unsigned char* d, MV_FRAME_OUT_INFO_EX* i, void* user)
    {
        auto* r = static_cast<RawSeen*>(user);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        r->data = d;
        r->info = i;
        r->thread = std::this_thread::get_id();
        r->finished = true;
    }
};

} // namespace

class TestSdkFaults : public QObject {
    Q_OBJECT

    void* h = nullptr;

private slots:
    void init()
    {
        VCC_Reset();
        QCOMPARE_STATUS(addDevice(kSerial), MV_OK);
        h = openDevice(kSerial);
        QVERIFY(h);
    }

    void cleanup()
    {
        VCC_Reset(); // also tears down whatever a test left open
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    void detachWhileGrabbingTearsDownFromTheExceptionCallback()
    {
        Collector frames;
        Teardown t;
        t.handle = h;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames), MV_OK);
        QCOMPARE_STATUS(MV_CC_RegisterExceptionCallBack(h, Teardown::callback, &t), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(2));
        QCOMPARE_STATUS(VCC_DetachDevice(kSerial), MV_OK);
        QVERIFY(t.wait());
        QCOMPARE(t.msg, MV_EXCEPTION_DEV_DISCONNECT);
        QVERIFY(t.thread != std::this_thread::get_id());
        QCOMPARE_STATUS(t.statuses[0], MV_OK);
        QCOMPARE_STATUS(t.statuses[2], MV_OK);
        QCOMPARE_STATUS(t.statuses[3], MV_OK);
        QCOMPARE(VCC_LiveHandleCount(), 0);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_HANDLE);
        // Plugged back in, the device opens again with a fresh handle.
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        QCOMPARE(list.nDeviceNum, 0u);
        QCOMPARE_STATUS(VCC_AttachDevice(kSerial), MV_OK);
        h = openDevice(kSerial);
        QVERIFY(h);
    }

    void callsOnALostHandleFail()
    {
        QCOMPARE_STATUS(VCC_DetachDevice(kSerial), MV_OK); // no exception callback registered: nothing to call
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_NETER);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_E_NETER);
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "TriggerMode", 1), MV_E_NETER);
        QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_E_NETER);
        QCOMPARE_STATUS(VCC_AttachDevice(kSerial), MV_OK);
        // The old connection stays gone after the device returns.
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_NETER);
        void* again = openDevice(kSerial);
        QVERIFY(again);
        QCOMPARE_STATUS(MV_CC_CloseDevice(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_DestroyHandle(h), MV_OK);
        h = again;
    }

    void removingAnOpenDeviceActsAsUnplugging()
    {
        Teardown t;
        t.handle = h;
        QCOMPARE_STATUS(MV_CC_RegisterExceptionCallBack(h, Teardown::callback, &t), MV_OK);
        QCOMPARE_STATUS(VCC_RemoveDevice(kSerial), MV_OK);
        QVERIFY(t.wait());
        QCOMPARE(VCC_DeviceCount(), 0);
    }

    void stopFromInsideTheImageCallback()
    {
        struct SelfStop {
            void* h;
            std::atomic<int> calls{0};
            std::atomic<int> status{-1};
            static void MV_CC_CALL cb(unsigned char*, MV_FRAME_OUT_INFO_EX*, void* u)
            {
                auto* s = static_cast<SelfStop*>(u);
                if (s->calls++ == 0)
                    s->status = MV_CC_StopGrabbing(s->h);
            }
        } s{h};
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, SelfStop::cb, &s), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QTRY_COMPARE(s.status.load(), 0);
        QTest::qWait(30);
        QCOMPARE(s.calls.load(), 1);
        // And grabbing may start again afterwards.
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QTRY_VERIFY(s.calls.load() > 1);
    }

    void stopWaitsForARunningCallback()
    {
        RawSeen seen;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, RawSeen::callback, &seen), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QTest::qWait(5); // a callback is now sleeping inside
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QVERIFY(seen.finished.load());
        seen.finished = false;
        QTest::qWait(40);
        QVERIFY(!seen.finished.load());
    }

    void deliverFramePassesPointersAsGiven()
    {
        RawSeen seen;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, RawSeen::callback, &seen), MV_OK);
        QCOMPARE_STATUS(VCC_DeliverFrame(h, nullptr, nullptr), MV_E_CALLORDER); // not grabbing
        QCOMPARE_STATUS(VCC_SetFreeRunPaused(kSerial, 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QCOMPARE_STATUS(VCC_DeliverFrame(h, nullptr, nullptr), MV_OK);
        QVERIFY(seen.finished.load()); // returned only after the callback
        QVERIFY(seen.data == nullptr && seen.info == nullptr);
        QVERIFY(seen.thread != std::this_thread::get_id());
        MV_FRAME_OUT_INFO_EX info{};
        info.nWidth = 64;
        info.nHeight = 16;
        info.nFrameLen = 64 * 16 + 1; // longer than the image
        auto* unreadable = reinterpret_cast<unsigned char*>(uintptr_t(0x10));
        QCOMPARE_STATUS(VCC_DeliverFrameToDevice(kSerial, &info, unreadable), MV_OK);
        QVERIFY(seen.data == unreadable);
        QVERIFY(seen.info == &info);
        QCOMPARE_STATUS(VCC_DeliverFrameToDevice("NOT-OPEN-0001", &info, nullptr), MV_E_CALLORDER);
    }

    void scheduledFailures()
    {
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_GetIntValue", 2, int(MV_E_BUSY)), MV_OK);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_BUSY);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_BUSY);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_OK);
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_StartGrabbing", 1, int(MV_E_RESOURCE)), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_E_RESOURCE);
        VCC_DEVICE_COUNTERS c{};
        QCOMPARE_STATUS(VCC_GetDeviceCounters(kSerial, &c), MV_OK);
        QCOMPARE(c.grabbing, 0); // a failed call does nothing
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_OpenDevice", 1, int(MV_E_ACCESS_DENIED)), MV_OK);
        MV_CC_CloseDevice(h);
        QCOMPARE_STATUS(MV_CC_OpenDevice(h, 1, 0), MV_E_ACCESS_DENIED);
        QCOMPARE_STATUS(MV_CC_OpenDevice(h, 1, 0), MV_OK);
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_CreateHandle", 1, int(MV_E_RESOURCE)), MV_OK);
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_CreateHandle", 0, 0), MV_OK); // cancelled
        QCOMPARE_STATUS(VCC_FailNext("NotAnSdkCall", 1, 1), MV_E_PARAMETER);
        QCOMPARE_STATUS(VCC_FailNext("MV_CC_StopGrabbing", 5, int(MV_E_UNKNOW)), MV_OK);
        VCC_ClearFailures();
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_E_CALLORDER);
    }

    void lostPacketsAndFrameGaps()
    {
        Collector frames;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames), MV_OK);
        QCOMPARE_STATUS(VCC_InjectLostPackets(kSerial, 2, 7), MV_OK);
        QCOMPARE_STATUS(VCC_InjectFrameGap(kSerial, 3, 5), MV_OK);
        QCOMPARE_STATUS(VCC_SetFreeRunPaused(kSerial, 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        for (int i = 0; i < 4; ++i)
            QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK);
        QCOMPARE(frames.count(), size_t(4));
        QCOMPARE(frames.frames[0].nLostPacket, 0u);
        QCOMPARE(frames.frames[1].nLostPacket, 7u);
        QCOMPARE(frames.frames[2].nFrameNum, 3u);
        QCOMPARE(frames.frames[3].nFrameNum, 9u);
        QCOMPARE(frames.frames[3].nLostPacket, 0u);
        QCOMPARE(frames.stamps[3], 9u);
        QCOMPARE(frames.frames[3].nFrameCounter, frames.frames[3].nTriggerIndex); // lost in transit, not untriggered
        QCOMPARE_STATUS(VCC_InjectFrameGap(kSerial, 3, 0), MV_E_PARAMETER);
    }

    // The faults a device file scripts, as a person rehearsing a failure writes them.
    void scriptedFaultsFromADeviceFile()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("devices.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"devices": [{"manufacturer": "ZEQ Test", "model": "TS-64-M", "serial": "SCRIPT-0001",
            "widthMax": 64, "heightMax": 16, "lineRate": 16000, "features": {"TriggerMode": "On"},
            "faults": ["packets:1:3", "gap:1:2", "overrun:2", "unplug:600:200", "fail:MV_CC_GetIntValue:1:0x80000204"]}]})");
        f.close();
        MV_CC_DestroyHandle(h);
        h = nullptr;
        QCOMPARE_STATUS(VCC_LoadDeviceFile(f.fileName().toLocal8Bit().constData()), MV_OK);
        h = openDevice("SCRIPT-0001");
        QVERIFY(h);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_BUSY);
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_OK);
        Collector frames;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_OK);
            QThread::msleep(20); // past the read-out: only the scripted overrun loses a trigger
        }
        QVERIFY(frames.waitFor(2));
        QCOMPARE(frames.frames[0].nLostPacket, 3u);
        QCOMPARE(frames.frames[1].nFrameNum, 4u);
        QCOMPARE(frames.frames[1].nTriggerIndex, 3u);
        QCOMPARE(frames.frames[1].nFrameCounter, 4u); // two lost in transit, trigger 2 never made a frame
        VCC_DEVICE_COUNTERS c{};
        QTRY_VERIFY_WITH_TIMEOUT((VCC_GetDeviceCounters("SCRIPT-0001", &c), c.attached == 0), 3000);
        QCOMPARE(c.triggerOverruns, 1ull);
        QTRY_VERIFY_WITH_TIMEOUT((VCC_GetDeviceCounters("SCRIPT-0001", &c), c.attached == 1), 3000);
    }

    void slowOpen()
    {
        QCOMPARE_STATUS(MV_CC_CloseDevice(h), MV_OK);
        QCOMPARE_STATUS(VCC_SetOpenDelayMs(kSerial, 150), MV_OK);
        QElapsedTimer t;
        t.start();
        QCOMPARE_STATUS(MV_CC_OpenDevice(h, 1, 0), MV_OK);
        QVERIFY(t.elapsed() >= 140);
    }

    void lineRateSetsTheFrameRate()
    {
        Collector frames;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames), MV_OK);
        QCOMPARE_STATUS(VCC_SetLineRate(kSerial, 3200), MV_OK); // 16 lines: 200 frames/s
        QCOMPARE_STATUS(VCC_SetLineRate(kSerial, 0), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(3));
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        uint64_t a = (uint64_t(frames.frames[0].nDevTimeStampHigh) << 32) | frames.frames[0].nDevTimeStampLow;
        uint64_t b = (uint64_t(frames.frames[1].nDevTimeStampHigh) << 32) | frames.frames[1].nDevTimeStampLow;
        QVERIFY(b - a > 495000 && b - a < 505000); // 5 ms
    }

    void exclusiveOpen()
    {
        MV_CC_DEVICE_INFO_LIST list{};
        QCOMPARE_STATUS(MV_CC_EnumDevices(5, &list), MV_OK);
        void* second = nullptr;
        QCOMPARE_STATUS(MV_CC_CreateHandle(&second, list.pDeviceInfo[0]), MV_OK);
        QCOMPARE(MV_CC_OpenDevice(second, 1, 0), int(0x80000203));
        QCOMPARE_STATUS(MV_CC_OpenDevice(h, 1, 0), MV_E_CALLORDER); // already open
        QCOMPARE_STATUS(MV_CC_CloseDevice(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_OpenDevice(second, 1, 0), MV_OK);
        QCOMPARE_STATUS(MV_CC_OpenDevice(h, 1, 0), MV_E_ACCESS_DENIED);
        VCC_DEVICE_COUNTERS c{};
        QCOMPARE_STATUS(VCC_GetDeviceCounters(kSerial, &c), MV_OK);
        QCOMPARE(c.liveHandles, 2);
        QCOMPARE_STATUS(MV_CC_DestroyHandle(second), MV_OK);
        QCOMPARE_STATUS(VCC_GetDeviceCounters(kSerial, &c), MV_OK);
        QCOMPARE(c.liveHandles, 1);
        QCOMPARE(c.opened, 0);
    }

    void closedAndDestroyedHandlesAreRefused()
    {
        QCOMPARE_STATUS(MV_CC_CloseDevice(h), MV_OK);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Width", &iv), MV_E_CALLORDER);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_E_CALLORDER);
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, nullptr), MV_E_CALLORDER);
        QCOMPARE_STATUS(MV_CC_CloseDevice(h), MV_E_CALLORDER);
        QCOMPARE_STATUS(MV_CC_DestroyHandle(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_DestroyHandle(h), MV_E_HANDLE);
        int junk = 0;
        for (void* bad : {h, static_cast<void*>(nullptr), static_cast<void*>(&junk)}) {
            QCOMPARE_STATUS(MV_CC_OpenDevice(bad, 1, 0), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_GetIntValue(bad, "Width", &iv), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_StartGrabbing(bad), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_StopGrabbing(bad), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_ClearImageBuffer(bad), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(bad), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_FeatureLoad(bad, "Lorvex.mfs"), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_SetImageNodeNum(bad, 30), MV_E_HANDLE);
            QCOMPARE_STATUS(MV_CC_CloseDevice(bad), MV_E_HANDLE);
            QCOMPARE_STATUS(VCC_DeliverDeviceFrame(bad), MV_E_HANDLE);
        }
        QCOMPARE_STATUS(MV_CC_CreateHandle(nullptr, nullptr), MV_E_PARAMETER);
        void* made = nullptr;
        MV_CC_DEVICE_INFO unknown{};
        QCOMPARE_STATUS(MV_CC_CreateHandle(&made, &unknown), MV_E_PARAMETER);
        h = nullptr;
    }

    void nullCallbacksAndNodeCounts()
    {
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, nullptr, nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_RegisterExceptionCallBack(h, nullptr, nullptr), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_SetImageNodeNum(h, 0), MV_E_PARAMETER);
        QCOMPARE_STATUS(MV_CC_SetImageNodeNum(h, 30), MV_OK);
    }

    void callLogShowsWhatWasCalled()
    {
        VCC_CallLogClear();
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "ExposureAuto", 0), MV_OK);
        QCOMPARE_STATUS(MV_CC_SetFloatValue(h, "ExposureTime", 42.5f), MV_OK);
        MVCC_INTVALUE iv{};
        QCOMPARE_STATUS(MV_CC_GetIntValue(h, "Nope", &iv), MV_E_GC_GENERIC);
        QCOMPARE_STATUS(MV_CC_FeatureLoad(h, "absent.mfs"), MV_E_PARAMETER);
        QCOMPARE(VCC_CallLogCount(), 4);
        VCC_CALL_RECORD r{};
        QCOMPARE_STATUS(VCC_CallLogGet(1, &r), MV_OK);
        QCOMPARE(QString(r.function), QString("MV_CC_SetFloatValue"));
        QCOMPARE(QString(r.key), QString("ExposureTime"));
        QCOMPARE(QString(r.value), QString("42.5"));
        QCOMPARE(r.status, 0);
        QVERIFY(r.handle == h);
        QCOMPARE_STATUS(VCC_CallLogGet(2, &r), MV_OK);
        QCOMPARE_STATUS(r.status, MV_E_GC_GENERIC);
        QCOMPARE_STATUS(VCC_CallLogGet(3, &r), MV_OK);
        QCOMPARE(QString(r.key), QString("absent.mfs"));
        QCOMPARE(VCC_CallLogCountOf("MV_CC_SetEnumValue", "ExposureAuto"), 1);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_SetEnumValue", "TriggerMode"), 0);
        QCOMPARE(VCC_CallLogCountOf("MV_CC_TriggerSoftwareExecute", nullptr), 0);
        QCOMPARE_STATUS(VCC_CallLogGet(4, &r), MV_E_PARAMETER);
        VCC_CallLogEnable(0);
        MV_CC_SetEnumValue(h, "ExposureAuto", 0);
        QCOMPARE(VCC_CallLogCount(), 4);
        VCC_CallLogEnable(1);
    }
};

QTEST_GUILESS_MAIN(TestSdkFaults)
#include "tst_sdk_faults.moc"
