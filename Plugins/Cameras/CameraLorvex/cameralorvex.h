// cameralorvex.h - the plug-in's camera class.
//
// One class faces the host. Its work is split by concern into source files:
//   cameralorvex.cpp   identity and small interface answers, construction, teardown
//   devicetable.cpp    process-wide accepted-device table, enumeration, factory
//   lorvexdevice.h/.cpp LorvexDevice: the SDK handle and the device's state
//   devicelife.cpp     open, geometry read-back, start, stop, close, restart
//   framepath.h/.cpp   FramePath: one SDK frame to one captureCompleted; owns
//                      the frame format, conversion, buffers and numbering
//   framebuffers.cpp   recycled image buffers of the frame path
//   clockreads.cpp     cheap reads of the local clock for the frame path
//   triggering.cpp     software trigger, continuous-mode query
//   triggertypes.h     the host's trigger-type codes, named
//   recovery.cpp       exception callback, reconnect timer and task
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
//   E  the SDK's exception thread: ExceptionImageCallBack, emits CameraLoss.
//   P  a thread of QThreadPool::globalInstance(): the reconnect task, emits
//      CameraReconnect (and CameraLoss when a reopen fails).
//
// No wait that can close a circle. The SDK's stop, close and destroy wait for
// a running callback of their handle. So no thread makes such a call while
// the callback it waits for may be waiting for a lock that the caller, or the
// host above it, holds:
//   - the image callback waits for cameraMutex only while no stop is pending:
//     every stop, close and destroy announces itself (a FramePath::
//     StopAnnouncement) before it calls the SDK, and a frame that finds
//     cameraMutex busy meanwhile is dropped with a warning and counted, never
//     waited for (framepath.h). The host may hold cameraMutex around any call that changes the
//     camera, closeCamera and restartCamera included.
//   - the exception callback never waits for deviceMutex without bound: a
//     device operation that holds it takes the notice over (DeviceOperation).
//   - nothing under deviceMutex waits for cameraMutex; code that may run under
//     cameraMutex only tries deviceMutex (DeviceTryLock).
//
// The device's states and their transitions: lorvexdevice.h (LorvexDevice, owned
// as cameraDevice, under deviceMutex).
//
// Locks, in the only order in which they may be nested (take left before right):
//
//   deviceMutex  ->  deviceTableMutex (process-wide)
//   deviceMutex  ->  cameraMutex  ->  geometryMutex  ->  the frame path's
//                                                       formatMutex
//   deviceMutex  ->  lossMutex
//   cameraMutex, deviceMutex  ->  the frame pool's own mutex
//
//   cameraMutex (QMutex, getMutex()): held by I for a whole frame and by
//      paramsChanged, the one host call that takes it itself. The host holds
//      it around its writes of isRunning and its calls of setTrigParams and
//      softTrigger, and may hold it around any other call that changes the
//      camera (loadParams, deserialize, setExposureCount, ...): none of those
//      takes it, and neither do the open, the geometry read-back, start, stop
//      and close. What they share with the frame path is guarded otherwise
//      (the frame path's format by its own lock, its numbering atomic).
//   deviceMutex (QRecursiveMutex): the life of the device handle. Held across
//      every open, start, stop and close, and across every SDK call that uses
//      devHandle outside the frame path. Never taken by I. The close path holds
//      it while MV_CC_StopGrabbing waits for a running image callback, and that
//      callback waits for cameraMutex; so code that may run while cameraMutex
//      is held (softTrigger, isContinuousMode, selectExposure, paramsChanged)
//      only tries it and behaves as on a closed camera when it is busy. It is
//      recursive because the pauses of stop and close run a nested event loop
//      on H, in which a queued host slot may call back into the camera.
//      The SDK's handle destruction waits for a running exception callback, so
//      E never waits for it without bound: while a device operation (close,
//      restart, restore, reopen; see DeviceOperation) holds it, E leaves the
//      notice to that operation and returns.
//   lossMutex (QMutex, leaf): deviceOperations and the deferred disconnect
//      notice, between E and the thread of the device operation.
//   geometryMutex (QMutex): the device-derived panel fields that an open or a
//      read-back writes (geometry, format, limits) against the reads of the
//      size queries and getAdjustItems. A read-back hands the frame path its
//      new format under it (FramePath::setFormat takes the leaf formatMutex).
//   FrameBufferPool's own mutex (leaf): I hands buffers out under cameraMutex,
//      the stop (H, E, P) releases the free ones under deviceMutex.
//   liveCamerasMutex (process-wide QMutex, leaf, recovery.cpp): the set of
//      live camera objects, checked by the exception callback before it uses
//      its user pointer; never held while another lock is taken.
//   deviceTableMutex (process-wide QMutex, devicetable.cpp): enumeration, the
//      acceptance filter, listedDeviceCount and the selection by serial number
//      up to the creation of the handle.
//
// Shared members (declared below unless noted), who touches them, what guards them
//   isRunning, productCounter, cycleCapture, cycleProduct, cycleTimer,
//   triggerCallback, lastFrameTime (CameraInterface), *trigParams
//                                             H, I         cameraMutex
//   framePath (its own notes in framepath.h)  H, I, E, P
//   cameraDevice (its own notes in lorvexdevice.h)  H, I, E, P   deviceMutex
//   bMonoSensor, pixelType                    H, E, P      deviceMutex
//   deviceOperations, deferredLoss, deferredGeneration   H, E, P  lossMutex
//   width, height, offsets, mirror flags, channels, matType and the limits
//   read at open (CameraBase)                 H, P     geometryMutex for writers
//      off H and for the interface's reads; the host's own reads through item
//      pointers happen on H, between its calls. The rest of the panel is H's.
//   bShuttingDown, exceptionCallsInFlight     E, H      atomic (the count is
//      raised only under liveCamerasMutex, after the membership check)
//   reconnectFuture, reconnectTimer           H only
//   acceptedDevices, listedDeviceCount (devicetable.cpp)  H, P  deviceTableMutex
// ---------------------------------------------------------------------------
#ifndef CAMERALORVEX_H
#define CAMERALORVEX_H

#include <QFuture>
#include <QJsonObject>
#include <QMutex>
#include <QRecursiveMutex>
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
    // The frame path uses the host's lock, the trigger parameters and the
    // handle for the conversion.
    friend class FramePath;

    // The SDK's callbacks; `pUser` is the camera object.
    static void MV_CC_CALL ImageCallBack(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user);
    static void MV_CC_CALL ExceptionImageCallBack(unsigned int nMsgType, void* pUser);

    // Device-life steps. Each expects deviceMutex held by the caller.
    void CameraOpen();
    void readBackGeometry();
    // True when grabbing started; false on a closed camera or a refusal.
    bool CameraStart();
    void CameraStop();
    void CameraClose();

    // One reopen attempt of the reconnect task; expects deviceMutex held.
    // Attempts nothing unless the camera is lost.
    bool CameraReopen();

    // Holds deviceMutex for one host or reconnect operation that may destroy
    // the device handle. A disconnect notice that comes meanwhile is left to
    // the operation, which settles it before it lets the device go: the
    // camera ends lost when the device is gone and not open again.
    class DeviceOperation
    {
    public:
        // What the operation leaves: the host's close leaves the camera
        // closed for good, whatever notice comes meanwhile; every other
        // operation leaves it open or lost.
        enum class Ends { OpenOrLost, Closed };
        explicit DeviceOperation(CameraLorvex& camera, Ends ends = Ends::OpenOrLost);
        ~DeviceOperation();
        DeviceOperation(const DeviceOperation&) = delete;
        DeviceOperation& operator=(const DeviceOperation&) = delete;
        // Settles the notices that came so far; the operation goes on.
        void settle() { settleNotices(false); }

    private:
        void settleNotices(bool finishing);
        CameraLorvex& camera;
        Ends ends;
    };

    // The reconnect timer's handler. A plain member, not a slot: the class
    // adds no methods of its own to its meta-object.
    void onReconnectTimer();

    // Runs a local event loop for `ms` milliseconds on the calling thread.
    static void pauseWithEvents(int ms);
    // Opens the device when asked, reads the geometry back and starts
    // grabbing: the one way every path brings a device to delivering frames.
    // True when it is grabbing. Expects deviceMutex held.
    enum class OpenFirst { No, Yes };
    bool bringUpDevice(OpenFirst open);
    // Stop, then close: what closeCamera does, for callers that hold
    // deviceMutex already.
    void stopAndClose();
    // Marks the camera lost: CameraLoss, then the flag.
    void markLost();
    // Brings the device up and makes a refused start a loss: the device is
    // closed, the camera lost, and the reconnect tries again. Expects
    // deviceMutex held.
    void bringUpOrLose(OpenFirst open);
    // Gives up an open device that would not grab: closed, then lost.
    void loseRefusedStart();
    // A disconnect notice left to a device operation: closes the handle it
    // was about, if that is still the open one, and marks the camera lost
    // unless it ended open.
    void settleDeferredLoss(unsigned generation);
    // CameraOpen's parts.
    bool selectAndOpen();
    void readLimits();
    void choosePixelFormat();
    // Selects the device by serial number and creates its handle; returns the
    // table position, -1 when not found, -2 when the handle was not created.
    int createHandleForSerial(int& status);
    void reconnectTask();
    // The process-wide set of live cameras that the exception callback checks
    // its user pointer against (recovery.cpp).
    static void registerLiveCamera(const CameraLorvex* camera);
    static void unregisterLiveCamera(const CameraLorvex* camera);

    // Own members, in this order.
    int bMonoSensor = 0;
    CameraTrigParams* trigParams = nullptr;
    int pixelType = -1;
    QMutex cameraMutex;
    QJsonObject storedParams;
    QTimer* reconnectTimer = nullptr;
    QFuture<void> reconnectFuture;

    QRecursiveMutex deviceMutex;
    QMutex geometryMutex;

    // The SDK handle and the state of the device (lorvexdevice.h).
    LorvexDevice cameraDevice;
    QMutex lossMutex;
    int deviceOperations = 0;          // DeviceOperation nesting depth
    bool deferredLoss = false;         // a notice came during an operation
    unsigned int deferredGeneration = 0;

    // Format, conversion, buffers, numbering and emission of frames.
    FramePath framePath{*this};

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
