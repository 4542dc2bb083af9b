// The one way tests and benchmarks look inside a camera object: its device's
// state, a few counts, the frame format, and the SDK's callbacks called as
// the SDK calls them. Tests assert states through it, never fields.
//
//   probe(camera).state() == DeviceState::Grabbing, probe(camera).lost(), ...
#pragma once

#include "cameralorvex.h"

#include <memory>

class CameraLorvexProbe
{
public:
    explicit CameraLorvexProbe(CameraLorvex& camera) : camera(camera) {}

    // ---- the device ----
    DeviceState state() const { return camera.cameraDevice.state(); }
    bool opened() const { return deviceIsOpen(state()); }
    bool grabbing() const { return state() == DeviceState::Grabbing; }
    // Lost to the host: lost now, or a CameraReconnect still owed.
    bool lost() const { return camera.cameraDevice.lossOutstanding(); }
    // Lost, and CameraLoss already told: the state changes before the tell.
    bool lossTold() const { return state() == DeviceState::Lost && camera.cameraDevice.reconnectDue(); }
    bool monoSensor() const { return camera.cameraDevice.monoSensor(); }
    int pixelType() const { return camera.cameraDevice.pixelFormat(); }
    // The device's read-back and start, as the host's restore runs them.
    void restoreDevice() { camera.cameraDevice.restore(); }

    // ---- the frame path ----
    FrameFormat frameFormat() const { return camera.framePath.format(); }
    unsigned int lastFrameNum() const { return camera.framePath.lastFrameNumber(); }
    unsigned long long framesDroppedForStop() const { return camera.framePath.droppedForStop(); }
    size_t idleFrameBuffers() const { return camera.framePath.idleBuffers(); }
    // The open device's SDK handle, for tests that deliver frames to it.
    void* sdkHandle() const { return camera.framePath.handle(); }

    // ---- the camera's own ----
    CameraTrigParams& trigParams() const { return *camera.trigParams; }
    const QVector<ParamWrap*>& retiredParamItems() const { return camera.retiredParamItems; }
    float& detachedExposure() const { return camera.detachedExposure; }

    // ---- the reconnect ----
    bool timerActive() const { return camera.reconnectTimer->isActive(); }
    int timerInterval() const { return camera.reconnectTimer->interval(); }
    bool reconnectRunning() const { return camera.reconnectFuture.isRunning(); }
    void waitForReconnect() { camera.reconnectFuture.waitForFinished(); }
    // One timeout of the reconnect timer.
    void onReconnectTimer() { camera.onReconnectTimer(); }

    // ---- the SDK's callbacks, called as the SDK calls them ----
    static void ImageCallBack(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user)
    {
        CameraLorvex::ImageCallBack(data, info, user);
    }
    static void ExceptionImageCallBack(unsigned int type, void* user)
    {
        CameraLorvex::ExceptionImageCallBack(type, user);
    }

private:
    CameraLorvex& camera;
};

inline CameraLorvexProbe probe(CameraLorvex& camera)
{
    return CameraLorvexProbe(camera);
}

inline CameraLorvexProbe probe(CameraLorvex* camera)
{
    return CameraLorvexProbe(*camera);
}

inline CameraLorvexProbe probe(const std::unique_ptr<CameraLorvex>& camera)
{
    return CameraLorvexProbe(*camera);
}
