// The whole frame path, from the SDK's synchronous delivery on its callback
// thread through ImageCallBack and captureCompleted to a receiver connected
// directly, against the physical floor measured in the same run on the same
// thread and the same sources: the same memcpy (mono) or the same demosaicing
// (colour) into a rotation of as many warm destinations as the path keeps
// alive (the receiver's 8 images plus the one in flight).
//
// Shaped like a production host: production capture running (isRunning),
// debug records disabled by Qt's logging rules, the receiver keeps the last 8
// images and hands older ones to another thread that releases them while the
// next frame is already in flight. Sources rotate over more memory than the
// last-level cache holds, as a device's buffers would.
//
// Baseline and path alternate frame by frame, over several rounds of every
// case; a case's ratio is the median of the path's per-frame times over the
// median of its baseline's. Run through scripts/bench, which unsets TZ as
// hosts usually run.
#include "../../tests/common/devicepresets.h"
#include "MVCameraControl.h"
#include "VirtualCameraControl.h"
#include "cameralorvex.h"
#include "../../tests/common/cameraprobe.h"
#include "../common/verdict.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kHeld = 8;                      // images the receiver keeps alive
constexpr int kDestinations = kHeld + 1;      // ... plus the one in flight
constexpr size_t kSourceSpan = size_t(96) << 20;  // three times a 32 MiB L3
constexpr int kRounds = 3;
constexpr int kWarmFrames = 40;               // per run, before anything counts
constexpr int kMemoryFrames = 10000;
constexpr int kMemoryCheckpoint = 1000;

using Clock = std::chrono::steady_clock;

struct Case
{
    const char* name;
    const char* serial;
    const char* model;  // a trailing 'M' marks a monochrome sensor
    unsigned width;
    unsigned height;
    unsigned pixelFormat;
    bool colour;
    int frames;  // per run
};

const Case kCases[] = {
    {"mono_4096x1000", "BENCH-M4096", "BN-4096-GM", 4096, 1000, PixelType_Gvsp_Mono8, false, 800},
    {"mono_8192x2000", "BENCH-M8192", "BN-8192-GM", 8192, 2000, PixelType_Gvsp_Mono8, false, 200},
    {"colour_2048x2000", "BENCH-C2048", "BN-2048-GC", 2048, 2000, PixelType_Gvsp_BayerRG8, true, 300},
    {"tiny_64x16", "BENCH-T64", "BN-64-GM", 64, 16, PixelType_Gvsp_Mono8, false, 20000},
};

// ---- the receiver: the host's pattern ------------------------------------------

// Holds the last kHeld records; each record pushed out goes to the release
// thread through a single-producer, single-consumer ring, so the SDK thread
// never waits for the release and never makes a system call to hand it over.
class Receiver
{
public:
    Receiver() : releaser([this] { releaseLoop(); }) {}
    ~Receiver()
    {
        stop.store(true);
        releaser.join();
    }

    // On the SDK's thread, under the camera's mutex.
    void onFrame(const ImageProcessData& data)
    {
        noteBuffer(data.image.data);
        ImageProcessData& slot = held[next];
        next = (next + 1) % kHeld;
        if (!slot.image.empty()) {
            const size_t h = head.load(std::memory_order_relaxed);
            while (h - tail.load(std::memory_order_acquire) >= outgoing.size()) {
                ++fullWaits;
                std::this_thread::yield();  // the releaser is far behind
            }
            outgoing[h % outgoing.size()] = std::move(slot);
            head.store(h + 1, std::memory_order_release);
        }
        slot = data;
    }

    // Lets everything go (between runs, with no frame in flight).
    void drop()
    {
        for (ImageProcessData& slot : held)
            slot = ImageProcessData();
        while (tail.load() != head.load())
            std::this_thread::yield();
    }

    size_t pendingHighWater() const { return highWater.load(); }
    size_t fullWaits = 0;  // times the ring was full (SDK thread only)

    // Distinct image buffers seen since the last reset: the buffers the
    // camera had to allocate. A fixed table: nothing here may allocate.
    size_t distinctBuffers() const { return distinct; }
    void resetBuffers()
    {
        seen.fill(nullptr);
        distinct = 0;
    }

private:
    void noteBuffer(const void* p)
    {
        size_t i = (reinterpret_cast<uintptr_t>(p) >> 6) % seen.size();
        for (size_t n = 0; n < seen.size(); ++n, i = (i + 1) % seen.size()) {
            if (seen[i] == p)
                return;
            if (!seen[i]) {
                seen[i] = p;
                ++distinct;
                return;
            }
        }
    }

    std::array<const void*, 4096> seen{};
    size_t distinct = 0;

    void releaseLoop()
    {
        // Lowest normal priority: on a machine with few cores the releaser's
        // wake-ups would otherwise preempt the SDK's thread in the middle of
        // a frame and be counted as the frame path's cost. (An idle-class
        // thread starves while other processes load the machine.)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
        while (!stop.load(std::memory_order_relaxed)) {
            const size_t h = head.load(std::memory_order_acquire);
            size_t t = tail.load(std::memory_order_relaxed);
            if (h - t > highWater.load(std::memory_order_relaxed))
                highWater.store(h - t, std::memory_order_relaxed);
            if (t == h) {
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                continue;
            }
            for (; t != h; ++t)
                outgoing[t % outgoing.size()] = ImageProcessData();  // the release
            tail.store(t, std::memory_order_release);
        }
    }

    std::array<ImageProcessData, kHeld> held;
    size_t next = 0;
    std::array<ImageProcessData, 64> outgoing;
    std::atomic<size_t> head{0};
    std::atomic<size_t> tail{0};
    std::atomic<size_t> highWater{0};
    std::atomic<bool> stop{false};
    std::thread releaser;
};

// ---- one camera and its two ways of handling a frame ----------------------------

// The SDK calls this in place of ImageCallBack: either the frame path itself
// or the baseline, on the same thread, timed around the handling alone.
struct Lane
{
    CameraLorvex* camera = nullptr;
    const Case* spec = nullptr;
    bool baseline = false;
    std::vector<cv::Mat> destinations;  // the baseline's warm rotation
    size_t nextDestination = 0;
    int64_t lastNs = 0;
};

void MV_CC_CALL dispatch(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* user)
{
    Lane& lane = *static_cast<Lane*>(user);
    const Clock::time_point start = Clock::now();
    if (!lane.baseline) {
        CameraLorvexProbe::ImageCallBack(data, info, lane.camera);
    } else {
        cv::Mat& dst = lane.destinations[lane.nextDestination];
        lane.nextDestination = (lane.nextDestination + 1) % lane.destinations.size();
        if (lane.spec->colour) {
            const cv::Mat src(int(lane.spec->height), int(lane.spec->width), CV_8UC1, data);
            cv::cvtColor(src, dst, cv::COLOR_BayerBG2RGB);  // Bayer RG8 into RGB order
        } else {
            std::memcpy(dst.data, data, info->nFrameLen);
        }
        benchmark::ClobberMemory();
    }
    lane.lastNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

struct Bench
{
    const Case* spec = nullptr;
    std::unique_ptr<CameraLorvex> camera;
    Lane lane;
    Receiver receiver;
    std::vector<unsigned char*> sources;
    MV_FRAME_OUT_INFO_EX info{};
    size_t nextSource = 0;
    size_t frameBytes = 0;

    // Delivers one frame; the time spent handling it, in nanoseconds. Only
    // the path's frames advance the numbering, so that the path sees an
    // unbroken sequence across the baseline's runs.
    int64_t deliver()
    {
        if (!lane.baseline)
            ++info.nFrameNum;
        info.nFrameCounter = info.nFrameNum;
        info.nTriggerIndex = info.nFrameNum;
        const unsigned long long ticks = 100000ull * info.nFrameNum;  // 1 ms apart
        info.nDevTimeStampHigh = unsigned(ticks >> 32);
        info.nDevTimeStampLow = unsigned(ticks & 0xffffffffu);
        unsigned char* src = sources[nextSource];
        nextSource = (nextSource + 1) % sources.size();
        if (VCC_DeliverFrame(probe(camera).sdkHandle(), &info, src) != MV_OK)
            return -1;
        return lane.lastNs;
    }
};

// ---- shared state ------------------------------------------------------------------

std::map<std::string, std::unique_ptr<Bench>> benches;
std::unique_ptr<unsigned char[]> sourceSpan;

struct Result
{
    std::vector<int64_t> ns;  // per frame, over every round; written before use
    long faults = 0;          // minor page faults while the path's frames ran, rounds 2..
    long faultFrames = 0;     // the path's frames of those rounds
    long firstRoundFaults = 0;
    long frames = 0;
    size_t buffers = 0;       // most distinct image buffers seen in one run

    // Storage touched in advance: a page fault of our own would be counted.
    void prepare(size_t frames) { ns.assign(frames, 0); }
    std::vector<int64_t> samples() const { return {ns.begin(), ns.begin() + frames}; }
};
std::map<std::string, Result> results;  // "<case>/path", "<case>/baseline"

struct MemoryRun
{
    long peakAtCheckpointKb = 0;
    long peakAtEndKb = 0;
    long rssAtCheckpointKb = 0;
    long rssAtEndKb = 0;
    bool ran = false;   // the benchmark filter let it run
    bool done = false;
} memoryRun;

long minorFaults()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long rssKb()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int addDevice(const Case& c)
{
    presets::DevicePreset d = presets::monoDevice(c.serial, c.width, c.height);
    d.manufacturer = "ZEQ Bench";
    d.model = c.model;
    d.heightMax = c.height;
    d.formats = {c.pixelFormat};
    const int status = presets::addDevice(d);
    return status == MV_OK ? VCC_SetFreeRunPaused(c.serial, 1) : status; // only the benchmark's deliveries
}

// Devices, cameras started with isRunning set, sources and warm destinations.
bool setUp(const QString& featureDir)
{
    qputenv("VCC_FEATURE_DIR", featureDir.toLocal8Bit());
    VCC_Reset();
    VCC_CallLogEnable(0);
    for (const Case& c : kCases) {
        if (addDevice(c) != MV_OK) {
            std::fprintf(stderr, "device %s could not be made\n", c.serial);
            return false;
        }
    }

    // One span of memory, written once, that every case's sources rotate over.
    sourceSpan.reset(new unsigned char[kSourceSpan]);
    for (size_t i = 0; i < kSourceSpan; ++i)
        sourceSpan[i] = static_cast<unsigned char>(i * 131u + (i >> 12));

    CameraLorvex root;
    int count = 0;
    root.getCameraList(count);
    int cameraIndex = 0;
    for (const Case& c : kCases) {
        auto b = std::make_unique<Bench>();
        b->spec = &c;
        b->camera.reset(static_cast<CameraLorvex*>(root.createCamera(cameraIndex++, c.serial, 0)));
        CameraLorvex* cam = b->camera.get();
        if (!cam || !probe(cam).opened()) {
            std::fprintf(stderr, "camera %s did not open\n", c.serial);
            return false;
        }
        cam->colorImage = c.colour;
        b->lane.camera = cam;
        b->lane.spec = &c;
        {
            QMutexLocker frames(cam->getMutex());
            cam->isRunning = true;
        }
        MV_CC_RegisterImageCallBackEx(probe(cam).sdkHandle(), dispatch, &b->lane);
        probe(cam).restoreDevice();
        Receiver* receiver = &b->receiver;
        QObject::connect(
            cam, &CameraInterface::captureCompleted, cam,
            [receiver](ImageProcessData data) { receiver->onFrame(data); }, Qt::DirectConnection);

        b->frameBytes = size_t(c.width) * c.height;
        const size_t stride = (b->frameBytes + 4095) & ~size_t(4095);
        for (size_t off = 0; off + b->frameBytes <= kSourceSpan; off += stride)
            b->sources.push_back(sourceSpan.get() + off);
        b->info.nWidth = static_cast<unsigned short>(c.width);
        b->info.nHeight = static_cast<unsigned short>(c.height);
        b->info.enPixelType = static_cast<decltype(b->info.enPixelType)>(c.pixelFormat);
        b->info.nFrameLen = static_cast<unsigned>(b->frameBytes);
        for (int i = 0; i < kDestinations; ++i) {
            cv::Mat dst(int(c.height), int(c.width), c.colour ? CV_8UC3 : CV_8UC1);
            dst.setTo(cv::Scalar::all(1));  // warm: every page already mapped
            b->lane.destinations.push_back(dst);
        }
        benches[c.name] = std::move(b);
    }
    return true;
}

void tearDown()
{
    for (auto& entry : benches) {
        Bench& b = *entry.second;
        b.camera.reset();  // stops and closes the device
        b.receiver.drop();
    }
    benches.clear();
}

// ---- the benchmarks -------------------------------------------------------------

double percentile(std::vector<int64_t> v, double p);

// One iteration is one frame of the baseline and one of the path, in turns
// (and in alternating order), so both see the same machine at the same moment.
// The reported time is the path's.
void runFrames(benchmark::State& state, const Case* c, int round)
{
    Bench& b = *benches.at(c->name);
    for (int i = 0; i < kWarmFrames; ++i) {
        b.lane.baseline = (i & 1) != 0;
        b.deliver();
    }
    Result& base = results[std::string(c->name) + "/baseline"];
    Result& path = results[std::string(c->name) + "/path"];
    const size_t first = size_t(path.frames);
    b.receiver.resetBuffers();
    long frames = 0;
    for (auto _ : state) {
        int64_t pathNs = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool baseline = ((frames + turn) & 1) == 0;
            b.lane.baseline = baseline;
            Result& r = baseline ? base : path;
            const long faultsBefore = baseline ? 0 : minorFaults();
            const int64_t ns = b.deliver();
            if (!baseline) {
                // The first round lets the pool find the host's working set.
                const long faults = minorFaults() - faultsBefore;
                (round == 1 ? path.firstRoundFaults : path.faults) += faults;
                path.faultFrames += round == 1 ? 0 : 1;
                pathNs = ns;
            }
            if (ns < 0) {
                state.SkipWithError("delivery failed");
                return;
            }
            if (size_t(r.frames) < r.ns.size())
                r.ns[size_t(r.frames)] = ns;
            ++r.frames;
        }
        ++frames;
        state.SetIterationTime(double(pathNs) * 1e-9);
    }
    path.buffers = std::max(path.buffers, b.receiver.distinctBuffers());
    const std::vector<int64_t> p(path.ns.begin() + long(first), path.ns.begin() + path.frames);
    const std::vector<int64_t> q(base.ns.begin() + long(first), base.ns.begin() + base.frames);
    const double pm = percentile(p, 0.5), bm = percentile(q, 0.5);
    state.counters["baseline_us"] = bm / 1000.0;
    state.counters["path_us"] = pm / 1000.0;
    state.counters["p99_us"] = percentile(p, 0.99) / 1000.0;
    state.counters["base_p99_us"] = percentile(q, 0.99) / 1000.0;
    state.counters["ratio"] = bm > 0 ? pm / bm : 0;
    state.SetBytesProcessed(int64_t(frames) * int64_t(b.frameBytes));
}

// Frames 1 to kMemoryFrames of the path on a fresh rotation: the process's
// peak memory at frame kMemoryCheckpoint and at the end.
void memoryRunFrames(benchmark::State& state)
{
    Bench& b = *benches.at(kCases[0].name);
    b.lane.baseline = false;
    memoryRun.ran = true;
    long frame = 0;
    for (auto _ : state) {
        const int64_t ns = b.deliver();
        if (ns < 0) {
            state.SkipWithError("delivery failed");
            break;
        }
        state.SetIterationTime(double(ns) * 1e-9);
        if (++frame == kMemoryCheckpoint) {
            memoryRun.peakAtCheckpointKb = peakKb();
            memoryRun.rssAtCheckpointKb = rssKb();
        }
    }
    memoryRun.peakAtEndKb = peakKb();
    memoryRun.rssAtEndKb = rssKb();
    memoryRun.done = frame >= kMemoryFrames;
}

void registerAll()
{
    benchmark::RegisterBenchmark("memory/mono_4096x1000/frames:10000", memoryRunFrames)
        ->Iterations(kMemoryFrames)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    for (int round = 1; round <= kRounds; ++round) {
        for (const Case& c : kCases) {
            const std::string name = std::string(c.name) + "/round:" + std::to_string(round);
            benchmark::RegisterBenchmark(name.c_str(), runFrames, &c, round)
                ->Iterations(c.frames)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

// ---- the summary --------------------------------------------------------------------

double percentile(std::vector<int64_t> v, double p)
{
    if (v.empty())
        return 0;
    const size_t k = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return double(v[k]);
}

// One value per round of a case's samples (rounds of `frames` frames each,
// in the order run); none when the case did not run.
std::vector<double> perRound(const std::vector<int64_t>& samples, long frames, double (*f)(std::vector<int64_t>))
{
    const size_t rounds = frames > 0 ? samples.size() / size_t(frames) : 0;
    return verdict::perBlock(samples.size(), rounds, [&](size_t from, size_t to) {
        return f({samples.begin() + long(from), samples.begin() + long(to)});
    });
}

double medianUs(std::vector<int64_t> v) { return percentile(std::move(v), 0.5) / 1000.0; }
double p99Us(std::vector<int64_t> v) { return percentile(std::move(v), 0.99) / 1000.0; }

bool summary()
{
    std::vector<verdict::Goal> goals;
    std::printf("\nframe path against its floor, goals on the median of the interleaved rounds' values (TZ %s)\n",
                std::getenv("TZ") ? "SET - run through scripts/bench" : "unset");
    std::printf("%-18s %12s %12s %8s %8s %14s %8s\n", "case", "baseline us", "path us", "ratio", "goal",
                "faults/frame", "buffers");
    for (const Case& c : kCases) {
        const Result& base = results[std::string(c.name) + "/baseline"];
        const Result& path = results[std::string(c.name) + "/path"];
        const std::vector<double> b = perRound(base.samples(), c.frames, medianUs);
        const std::vector<double> p = perRound(path.samples(), c.frames, medianUs);
        std::vector<double> ratios;
        for (size_t i = 0; i < std::min(b.size(), p.size()); ++i)
            ratios.push_back(b[i] > 0 ? p[i] / b[i] : 1e9);
        if (ratios.empty()) {
            std::printf("%-18s %12s %12s %8s %8s\n", c.name, "-", "-", "-", "not run");
            continue;
        }
        const bool tiny = c.width * c.height < 4096; // judged on its fixed cost below
        if (!tiny)
            goals.push_back({std::string(c.name) + " ratio", 1.10, ratios});
        const double faults = path.faultFrames ? double(path.faults) / double(path.faultFrames) : 0;
        std::printf("%-18s %12.2f %12.2f %8.3f %8s %14.4f %8zu\n", c.name, verdict::median(b), verdict::median(p),
                    verdict::median(ratios), tiny ? "-" : goals.back().text(), faults, path.buffers);
    }

    const Result& tiny = results["tiny_64x16/path"];
    long frames64 = 0;
    for (const Case& c : kCases)
        if (std::string(c.name) == "tiny_64x16")
            frames64 = c.frames;
    goals.push_back({"fixed cost median", 5.0, perRound(tiny.samples(), frames64, medianUs)});
    goals.push_back({"fixed cost p99", 20.0, perRound(tiny.samples(), frames64, p99Us)});
    const verdict::Goal& med = goals[goals.size() - 2];
    const verdict::Goal& p99 = goals.back();
    std::printf("\nfixed cost per frame (64 x 16, whole callback incl. receiver): median %.2f us (goal 5: %s), "
                "p99 %.2f us (goal 20: %s)\n", med.value(), med.text(), p99.value(), p99.text());

    long faults = 0, frames = 0, first = 0;
    for (const Case& c : kCases) {
        const Result& r = results[std::string(c.name) + "/path"];
        faults += r.faults;
        frames += r.faultFrames;
        first += r.firstRoundFaults;
    }
    goals.push_back({"page faults", 0.0, frames > 0 ? std::vector<double>{double(faults)} : std::vector<double>{}});
    std::printf("page faults in steady state (rounds 2 to %d): %ld over %ld frames of the path (goal 0: %s); "
                "round 1, while the pool grows to the host's working set: %ld\n",
                kRounds, faults, frames, goals.back().text(), first);
    size_t waits = 0, lag = 0;
    for (auto& entry : benches) {
        waits += entry.second->receiver.fullWaits;
        lag = std::max(lag, entry.second->receiver.pendingHighWater());
    }
    std::printf("release thread: at most %zu images waiting for release; the receiver waited for it %zu times\n",
                lag, waits);

    if (memoryRun.done) {
        const double growth = memoryRun.peakAtCheckpointKb
                                  ? 100.0 * double(memoryRun.peakAtEndKb - memoryRun.peakAtCheckpointKb) /
                                        double(memoryRun.peakAtCheckpointKb)
                                  : 0;
        goals.push_back({"peak memory growth", 5.0, {growth}});
        std::printf("peak memory at frame %d: %.1f MiB, at frame %d: %.1f MiB, growth %.2f %% (goal 5 %%: %s); "
                    "resident %.1f -> %.1f MiB\n",
                    kMemoryCheckpoint, memoryRun.peakAtCheckpointKb / 1024.0, kMemoryFrames,
                    memoryRun.peakAtEndKb / 1024.0, growth, goals.back().text(),
                    memoryRun.rssAtCheckpointKb / 1024.0, memoryRun.rssAtEndKb / 1024.0);
    } else if (memoryRun.ran) {
        goals.push_back({"peak memory growth", 5.0, {1e9}}); // ran, but did not complete
        std::printf("peak memory run: not completed (NOT MET)\n");
    } else {
        std::printf("peak memory run: not run\n");
    }
    std::printf("process peak memory: %.1f MiB (sources %zu MiB, the baselines' destinations and every case's "
                "buffers included)\n",
                peakKb() / 1024.0, kSourceSpan >> 20);
    std::printf("buffers: distinct image buffers one run of the path saw (the pool's working set)\n");
    const verdict::Overall o = verdict::overall(goals);
    std::printf("%s\n", verdict::overallText(o));
    return o != verdict::Overall::NotMet;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);

    QTemporaryDir featureDir;
    {
        QFile file(QDir(featureDir.path()).filePath(QStringLiteral("Lorvex.mfs")));
        if (file.open(QIODevice::WriteOnly))
            file.write("ExposureAuto = Off\n");
    }
    if (!featureDir.isValid() || !setUp(featureDir.path())) {
        tearDown();
        return 1;
    }
    for (const Case& c : kCases) {
        results[std::string(c.name) + "/baseline"].prepare(size_t(kRounds) * size_t(c.frames));
        results[std::string(c.name) + "/path"].prepare(size_t(kRounds) * size_t(c.frames));
    }
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    const bool met = summary();
    tearDown();
    return met ? 0 : 2; // 2: a goal that ran was not met
}
