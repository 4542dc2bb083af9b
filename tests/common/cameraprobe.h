// The one way tests and benchmarks reach a camera object's internals: its
// device state, locks, frame format and the steps of its device life. The
// camera keeps them private; this probe is its friend.
//
//   probe(camera).bOpened, probe(camera).CameraStart(), ...
#pragma once

#include "cameralorvex.h"

#include <memory>

class CameraLorvexProbe
{
public:
    explicit CameraLorvexProbe(CameraLorvex& camera)
        : convertParam(camera.framePath.convertParam),
          devHandle(camera.cameraDevice.devHandle),
          bMonoSensor(camera.bMonoSensor),
          bOpened(camera.cameraDevice.bOpened),
          bGrabbing(camera.cameraDevice.bGrabbing),
          lastFrameNum(camera.framePath.lastFrameNum),
          trigParams(camera.trigParams),
          pixelType(camera.pixelType),
          bCameraLost(camera.cameraDevice.bCameraLost),
          reconnectTimer(camera.reconnectTimer),
          reconnectFuture(camera.reconnectFuture),
          deviceMutex(camera.deviceMutex),
          frameFormat(camera.framePath.format),
          framesDroppedForStop(camera.framePath.framesDroppedForStop),
          framePool(camera.framePath.pool),
          detachedExposure(camera.detachedExposure),
          retiredParamItems(camera.retiredParamItems),
          camera(camera)
    {
    }

    MV_CC_PIXEL_CONVERT_PARAM& convertParam;
    void*& devHandle;
    int& bMonoSensor;
    int& bOpened;
    bool& bGrabbing;
    std::atomic<unsigned int>& lastFrameNum;
    CameraTrigParams*& trigParams;
    int& pixelType;
    std::atomic<bool>& bCameraLost;
    QTimer*& reconnectTimer;
    QFuture<void>& reconnectFuture;
    QRecursiveMutex& deviceMutex;
    FrameFormat& frameFormat;
    std::atomic<unsigned long long>& framesDroppedForStop;
    FrameBufferPool& framePool;
    float& detachedExposure;
    QVector<ParamWrap*>& retiredParamItems;

    // Device-life steps; each expects deviceMutex held, as inside the camera.
    bool CameraStart() { return camera.CameraStart(); }
    void CameraStop() { camera.CameraStop(); }
    void readBackGeometry() { camera.readBackGeometry(); }
    // One timeout of the reconnect timer.
    void onReconnectTimer() { camera.onReconnectTimer(); }

    // The SDK's callbacks, called as the SDK calls them.
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
