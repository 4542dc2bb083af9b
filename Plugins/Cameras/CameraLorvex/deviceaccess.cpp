// Short accesses of an open device, for host calls that may run under the
// host's cameraMutex: they never wait for the handle, and leave the SDK alone
// while an operation holds it or no device is open.
#include "lorvexdevice.h"

#include <cstring>

template <typename Use>
LorvexDevice::Access LorvexDevice::access(Use&& use)
{
    if (!handleMutex.tryLock())
        return Access::Busy;
    lorvex::RankedLocker handle(handleMutex, lorvex::adoptLock);
    const DeviceState now = currentState;
    if (!isAccessAllowed(now))
        return deviceIsBusy(now) ? Access::Busy : Access::Closed;
    use();
    return Access::Granted;
}

LorvexDevice::Access LorvexDevice::softTrigger(const std::function<bool()>& prepare)
{
    return access([&] {
        if (prepare())
            MV_CC_TriggerSoftwareExecute(devHandle);
    });
}

int LorvexDevice::writeExposureTime(float microseconds, int closedStatus)
{
    int status = closedStatus;
    access([&] { status = MV_CC_SetFloatValue(devHandle, "ExposureTime", microseconds); });
    return status;
}

bool LorvexDevice::triggerModeOff()
{
    bool off = false;
    access([&] {
        MVCC_ENUMVALUE mode;
        std::memset(&mode, 0, sizeof mode);
        // A failed read says nothing about the mode: not off.
        off = MV_CC_GetEnumValue(devHandle, "TriggerMode", &mode) == MV_OK && mode.nCurValue == 0;
    });
    return off;
}

void LorvexDevice::readBackIfFree()
{
    access([this] { readBackGeometry(); });
}
