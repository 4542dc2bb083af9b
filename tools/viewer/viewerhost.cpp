// viewerhost.cpp - the kit's plug-in scan, settings store and virtual-control
// lookup behind the viewer's own small interface.
#include "viewerhost.h"

#include "camerainterface.h"
#include "pluginhost.h"
#include "virtualcontrol.h"

struct ViewerHost::Parts
{
    QString pluginFolder;
    SettingsStore store;
    PluginScan scan;
    VirtualControl control;

    Parts(const QString& plugins, const QString& settings) : pluginFolder(plugins), store(settings) {}
};

ViewerHost::ViewerHost(const QString& pluginFolder, const QString& settingsFolder)
    : d_(new Parts(pluginFolder.isEmpty() ? defaultPluginFolder() : pluginFolder, settingsFolder))
{
}

ViewerHost::~ViewerHost() = default;

bool ViewerHost::scan(QString& error, QStringList& notes)
{
    d_->scan = scanPlugins(d_->pluginFolder);
    for (const RejectedFile& r : d_->scan.rejected)
        notes << QStringLiteral("%1: %2").arg(r.file, r.reason);
    error = scanProblem(d_->scan);
    if (!error.isEmpty())
        return false;
    // The plug-ins have brought their SDK in by now.
    QString where;
    d_->control = VirtualControl::find(where);
    return true;
}

QStringList ViewerHost::serials() const
{
    return allSerials(d_->scan);
}

QString ViewerHost::pluginNameOf(const QString& serial) const
{
    const CameraLocation at = findCamera(d_->scan, serial);
    return at.plugin < 0 ? QString() : d_->scan.plugins[at.plugin].name;
}

CameraInterface* ViewerHost::createCamera(const QString& serial, int cameraIndex) const
{
    const CameraLocation at = findCamera(d_->scan, serial);
    if (at.plugin < 0)
        return nullptr;
    return d_->scan.plugins[at.plugin].root->createCamera(cameraIndex, serial, at.device);
}

const SettingsStore& ViewerHost::settingsStore() const
{
    return d_->store;
}

bool ViewerHost::canUnplug() const
{
    return d_->control.detach && d_->control.attach;
}

bool ViewerHost::unplug(const QString& serial) const
{
    return canUnplug() && d_->control.detach(serial.toUtf8().constData()) == MV_OK;
}

bool ViewerHost::plugBack(const QString& serial) const
{
    return canUnplug() && d_->control.attach(serial.toUtf8().constData()) == MV_OK;
}

bool ViewerHost::canCount() const
{
    return d_->control.counters && d_->control.pauseFreeRun;
}

bool ViewerHost::counters(const QString& serial, DeviceCounters& out) const
{
    if (!d_->control.counters)
        return false;
    VCC_DEVICE_COUNTERS k{};
    if (d_->control.counters(serial.toUtf8().constData(), &k) != MV_OK)
        return false;
    out.delivered = k.framesDelivered;
    out.dropped = k.framesDropped;
    out.attached = k.attached != 0;
    return true;
}

bool ViewerHost::pauseFreeRun(const QString& serial, bool paused) const
{
    return d_->control.pauseFreeRun && d_->control.pauseFreeRun(serial.toUtf8().constData(), paused ? 1 : 0) == MV_OK;
}

bool ViewerHost::canSetDeviceGain() const
{
    return d_->control.setFloat != nullptr;
}

bool ViewerHost::setDeviceGain(const QString& serial, double dB, double min, double max) const
{
    return canSetDeviceGain() && d_->control.setFloat(serial.toUtf8().constData(), "Gain", dB, min, max) == MV_OK;
}
