// camerasession.cpp
#include "camerasession.h"

#include "camerarun.h"
#include "logwatch.h"
#include "notopened.h"
#include "viewerhost.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMutexLocker>
#include <QScreen>

#include <algorithm>

namespace {

// The plug-in retries a lost camera every 3 s; after the first retry time the
// camera counts as reconnecting.
constexpr qint64 kFirstRetryMs = 3000;
// A camera that sent nothing for this long is open but not grabbing.
constexpr qint64 kGrabbingWithinMs = 1500;
constexpr int kRatesEveryMs = 500;

int screenIntervalMs()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double hz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
    return std::clamp(int(1000.0 / hz + 0.5), 5, 100);
}

} // namespace

QString stateText(CameraState s)
{
    switch (s) {
    case CameraState::Open: return QObject::tr("open");
    case CameraState::Grabbing: return QObject::tr("grabbing");
    case CameraState::Lost: return QObject::tr("lost");
    case CameraState::Reconnecting: return QObject::tr("reconnecting");
    }
    return QString();
}

CameraSession::CameraSession(const ViewerHost* host, const QString& serial, int cameraIndex, bool running,
                             CameraInterface* camera, QObject* parent)
    : QObject(parent), host_(host), serial_(serial), index_(cameraIndex), running_(running)
{
    qRegisterMetaType<ImageProcessData>("ImageProcessData");
    params_.triggerType = triggertypes::kSoftwareDefault;
    followTrigParams();
    if (!camera)
        logwatch::takeOpenRefusal(cameraIndex); // an earlier camera's of this number
    CameraInterface* cam = camera ? camera : (host_ ? host_->createCamera(serial, cameraIndex) : nullptr);
    if (!cam) {
        messages_ << tr("%1: no plug-in lists this camera").arg(serial);
        return;
    }
    camera_ = new HostCamera(cam, serial, cameraIndex, this);
    connect(camera_, &HostCamera::frameArrived, this, &CameraSession::onFrame);
    connect(camera_, &HostCamera::cameraLost, this, &CameraSession::onLoss);
    connect(camera_, &HostCamera::cameraReconnected, this, &CameraSession::onReconnect);
    // Before grabbing starts, so that no frame is thinned as a preview when
    // the run is meant to receive them all.
    camera_->setRunning(running_);
    camera_->setTrigParams(params_);
    if (!camera)
        restoreSettings();
    // A refused open may leave a stored image size: the plug-in's record of
    // the refusal tells.
    const quint32 refusal = camera ? 0 : logwatch::takeOpenRefusal(cameraIndex);
    if (cam->getImageSize().isEmpty() || refusal != 0) {
        // Shown as lost while the plug-in retries it; triggers still go to
        // the plug-in, which ignores them until the device is open.
        const NotOpened why = whyNotOpened(serial, refusal);
        lost_ = why.retried;
        if (lost_)
            lostFor_.start();
        messages_ << why.text;
    }
    tick_.setInterval(screenIntervalMs());
    connect(&tick_, &QTimer::timeout, this, [this] {
        if (gate_.hasPending())
            emit drawDue();
    });
    tick_.start();
    rates_.setInterval(kRatesEveryMs);
    connect(&rates_, &QTimer::timeout, this, &CameraSession::updateRates);
    rates_.start();
    ratesClock_.start();
}

CameraSession::~CameraSession()
{
    close();
}

void CameraSession::close()
{
    if (!camera())
        return;
    tick_.stop();
    rates_.stop();
    disconnect(this, nullptr, nullptr, nullptr);
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    camera_->close(HostCamera::Queued::Drop);  // the plug-in stops and closes the device
}

void CameraSession::restoreSettings()
{
    const SettingsStore& store = host_->settingsStore();
    const StoredSettings file = store.read(serial_);
    switch (file.state) {
    case StoredSettings::State::Loaded:
        messages_ << tr("%1: settings restored from %2").arg(serial_, file.path);
        break;
    case StoredSettings::State::Missing:
        break;  // the restore writes the file
    case StoredSettings::State::Invalid:
        // Kept as it is for the person to look at; a save sets it aside.
        messages_ << tr("%1 (defaults used; saving sets the file aside)").arg(file.problem);
        break;
    }
    // The same restore as lorvexhost's: a first file holds the device's
    // read-back, and stored rows the camera did not keep are named.
    restoreCameraSettings(camera(), serial_, file.json, file.state == StoredSettings::State::Missing ? &store : nullptr, messages_);
}

CameraState CameraSession::state() const
{
    if (lost_)
        return lostFor_.elapsed() >= kFirstRetryMs ? CameraState::Reconnecting : CameraState::Lost;
    if (sinceFrame_.isValid() && sinceFrame_.elapsed() < kGrabbingWithinMs)
        return CameraState::Grabbing;
    return CameraState::Open;
}

void CameraSession::setTrigParams(const CameraTrigParams& p)
{
    params_ = p;
    if (!camera())
        return;
    camera_->setTrigParams(params_);
    followTrigParams();
    next_ = {0, 1};
}

void CameraSession::followTrigParams()
{
    // Following frame to frame sees a count only: numbers that a trigger
    // sets (type 32 without sync) or re-aligns (sync) are not checked here.
    const NumberingRule rule = numberingRule(params_, false);
    const bool checked = rule.checked && !rule.fromTrigger && params_.syncProductId <= 0;
    accounting_.followNumbers(rule.schedule, checked);
}

void CameraSession::setRunning(bool on)
{
    running_ = on;
    if (camera_)
        camera_->setRunning(on);
}

void CameraSession::trigger()
{
    if (!camera())
        return;
    // Product 0 continues from the camera's own count.
    camera_->trigger(next_.product, next_.capture);
    next_ = ProductSchedule(params_.capturesPerProduct).next(next_);
}

bool CameraSession::saveSettings(QString& error)
{
    if (!camera() || !host_) {
        error = tr("%1: the camera is closed").arg(serial_);
        return false;
    }
    const SettingsStore& store = host_->settingsStore();
    if (store.read(serial_).state == StoredSettings::State::Invalid)
        store.setAside(serial_);
    QJsonObject json;
    camera()->serialize(json);
    return store.write(serial_, json, error);
}

void CameraSession::onFrame(const ImageProcessData& frame)
{
    // Every loss the plug-in reported counts, also while the camera was not
    // running: a person watching the preview wants to see those too.
    const logwatch::LossBefore loss = logwatch::takeLossBefore(index_, frame.productId, frame.cycleCapture);
    accounting_.frameReceived({frame.productId, frame.cycleCapture, frame.cycleProduct}, loss.frames + loss.idleFrames, true,
                              loss.packets);
    sinceFrame_.start();
    gate_.offer(frame);
    emit frameReceived(frame);
    if (lastState_ != CameraState::Grabbing) {
        lastState_ = CameraState::Grabbing;
        emit stateChanged();
    }
}

void CameraSession::onLoss()
{
    if (!lost_) {
        lost_ = true;
        lostFor_.start();
    }
    lastState_ = state();
    emit stateChanged();
}

void CameraSession::onReconnect()
{
    lost_ = false;
    lastState_ = state();
    emit stateChanged();
}

void CameraSession::updateRates()
{
    const double seconds = std::max(1e-3, ratesClock_.restart() / 1000.0);
    receivedRate_ = (accounting_.delivered() - ratesReceived_) / seconds;
    // A frame received just before this window and drawn in it counts as
    // shown here; every frame shown was received, so the shown rate is held
    // to the received one rather than claim more frames than came.
    shownRate_ = std::min(receivedRate_, (gate_.shownCount() - ratesShown_) / seconds);
    ratesReceived_ = accounting_.delivered();
    ratesShown_ = gate_.shownCount();
    emit ratesUpdated();
    const CameraState now = state();
    if (now != lastState_) {
        lastState_ = now;
        emit stateChanged();
    }
}
