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

constexpr int kRatesEveryMs = 500;

int screenIntervalMs()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double hz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
    return std::clamp(int(1000.0 / hz + 0.5), 5, 100);
}

} // namespace

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
    connect(camera_->state(), &CameraStateMachine::changed, this, &CameraSession::onStateChanged);
    // Before grabbing starts, so that no frame is thinned as a preview when
    // the run is meant to receive them all.
    camera_->setRunning(running_);
    camera_->setTrigParams(params_);
    if (!camera)
        restoreSettings();
    if (!camera_->restored())
        messages_ << whyNotOpened(serial, camera_->openRefusal()).text;
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
    return camera_ ? camera_->state()->state() : CameraState::Closed;
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

bool CameraSession::trigger()
{
    if (!camera())
        return false;
    // Product 0 continues from the camera's own count.
    ProductCapture sent = next_;
    if (!camera_->trigger(sent.product, sent.capture))
        return false;
    next_ = ProductSchedule(params_.capturesPerProduct).next(sent);
    return true;
}

QString CameraSession::nextText() const
{
    return next_.product > 0 ? tr("next: product %1 capture %2").arg(next_.product).arg(next_.capture)
                             : tr("next: the camera's next product");
}

void CameraSession::onStateChanged(CameraState now, CameraState before)
{
    // A reopened device counts afresh: the next trigger continues from its
    // count, not from numbers the host passed before the outage.
    if (now == CameraState::Open && CameraStateMachine::isDown(before))
        next_ = {0, 1};
    emit stateChanged();
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
    LogWatch* log = camera_->logWatch();
    const LossBefore loss = log ? log->takeLossBefore(index_, frame.productId, frame.cycleCapture) : LossBefore();
    accounting_.frameReceived({frame.productId, frame.cycleCapture, frame.cycleProduct}, loss.frames + loss.idleFrames, true,
                              loss.packets);
    gate_.offer(frame);
    emit frameReceived(frame);
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
}
