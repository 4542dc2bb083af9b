// The device's turn (one operation at a time), its operations, and the
// stop, start and close steps they share. The open's steps live in
// deviceopen.cpp, the geometry read-back in devicereadback.cpp.
#include "lorvexdevice.h"
#include "devicetable.h"

#include <QEventLoop>
#include <QTimer>

namespace {

// The pauses of stop and close, in which the device settles. They run the
// calling thread's event loop: a host's events are delivered meanwhile.
constexpr int kStopPauseMs = 10;
constexpr int kClosePauseMs = 200;

} // namespace

// Holds requestMutex, ranked as the leaf it is.
class LorvexDevice::RequestLock
{
public:
    explicit RequestLock(std::mutex& mutex) : held(mutex, std::defer_lock) { relock(); }
    ~RequestLock()
    {
        if (held.owns_lock())
            unlock();
    }
    RequestLock(const RequestLock&) = delete;
    RequestLock& operator=(const RequestLock&) = delete;
    void unlock()
    {
        lorvex::lockcheck::released(held.mutex());
        held.unlock();
    }
    void relock()
    {
        lorvex::lockcheck::acquiring(lorvex::LockRank::Requests, kName);
        held.lock();
        lorvex::lockcheck::acquired(held.mutex(), lorvex::LockRank::Requests, kName);
    }
    // The turn's wait; the lock is held again when it returns.
    template <typename Done>
    void waitUntil(std::condition_variable& condition, Done done)
    {
        condition.wait(held, done);
    }

private:
    static constexpr const char* kName = "requestMutex";
    std::unique_lock<std::mutex> held;
};

LorvexDevice::LorvexDevice(CameraBase& settings, FramePath& frames, DeviceEvents& events, DeviceCallbacks callbacks)
    : settings(settings), frames(frames), events(events), callbacks(callbacks)
{
}

// ---- operations ----------------------------------------------------------------

void LorvexDevice::open() { request({Op::Open}); }
void LorvexDevice::restart() { request({Op::Restart}); }
void LorvexDevice::restore() { request({Op::Restore}); }
void LorvexDevice::close() { request({Op::Close}); }
void LorvexDevice::reopen() { request({Op::Reopen}); }
void LorvexDevice::shutDown() { request({Op::ShutDown}); }

void LorvexDevice::noticeDisconnect()
{
    // Read without the handle lock: an operation may hold it while the SDK's
    // destroy waits for this very notice to return.
    request({Op::Loss, generation.load()});
}

// ---- the turn ------------------------------------------------------------------

void LorvexDevice::request(Request asked)
{
    const bool notice = asked.op == Op::Loss;
    // Checked whether or not this call has to wait: a caller that holds a
    // lock ranked after the turn would close a circle the day it does.
    if (!notice)
        lorvex::lockcheck::acquiring(lorvex::LockRank::DeviceTurn, "the device's turn");
    RequestLock lock(requestMutex);
    if (!takeTurn(lock, asked))
        return;
    while (!pending.isEmpty()) {
        const Request next = pending.takeFirst();
        lock.unlock();
        run(next);
        lock.relock();
    }
    runner = nullptr;
    QVector<Told> toTell;
    toTell.swap(untold);
    turnFree.notify_all();
    lock.unlock();
    tell(toTell);
}

bool LorvexDevice::takeTurn(RequestLock& lock, const Request& asked)
{
    const Qt::HANDLE me = QThread::currentThreadId();
    if (finished)
        return false;
    // Nested in a running operation (a slot run by a pause), or a notice
    // that must not wait: the running operation takes it over.
    if (runner == me || (asked.op == Op::Loss && runner)) {
        enqueue(asked);
        return false;
    }
    lock.waitUntil(turnFree, [this] { return runner == nullptr; });
    if (finished)
        return false;
    runner = me;
    enqueue(asked);
    return true;
}

void LorvexDevice::enqueue(Request asked)
{
    if (!pending.isEmpty() && pending.last().op == Op::ShutDown)
        return;
    // A close wins over everything asked before it.
    if (asked.op == Op::Close || asked.op == Op::ShutDown) {
        pending.clear();
        pending.append(asked);
        return;
    }
    for (const Request& waiting : qAsConst(pending))
        if (waiting.op == asked.op && waiting.generation == asked.generation)
            return;
    pending.append(asked);
}

void LorvexDevice::tell(const QVector<Told>& toTell)
{
    for (Told event : toTell) {
        if (event == Told::Lost) {
            events.deviceLost();
            RequestLock lock(requestMutex);
            --lossesUntold;
        } else {
            events.deviceReconnected();
        }
    }
}

void LorvexDevice::run(const Request& asked)
{
    switch (asked.op) {
    case Op::Open: runOpen(); break;
    case Op::Restart: runRestart(); break;
    case Op::Restore: runRestore(); break;
    case Op::Close: runClose(); break;
    case Op::Reopen: runReopen(); break;
    case Op::Loss: runLoss(asked.generation); break;
    case Op::ShutDown: runShutDown(); break;
    }
}

// ---- the operations' bodies -------------------------------------------------------

void LorvexDevice::runOpen()
{
    const DeviceState now = currentState;
    if (now == DeviceState::Closed || now == DeviceState::Lost)
        openDevice();
}

void LorvexDevice::runRestart()
{
    closeDevice(DeviceState::Closed);
    if (openDevice())
        bringUpOrLose();
}

void LorvexDevice::runRestore()
{
    const DeviceState now = currentState;
    if (!deviceIsOpen(now))
        return;
    {
        lorvex::RankedLocker panel(panelMutex);
        settings.channels = (bMonoSensor || !settings.colorImage) ? 1 : 3;
    }
    // A device already grabbing is only read back: a second start would be
    // refused, and that refusal is no loss.
    if (now == DeviceState::Grabbing) {
        lorvex::RankedLocker handle(handleMutex);
        readBackGeometry();
        return;
    }
    bringUpOrLose();
}

void LorvexDevice::runClose()
{
    closeForGood();
}

void LorvexDevice::runReopen()
{
    {
        RequestLock lock(requestMutex);
        // A reopen never starts before the loss it answers was told.
        if (lossesUntold > 0 || !reconnectOwed)
            return;
    }
    const DeviceState now = currentState;
    // Opened meanwhile by another path (a restart): the live handle is
    // neither replaced nor opened twice; the camera is simply back.
    if (deviceIsOpen(now)) {
        reconnected();
        return;
    }
    if (now != DeviceState::Lost)
        return;
    {
        lorvex::RankedLocker table(lorvex::deviceTableMutex());
        lorvex::enumAcceptedDevicesLocked();
        if (static_cast<int>(lorvex::acceptedDevices().nDeviceNum) != lorvex::listedDeviceCount())
            return;
    }
    if (!openDevice())
        return;
    // A device that opens but will not grab would stay silent while the host
    // believes it back: give it up, tell the loss, try at the next timeout.
    if (!bringUp()) {
        if (isOpen()) {
            qWarning() << "Camera" << settings.cameraIndex
                       << "reopened but refused to start grabbing; closed, retried later";
            closeDevice(DeviceState::Lost);
        }
        return;
    }
    reconnected();
}

void LorvexDevice::runLoss(unsigned int noticeGeneration)
{
    // Only the handle the notice was about is gone: one closed meanwhile, or
    // replaced by a new open, has nothing left to lose.
    if (!isOpen() || generation.load() != noticeGeneration)
        return;
    closeDevice(DeviceState::Lost);
}

void LorvexDevice::runShutDown()
{
    closeForGood();
    RequestLock lock(requestMutex);
    finished = true;
    pending.clear();
}

// ---- shared steps ------------------------------------------------------------------

void LorvexDevice::bringUpOrLose()
{
    if (bringUp() || !isOpen())
        return;
    qWarning() << "Camera" << settings.cameraIndex << "refused to start grabbing; closed, retried later";
    closeDevice(DeviceState::Lost);
}

void LorvexDevice::closeForGood()
{
    closeDevice(DeviceState::Closed);
    // A close is final: a lost camera closed by its host is not reopened.
    if (currentState == DeviceState::Lost) {
        lorvex::RankedLocker handle(handleMutex);
        transition(DeviceState::Closed);
    }
    RequestLock lock(requestMutex);
    reconnectOwed = false;
}

void LorvexDevice::reconnected()
{
    qInfo() << "Successfully reopening camera" << settings.cameraIndex;
    RequestLock lock(requestMutex);
    untold.append(Told::Reconnected);
    reconnectOwed = false;
}

bool LorvexDevice::bringUp()
{
    lorvex::RankedLocker handle(handleMutex);
    readBackGeometry();
    return startGrabbing();
}

bool LorvexDevice::startGrabbing()
{
    if (currentState != DeviceState::Open)
        return false;
    qInfo() << "CameraLorvex CameraStart";
    // Before the start: its first frame may arrive before the call returns.
    frames.resetNumbering();
    const int status = MV_CC_StartGrabbing(devHandle);
    if (status != MV_OK) {
        qWarning() << "CameraLorvex MV_CC_StartGrabbing: " << status;
        return false;
    }
    qInfo() << "CameraLorvex MV_CC_StartGrabbing: " << 0;
    return transition(DeviceState::Grabbing);
}

void LorvexDevice::closeDevice(DeviceState to)
{
    {
        lorvex::RankedLocker handle(handleMutex);
        if (!isOpen())
            return;
        transition(DeviceState::Closing);
        qInfo() << "CameraLorvex CameraStop";
        int status = MV_OK;
        {
            FramePath::StopAnnouncement stopping(frames);
            status = MV_CC_StopGrabbing(devHandle);
        }
        if (status == MV_OK)
            qInfo() << "CameraLorvex MV_CC_StopGrabbing: " << 0;
        else
            qWarning() << "CameraLorvex MV_CC_StopGrabbing: " << status;
        MV_CC_ClearImageBuffer(devHandle);
        frames.releaseIdleBuffers();
    }
    pauseWithEvents(kStopPauseMs);
    pauseWithEvents(kClosePauseMs);
    lorvex::RankedLocker handle(handleMutex);
    frames.useHandle(nullptr);
    {
        FramePath::StopAnnouncement stopping(frames);
        MV_CC_CloseDevice(devHandle);
        MV_CC_DestroyHandle(devHandle);
    }
    devHandle = nullptr;
    transition(to);
}

bool LorvexDevice::transition(DeviceState to)
{
    const DeviceState from = currentState;
    if (!transitionAllowed(from, to)) {
        qWarning() << "Camera" << settings.cameraIndex << "device state: refused to go from" << stateName(from)
                   << "to" << stateName(to);
        return false;
    }
    qDebug() << "Camera" << settings.cameraIndex << "device state:" << stateName(from) << "->" << stateName(to);
    currentState = to;
    // The state changes first, then the world is told: once the operation
    // has ended, with no lock held.
    if (to == DeviceState::Lost) {
        RequestLock lock(requestMutex);
        untold.append(Told::Lost);
        ++lossesUntold;
        reconnectOwed = true;
    }
    return true;
}

void LorvexDevice::pauseWithEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- answers -------------------------------------------------------------------------

bool LorvexDevice::reconnectDue()
{
    const DeviceState now = currentState;
    RequestLock lock(requestMutex);
    if (finished || lossesUntold > 0 || !reconnectOwed)
        return false;
    return now == DeviceState::Lost || deviceIsOpen(now);
}

bool LorvexDevice::lossOutstanding()
{
    if (currentState == DeviceState::Lost)
        return true;
    RequestLock lock(requestMutex);
    return reconnectOwed;
}

bool LorvexDevice::monoSensor()
{
    lorvex::RankedLocker panel(panelMutex);
    return bMonoSensor != 0;
}

int LorvexDevice::pixelFormat()
{
    lorvex::RankedLocker panel(panelMutex);
    return pixelType;
}
