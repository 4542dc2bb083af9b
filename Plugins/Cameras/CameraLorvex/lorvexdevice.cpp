// The SDK calls that change a device's state, each with its transition.
#include "lorvexdevice.h"

int LorvexDevice::startGrabbing()
{
    const int status = MV_CC_StartGrabbing(devHandle);
    if (status == MV_OK)
        bGrabbing = true;
    return status;
}

int LorvexDevice::stopGrabbing()
{
    const int status = MV_CC_StopGrabbing(devHandle);
    if (status == MV_OK)
        bGrabbing = false;
    return status;
}

void LorvexDevice::closeHandle()
{
    MV_CC_CloseDevice(devHandle);
    MV_CC_DestroyHandle(devHandle);
    devHandle = nullptr;
    bOpened = 0;
    bGrabbing = false;
}

void LorvexDevice::destroyHandle()
{
    MV_CC_DestroyHandle(devHandle);
    devHandle = nullptr;
}
