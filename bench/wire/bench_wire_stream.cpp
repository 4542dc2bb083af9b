// Frames per second and frames lost at the simulator's top rate, through the
// plug-in (over the SDK for real cameras) against Aravis's own stream from the
// same camera. A camera streams to one receiver, so the two take turns in
// alternating blocks of one run, and the machine's load weighs on both alike.
// Goal: the plug-in receives at least 0.95 of Aravis's rate and loses no more
// frames. The rate verdict is the median of the blocks' ratios, so that one
// block disturbed by the machine does not decide it. A second figure is the
// CPU time this process spends per frame received on each side. Exit status 2
// when the goal is not met, 1 when it cannot run.
//
//   scripts/netns build-genicam/bench/bench_wire_stream [--blocks N] [--seconds S]
#include <arv.h> // before Qt: Qt's "signals" keyword would break GLib's headers

#include "wirefixture.h"

#include "../../tests/common/cameraprobe.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

using namespace wire;

namespace {

constexpr int kNodes = 30;             // the plug-in's stream buffers; Aravis gets as many
constexpr double kGoalRatio = 0.95;
constexpr guint64 kPopTimeoutUs = 100000;
constexpr uint64_t kBlockIdWrap = 65535;

// A camera whose line rate leaves the simulator sending as fast as it can.
const WireDevice kCamera{QStringLiteral("BENCH2048M1"), QStringLiteral("LX-LS2048-GM"), 2048, 1000,
                         {QStringLiteral("Mono8")}, 1e8, QStringLiteral("127.0.0.1")};

struct Block {
    double seconds = 0;
    double cpuSeconds = 0; // of the whole process, while the block ran
    uint64_t received = 0;
    uint64_t lost = 0;

    double rate() const { return received / std::max(seconds, 1e-9); }
    void add(const Block& b)
    {
        seconds += b.seconds, cpuSeconds += b.cpuSeconds, received += b.received, lost += b.lost;
    }
};

// CPU time of every thread of this process: Aravis's stream thread and the
// pop loop on one side, the SDK's and the plug-in's threads on the other.
double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double microsPerFrame(const Block& b)
{
    return b.received ? b.cpuSeconds * 1e6 / double(b.received) : 0;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Frames lost, as the plug-in reports them: "last frame E current frame C"
// for frames that never came, "lost packets N" for a frame that came broken
// (Aravis's own stream counts such a frame as lost, not received).
std::atomic<uint64_t> gPluginLost{0};
std::atomic<uint64_t> gPluginBroken{0};

void countGaps(QtMsgType, const QMessageLogContext&, const QString& text)
{
    static const QRegularExpression gap(
        QStringLiteral("last frame (\\d+) current frame (\\d+) .*lost packets (\\d+)"));
    if (qEnvironmentVariableIsSet("BENCH_WIRE_LOG"))
        std::fprintf(stderr, "%s\n", qPrintable(text));
    const auto m = gap.match(text);
    if (m.hasMatch()) {
        const qint64 expected = m.captured(1).toLongLong(), got = m.captured(2).toLongLong();
        if (got > expected)
            gPluginLost += uint64_t(got - expected);
        if (m.captured(3).toLongLong() > 0)
            ++gPluginBroken;
    }
}

Block aravisBlock(double seconds)
{
    Block b;
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(kCamera.address.toLatin1().constData(), &error);
    if (!camera) {
        std::fprintf(stderr, "bench: Aravis cannot open the camera: %s\n", error ? error->message : "?");
        g_clear_error(&error);
        return b;
    }
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    const gint payload = arv_camera_get_payload(camera, &error);
    for (int i = 0; i < kNodes; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new(size_t(payload), nullptr));
    arv_camera_start_acquisition(camera, &error);
    g_clear_error(&error);
    QElapsedTimer t;
    t.start();
    const double cpuBefore = processCpuSeconds();
    bool started = false;
    uint64_t last = 0;
    while (t.elapsed() < seconds * 1000) {
        ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, kPopTimeoutUs);
        if (!buffer)
            continue;
        if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
            const uint64_t id = arv_buffer_get_frame_id(buffer);
            if (started) {
                const uint64_t step = id > last ? id - last : id + kBlockIdWrap - last;
                b.lost += step - 1;
            }
            started = true;
            last = id;
            ++b.received;
        } else {
            ++b.lost;
        }
        arv_stream_push_buffer(stream, buffer);
    }
    b.seconds = t.elapsed() / 1000.0;
    b.cpuSeconds = processCpuSeconds() - cpuBefore;
    arv_camera_stop_acquisition(camera, &error);
    g_clear_error(&error);
    g_object_unref(stream);
    g_object_unref(camera);
    return b;
}

Block pluginBlock(double seconds)
{
    Block b;
    std::unique_ptr<CameraLorvex> camera;
    {
        CameraLorvex root;
        int count = 0;
        root.getCameraList(count);
        camera.reset(static_cast<CameraLorvex*>(root.createCamera(1, kCamera.serial, 0)));
    }
    if (!camera || probe(camera).opened() != 1) {
        std::fprintf(stderr, "bench: the plug-in cannot open the camera\n");
        return b;
    }
    QJsonObject settings;
    camera->serialize(settings);
    camera->deserialize(settings); // the host's restore, which starts grabbing
    std::atomic<uint64_t> frames{0};
    QObject::connect(camera.get(), &CameraInterface::captureCompleted, camera.get(),
                     [&](ImageProcessData) { ++frames; }, Qt::DirectConnection);
    {
        QMutexLocker lock(camera->getMutex());
        camera->isRunning = true; // every frame reaches the host
    }
    const uint64_t lostBefore = gPluginLost, brokenBefore = gPluginBroken, framesBefore = frames;
    QElapsedTimer t;
    t.start();
    const double cpuBefore = processCpuSeconds();
    while (t.elapsed() < seconds * 1000)
        QThread::msleep(10);
    b.seconds = t.elapsed() / 1000.0;
    b.cpuSeconds = processCpuSeconds() - cpuBefore;
    const uint64_t broken = gPluginBroken - brokenBefore;
    b.received = frames - framesBefore - broken;
    b.lost = gPluginLost - lostBefore + broken;
    camera.reset();
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int blocks = 5;
    double seconds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--blocks"))
            blocks = std::max(1, atoi(argv[i + 1]));
        else if (a == QLatin1String("--seconds"))
            seconds = std::max(0.5, atof(argv[i + 1]));
    }
    if (!inPrivateNamespace()) {
        std::fprintf(stderr, "bench: not inside a private network namespace; run it through scripts/netns\n");
        return 1;
    }
    QTemporaryDir features;
    QFile f(QDir(features.path()).filePath(QStringLiteral("Lorvex.mfs")));
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write("TriggerMode = Off\n");
    f.close();
    qputenv("VCC_FEATURE_DIR", features.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("LORVEX_BIN_DIR"))
        qputenv("LORVEX_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit() + "/../bin");

    Simulator sim({kCamera});
    if (!sim.start())
        return 1;
    qInstallMessageHandler(countGaps);
    Block aravis, plugin;
    std::vector<double> ratios;
    for (int i = 0; i < blocks; ++i) {
        // Each takes the first turn in every other block.
        Block a, p;
        if (i % 2) {
            p = pluginBlock(seconds);
            a = aravisBlock(seconds);
        } else {
            a = aravisBlock(seconds);
            p = pluginBlock(seconds);
        }
        ratios.push_back(a.rate() > 0 ? p.rate() / a.rate() : 0);
        std::printf("block %d: Aravis %.1f frames/s (%llu lost, %.0f us CPU/frame), plug-in %.1f frames/s "
                    "(%llu lost, %.0f us CPU/frame), ratio %.3f\n",
                    i + 1, a.rate(), (unsigned long long)a.lost, microsPerFrame(a), p.rate(),
                    (unsigned long long)p.lost, microsPerFrame(p), ratios.back());
        std::fflush(stdout);
        aravis.add(a);
        plugin.add(p);
    }
    const double ratio = median(ratios);
    std::printf("%dx%d Mono8: Aravis %.1f frames/s, %llu lost, %.0f us CPU/frame; plug-in %.1f frames/s, "
                "%llu lost, %.0f us CPU/frame; median ratio of %d blocks %.3f (goal >= %.2f, no more lost)\n",
                kCamera.width, kCamera.height, aravis.rate(), (unsigned long long)aravis.lost,
                microsPerFrame(aravis), plugin.rate(), (unsigned long long)plugin.lost, microsPerFrame(plugin),
                blocks, ratio, kGoalRatio);
    const bool met = ratio >= kGoalRatio && plugin.lost <= aravis.lost;
    return met ? 0 : 2;
}
