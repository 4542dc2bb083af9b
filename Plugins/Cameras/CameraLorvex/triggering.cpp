// Software trigger and the continuous-mode query. Both run on the host's
// thread, softTrigger with getMutex() held by the host while frames can arrive.
#include "cameralorvex.h"
#include "triggercodes.h"

#include <utility>

namespace {

// The position of a product in its cycle, from 1 to perCycle; a cycle length
// below 1 counts as 1.
int positionInCycle(int productId, int productsPerCycle)
{
    const int perCycle = productsPerCycle > 0 ? productsPerCycle : 1;
    const int remainder = productId % perCycle;
    return remainder == 0 ? perCycle : remainder;
}

} // namespace

void CameraLorvex::softTrigger(int productId, int triggerIndex, std::function<void()> callback)
{
    const LorvexDevice::Access access = cameraDevice.softTrigger(
        [&] { return primeForTrigger(productId, triggerIndex, std::move(callback)); });
    if (access == LorvexDevice::Access::Busy) {
        // The device is being opened or closed: this trigger's frame is lost,
        // and the host's log must show it.
        qWarning() << "Camera" << cameraIndex << "software trigger for product" << productId << "capture"
                   << triggerIndex << "dropped: the device is busy";
    }
}

bool CameraLorvex::primeForTrigger(int productId, int triggerIndex, std::function<void()> callback)
{
    triggerCallback = std::move(callback);

    const CameraTrigParams& params = *trigParams;
    const bool hostNumbered = params.triggerType == lorvex::trigger::kHostNumbered;
    // With host numbering, only a positive value makes the frames counted, so
    // only then may the trigger merely prime the counters.
    const bool followsProduct = hostNumbered ? params.syncProductId > 0 : params.syncProductId != 0;
    if (followsProduct) {
        const bool opensProduct = params.capturesPerProduct > 1 && triggerIndex == 1;
        const bool opensCycle = params.productsPerCycle > 1 && productId % params.productsPerCycle == 1;
        // Only the first capture of a product primes: a later one would
        // number its frame as the product's first capture again.
        const bool firstCapture = triggerIndex == 1 || params.capturesPerProduct <= 1;
        if ((opensProduct || opensCycle) && firstCapture) {
            productCounter = productId - 1;
            cycleCapture = 0;
            // The next counted frame steps this on to the product's own
            // position in its cycle.
            cycleProduct = productId >= 0 && params.productsPerCycle > 1
                               ? positionInCycle(productId, params.productsPerCycle) - 1
                               : 0;
        }
    } else if (hostNumbered) {
        productCounter = productId;
        cycleCapture = triggerIndex;
        cycleProduct = positionInCycle(productId, params.productsPerCycle);
    }

    return lorvex::trigger::firesDevice(params.triggerType);
}

bool CameraLorvex::isContinuousMode()
{
    return cameraDevice.triggerModeOff();
}
