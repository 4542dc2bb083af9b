// camerarun.cpp
#include "camerarun.h"

#include "firstsettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>

#include <algorithm>

namespace {

QString jsonText(const QJsonValue& v)
{
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isString())
        return v.toString();
    return v.toVariant().toString();
}

} // namespace

bool firesBySoftware(int triggerType)
{
    return triggerType == 2 || triggerType == 4 || triggerType == 32;
}

QStringList replacedRows(const QJsonObject& stored, const QJsonObject& used)
{
    const QJsonArray a = stored.value(QStringLiteral("paramsWrap")).toArray();
    const QJsonArray b = used.value(QStringLiteral("paramsWrap")).toArray();
    QStringList out;
    for (int i = 0; i < std::min(a.size(), b.size()); ++i) {
        const QJsonValue was = a[i].toObject().value(QStringLiteral("values"));
        const QJsonValue now = b[i].toObject().value(QStringLiteral("values"));
        if (was != now && !was.isUndefined())
            out << QStringLiteral("settings row %1 holds %2, but the camera uses %3 (read back from the device: "
                                  "change the device's feature file instead)")
                       .arg(i).arg(jsonText(was), jsonText(now));
    }
    return out;
}

void restoreCameraSettings(CameraInterface* cam, const QString& serial, const QJsonObject& stored, const SettingsStore* store,
                           QStringList& messages)
{
    QJsonObject json = stored;
    const bool firstUse = json.isEmpty();
    if (firstUse) {
        chooseFirstSettings(cam); // colour on, exposures within the limits
        cam->serialize(json);
    }
    // deserialize restores the panel, reads the geometry back from the
    // device, starts grabbing and the reconnect timer.
    cam->deserialize(json);
    if (firstUse)
        settleFirstSettings(cam);
    QJsonObject used;
    cam->serialize(used);
    if (firstUse && store) {
        // The first file holds what the camera uses after the restore, the
        // device's read-back included, as `panel --json` shows it.
        QString error;
        if (!store->write(serial, used, error))
            messages << error;
        else
            messages << QStringLiteral("%1: settings written with defaults to %2").arg(serial, store->pathFor(serial));
    } else if (!firstUse) {
        for (const QString& m : replacedRows(json, used))
            messages << QStringLiteral("%1: %2").arg(serial, m);
    }
}

CameraRun::CameraRun(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<ImageProcessData>("ImageProcessData");
}

CameraRun::~CameraRun()
{
    close();
}

void CameraRun::open(const PluginScan& scan, const QStringList& serials, const QVector<QJsonObject>& settings,
                     const CameraTrigParams& trig, const SettingsStore* store, QStringList& messages)
{
    for (int i = 0; i < serials.size(); ++i) {
        const CameraLocation at = findCamera(scan, serials[i]);
        if (at.plugin < 0)
            continue;
        RunCamera rc;
        rc.serial = serials[i];
        rc.index = cams_.size();
        rc.cam = scan.plugins[at.plugin].root->createCamera(rc.index, rc.serial, at.device);
        if (!rc.cam) {
            messages << QStringLiteral("%1: the plug-in made no camera object").arg(rc.serial);
            continue;
        }
        rc.params = trig;
        rc.budget = std::make_shared<FrameBudget>();
        cams_.push_back(rc);
        const int slot = cams_.size() - 1;
        // Frames come on the SDK's thread with the camera's mutex held; the
        // queued connection brings them to this thread, where nothing may
        // block the plug-in.
        connect(rc.cam, &CameraInterface::captureCompleted, this,
                [this, slot](ImageProcessData d) { if (onFrame) onFrame(cams_[slot], d); }, Qt::QueuedConnection);
        connect(rc.cam, &CameraInterface::CameraLoss, this,
                [this, slot] { ++cams_[slot].losses; if (onLoss) onLoss(cams_[slot]); }, Qt::QueuedConnection);
        connect(rc.cam, &CameraInterface::CameraReconnect, this,
                [this, slot] { ++cams_[slot].reconnects; if (onReconnect) onReconnect(cams_[slot]); }, Qt::QueuedConnection);

        restoreCameraSettings(rc.cam, rc.serial, settings.value(i), store, messages);
        {
            QMutexLocker lock(rc.cam->getMutex());
            rc.cam->setTrigParams(&cams_[slot].params);
        }
        cams_[slot].opened = !rc.cam->getImageSize().isEmpty();
        cams_[slot].continuous = rc.cam->isContinuousMode();
        if (!cams_[slot].opened)
            messages << QStringLiteral("%1: the camera did not open (it reports no image size); it will be retried every 3 s").arg(rc.serial);
    }
}

void CameraRun::setRunning(bool running, int budgetPerCamera)
{
    for (RunCamera& rc : cams_) {
        if (running && rc.continuous && budgetPerCamera > 0) {
            // The callback is stored by a software trigger; on a device that
            // runs without triggers the trigger itself takes no frame.
            rc.budget->remaining = budgetPerCamera;
            CameraInterface* cam = rc.cam;
            std::shared_ptr<FrameBudget> budget = rc.budget;
            QMutexLocker lock(cam->getMutex());
            cam->softTrigger(cam->productCounter + 1, 1, [cam, budget] {
                // Runs under the camera's mutex, after this frame was numbered.
                if (cam->isRunning && budget->remaining.fetch_sub(1) <= 1)
                    cam->isRunning = false;
            });
            cam->isRunning = true;
            continue;
        }
        QMutexLocker lock(rc.cam->getMutex());
        rc.cam->isRunning = running;
    }
}

void CameraRun::trigger(int cameraSlot, int productId, int captureIndex)
{
    CameraInterface* cam = cams_[cameraSlot].cam;
    QMutexLocker lock(cam->getMutex());
    cam->softTrigger(productId, captureIndex, std::function<void()>());
}

void CameraRun::close()
{
    for (RunCamera& rc : cams_) {
        if (!rc.cam)
            continue;
        rc.cam->disconnect(this);
        {
            QMutexLocker lock(rc.cam->getMutex());
            rc.cam->isRunning = false;
        }
        delete rc.cam;
        rc.cam = nullptr;
    }
}
