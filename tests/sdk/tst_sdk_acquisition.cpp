// Acquisition: free run and software trigger, numbering, time stamps, the
// pattern, mirroring and the bounded node buffers.
#include "sdktestutil.h"

using namespace sdktest;

namespace {
const char* kSerial = "GRAB-0000001";

uint64_t stampOf(const MV_FRAME_OUT_INFO_EX& f)
{
    return (uint64_t(f.nDevTimeStampHigh) << 32) | f.nDevTimeStampLow;
}
} // namespace

class TestSdkAcquisition : public QObject {
    Q_OBJECT

    void* h = nullptr;
    Collector frames;

private slots:
    void init()
    {
        VCC_Reset();
        frames.frames.clear();
        frames.stamps.clear();
        frames.threads.clear();
        frames.delayMs = 0;
        QCOMPARE_STATUS(addDevice(kSerial), MV_OK);
        h = openDevice(kSerial);
        QVERIFY(h);
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Collector::callback, &frames), MV_OK);
    }

    void cleanup()
    {
        closeDevice(h);
        QCOMPARE(VCC_LiveHandleCount(), 0);
    }

    void freeRunHundredFramesNumberedFromOne()
    {
        QCOMPARE_STATUS(MV_CC_SetImageNodeNum(h, 200), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(100));
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        const size_t n = frames.count();
        QCOMPARE(frames.overlaps.load(), 0);
        for (size_t i = 0; i < n; ++i) {
            const MV_FRAME_OUT_INFO_EX& f = frames.frames[i];
            QCOMPARE(f.nFrameNum, unsigned(i + 1));
            QCOMPARE(frames.stamps[i], unsigned(i + 1)); // the data says which frame it is
            QCOMPARE(f.nWidth, (unsigned short)64);
            QCOMPARE(f.nHeight, (unsigned short)16);
            QCOMPARE(f.nFrameLen, 64u * 16u);
            QCOMPARE(f.enPixelType, unsigned(PixelType_Gvsp_Mono8));
            QCOMPARE(f.nFrameCounter, f.nTriggerIndex);
            QCOMPARE(f.nLostPacket, 0u);
            QVERIFY(frames.threads[i] != std::this_thread::get_id());
        }
        // 16 lines at 16000 lines/s: 1 ms apart, i.e. 100000 ticks of 10 ns.
        const uint64_t step = stampOf(frames.frames[1]) - stampOf(frames.frames[0]);
        QVERIFY2(step > 99000 && step < 101000, QByteArray::number(qulonglong(step)).constData());
        // Nothing arrives after the stop returned.
        QTest::qWait(30);
        QCOMPARE(frames.count(), n);
        VCC_DEVICE_COUNTERS c{};
        QCOMPARE_STATUS(VCC_GetDeviceCounters(kSerial, &c), MV_OK);
        QCOMPARE(c.framesDelivered, qulonglong(n));
        QCOMPARE(c.grabbing, 0);
        QCOMPARE(c.opened, 1);
    }

    void numberingRestartsAtEveryStart()
    {
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(3));
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        const size_t first = frames.count();
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(first + 2));
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE(frames.frames[first].nFrameNum, 1u);
        // The device's own counter keeps counting across the restart.
        QVERIFY(frames.frames[first].nFrameCounter > frames.frames[first - 1].nFrameCounter);
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_E_CALLORDER);
    }

    void startTwiceIsRefused()
    {
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_E_CALLORDER);
    }

    void triggeredTenFrames()
    {
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "TriggerMode", 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_E_CALLORDER); // not grabbing yet
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QTest::qWait(20);
        QCOMPARE(frames.count(), size_t(0)); // no trigger, no frame
        for (unsigned i = 1; i <= 10; ++i) {
            QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_OK);
            QVERIFY(frames.waitFor(i));
        }
        QTest::qWait(20);
        QCOMPARE(frames.count(), size_t(10));
        for (unsigned i = 0; i < 10; ++i) {
            QCOMPARE(frames.frames[i].nFrameNum, i + 1);
            QCOMPARE(frames.frames[i].nTriggerIndex, i + 1);
            QCOMPARE(frames.frames[i].nFrameCounter, i + 1);
        }
        QVERIFY(stampOf(frames.frames[9]) > stampOf(frames.frames[0]));
        QCOMPARE_STATUS(MV_CC_SetEnumValue(h, "TriggerMode", 0), MV_OK);
        QCOMPARE_STATUS(MV_CC_TriggerSoftwareExecute(h), MV_E_CALLORDER); // free run takes no triggers
    }

    void timeStampSplitsIntoHighAndLow()
    {
        QCOMPARE_STATUS(VCC_SetFreeRunPaused(kSerial, 1), MV_OK);
        QCOMPARE_STATUS(VCC_SetDeviceTimeStamp(kSerial, 0xFFFFFFFFull - 50), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QTest::qWait(5);
        QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK);
        QCOMPARE(frames.count(), size_t(1));
        QCOMPARE(frames.frames[0].nDevTimeStampHigh, 1u); // 50 ticks are half a microsecond
        QCOMPARE(frames.frames[0].nFrameNum, 1u);
    }

    void patternMovesBetweenFrames()
    {
        VCC_SetFreeRunPaused(kSerial, 1);
        std::vector<std::vector<uint8_t>> images;
        struct Grab {
            static void MV_CC_CALL cb(unsigned char* d, MV_FRAME_OUT_INFO_EX* i, void* u)
            {
                static_cast<std::vector<std::vector<uint8_t>>*>(u)->emplace_back(d, d + i->nFrameLen);
            }
        };
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Grab::cb, &images), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK);
        QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE(images.size(), size_t(2));
        // Frames differ beyond the stamped first four bytes.
        QVERIFY(!std::equal(images[0].begin() + 4, images[0].end(), images[1].begin() + 4));
        // A gradient: dark on the left, bright on the right of a row outside the bar.
        const uint8_t* row = images[1].data() + 64 * 15;
        QVERIFY(row[1] != row[62]);
    }

    void reverseXMirrorsEveryRow()
    {
        VCC_SetFreeRunPaused(kSerial, 1);
        std::vector<std::vector<uint8_t>> images;
        struct Grab {
            static void MV_CC_CALL cb(unsigned char* d, MV_FRAME_OUT_INFO_EX* i, void* u)
            {
                static_cast<std::vector<std::vector<uint8_t>>*>(u)->emplace_back(d, d + i->nFrameLen);
            }
        };
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, Grab::cb, &images), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE_STATUS(VCC_SetBoolFeature(kSerial, "ReverseX", 1), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QCOMPARE_STATUS(VCC_DeliverDeviceFrame(h), MV_OK); // frame 1 again, mirrored
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE(images.size(), size_t(2));
        for (int y = 1; y < 16; ++y)
            for (int x = 0; x < 64; ++x)
                QCOMPARE(images[1][size_t(y * 64 + x)], images[0][size_t(y * 64 + 63 - x)]);
    }

    void slowCallbackDropsFramesWithinTheNodeBudget()
    {
        QCOMPARE_STATUS(MV_CC_SetImageNodeNum(h, 3), MV_OK);
        frames.delayMs = 20; // the device makes a frame every millisecond
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(8));
        QVERIFY(VCC_NodeBufferCount(h) <= 3);
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        bool gap = false;
        for (size_t i = 1; i < frames.frames.size(); ++i) {
            QVERIFY(frames.frames[i].nFrameNum > frames.frames[i - 1].nFrameNum);
            gap = gap || frames.frames[i].nFrameNum != frames.frames[i - 1].nFrameNum + 1;
        }
        QVERIFY(gap);
        VCC_DEVICE_COUNTERS c{};
        QCOMPARE_STATUS(VCC_GetDeviceCounters(kSerial, &c), MV_OK);
        QVERIFY(c.framesDropped > 0);
        QVERIFY(c.framesProduced >= c.framesDropped + c.framesDelivered);
    }

    void clearImageBufferDiscardsQueuedFrames()
    {
        QCOMPARE_STATUS(MV_CC_SetImageNodeNum(h, 4), MV_OK);
        frames.delayMs = 30;
        QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
        QVERIFY(frames.waitFor(1));
        QCOMPARE_STATUS(MV_CC_ClearImageBuffer(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_StopGrabbing(h), MV_OK);
        QCOMPARE_STATUS(MV_CC_ClearImageBuffer(h), MV_OK);
    }

    void colourDeviceDeliversBayerRG8()
    {
        QCOMPARE_STATUS(addDevice("COLR-0000002", 32, 8, PixelType_Gvsp_BayerRG8, "TS-32-C"), MV_OK);
        void* c = openDevice("COLR-0000002");
        QVERIFY(c);
        Collector col;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(c, Collector::callback, &col), MV_OK);
        QCOMPARE_STATUS(MV_CC_StartGrabbing(c), MV_OK);
        QVERIFY(col.waitFor(2));
        closeDevice(c);
        QCOMPARE(col.frames[0].enPixelType, unsigned(PixelType_Gvsp_BayerRG8));
        QCOMPARE(col.frames[0].nFrameLen, 32u * 8u);
    }
};

QTEST_GUILESS_MAIN(TestSdkAcquisition)
#include "tst_sdk_acquisition.moc"
