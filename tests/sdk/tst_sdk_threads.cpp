// Many threads at once: open, start, stop, close, trigger, deliver, detach
// and attach on shared devices. Run under ThreadSanitizer in the sanitizer build.
#include "sdktestutil.h"

#include <random>

using namespace sdktest;

namespace {

const char* kSerials[] = {"THRD-0000001", "THRD-0000002"};

struct Counts {
    std::atomic<int> frames{0};
    std::atomic<int> exceptions{0};
};

void MV_CC_CALL onFrame(unsigned char*, MV_FRAME_OUT_INFO_EX*, void* user)
{
    static_cast<Counts*>(user)->frames++;
}

struct ExceptionCtx {
    Counts* counts = nullptr;
    std::atomic<void*> handle{nullptr};
};

void MV_CC_CALL onException(unsigned int, void* user)
{
    auto* ctx = static_cast<ExceptionCtx*>(user);
    ctx->counts->exceptions++;
    // The plug-in stops and closes from here; so do we, racing the owner thread.
    void* h = ctx->handle.load();
    MV_CC_StopGrabbing(h);
    MV_CC_ClearImageBuffer(h);
    MV_CC_CloseDevice(h);
}

// ctx outlives the worker: an exception callback may still be running when it returns.
void worker(int seed, Counts* counts, ExceptionCtx* ctxp, std::atomic<bool>* stop)
{
    std::mt19937 rng(static_cast<unsigned>(seed));
    ExceptionCtx& ctx = *ctxp;
    while (!stop->load()) {
        const char* serial = kSerials[rng() % 2];
        void* h = openDevice(serial);
        if (!h)
            continue; // another worker has it, or it is unplugged
        ctx.handle = h;
        MV_CC_RegisterImageCallBackEx(h, onFrame, counts);
        MV_CC_RegisterExceptionCallBack(h, onException, &ctx);
        MV_CC_SetEnumValue(h, "TriggerMode", rng() % 2);
        for (int i = 0; i < 5; ++i) {
            switch (rng() % 6) {
            case 0: MV_CC_StartGrabbing(h); break;
            case 1: MV_CC_StopGrabbing(h); break;
            case 2: MV_CC_TriggerSoftwareExecute(h); break;
            case 3: VCC_DeliverDeviceFrame(h); break;
            case 4: MV_CC_ClearImageBuffer(h); break;
            default: {
                MVCC_INTVALUE iv;
                MV_CC_GetIntValue(h, "Width", &iv);
            }
            }
        }
        MV_CC_StopGrabbing(h);
        MV_CC_CloseDevice(h);
        // Destroying while the exception callback may still use the handle must stay safe.
        MV_CC_DestroyHandle(h);
    }
}

} // namespace

class TestSdkThreads : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        VCC_Reset();
        for (const char* s : kSerials)
            QCOMPARE_STATUS(addDevice(s), MV_OK);
    }

    void everythingAtOnce()
    {
        Counts counts;
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        std::vector<std::unique_ptr<ExceptionCtx>> contexts;
        for (int i = 0; i < 4; ++i) {
            contexts.push_back(std::make_unique<ExceptionCtx>());
            contexts.back()->counts = &counts;
            threads.emplace_back(worker, i + 1, &counts, contexts.back().get(), &stop);
        }
        threads.emplace_back([&] {
            std::mt19937 rng(99);
            while (!stop.load()) {
                const char* serial = kSerials[rng() % 2];
                VCC_DetachDevice(serial);
                std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 5));
                VCC_AttachDevice(serial);
                VCC_SetLineRate(serial, 8000 + rng() % 8000);
                VCC_DEVICE_COUNTERS c;
                VCC_GetDeviceCounters(serial, &c);
            }
        });
        threads.emplace_back([&] {
            while (!stop.load()) {
                MV_CC_DEVICE_INFO_LIST list{};
                MV_CC_EnumDevices(5, &list);
                VCC_DeliverDeviceFrameToDevice(kSerials[0]);
                VCC_CallLogCount();
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        stop = true;
        for (auto& t : threads)
            t.join();
        VCC_Reset(); // waits for exception callbacks still running
        QCOMPARE(VCC_LiveHandleCount(), 0);
        QVERIFY(counts.frames.load() > 0);
        qInfo("frames %d, disconnects %d", counts.frames.load(), counts.exceptions.load());
    }

    void stopRacesTheCallback()
    {
        void* h = openDevice(kSerials[0]);
        QVERIFY(h);
        Counts counts;
        QCOMPARE_STATUS(MV_CC_RegisterImageCallBackEx(h, onFrame, &counts), MV_OK);
        for (int i = 0; i < 50; ++i) {
            QCOMPARE_STATUS(MV_CC_StartGrabbing(h), MV_OK);
            std::thread other([h] { MV_CC_StopGrabbing(h); });
            MV_CC_StopGrabbing(h);
            other.join();
            // Both stops returned: no callback may run any more.
            int seen = counts.frames.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            QCOMPARE(counts.frames.load(), seen);
        }
        closeDevice(h);
    }
};

QTEST_GUILESS_MAIN(TestSdkThreads)
#include "tst_sdk_threads.moc"
