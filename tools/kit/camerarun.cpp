// camerarun.cpp
#include "camerarun.h"

#include "firstsettings.h"
#include "logwatch.h"
#include "notopened.h"
#include "panelprint.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>

namespace {

QString jsonText(const QJsonValue& v)
{
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isString())
        return v.toString();
    return v.toVariant().toString();
}

// The camera holds numbers as float: a stored 0.02 reads back as
// 0.019999999552965164, which is the same setting, not a refusal.
bool sameSetting(const QJsonValue& a, const QJsonValue& b)
{
    if (a.isDouble() && b.isDouble()) {
        const double x = a.toDouble(), y = b.toDouble();
        // Whole numbers (integer rows) compare exactly: a float would blur
        // them beyond 2^24.
        if (std::trunc(x) == x && std::trunc(y) == y)
            return x == y;
        return static_cast<float>(x) == static_cast<float>(y);
    }
    if (a.isArray() && b.isArray()) {
        const QJsonArray x = a.toArray(), y = b.toArray();
        if (x.size() != y.size())
            return false;
        for (int i = 0; i < x.size(); ++i)
            if (!sameSetting(x[i], y[i]))
                return false;
        return true;
    }
    return a == b;
}

} // namespace

QStringList replacedRows(const QJsonObject& stored, const QJsonObject& used, const QSet<int>& deviceRows)
{
    const QJsonArray a = stored.value(QStringLiteral("paramsWrap")).toArray();
    const QJsonArray b = used.value(QStringLiteral("paramsWrap")).toArray();
    QStringList out;
    for (int i = 0; i < std::min(a.size(), b.size()); ++i) {
        const QJsonValue was = a[i].toObject().value(QStringLiteral("values"));
        const QJsonValue now = b[i].toObject().value(QStringLiteral("values"));
        if (was.isUndefined() || sameSetting(was, now))
            continue;
        // Only the device's rows are read back; any other row the plug-in
        // set itself (a value outside its limits or options, for instance).
        const QString why = deviceRows.contains(i)
                                ? QStringLiteral("read back from the device: change the device's feature file instead")
                                : QStringLiteral("the plug-in did not take the stored value: check it against the row's "
                                                 "limits in lorvexhost panel");
        out << QStringLiteral("settings row %1 holds %2, but the camera uses %3 (%4)").arg(i).arg(jsonText(was), jsonText(now), why);
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
        QSet<int> deviceRows;
        const QVector<ParamWrap*>* items = cam->getParamItems();
        for (const PanelRow& row : describePanel(items ? *items : QVector<ParamWrap*>(), deviceOwnedValues(cam)))
            if (row.deviceOwned)
                deviceRows.insert(row.index);
        for (const QString& m : replacedRows(json, used, deviceRows))
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
        logwatch::takeOpenRefusal(rc.index); // an earlier camera's of this number
        rc.cam = scan.plugins[at.plugin].root->createCamera(rc.index, rc.serial, at.device);
        if (!rc.cam) {
            messages << QStringLiteral("%1: the plug-in made no camera object").arg(rc.serial);
            continue;
        }
        rc.host = new HostCamera(rc.cam, rc.serial, rc.index, this);
        cams_.push_back(rc);
        const int slot = cams_.size() - 1;
        HostCamera* host = rc.host;
        connect(host, &HostCamera::frameArrived, this, [this, slot](const ImageProcessData& d) {
            if (onFrame)
                onFrame(cams_[slot], d);
        });
        connect(host, &HostCamera::cameraLost, this, [this, slot] {
            RunCamera& c = cams_[slot];
            ++c.losses;
            c.accounting.cameraLost(QDateTime::currentMSecsSinceEpoch());
            if (onLoss)
                onLoss(c);
        });
        connect(host, &HostCamera::cameraReconnected, this, [this, slot] {
            RunCamera& c = cams_[slot];
            ++c.reconnects;
            // The device's trigger count restarted with the open.
            c.accounting.cameraBack(QDateTime::currentMSecsSinceEpoch());
            c.accounting.deviceReopened();
            if (onReconnect)
                onReconnect(c);
        });

        restoreCameraSettings(rc.cam, rc.serial, settings.value(i), store, messages);
        host->setTrigParams(trig);
        RunCamera& c = cams_[slot];
        c.opened = host->restored();
        c.continuous = rc.cam->isContinuousMode();
        if (!c.opened) {
            const NotOpened why = whyNotOpened(rc.serial, host->openRefusal());
            messages << why.text;
            if (why.retried) { // its loss report came from createCamera, before anyone listened
                ++c.losses;
                c.accounting.cameraNotOpened(); // a loss with no "from": it never ran
            }
        }
    }
}

void CameraRun::setRunning(bool running, int budgetPerCamera)
{
    for (RunCamera& rc : cams_) {
        if (running && rc.continuous && budgetPerCamera > 0)
            rc.host->runFrames(budgetPerCamera);
        else
            rc.host->setRunning(running);
    }
}

bool CameraRun::trigger(int cameraSlot, int productId, int captureIndex)
{
    return cams_[cameraSlot].host->trigger(productId, captureIndex);
}

void CameraRun::close()
{
    for (RunCamera& rc : cams_) {
        rc.stateAtClose = rc.state();
        if (rc.host)
            rc.host->close(HostCamera::Queued::Deliver);
        rc.cam = nullptr;
    }
}
