// Shared fixture of the driver tests: virtual devices with realistic features,
// a feature-file folder, a capture of log records, a frame receiver and a few
// helpers to bring a camera object to the state a test needs.
#pragma once

#include "../common/devicepresets.h"
#include "MVCameraControl.h"
#include "VirtualCameraControl.h"
#include "cameralorvex.h"
#include "../common/cameraprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace drvtest {

// ---- devices -------------------------------------------------------------------

// The presets every test and benchmark shares; their features are the SDK's own.
using DeviceSpec = presets::DevicePreset;
using presets::addDevice;
using presets::colourDevice;
using presets::monoDevice;

// A folder holding the feature file the driver loads at every open, named to
// the SDK through its environment variable.
class FeatureFolder
{
public:
    FeatureFolder()
    {
        QFile file(dir.filePath(QStringLiteral("Lorvex.mfs")));
        if (file.open(QIODevice::WriteOnly))
            file.write("ExposureAuto = Off\n");
        use();
    }
    void use() { qputenv("VCC_FEATURE_DIR", dir.path().toLocal8Bit()); }
    // The file cannot be found: an empty folder, and none in the working dir.
    void hide() { qputenv("VCC_FEATURE_DIR", empty.path().toLocal8Bit()); }

private:
    QTemporaryDir dir;
    QTemporaryDir empty;
};

inline void resetSdk()
{
    VCC_Reset();
    VCC_ClearFailures();
    VCC_CallLogEnable(1);
    VCC_CallLogClear();
}

inline std::vector<VCC_CALL_RECORD> callLog()
{
    std::vector<VCC_CALL_RECORD> calls;
    const int n = VCC_CallLogCount();
    for (int i = 0; i < n; ++i) {
        VCC_CALL_RECORD r{};
        if (VCC_CallLogGet(i, &r) == MV_OK)
            calls.push_back(r);
    }
    return calls;
}

// The log as "function key" lines (key omitted when empty), for comparison.
inline QStringList callNames()
{
    QStringList names;
    for (const VCC_CALL_RECORD& r : callLog()) {
        QString line = QString::fromLatin1(r.function);
        if (r.key[0])
            line += QLatin1Char(' ') + QString::fromLatin1(r.key);
        names << line;
    }
    return names;
}

// ---- log records ---------------------------------------------------------------------

struct LogRecord
{
    QtMsgType type;
    QString text;
    QString file;
    int line;
    QString function;
};

// Captures every log record while alive; records may come from any thread.
class LogCapture
{
public:
    LogCapture()
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().clear();
        previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }

    std::vector<LogRecord> records() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return store();
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().clear();
    }
    // Position of the first record of this level containing `text` at or
    // after `from`; -1 when there is none.
    int indexOf(QtMsgType type, const QString& text, int from = 0) const
    {
        const auto all = records();
        for (int i = from; i < static_cast<int>(all.size()); ++i)
            if (all[size_t(i)].type == type && all[size_t(i)].text.contains(text))
                return i;
        return -1;
    }
    int count(const QString& text) const
    {
        int n = 0;
        for (const LogRecord& r : records())
            n += r.text.contains(text) ? 1 : 0;
        return n;
    }
    QString dump() const
    {
        QStringList lines;
        for (const LogRecord& r : records())
            lines << QString::number(r.type) + QLatin1Char(' ') + r.text;
        return lines.join(QLatin1Char('\n'));
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<LogRecord>& store()
    {
        static std::vector<LogRecord> s;
        return s;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().push_back({type, text, QString::fromLatin1(context.file), context.line,
                           QString::fromLatin1(context.function)});
    }
    QtMessageHandler previous = nullptr;
};

// ---- cameras ----------------------------------------------------------------------------

// Lists the devices through a root object, as the host does, and creates the
// camera of this serial number.
inline CameraLorvex* createListed(int cameraIndex, const QString& serial, int deviceIndex = 0)
{
    CameraLorvex root;
    int count = 0;
    root.getCameraList(count);
    return static_cast<CameraLorvex*>(root.createCamera(cameraIndex, serial, deviceIndex));
}

// The geometry read-back and the start, as the host's restore runs them.
inline void startGrabbing(CameraLorvex* camera)
{
    probe(camera).restoreDevice();
}

inline void setRunning(CameraLorvex* camera, bool running)
{
    lorvex::HostLocker frames(camera->getMutex());
    camera->isRunning = running;
}

inline void setTrigger(CameraLorvex* camera, const CameraTrigParams& params)
{
    lorvex::HostLocker frames(camera->getMutex());
    camera->setTrigParams(const_cast<CameraTrigParams*>(&params));
}

// Frame information as a device would send it.
inline MV_FRAME_OUT_INFO_EX frameInfo(unsigned frameNum, unsigned width, unsigned height, unsigned format,
                                      unsigned frameLen)
{
    MV_FRAME_OUT_INFO_EX info;
    std::memset(&info, 0, sizeof info);
    info.nWidth = static_cast<unsigned short>(width);
    info.nHeight = static_cast<unsigned short>(height);
    info.enPixelType = static_cast<decltype(info.enPixelType)>(format);
    info.nFrameNum = frameNum;
    info.nFrameLen = frameLen;
    info.nFrameCounter = frameNum;
    info.nTriggerIndex = frameNum;
    return info;
}

// Collects every emitted record, connected directly (runs on the SDK thread).
class Receiver
{
public:
    explicit Receiver(CameraLorvex* camera)
    {
        QObject::connect(
            camera, &CameraInterface::captureCompleted, camera,
            [this](ImageProcessData data) {
                std::lock_guard<std::mutex> lock(mutex);
                records.push_back(data);
                events.push_back(QStringLiteral("captured"));
                if (onRecord)
                    onRecord(data);
            },
            Qt::DirectConnection);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return records.size();
    }
    ImageProcessData at(size_t i)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return records.at(i);
    }
    void note(const QString& event)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
    }

    std::mutex mutex;
    std::vector<ImageProcessData> records;
    QStringList events;
    std::function<void(const ImageProcessData&)> onRecord;
};

// Runs the event loop until `done` holds or the watchdog expires.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer watchdog;
    watchdog.start();
    while (!done()) {
        if (watchdog.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// A restart on another thread whose open takes `openDelayMs`: the device is
// busy (closing, then opening) until the thread is joined. Returns once the
// device is busy.
class BusyDevice
{
public:
    BusyDevice(CameraLorvex* camera, const char* serial, unsigned int openDelayMs = 600) : serial(serial)
    {
        VCC_SetOpenDelayMs(serial, openDelayMs);
        worker = std::thread([camera] { camera->restartCamera(); });
        waitUntil([camera] { return deviceIsBusy(probe(camera).state()); });
    }
    ~BusyDevice()
    {
        worker.join();
        VCC_SetOpenDelayMs(serial.c_str(), 0);
    }
    BusyDevice(const BusyDevice&) = delete;
    BusyDevice& operator=(const BusyDevice&) = delete;

private:
    std::string serial;
    std::thread worker;
};

} // namespace drvtest
