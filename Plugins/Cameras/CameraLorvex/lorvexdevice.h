// lorvexdevice.h - the one owner of a camera's device: its SDK handle, its
// state, and every SDK call on the handle but the frame path's per-frame
// conversion.
//
// The camera object (the façade the host sees) asks for operations; the
// device runs them one at a time, tells the camera what happened through
// DeviceEvents once the operation has ended, and answers short accesses
// (a trigger, a feature read or write) only while the state allows them.
//
// Files: lorvexdevice.cpp (the turn, the operations, stop, start and close),
// devicestate.h/.cpp (the state table), deviceopen.cpp (the open's steps),
// devicereadback.cpp (the geometry read-back), deviceaccess.cpp (the short
// accesses).
//
// ---------------------------------------------------------------------------
// One operation at a time
//
//   Operations: open (createCamera), restart, restore (the device part of
//   deserialize/loadParams), close, reopen (the reconnect task), the loss
//   handling of a disconnect notice, and shut-down (the destructor).
//
//   - A call from a thread while no operation runs runs its operation there.
//   - A call from the thread that runs an operation (a host slot run by the
//     event loop of a stop's or close's pause) is queued and returns at once;
//     the running operation runs it before its own call returns.
//   - A call from another thread waits its turn, then runs.
//   - A disconnect notice never waits (the SDK's destroy waits for its
//     callback): it is queued when an operation runs, and run on the
//     notice's own thread otherwise.
//   - Queued operations coalesce: one of each kind waits at a time. A close
//     (or the shut-down) drops everything queued before it and is final:
//     a lost camera closed by its host is not reopened.
//   - DeviceEvents are told after the last queued operation ended, with no
//     lock of the plug-in held, on the thread that ran them. A loss is told
//     before any reopen may start (reconnectDue()).
//
// The states and their transitions: devicestate.h. Every transition goes
// through transition(), which refuses (with a warning) one the table does not
// hold.
//
// Threads (letters as in cameralorvex.h) and what guards each member
//   state                        H, I, E, P   atomic; written only by the
//      thread that runs the operation (the runner), under handleMutex
//   devHandle                    H, I, E, P   handleMutex; the runner writes
//   generation                   H, E, P      atomic, written under
//      handleMutex; read by a notice, which must not wait for that lock
//   bMonoSensor, pixelType       H, E, P      panelMutex
//   queue: runner, pending, untold, lossesUntold, reconnectOwed, finished
//                                H, E, P      requestMutex
//   the panel's device fields (geometry, limits) in CameraBase
//                                H, I, P      panelMutex for writers off H and
//      for the interface's reads
//
// Locks, in rank order (lockrank.h; take lower before higher):
//   the host's cameraMutex (HostLock) -> the device turn (DeviceTurn, a wait)
//   -> handleMutex (Handle) -> deviceTableMutex (DeviceTable) -> panelMutex
//   (Panel) -> the frame path's formatMutex (Format) -> requestMutex
//   (Requests, a leaf)
//   Code that may run under cameraMutex (the trigger, feature accesses,
//   paramsChanged, a frame asking for its format) only tries handleMutex and
//   treats a busy handle as a busy device. The runner never takes cameraMutex
//   and holds handleMutex only between pauses, never across one.
// ---------------------------------------------------------------------------
#ifndef LORVEXDEVICE_H
#define LORVEXDEVICE_H

#include <QThread>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "MVCameraControl.h"
#include "cameraparams.h"
#include "devicestate.h"
#include "framepath.h"
#include "lockrank.h"

// What the device tells its camera. Called on the thread that ran the
// operation, after it ended, with no lock of the plug-in held (formatChanged
// excepted: it comes during a read-back, under the handle lock).
class DeviceEvents
{
public:
    virtual void deviceLost() = 0;
    virtual void deviceReconnected() = 0;
    virtual void formatChanged(const FrameFormat& format, const MV_CC_PIXEL_CONVERT_PARAM& convert) = 0;

protected:
    ~DeviceEvents() = default;
};

// The SDK callbacks the device registers at every open, with their user pointer.
struct DeviceCallbacks {
    void(MV_CC_CALL* image)(unsigned char*, MV_FRAME_OUT_INFO_EX*, void*);
    void(MV_CC_CALL* exception)(unsigned int, void*);
    void* user;
};

class LorvexDevice
{
public:
    LorvexDevice(CameraBase& settings, FramePath& frames, DeviceEvents& events, DeviceCallbacks callbacks);
    LorvexDevice(const LorvexDevice&) = delete;
    LorvexDevice& operator=(const LorvexDevice&) = delete;

    // ---- operations (any thread; see the rules above) ----
    void open();
    void restart();
    void restore();
    void close();
    void reopen();
    void noticeDisconnect();
    // Final: stops and closes the device, and nothing runs after it.
    void shutDown();

    // ---- short accesses (any thread, cameraMutex may be held) ----
    // Each runs only while the device is open and no operation holds its
    // handle; otherwise it answers Busy (an open or close in progress) or
    // Closed (no open device), and the SDK is left alone.
    enum class Access { Granted, Busy, Closed };
    // The software trigger: `prepare` runs first, under the handle lock, and
    // says whether the device is to be fired.
    Access softTrigger(const std::function<bool()>& prepare);
    // The exposure time in the device's microseconds: the SDK's status, or
    // `closedStatus` when the device could not be reached.
    int writeExposureTime(float microseconds, int closedStatus);
    // Whether the device's "TriggerMode" reads 0 (off); false when it cannot.
    bool triggerModeOff();
    // The geometry read-back of paramsChanged and of a frame with no format.
    void readBackIfFree();

    // ---- answers ----
    DeviceState state() const { return currentState; }
    bool isOpen() const { return deviceIsOpen(currentState); }
    // A lost camera whose loss was told, or one opened by another path while
    // its loss is still unanswered: the reconnect task has work.
    bool reconnectDue();
    // The camera counts as lost to its host: lost now, or a CameraReconnect
    // still owed.
    bool lossOutstanding();
    bool monoSensor();
    // The first colour format the device offers, or -1.
    int pixelFormat();
    // The panel's device fields are written under this lock.
    lorvex::RankedMutex& panelLock() { return panelMutex; }

private:
    enum class Op { Open, Restart, Restore, Close, Reopen, Loss, ShutDown };
    struct Request {
        Op op;
        unsigned int generation = 0;  // Loss: the handle the notice was about
    };
    enum class Told { Lost, Reconnected };

    // The turn.
    class RequestLock;
    void request(Request request);
    // Queues a nested call or a notice (false), or waits for the turn and
    // takes it with the request queued (true).
    bool takeTurn(RequestLock& lock, const Request& request);
    void enqueue(Request request);
    void drain();
    void tell(const QVector<Told>& events);
    void run(const Request& request);

    // The operations' bodies; each runs with the turn held.
    void runOpen();
    void runRestart();
    void runRestore();
    void runClose();
    void runReopen();
    void runLoss(unsigned int generation);
    void runShutDown();

    // Steps of the operations (deviceopen.cpp, devicereadback.cpp, lorvexdevice.cpp).
    bool openDevice();                // Closed or Lost -> Open; a failure -> Lost (told)
    bool selectAndOpen(int& position);
    int createHandleForSerial(int& status);
    void readLimits();
    void choosePixelFormat();
    bool bringUp();                   // read-back and start: Open -> Grabbing
    void bringUpOrLose();             // a refused start closes the device: -> Lost
    void closeForGood();              // -> Closed, whatever the state; no reconnect owed
    void reconnected();               // a CameraReconnect to tell; no reconnect owed
    bool startGrabbing();
    void closeDevice(DeviceState to); // Open or Grabbing -> Closing -> to
    void readBackGeometry();          // expects handleMutex held
    bool transition(DeviceState to);  // expects handleMutex held

    static void pauseWithEvents(int ms);
    // Runs use() with the handle lock held while the device is open.
    template <typename Use>
    Access access(Use&& use);

    CameraBase& settings;
    FramePath& frames;
    DeviceEvents& events;
    const DeviceCallbacks callbacks;

    lorvex::RankedMutex handleMutex{lorvex::LockRank::Handle, "handleMutex"};
    std::atomic<DeviceState> currentState{DeviceState::Closed};
    void* devHandle = nullptr;
    // Handles that got as far as their callbacks: an SDK may give a new
    // handle the address of one it destroyed.
    std::atomic<unsigned int> generation{0};

    lorvex::RankedMutex panelMutex{lorvex::LockRank::Panel, "panelMutex"};
    int bMonoSensor = 0;
    int pixelType = -1;

    // A standard mutex and condition: waits for the turn must be visible to
    // the thread sanitizer, which cannot see into Qt's own condition waits.
    std::mutex requestMutex;
    std::condition_variable turnFree;
    Qt::HANDLE runner = nullptr;
    QVector<Request> pending;
    QVector<Told> untold;
    int lossesUntold = 0;
    bool reconnectOwed = false;
    bool finished = false;  // shut down: every later request does nothing
};

#endif // LORVEXDEVICE_H
