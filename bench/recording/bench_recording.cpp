// Recording at the cameras' rate: lorvexhost captures from the two
// free-running demo cameras (4096 x 1000 mono at 100 frames/s, 2048 x 1000
// colour at 50 frames/s) and writes every frame. The cameras show their chart
// with sensor noise (the device file's "noise"), which compresses as a real
// camera's pictures do; the bare chart compresses a thousandfold.
//
// Three measurements, each against a baseline taken in the same run:
//  - the lossless encoders the writer could use, on one noisy frame: input
//    megabytes a second on one core and the size they leave;
//  - a burst (RECORDING_PRODUCTS, 200 by default) or a timed run
//    (RECORDING_SECONDS): images written a second against the frames the
//    cameras delivered a second (frames.csv's reception times), per format;
//  - with RECORDING_SECONDS, a plain sequential write to the same disk, larger
//    than the kernel's dirty-page limit and synced at its end, against which
//    the raw format's write rate is given (raw/disk).
//
//   build/bench/bench_recording                           200 products
//   RECORDING_PRODUCTS=600 build/bench/bench_recording    a longer burst
//   RECORDING_SECONDS=60 build/bench/bench_recording      sustained rates
//   RECORDING_NOISE=0 build/bench/bench_recording         the bare chart
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kFormats[] = {"png", "tiff", "pnm"};
constexpr int kDefaultProducts = 200;
constexpr double kDefaultNoise = 3.0; // grey levels: a line-scan sensor at moderate gain
constexpr int kReceiveColumn = 6;     // receive_time_ms in frames.csv
constexpr double kMB = 1e6;
// The sequential write exceeds the dirty-page limit by this share, so that
// its rate is the disk's, not the page cache's.
constexpr double kBeyondDirtyLimit = 1.25;
constexpr size_t kWriteBlock = size_t(4) << 20;

double diskMBps = 0; // the sequential write's rate, once measured

int products()
{
    const int n = qEnvironmentVariableIntValue("RECORDING_PRODUCTS");
    return n > 0 ? n : kDefaultProducts;
}

int seconds()
{
    return qEnvironmentVariableIntValue("RECORDING_SECONDS");
}

double noise()
{
    bool ok = false;
    const double n = qEnvironmentVariable("RECORDING_NOISE").toDouble(&ok);
    return ok ? n : kDefaultNoise;
}

// The two demo cameras, with noise.
QByteArray demoDevices()
{
    const QByteArray n = QByteArray::number(noise());
    return R"({"devices": [
  {"manufacturer": "ZEQ Vision", "model": "LX-LS4096-GM", "serial": "ZQ4096M0001", "widthMax": 4096, "heightMax": 65535,
   "width": 4096, "height": 1000, "pixelFormats": ["Mono8"], "lineRate": 100000, "noise": )" + n + R"(},
  {"manufacturer": "ZEQ Vision", "model": "LX-LS2048-GC", "serial": "ZQ2048C0002", "widthMax": 2048, "heightMax": 65535,
   "width": 2048, "height": 1000, "pixelFormats": ["BayerRG8", "Mono8"], "lineRate": 50000, "noise": )" + n + "}]}";
}

// One frame of the mono camera as the noise makes it: a smooth scene plus
// Gaussian noise of RECORDING_NOISE grey levels.
cv::Mat noisyFrame()
{
    cv::Mat scene(1000, 4096, CV_8UC1);
    for (int y = 0; y < scene.rows; ++y)
        for (int x = 0; x < scene.cols; ++x)
            scene.at<uchar>(y, x) = static_cast<uchar>(32 + 48 * x / (scene.cols - 1) + ((y / 100) % 2) * 80);
    cv::Mat n(scene.size(), CV_16SC1), sum, out;
    cv::randn(n, 0.0, noise());
    cv::add(scene, n, sum, cv::noArray(), CV_16S);
    sum.convertTo(out, CV_8U);
    return out;
}

// The lossless candidates: PNG as the writer had it and with other matchers,
// TIFF with the codecs the system's library offers, and the raw format.
struct Codec
{
    const char* name;
    const char* ext;
    std::vector<int> params;
};
const Codec kCodecs[] = {
    {"png zlib 1", ".png", {cv::IMWRITE_PNG_COMPRESSION, 1}},
    {"png rle 1 (chosen)", ".png", {cv::IMWRITE_PNG_COMPRESSION, 1, cv::IMWRITE_PNG_STRATEGY, cv::IMWRITE_PNG_STRATEGY_RLE}},
    {"png huffman 1", ".png", {cv::IMWRITE_PNG_COMPRESSION, 1, cv::IMWRITE_PNG_STRATEGY, cv::IMWRITE_PNG_STRATEGY_HUFFMAN_ONLY}},
    {"png stored", ".png", {cv::IMWRITE_PNG_COMPRESSION, 0}},
    {"tiff lzw", ".tif", {cv::IMWRITE_TIFF_COMPRESSION, 5}},
    {"tiff packbits", ".tif", {cv::IMWRITE_TIFF_COMPRESSION, 32773}},
    {"tiff zstd", ".tif", {cv::IMWRITE_TIFF_COMPRESSION, 50000}},
    {"pnm (raw)", ".pgm", {}},
};

void BM_LosslessEncode(benchmark::State& state)
{
    static const cv::Mat frame = noisyFrame();
    const Codec& c = kCodecs[state.range(0)];
    state.SetLabel(c.name);
    std::vector<uchar> out;
    for (auto _ : state)
        if (!cv::imencode(c.ext, frame, out, c.params)) {
            state.SkipWithError("cannot encode");
            return;
        }
    const cv::Mat back = cv::imdecode(out, cv::IMREAD_UNCHANGED);
    if (back.size() != frame.size() || cv::norm(back, frame, cv::NORM_INF) != 0)
        state.SkipWithError("not lossless");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.total()));
    state.counters["size_ratio"] = double(out.size()) / double(frame.total());
}

// The kernel's dirty-page limit: dirty_bytes, or dirty_ratio percent of the
// memory available (an upper estimate of what the kernel counts).
qint64 dirtyLimitBytes()
{
    auto read = [](const char* path) {
        QFile f(QString::fromLatin1(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    };
    const qint64 bytes = read("/proc/sys/vm/dirty_bytes").toLongLong();
    if (bytes > 0)
        return bytes;
    qint64 availableKiB = 0;
    for (const QByteArray& line : read("/proc/meminfo").split('\n'))
        if (line.startsWith("MemAvailable:"))
            availableKiB = line.simplified().split(' ').value(1).toLongLong();
    return availableKiB * 1024 / 100 * read("/proc/sys/vm/dirty_ratio").toLongLong();
}

void BM_SequentialWrite(benchmark::State& state)
{
    const qint64 total = static_cast<qint64>(dirtyLimitBytes() * kBeyondDirtyLimit);
    std::vector<char> block(kWriteBlock);
    cv::randu(cv::Mat(1, static_cast<int>(block.size()), CV_8UC1, block.data()), 0, 256);
    for (auto _ : state) {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("sequential"));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const auto start = std::chrono::steady_clock::now();
        qint64 done = 0;
        while (fd >= 0 && done < total && ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size()))
            done += static_cast<qint64>(block.size());
        const bool synced = fd >= 0 && ::fdatasync(fd) == 0;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (fd >= 0)
            ::close(fd);
        ::unlink(path.constData());
        if (!synced || done < total) {
            state.SkipWithError("the sequential write failed");
            return;
        }
        state.SetIterationTime(s);
        diskMBps = done / s / kMB;
        state.counters["MB_per_s"] = diskMBps;
        state.counters["GB_written"] = done / 1e9;
        std::printf("disk: %.1f GB written and synced at %.0f MB/s (dirty-page limit %.1f GB)\n", done / 1e9, diskMBps,
                    dirtyLimitBytes() / 1e9);
    }
}

// Frames received a second, from the first reception to the last.
double deliveredRate(const QString& csvPath, int* rows)
{
    QFile f(csvPath);
    *rows = 0;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    f.readLine();
    qint64 first = std::numeric_limits<qint64>::max(), last = 0;
    while (!f.atEnd()) {
        const QList<QByteArray> c = f.readLine().split(',');
        if (c.size() <= kReceiveColumn)
            continue;
        const qint64 t = c[kReceiveColumn].toLongLong();
        first = std::min(first, t);
        last = std::max(last, t);
        ++*rows;
    }
    return *rows > 1 && last > first ? (*rows - 1) * 1000.0 / double(last - first) : 0;
}

void BM_Recording(benchmark::State& state)
{
    const QString format = QString::fromLatin1(kFormats[state.range(0)]);
    for (auto _ : state) {
        QTemporaryDir dir;
        QFile devices(dir.filePath("devices.json"));
        if (!devices.open(QIODevice::WriteOnly) || devices.write(demoDevices()) < 0) {
            state.SkipWithError("cannot write the device file");
            return;
        }
        devices.close();
        QProcess host;
        host.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VCC_FEATURE_DIR"), QStringLiteral(RECORDING_SHARE));
        env.insert(QStringLiteral("VCC_DEVICE_FILE"), devices.fileName());
        host.setProcessEnvironment(env);
        const QStringList length = seconds() > 0 ? QStringList{"--free-run", QString::number(seconds())}
                                                 : QStringList{"--products", QString::number(products())};
        const auto start = std::chrono::steady_clock::now();
        host.start(QStringLiteral(RECORDING_HOST), QStringList{"capture", "--image-format", format, "--out", dir.filePath("out"),
                                                               "--plugins", QStringLiteral(RECORDING_PLUGINS)} + length);
        if (!host.waitForFinished(-1) || host.exitStatus() != QProcess::NormalExit) {
            state.SkipWithError("lorvexhost did not finish");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        QFile summaryFile(dir.filePath("out/summary.json"));
        if (!summaryFile.open(QIODevice::ReadOnly)) {
            state.SkipWithError(host.readAllStandardError().constData());
            return;
        }
        const QJsonObject summary = QJsonDocument::fromJson(summaryFile.readAll()).object();
        const QJsonObject writing = summary["writing"].toObject();
        int rows = 0;
        const double delivered = deliveredRate(dir.filePath("out/frames.csv"), &rows);
        const double written = writing["imagesPerSecond"].toDouble();
        const double writtenMB = writing["megabytesPerSecond"].toDouble();
        state.counters["delivered_per_s"] = delivered;
        state.counters["written_per_s"] = written;
        state.counters["written_vs_delivered"] = delivered > 0 ? written / delivered : 0;
        state.counters["written_MB_per_s"] = writtenMB;
        state.counters["not_written"] = summary["notWritten"].toDouble();
        state.counters["queue_peak_MiB"] = writing["queuePeakMiB"].toDouble();
        state.counters["encoders"] = writing["encoders"].toDouble();
        QString vsDisk;
        if (diskMBps > 0) {
            state.counters["vs_disk"] = writtenMB / diskMBps;
            vsDisk = QStringLiteral(", %1 of the disk's %2 MB/s").arg(writtenMB / diskMBps, 0, 'f', 2).arg(diskMBps, 0, 'f', 0);
        }
        std::printf("%s: %d frames, delivered %.1f/s, written %.1f/s (%.2f x) = %.0f MB/s%s, not written %d, "
                    "queue peak %.0f MiB\n",
                    qPrintable(format), rows, delivered, written, delivered > 0 ? written / delivered : 0.0, writtenMB,
                    qPrintable(vsDisk), summary["notWritten"].toInt(), writing["queuePeakMiB"].toDouble());
    }
}

BENCHMARK(BM_LosslessEncode)->DenseRange(0, int(std::size(kCodecs)) - 1)->MinTime(0.5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The disk's own rate first, so that the recordings can be set against it.
    if (seconds() > 0)
        benchmark::RegisterBenchmark("BM_SequentialWrite", BM_SequentialWrite)->Iterations(1)->UseManualTime()
            ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("BM_Recording", BM_Recording)->DenseRange(0, int(std::size(kFormats)) - 1)->Iterations(1)->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
