// What an application sees with the public header alone: the default devices,
// 100 free-running frames and 10 triggered ones, correctly numbered.
#include "MVCameraControl.h"

#include <QtTest>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Frames {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<MV_FRAME_OUT_INFO_EX> infos;

    static void MV_CC_CALL onFrame(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user)
    {
        auto* f = static_cast<Frames*>(user);
        if (!data || !info)
            return;
        std::lock_guard<std::mutex> lk(f->mu);
        f->infos.push_back(*info);
        f->cv.notify_all();
    }

    bool waitFor(size_t n)
    {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::seconds(10), [&] { return infos.size() >= n; });
    }
};

} // namespace

class TestSdkPublic : public QObject {
    Q_OBJECT

private slots:
    void defaultMonoCameraFreeRunThenTriggered()
    {
        MV_CC_DEVICE_INFO_LIST list;
        std::memset(&list, 0, sizeof list);
        QCOMPARE(MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list), MV_OK);
        const MV_CC_DEVICE_INFO* mono = nullptr;
        for (unsigned i = 0; i < list.nDeviceNum; ++i) {
            std::string model(reinterpret_cast<const char*>(list.pDeviceInfo[i]->SpecialInfo.stGigEInfo.chModelName));
            std::string serial(reinterpret_cast<const char*>(list.pDeviceInfo[i]->SpecialInfo.stGigEInfo.chSerialNumber));
            if (model.back() == 'M' && serial.find("Vir") == std::string::npos)
                mono = list.pDeviceInfo[i];
        }
        QVERIFY(mono);
        void* h = nullptr;
        QCOMPARE(MV_CC_CreateHandle(&h, mono), MV_OK);
        QCOMPARE(MV_CC_OpenDevice(h, 1, 0), MV_OK);
        Frames frames;
        QCOMPARE(MV_CC_RegisterImageCallBackEx(h, Frames::onFrame, &frames), MV_OK);
        QCOMPARE(MV_CC_SetImageNodeNum(h, 30), MV_OK);
        MVCC_INTVALUE width{};
        QCOMPARE(MV_CC_GetIntValue(h, "Width", &width), MV_OK);
        QCOMPARE(width.nCurValue, 4096u);

        QCOMPARE(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(100));
        QCOMPARE(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE(frames.infos[0].nFrameNum, 1u);
        for (size_t i = 1; i < 100; ++i) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
            // Instrumented copies can be slower than the device: it then drops frames, as it should.
            QVERIFY(frames.infos[i].nFrameNum > frames.infos[i - 1].nFrameNum);
#else
            QCOMPARE(frames.infos[i].nFrameNum, unsigned(i + 1));
#endif
            QCOMPARE(frames.infos[i].nFrameLen, 4096u * frames.infos[i].nHeight);
        }

        frames.infos.clear();
        QCOMPARE(MV_CC_SetEnumValue(h, "TriggerMode", 1), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(h), MV_OK);
        for (unsigned i = 1; i <= 10; ++i) {
            QCOMPARE(MV_CC_TriggerSoftwareExecute(h), MV_OK);
            QVERIFY(frames.waitFor(i));
        }
        QCOMPARE(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE(frames.infos.size(), size_t(10));
        for (unsigned i = 0; i < 10; ++i) {
            QCOMPARE(frames.infos[i].nFrameNum, i + 1);
            QCOMPARE(frames.infos[i].nFrameCounter, frames.infos[i].nTriggerIndex);
        }
        QCOMPARE(MV_CC_CloseDevice(h), MV_OK);
        QCOMPARE(MV_CC_DestroyHandle(h), MV_OK);
    }
};

QTEST_GUILESS_MAIN(TestSdkPublic)
#include "tst_sdk_public.moc"
