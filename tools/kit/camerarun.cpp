// camerarun.cpp
#include "camerarun.h"

#include "logwatch.h"

#include <QDateTime>
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

void FrameTriggerQueue::push(qint64 index)
{
    QMutexLocker lock(&mutex);
    indices.push_back(index);
}

qint64 FrameTriggerQueue::take()
{
    QMutexLocker lock(&mutex);
    if (indices.empty())
        return -1;
    const qint64 index = indices.front();
    indices.pop_front();
    return index;
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
    if (firstUse)
        cam->serialize(json); // the plug-in's defaults
    // deserialize restores the panel, reads the geometry back from the
    // device, starts grabbing and the reconnect timer.
    cam->deserialize(json);
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
        rc.triggerOfFrame = std::make_shared<FrameTriggerQueue>();
        cams_.push_back(rc);
        const int slot = cams_.size() - 1;
        // First, so that a frame's trigger is queued before the frame itself:
        // runs on the SDK's thread under the camera's mutex and only notes
        // which trigger the plug-in's warning named for this frame.
        connect(rc.cam, &CameraInterface::captureCompleted, this,
                [queue = rc.triggerOfFrame, index = rc.index](const ImageProcessData&) {
                    queue->push(logwatch::takeTriggerOfFrame(index));
                }, Qt::DirectConnection);
        // Frames come on the SDK's thread with the camera's mutex held; the
        // queued connection brings them to this thread, where nothing may
        // block the plug-in.
        connect(rc.cam, &CameraInterface::captureCompleted, this,
                [this, slot](ImageProcessData d) { if (onFrame) onFrame(cams_[slot], d); }, Qt::QueuedConnection);
        connect(rc.cam, &CameraInterface::CameraLoss, this, [this, slot] {
            RunCamera& c = cams_[slot];
            ++c.losses;
            c.lost = true;
            c.accounting.cameraLost(QDateTime::currentMSecsSinceEpoch());
            if (onLoss)
                onLoss(c);
        }, Qt::QueuedConnection);
        connect(rc.cam, &CameraInterface::CameraReconnect, this, [this, slot] {
            RunCamera& c = cams_[slot];
            ++c.reconnects;
            c.lost = false;
            // The device's trigger count restarted with the open.
            c.accounting.cameraBack(QDateTime::currentMSecsSinceEpoch());
            c.accounting.deviceReopened();
            if (onReconnect)
                onReconnect(c);
        }, Qt::QueuedConnection);

        restoreCameraSettings(rc.cam, rc.serial, settings.value(i), store, messages);
        {
            QMutexLocker lock(rc.cam->getMutex());
            rc.cam->setTrigParams(&cams_[slot].params);
        }
        cams_[slot].opened = !rc.cam->getImageSize().isEmpty();
        cams_[slot].lost = !cams_[slot].opened;
        if (cams_[slot].lost) // its loss notice came from createCamera, before anyone listened
            cams_[slot].accounting.cameraLost(QDateTime::currentMSecsSinceEpoch());
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

bool CameraRun::trigger(int cameraSlot, int productId, int captureIndex)
{
    RunCamera& c = cams_[cameraSlot];
    if (c.lost)
        return false; // a trigger now would reach no device, or one whose count restarted unheard
    const int droppedBefore = logwatch::triggersDropped(c.index);
    QMutexLocker lock(c.cam->getMutex());
    c.cam->softTrigger(productId, captureIndex, std::function<void()>());
    // The plug-in writes its warning on this thread, inside the call.
    return logwatch::triggersDropped(c.index) == droppedBefore;
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
