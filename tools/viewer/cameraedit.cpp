// cameraedit.cpp
#include "cameraedit.h"

#include "camerainterface.h"

#include <QMutexLocker>

void applyEdit(CameraInterface* camera, const std::function<void()>& write)
{
    {
        QMutexLocker lock(camera->getMutex());
        write();
    }
    camera->paramsChanged();
}

void readLocked(CameraInterface* camera, const std::function<void()>& read)
{
    QMutexLocker lock(camera->getMutex());
    read();
}

CameraBase* settingsOf(CameraInterface* camera)
{
    return camera ? static_cast<CameraBase*>(camera->qt_metacast("CameraBase")) : nullptr;
}
