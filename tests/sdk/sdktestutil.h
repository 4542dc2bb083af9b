// Helpers shared by the virtual SDK tests: test devices, open handles and a
// frame collector for the image callback.
#pragma once

#include "../common/devicepresets.h"
#include "MVCameraControl.h"
#include "VirtualCameraControl.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace sdktest {

// A small device offering every pixel format, 1000 frames per second at 16 lines.
inline int addDevice(const char* serial, unsigned width = 64, unsigned height = 16,
                     unsigned format = PixelType_Gvsp_Mono8, const char* model = "TS-64-M",
                     unsigned transport = MV_GIGE_DEVICE)
{
    presets::DevicePreset d = presets::everyFormatDevice(serial, width, height, format);
    d.manufacturer = "ZEQ Test";
    d.model = model;
    d.transport = transport;
    d.lineRate = 16000;
    return presets::addDevice(d);
}

inline const char* serialOf(const MV_CC_DEVICE_INFO* info)
{
    return reinterpret_cast<const char*>(info->nTLayerType == MV_USB_DEVICE ? info->SpecialInfo.stUsb3VInfo.chSerialNumber
                                                                            : info->SpecialInfo.stGigEInfo.chSerialNumber);
}

// Creates and opens a handle for the enumerated device with this serial number.
inline void* openDevice(const char* serial)
{
    MV_CC_DEVICE_INFO_LIST list;
    std::memset(&list, 0, sizeof list);
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK)
        return nullptr;
    for (unsigned i = 0; i < list.nDeviceNum; ++i) {
        if (std::strcmp(serialOf(list.pDeviceInfo[i]), serial) == 0) {
            void* h = nullptr;
            if (MV_CC_CreateHandle(&h, list.pDeviceInfo[i]) != MV_OK)
                return nullptr;
            if (MV_CC_OpenDevice(h, 1, 0) != MV_OK) {
                MV_CC_DestroyHandle(h);
                return nullptr;
            }
            return h;
        }
    }
    return nullptr;
}

inline void closeDevice(void* h)
{
    MV_CC_StopGrabbing(h);
    MV_CC_CloseDevice(h);
    MV_CC_DestroyHandle(h);
}

// Collects the frame information of every image callback.
struct Collector {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<MV_FRAME_OUT_INFO_EX> frames;
    std::vector<uint32_t> stamps; // first four data bytes
    std::vector<std::thread::id> threads;
    std::atomic<int> delayMs{0};
    std::atomic<bool> inside{false};
    std::atomic<int> overlaps{0};

    static void MV_CC_CALL callback(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user)
    {
        auto* c = static_cast<Collector*>(user);
        if (c->inside.exchange(true))
            c->overlaps++;
        if (int ms = c->delayMs.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        {
            std::lock_guard<std::mutex> lk(c->mu);
            c->frames.push_back(info ? *info : MV_FRAME_OUT_INFO_EX{});
            uint32_t stamp = 0;
            if (data && info && info->nFrameLen >= 4)
                std::memcpy(&stamp, data, 4);
            c->stamps.push_back(stamp);
            c->threads.push_back(std::this_thread::get_id());
        }
        c->inside = false;
        c->cv.notify_all();
    }

    bool waitFor(size_t n, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return frames.size() >= n; });
    }

    size_t count()
    {
        std::lock_guard<std::mutex> lk(mu);
        return frames.size();
    }
};

inline unsigned status(unsigned code)
{
    return code;
}

} // namespace sdktest

// Statuses compare as unsigned so failures print in the familiar 0x8000xxxx shape.
#define QCOMPARE_STATUS(call, expected) QCOMPARE(static_cast<unsigned>(call), static_cast<unsigned>(expected))
