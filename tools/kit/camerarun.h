// camerarun.h - the cameras of one run: creation on the main thread, settings,
// trigger settings, the running flag, software triggers and reception.
#ifndef LORVEXKIT_CAMERARUN_H
#define LORVEXKIT_CAMERARUN_H

#include "accounting.h"
#include "camerainterface.h"
#include "imagemetatype.h"
#include "pluginhost.h"
#include "settingsstore.h"
#include "triggertypes.h"

#include <QMutex>
#include <QObject>
#include <QVector>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

// Frames a continuously running camera may still number. The plug-in calls the
// trigger callback under the camera's mutex for every delivered frame, so the
// callback is where numbering can be stopped exactly after the last wanted one.
struct FrameBudget
{
    std::atomic<int> remaining{0};
};

// The trigger each handed-over frame answers, as the plug-in's warning named
// it (-1: none), in the order the frames were emitted. Filled on the SDK's
// thread by a receiver connected directly (the warning is written there just
// before the emission), taken on the receiving thread with the queued frame.
// `mutex` guards `indices`; it is taken after the camera's mutex and the log
// watch's lock, never before them.
struct FrameTriggerQueue
{
    QMutex mutex;
    std::deque<qint64> indices;

    void push(qint64 index);
    qint64 take();
};

struct RunCamera
{
    QString serial;
    int index = 0;                 // camera number given to the plug-in
    CameraInterface* cam = nullptr;
    CameraTrigParams params;
    bool opened = false;           // it reported an image size after its settings
    bool continuous = false;       // the device runs without triggers
    std::shared_ptr<FrameBudget> budget;
    std::shared_ptr<FrameTriggerQueue> triggerOfFrame;
    bool lost = false;             // between the camera's loss and its reconnect, as this host heard them

    // What the run saw.
    int received = 0;              // numbered frames received
    int preview = 0;               // frames received while not running (product 0)
    int losses = 0;
    int reconnects = 0;
    int lastProduct = 0, lastCapture = 0;
    FrameAccounting accounting;    // fed on the receiving thread
};

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

    // One software trigger on a camera, under its mutex. False when it did
    // not reach the device: the camera is lost, or the plug-in reported it
    // dropped the trigger.
    bool trigger(int cameraSlot, int productId, int captureIndex);

    // Deletes the cameras (the plug-in stops and closes the devices).
    void close();

    std::function<void(RunCamera&, const ImageProcessData&)> onFrame;
    std::function<void(RunCamera&)> onLoss;
    std::function<void(RunCamera&)> onReconnect;

private:
    QVector<RunCamera> cams_;
};

// The rows of a stored panel whose values the camera did not keep (read back
// from the device, or adjusted by the plug-in), as messages for the user.
QStringList replacedRows(const QJsonObject& stored, const QJsonObject& used);

// Restores `stored` on `cam`, or the plug-in's defaults when it is empty
// (first use): the panel, the device's read-back, grabbing and the reconnect
// timer. On first use with a `store`, the file written holds what the camera
// uses afterwards; with stored values, the rows the camera did not keep are
// reported in `messages`. Main thread.
void restoreCameraSettings(CameraInterface* cam, const QString& serial, const QJsonObject& stored, const SettingsStore* store,
                           QStringList& messages);

#endif
