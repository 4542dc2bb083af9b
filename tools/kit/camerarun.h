// camerarun.h - the cameras of one run of lorvexhost: creation on the main
// thread, settings, and per camera the kit's HostCamera with the run's
// accounting. The shared settings restore lives here too.
#ifndef LORVEXKIT_CAMERARUN_H
#define LORVEXKIT_CAMERARUN_H

#include "accounting.h"
#include "camerainterface.h"
#include "hostcamera.h"
#include "imagemetatype.h"
#include "pluginhost.h"
#include "settingsstore.h"
#include "triggertypes.h"

#include <QObject>
#include <QSet>
#include <QVector>

#include <functional>

// One camera of a run: the kit's host-side camera, and what the run saw.
struct RunCamera
{
    QString serial;
    int index = 0;                 // camera number given to the plug-in
    HostCamera* host = nullptr;    // owned by the CameraRun
    CameraInterface* cam = nullptr; // host->camera(), null once closed
    bool opened = false;           // it opened at creation (host->state() has it since)
    bool continuous = false;       // the device runs without triggers
    CameraState stateAtClose = CameraState::Opening; // the state the run ended in, before the close

    // What the run saw.
    int received = 0;              // numbered frames received
    int preview = 0;               // frames received while not running (product 0)
    int losses = 0;
    int reconnects = 0;
    int lastProduct = 0, lastCapture = 0;
    FrameAccounting accounting;    // fed on the receiving thread

    bool lost() const { return host && host->lost(); }
    CameraState state() const { return host ? host->state()->state() : CameraState::Closed; }
};

// The cameras of one run, each a HostCamera, with their accounting.
class CameraRun : public QObject
{
    Q_OBJECT
public:
    explicit CameraRun(QObject* parent = nullptr);
    ~CameraRun() override;

    // Creates one camera per serial (plug-in located in `scan`), restores
    // `settings[i]` (written from serialize() when `settings[i]` is empty and
    // `store` is given), and hands over `trig`. Must run on the main thread.
    void open(const PluginScan& scan, const QStringList& serials, const QVector<QJsonObject>& settings,
              const CameraTrigParams& trig, const SettingsStore* store, QStringList& messages);

    QVector<RunCamera>& cameras() { return cams_; }
    const QVector<RunCamera>& cameras() const { return cams_; }

    // Sets isRunning on every camera under its mutex. For continuous cameras
    // `budgetPerCamera` > 0 stops numbering after that many frames.
    void setRunning(bool running, int budgetPerCamera = 0);

    // One software trigger on a camera (HostCamera::trigger).
    bool trigger(int cameraSlot, int productId, int captureIndex);

    // Deletes the cameras (the plug-in stops and closes the devices); frames
    // already on their way still arrive.
    void close();

    std::function<void(RunCamera&, const ImageProcessData&)> onFrame;
    std::function<void(RunCamera&)> onLoss;
    std::function<void(RunCamera&)> onReconnect;

private:
    QVector<RunCamera> cams_;
};

// The rows of a stored panel whose values the camera did not keep, as
// messages for the user; `deviceRows` (panel row numbers) are read back from
// the device, the others the plug-in adjusted.
QStringList replacedRows(const QJsonObject& stored, const QJsonObject& used, const QSet<int>& deviceRows);

// Restores `stored` on `cam`, or the plug-in's defaults when it is empty
// (first use): the panel, the device's read-back, grabbing and the reconnect
// timer. On first use with a `store`, the file written holds what the camera
// uses afterwards; with stored values, the rows the camera did not keep are
// reported in `messages`. Main thread.
void restoreCameraSettings(CameraInterface* cam, const QString& serial, const QJsonObject& stored, const SettingsStore* store,
                           QStringList& messages);

#endif
