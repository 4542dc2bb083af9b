// cameralorvex.h - the plug-in's camera class.
//
// One class faces the host. Its work is split by concern into source files:
//   cameralorvex.cpp   identity and small interface answers, construction, teardown
//   devicetable.cpp    process-wide accepted-device table, enumeration, factory
//   lorvexdevice.h/.cpp LorvexDevice: the device's one owner; its turn and
//                      operations (open, restart, restore, close, reopen,
//                      loss), with deviceopen.cpp and devicereadback.cpp
//   devicestate.h/.cpp the device's states and their transition table
//   lockrank.h/.cpp    lock ranks, checked in test builds
//   framepath.h/.cpp   FramePath: one SDK frame to one captureCompleted; owns
//                      the frame format, conversion, buffers and numbering
//   framebuffers.cpp   recycled image buffers of the frame path
//   clockreads.cpp     cheap reads of the local clock for the frame path
//   triggering.cpp     software trigger, continuous-mode query
//   triggercodes.h     the host's trigger-type codes, named once for the plug-in and the hosts
//   serialrule.h       the serial numbers the plug-in never opens, for the plug-in and the hosts
//   recovery.cpp       the SDK's callbacks, reconnect timer and task
//   exposure.cpp       parameter changes, exposure configurations, quick adjust
//   camerabase.cpp, paramwrap.cpp   the parameter panel and its JSON form
//   platform/          readability probe and fault-guarded copy, per platform
//
// The host sees the interface and the panel; everything else is private.
// Tests and benchmarks reach it through CameraLorvexProbe, the one friend.
//
// ---------------------------------------------------------------------------
// Threads that touch a camera object
//   H  the host's thread that created it: every interface call, the factory,
//      the destructor, and reconnectTimer (which needs H's event loop).
//   I  the SDK's image-callback thread: ImageCallBack, emits captureCompleted.
//   E  the SDK's exception thread: ExceptionImageCallBack; emits CameraLoss
//      when it settles the loss itself.
//   P  a thread of QThreadPool::globalInstance(): the reconnect task, emits
//      CameraReconnect (and CameraLoss when a reopen fails).
//
// The device's life has one owner, LorvexDevice (lorvexdevice.h): it runs
// one device operation at a time (open, restart, restore, close, reopen, the
// loss of a disconnect notice), makes every SDK call on the handle but the
// frame path's conversion, and tells this object what happened through
// DeviceEvents once the operation has ended, with no lock held: CameraLoss
// and CameraReconnect are emitted then, the state already changed. The
// device's states: devicestate.h.
//
// No wait that can close a circle. The SDK's stop, close and destroy wait for
// a running callback of their handle. So:
//   - the image callback waits for cameraMutex only while no stop is pending
//     (framepath.h): the host may hold cameraMutex around any call,
//     closeCamera and restartCamera included;
//   - the exception callback never waits: its notice is queued to the device
//     when an operation runs;
//   - no operation takes cameraMutex, and no signal is emitted under a lock
//     of the plug-in (captureCompleted excepted: it is emitted under
//     cameraMutex, as hosts rely on).
//
// Locks, in rank order (lockrank.h; a test build with LORVEX_LOCK_CHECK
// aborts on any other order):
//   cameraMutex (HostLock, getMutex()) -> the device's turn (DeviceTurn)
//   -> handleMutex (Handle) -> deviceTableMutex (DeviceTable) -> panelMutex
//   (Panel) -> formatMutex (Format) -> the frame pool's (FramePool);
//   requestMutex (Requests) and liveCamerasMutex (LiveCameras) are leaves.
//
//   cameraMutex (QMutex): held by I for a whole frame and by paramsChanged,
//      the one host call that takes it itself. The host holds it around its
//      writes of isRunning and its calls of setTrigParams and softTrigger,
//      and may hold it around any other call. Code that may run under it
//      (softTrigger, isContinuousMode, selectExposure, paramsChanged, a frame
//      asking for its format) only tries the device's handle lock and treats
//      a busy device as busy or closed; a host call that asks for a device
//      operation under it waits its turn, which never needs cameraMutex.
//   liveCamerasMutex (process-wide, recovery.cpp): the set of live camera
//      objects, checked by the exception callback before it uses its user
//      pointer; never held while another lock is taken.
//   deviceTableMutex (process-wide, devicetable.cpp): enumeration, the
//      acceptance filter, listedDeviceCount and the selection by serial
//      number up to the creation of the handle.
//
// Shared members, who touches them, what guards them
//   isRunning, productCounter, cycleCapture, cycleProduct, cycleTimer,
//   triggerCallback, lastFrameTime (CameraInterface), *trigParams
//                                             H, I         cameraMutex
//   framePath (framepath.h), cameraDevice (lorvexdevice.h)   their own notes
//   width, height, offsets, mirror flags, channels, matType and the limits
//   read at open (CameraBase)                 H, I, E, P  the device's
//      panelMutex for writers off H and for the interface's reads; the
//      host's own reads through item pointers happen on H, between its calls.
//      The rest of the panel is H's.
//   bShuttingDown, exceptionCallsInFlight     E, H, P   atomic (the count is
//      raised only under liveCamerasMutex, after the membership check)
//   reconnectFuture, reconnectTimer           H only
// ---------------------------------------------------------------------------
#ifndef CAMERALORVEX_H
#define CAMERALORVEX_H

#include <QFuture>
#include <QJsonObject>
#include <QMutex>
#include <QTimer>

#include <atomic>

#include "MVCameraControl.h"
#include "camerainterface.h"
#include "cameraparams.h"
#include "lorvexdevice.h"
#include "framepath.h"

class CameraLorvex : public CameraInterface, public CameraBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.zeq.quorlan.camerainterface.CameraLorvex")
    Q_INTERFACES(CameraInterface)

public:
    CameraLorvex();
    ~CameraLorvex() override;

    // SerializeInterface
    void deserialize(const QJsonObject& json) override;
    void serialize(QJsonObject& json) override;

    // PluginInterface
    QString getPluginID() override;
    QString getPluginName() override;
    QString getVersion() override;
    QString getHelpText() override;
    QPixmap getIcon() override;
    QVector<ParamWrap*>* getParamItems() override;
    bool hostFlagQuery() override;
    quint64 hostObjectQuery() override;

    // CameraInterface
    QString getSerialNumber() override;
    void paramsChanged() override;
    QSize getImageSize() override;
    int getChannels() override;
    void softTrigger(int productId, int triggerIndex, std::function<void()> callback) override;
    CameraInterface* createCamera(int cameraIndex, QString serialNumber, int deviceIndex) override;
    QVector<QString> getCameraList(int& count) override;
    bool hasCapabilityA() override;
    int getTriggerTypeMask() override;
    void setTrigParams(CameraTrigParams* params) override;
    void hostHookA() override;
    bool isContinuousMode() override;
    void saveParams() override;
    void loadParams() override;
    void setExposureCount(int count) override;
    bool hasCapabilityB() override;
    QMutex* getMutex() override;
    cv::Mat getBlankImage() override;
    void hostHookB() override;
    void closeCamera() override;
    void restartCamera() override;
    QVector<AdjustItem> getAdjustItems() override;
    int selectExposure(int index) override;
    void setExposureValue(int index, float& value) override;
    float getExposureValue(int index) override;

    // Enumerate with the acceptance filter into the process-wide table.
    static int EnumAcceptedDevices();

    // Upper bound of exposure configurations: a count above it would ask for
    // more memory than a host can give and is refused with a warning.
    static constexpr int kMaxExposureCount = 4096;

private:
    // Tests and benchmarks reach the internals below through this probe only.
    friend class CameraLorvexProbe;

    // The SDK's callbacks; `pUser` is the camera object.
    static void MV_CC_CALL ImageCallBack(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user);
    static void MV_CC_CALL ExceptionImageCallBack(unsigned int nMsgType, void* pUser);

    // What the device tells the camera: the signals, and the frame format.
    // A member rather than a base: the host's view of the class's bases
    // stays as it is.
    class Events final : public DeviceEvents
    {
    public:
        explicit Events(CameraLorvex& camera) : camera(camera) {}
        void deviceLost() override;
        void deviceReconnected() override;
        void formatChanged(const FrameFormat& format, const MV_CC_PIXEL_CONVERT_PARAM& convert) override;

    private:
        CameraLorvex& camera;
    };

    // The reconnect timer's handler. A plain member, not a slot: the class
    // adds no methods of its own to its meta-object.
    void onReconnectTimer();
    void reconnectTask();
    // The software trigger's numbering on an open device (triggering.cpp);
    // true when the trigger type fires the device.
    bool primeForTrigger(int productId, int triggerIndex, std::function<void()> callback);
    // The process-wide set of live cameras that the exception callback checks
    // its user pointer against (recovery.cpp).
    static void registerLiveCamera(const CameraLorvex* camera);
    static void unregisterLiveCamera(const CameraLorvex* camera);

    // Own members, in this order.
    CameraTrigParams* trigParams = nullptr;
    QMutex cameraMutex;
    QJsonObject storedParams;
    QTimer* reconnectTimer = nullptr;
    QFuture<void> reconnectFuture;

    // Format, conversion, buffers, numbering and emission of frames.
    FramePath framePath{FrameHost{*this, cameraMutex, cameraIndex, trigParams, [this] { cameraDevice.readBackIfFree(); }}};
    Events deviceEvents{*this};
    // The device's one owner.
    LorvexDevice cameraDevice{*this, framePath, deviceEvents, DeviceCallbacks{ImageCallBack, ExceptionImageCallBack, this}};

    // Teardown coordination with the exception thread.
    std::atomic<bool> bShuttingDown{false};
    std::atomic<int> exceptionCallsInFlight{0};

    // What the quick-adjust exposure entry points at while there is no
    // exposure configuration at all: a value of the camera's own.
    float detachedExposure = 0.0f;

    // Items superseded by a panel rebuild: a host may still hold pointers to
    // them, so they live until the camera does.
    QVector<ParamWrap*> retiredParamItems;
};

#endif // CAMERALORVEX_H
