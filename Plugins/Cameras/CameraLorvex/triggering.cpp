// Software trigger and the continuous-mode query. Both run on the host's
// thread, softTrigger with getMutex() held by the host while frames can arrive.
#include "cameralorvex.h"
#include "devicetrylock.h"

#include <cstring>

void CameraLorvex::softTrigger(int productId, int triggerIndex, std::function<void()> callback)
{
    DeviceTryLock device(deviceMutex);
    if (!device.owns() || !bOpened)
        return;

    triggerCallback = callback;

    const CameraTrigParams& params = *trigParams;
    if (params.syncProductId != 0) {
        const bool opensProduct = params.capturesPerProduct > 1 && triggerIndex == 1;
        const bool opensCycle = params.productsPerCycle > 1 && productId % params.productsPerCycle == 1;
        if (opensProduct || opensCycle) {
            productCounter = productId - 1;
            cycleCapture = 0;
            cycleProduct = 0;
        }
    } else if (params.triggerType == 32) {
        // A cycle length below 1 has no remainder; it counts as 1.
        const int perCycle = params.productsPerCycle > 0 ? params.productsPerCycle : 1;
        const int remainder = productId % perCycle;
        productCounter = productId;
        cycleCapture = triggerIndex;
        cycleProduct = remainder == 0 ? perCycle : remainder;
    }

    if (params.triggerType == 2 || params.triggerType == 4 || params.triggerType == 32)
        MV_CC_TriggerSoftwareExecute(devHandle);
}

bool CameraLorvex::isContinuousMode()
{
    DeviceTryLock device(deviceMutex);
    if (!device.owns() || !bOpened)
        return false;
    MVCC_ENUMVALUE mode;
    std::memset(&mode, 0, sizeof mode);
    // A failed read says nothing about the mode: not continuous.
    if (MV_CC_GetEnumValue(devHandle, "TriggerMode", &mode) != MV_OK)
        return false;
    return mode.nCurValue == 0;
}
