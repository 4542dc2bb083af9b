// firstsettings.cpp
#include "firstsettings.h"

#include "camerainterface.h"
#include "cameraparams.h"

#include <QMutexLocker>

#include <algorithm>

namespace {

// The record's type information lives in the plug-in only, so the sanitizer's
// dynamic-type check cannot follow this access; it reads the shared layout.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
CameraBase* recordOf(CameraInterface* camera)
{
    return camera ? static_cast<CameraBase*>(camera->qt_metacast("CameraBase")) : nullptr;
}

} // namespace

#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
void chooseFirstSettings(CameraInterface* camera)
{
    CameraBase* b = recordOf(camera);
    if (!b)
        return;
    QMutexLocker lock(camera->getMutex());
    b->colorImage = true;
    if (b->exposureMax <= 0.0f || b->exposureMax < b->exposureMin)
        return;
    for (float& t : b->exposureTimes)
        t = std::clamp(kFirstExposureMs, b->exposureMin, b->exposureMax);
}

#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
void settleFirstSettings(CameraInterface* camera)
{
    CameraBase* b = recordOf(camera);
    if (!b || camera->getChannels() == 3)
        return;
    QMutexLocker lock(camera->getMutex());
    b->colorImage = false;
}
