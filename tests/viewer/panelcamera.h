// A camera for the viewer's panel tests: the real panel builder behind a
// stub camera that records what the viewer asks of it.
#ifndef TESTS_VIEWER_PANELCAMERA_H
#define TESTS_VIEWER_PANELCAMERA_H

#include "../interfaces/stubcamera.h"
#include "cameraparams.h"

#include <algorithm>
#include <cstring>
#include <functional>

class PanelCamera : public StubCamera, public CameraBase
{
public:
    explicit PanelCamera(int count = 1)
    {
        widthInfo = {QString(), QString(), 64, 4096, 8};
        heightInfo = {QString(), QString(), 1, 65535, 1};
        exposureMin = 0.02f;
        exposureMax = 100.0f;
        gainLimits.min = 0;
        gainLimits.max = 160;
        exposureCount = count;
        buildParamsWrap();
    }
    ~PanelCamera() override
    {
        qDeleteAll(paramItems);
        qDeleteAll(retired);
    }

    void* qt_metacast(const char* name) override
    {
        if (name && !std::strcmp(name, "CameraBase"))
            return static_cast<CameraBase*>(this);
        return StubCamera::qt_metacast(name);
    }
    QVector<ParamWrap*>* getParamItems() override { return &paramItems; }
    void paramsChanged() override
    {
        ++changes;
        // The viewer must have released the mutex: the camera locks it here.
        mutexFreeAtChange = mutex.tryLock();
        if (mutexFreeAtChange)
            mutex.unlock();
        if (onChange)
            onChange();
    }
    void setExposureCount(int count) override
    {
        exposureCount = count;
        retired += paramItems;
        paramItems.clear();
        buildParamsWrap();
    }
    int selectExposure(int index) override
    {
        if (index < 0 || index >= exposureTimes.size())
            return -1;
        exposureIndex = index;
        sent << exposureTimes[index];
        return selectStatus;
    }
    float getExposureValue(int index) override { return exposureTimes.value(index); }
    void setExposureValue(int index, float& value) override
    {
        if (index >= 0 && index < exposureTimes.size())
            exposureTimes[index] = value = std::clamp(value, exposureMin, exposureMax);
    }
    QVector<AdjustItem> getAdjustItems() override
    {
        return {{QStringLiteral("exposure"), Float, &exposureTimes[exposureIndex], exposureMin, exposureMax, 0.01},
                {QStringLiteral("gain"), Int, &gain, double(gainLimits.min), double(gainLimits.max), 0.1}};
    }

    int changes = 0;
    bool mutexFreeAtChange = false;
    std::function<void()> onChange;
    QVector<float> sent;
    int selectStatus = 0;
    QVector<ParamWrap*> retired;
};

#endif
