// Recording at the cameras' rate: lorvexhost captures a burst from the two
// free-running demo cameras (4096 x 1000 mono at 100 frames/s, 2048 x 1000
// colour at 50 frames/s) and writes every frame. The baseline is the rate the
// cameras delivered in the same run (frames.csv's reception times); the
// figure is the rate the images were written at (summary.json), per format.
// A ratio of 1 or more means the encoders keep up; below 1 the writing queue
// holds the difference, and "not_written" says whether it was big enough.
//
//   build/bench/bench_recording                           200 products
//   RECORDING_PRODUCTS=600 build/bench/bench_recording    a longer burst
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

namespace {

const char* const kFormats[] = {"png", "pnm"};
constexpr int kDefaultProducts = 200;
constexpr int kReceiveColumn = 6; // receive_time_ms in frames.csv

int products()
{
    const int n = qEnvironmentVariableIntValue("RECORDING_PRODUCTS");
    return n > 0 ? n : kDefaultProducts;
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
        QProcess host;
        host.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VCC_FEATURE_DIR"), QStringLiteral(RECORDING_SHARE));
        env.remove(QStringLiteral("VCC_DEVICE_FILE"));
        host.setProcessEnvironment(env);
        const auto start = std::chrono::steady_clock::now();
        host.start(QStringLiteral(RECORDING_HOST),
                   {"capture", "--products", QString::number(products()), "--image-format", format, "--out", dir.filePath("out"),
                    "--plugins", QStringLiteral(RECORDING_PLUGINS)});
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
        state.counters["delivered_per_s"] = delivered;
        state.counters["written_per_s"] = written;
        state.counters["written_vs_delivered"] = delivered > 0 ? written / delivered : 0;
        state.counters["not_written"] = summary["notWritten"].toDouble();
        state.counters["queue_peak_MiB"] = writing["queuePeakMiB"].toDouble();
        state.counters["encoders"] = writing["encoders"].toDouble();
        std::printf("%s: %d frames, delivered %.1f/s, written %.1f/s (%.2f x), not written %d, queue peak %.0f MiB\n",
                    qPrintable(format), rows, delivered, written, delivered > 0 ? written / delivered : 0.0,
                    summary["notWritten"].toInt(), writing["queuePeakMiB"].toDouble());
    }
}

BENCHMARK(BM_Recording)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
