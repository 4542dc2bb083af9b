// viewerhost.h - everything the viewer takes from the host kit, in one
// place: finding camera plug-ins and their cameras, the settings files
// lorvexhost uses, and the virtual SDK's control functions when that SDK is
// the one loaded.
#ifndef LORVEXVIEWER_VIEWERHOST_H
#define LORVEXVIEWER_VIEWERHOST_H

#include "settingsstore.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>

class CameraInterface;

// The device counters of a simulated camera.
struct DeviceCounters
{
    quint64 delivered = 0;  // frames the SDK handed to the plug-in
    quint64 dropped = 0;    // frames the SDK dropped before delivery
    bool attached = false;
};

class ViewerHost
{
public:
    ViewerHost(const QString& pluginFolder, const QString& settingsFolder);
    ~ViewerHost();

    // Loads the plug-ins and lists their cameras. False with `error` when
    // the folder or a usable plug-in is missing; `notes` name rejected files.
    bool scan(QString& error, QStringList& notes);
    QStringList serials() const;
    QString pluginNameOf(const QString& serial) const;
    // A new camera object from the plug-in that listed `serial` (owned by
    // the caller), or null when no plug-in listed it.
    CameraInterface* createCamera(const QString& serial, int cameraIndex) const;

    // lorvexhost's settings files.
    const SettingsStore& settingsStore() const;

    // Unplugging and plugging back (the virtual SDK only).
    bool canUnplug() const;
    bool unplug(const QString& serial) const;
    bool plugBack(const QString& serial) const;
    bool canCount() const;
    bool counters(const QString& serial, DeviceCounters& out) const;
    bool pauseFreeRun(const QString& serial, bool paused) const;
    // Writes the device's own gain (dB, within `min`..`max`), past the
    // plug-in, which never sends its panel's gain to the device.
    bool canSetDeviceGain() const;
    bool setDeviceGain(const QString& serial, double dB, double min, double max) const;

private:
    struct Parts;
    std::unique_ptr<Parts> d_;
};

#endif
