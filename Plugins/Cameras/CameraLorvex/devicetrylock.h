// devicetrylock.h - holding deviceMutex only if it is free.
//
// Operations that may run while cameraMutex is held (softTrigger,
// isContinuousMode, selectExposure, paramsChanged) never wait for the device
// lock: the close path may hold it while MV_CC_StopGrabbing waits for a frame
// that waits for cameraMutex. When the lock is busy the device is being opened
// or closed, and the operation behaves as on a closed camera.
#ifndef DEVICETRYLOCK_H
#define DEVICETRYLOCK_H

#include <QRecursiveMutex>

class DeviceTryLock
{
public:
    explicit DeviceTryLock(QRecursiveMutex& mutex) : mutex(mutex), held(mutex.try_lock()) {}
    ~DeviceTryLock()
    {
        if (held)
            mutex.unlock();
    }
    DeviceTryLock(const DeviceTryLock&) = delete;
    DeviceTryLock& operator=(const DeviceTryLock&) = delete;
    bool owns() const { return held; }

private:
    QRecursiveMutex& mutex;
    bool held;
};

#endif // DEVICETRYLOCK_H
