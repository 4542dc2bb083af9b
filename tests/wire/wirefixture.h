// Shared fixture of the tests on the wire: the private-namespace guard, the
// GigE Vision simulator as a child process, device files, and a frame sink.
//
// These tests broadcast discovery packets. ctest runs them through
// scripts/netns; run by hand outside a private namespace they refuse to run.
#pragma once

#include "MVCameraControl.h"
#include "VirtualCameraControl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <net/if.h>
#include <signal.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace wire {

// Whether this process sits in a network namespace with only the loopback
// interface; discovery must never leave it.
inline bool inPrivateNamespace()
{
    if (qgetenv("LORVEX_NETNS") != "1")
        return false;
    struct if_nameindex* names = if_nameindex();
    bool onlyLoopback = names != nullptr;
    for (struct if_nameindex* n = names; n && n->if_index != 0; ++n)
        onlyLoopback = onlyLoopback && std::strcmp(n->if_name, "lo") == 0;
    if (names)
        if_freenameindex(names);
    return onlyLoopback;
}

#define WIRE_REQUIRE_NAMESPACE()                                                                                    \
    do {                                                                                                           \
        if (!wire::inPrivateNamespace())                                                                           \
            QSKIP("not inside a private network namespace: run through scripts/netns (ctest does); discovery "   \
                  "would broadcast beyond this machine");                                                          \
    } while (0)

// A device as the device file describes it, with the simulator's own keys.
struct WireDevice {
    QString serial;
    QString model;
    int width;
    int height;
    QStringList formats;
    double lineRate;
    QString address;
    double lostPacketRatio = 0;

    QString json() const
    {
        QStringList f;
        for (const QString& s : formats)
            f << QStringLiteral("\"%1\"").arg(s);
        return QStringLiteral("{\"manufacturer\": \"ZEQ Vision\", \"model\": \"%1\", \"serial\": \"%2\", "
                              "\"widthMax\": %3, \"heightMax\": 65535, \"width\": %3, \"height\": %4, "
                              "\"pixelFormats\": [%5], \"lineRate\": %6, \"address\": \"%7\", "
                              "\"lostPacketRatio\": %8}")
            .arg(model, serial)
            .arg(width)
            .arg(height)
            .arg(f.join(QStringLiteral(", ")))
            .arg(lineRate)
            .arg(address)
            .arg(lostPacketRatio);
    }
};

// lorvexgige serving a set of devices, stopped (the cable pulled) on demand.
class Simulator {
public:
    explicit Simulator(const std::vector<WireDevice>& devices)
    {
        QStringList items;
        for (const WireDevice& d : devices)
            items << d.json();
        QFile f(dir.filePath(QStringLiteral("devices.json")));
        if (f.open(QIODevice::WriteOnly))
            f.write(QStringLiteral("{\"devices\": [%1]}").arg(items.join(QStringLiteral(",\n"))).toUtf8());
    }
    ~Simulator() { stop(); }

    // Aravis's debug output of the simulator (ARV_DEBUG categories, e.g.
    // "stream-thread:2" for the packets it drops), kept for log().
    void traceAravis(const QString& categories) { trace = categories; }
    QByteArray log() const
    {
        QFile f(dir.filePath(QStringLiteral("trace.log")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    bool start()
    {
        const QString bin = qEnvironmentVariable("LORVEX_BIN_DIR") + QStringLiteral("/lorvexgige");
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (!trace.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("ARV_DEBUG"), trace);
            process.setProcessEnvironment(env);
            process.setProcessChannelMode(QProcess::SeparateChannels);
            process.setStandardErrorFile(dir.filePath(QStringLiteral("trace.log"))); // a file never blocks it
        }
        process.start(bin, {QStringLiteral("--devices"), dir.filePath(QStringLiteral("devices.json"))});
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (t.elapsed() < kStartTimeoutMs && process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
            if (out.contains("lorvexgige: ready"))
                return true;
        }
        qWarning() << "lorvexgige did not start:" << out;
        return false;
    }

    // A camera that stalls (stops answering, then goes on where it was), as
    // against one that is switched off.
    void pause() { ::kill(pid_t(process.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(process.processId()), SIGCONT); }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(kStopTimeoutMs))
            process.kill();
        process.waitForFinished(kStopTimeoutMs);
    }

private:
    static constexpr int kStartTimeoutMs = 10000;
    static constexpr int kStopTimeoutMs = 5000;
    QTemporaryDir dir;
    QProcess process;
    QString trace;
};

// Aravis's own GigE Vision simulator, a camera nobody here wrote, on one
// loopback address; killed (the cable pulled, no goodbye) on demand.
class ForeignCamera {
public:
    // The simulator's geometry, pixel format and exposure as it starts.
    static constexpr int kWidth = 512;
    static constexpr int kHeight = 512;
    // Its ramp: pixel (x, y) of frame f is (x + y + f) % kRampPeriod at the
    // exposure it starts with and no gain.
    static constexpr int kRampPeriod = 255;

    // An empty `serial` keeps the simulator's own.
    explicit ForeignCamera(QString address, QString serial = QString())
        : address_(std::move(address)), serial_(std::move(serial)) {}
    ~ForeignCamera() { kill(); }

    bool start()
    {
        QStringList args{QStringLiteral("-i"), address_};
        if (!serial_.isEmpty())
            args << QStringLiteral("-s") << serial_;
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start(QStringLiteral("arv-fake-gv-camera-0.8"), args);
        if (process_.waitForStarted(kStartTimeoutMs))
            return true;
        qWarning() << "arv-fake-gv-camera-0.8 did not start (scripts/setup installs it, package aravis-tools):"
                   << process_.errorString();
        return false;
    }

    void kill()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(kStopTimeoutMs);
    }

    // Writes the maker's name into the simulator's bootstrap register, as
    // Aravis's own tool can, so that discovery names that maker. At most
    // three characters (one 32-bit register with its terminating zero).
    bool nameMaker(const QByteArray& maker)
    {
        quint32 word = 0;
        for (int i = 0; i < 4; ++i)
            word = (word << 8) | quint32(i < maker.size() && i < 3 ? uchar(maker[i]) : 0);
        const QString write = QStringLiteral("R[0x%1]=0x%2").arg(kManufacturerRegister, 0, 16).arg(word, 8, 16, QLatin1Char('0'));
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kStartTimeoutMs) { // the simulator may still be starting
            QProcess tool;
            tool.start(QStringLiteral("arv-tool-0.8"), {QStringLiteral("-a"), address_, QStringLiteral("control"), write});
            tool.waitForFinished(kStopTimeoutMs);
            if (tool.readAllStandardOutput().contains(QStringLiteral("= 0x%1").arg(word, 8, 16, QLatin1Char('0')).toLatin1()))
                return true;
            QThread::msleep(200);
        }
        return false;
    }

private:
    // The bootstrap register where a GigE Vision device keeps its maker's name.
    static constexpr int kManufacturerRegister = 0x48;
    static constexpr int kStartTimeoutMs = 10000;
    static constexpr int kStopTimeoutMs = 5000;
    QString address_;
    QString serial_;
    QProcess process_;
};

// The simulator's ramp at `offset`, compared with a Mono8 frame: the first
// pixel that differs as "x,y: got g, want w", empty when all are equal.
inline QString rampMismatch(const unsigned char* pixels, int width, int height, int offset)
{
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int want = (x + y + offset) % ForeignCamera::kRampPeriod;
            const int got = pixels[size_t(y) * size_t(width) + size_t(x)];
            if (got != want)
                return QStringLiteral("%1,%2: got %3, want %4").arg(x).arg(y).arg(got).arg(want);
        }
    return QString();
}

// The listed record of a serial number, after up to `timeoutMs` of discovery.
inline const MV_CC_DEVICE_INFO* findDevice(const QString& serial, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    do {
        MV_CC_DEVICE_INFO_LIST list;
        std::memset(&list, 0, sizeof list);
        if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) == MV_OK)
            for (unsigned i = 0; i < list.nDeviceNum; ++i)
                if (serial == reinterpret_cast<const char*>(list.pDeviceInfo[i]->SpecialInfo.stGigEInfo.chSerialNumber))
                    return list.pDeviceInfo[i];
        QThread::msleep(100);
    } while (t.elapsed() < timeoutMs);
    return nullptr;
}

struct Frame {
    MV_FRAME_OUT_INFO_EX info;
    std::vector<unsigned char> data;
};

// Collects the frames of one handle (image callback) and its losses
// (exception callback), from the SDK's threads.
class Sink {
public:
    static void MV_CC_CALL onImage(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user)
    {
        auto* s = static_cast<Sink*>(user);
        std::lock_guard<std::mutex> lk(s->mu);
        s->frames.push_back({*info, std::vector<unsigned char>(data, data + info->nFrameLen)});
        s->cv.notify_all();
    }
    static void MV_CC_CALL onException(unsigned int msg, void* user)
    {
        auto* s = static_cast<Sink*>(user);
        std::lock_guard<std::mutex> lk(s->mu);
        s->exceptions.push_back(msg);
        s->cv.notify_all();
    }
    bool waitFrames(size_t n, int timeoutMs)
    {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return frames.size() >= n; });
    }
    bool waitException(int timeoutMs)
    {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !exceptions.empty(); });
    }
    std::vector<Frame> taken()
    {
        std::lock_guard<std::mutex> lk(mu);
        return frames;
    }

    std::mutex mu;
    std::condition_variable cv;
    std::vector<Frame> frames;
    std::vector<unsigned> exceptions;
};

} // namespace wire
