// soak.cpp - the reliability run. Every frame the devices delivered while the
// run was numbering must reach the host, every unplug must be followed by a
// reconnect, and numbering must go on where it stopped.
#include "soak.h"

#include "camerarun.h"
#include "commands.h"
#include "eventwait.h"
#include "interrupt.h"
#include "logwatch.h"
#include "progress.h"
#include "reports.h"
#include "virtualcontrol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <functional>

namespace {

// Runs the event loop for up to `ms` or until `done` answers true. Returns
// false when Ctrl-C was pressed.
bool waitFor(qint64 ms, const std::function<bool()>& done = {})
{
    runEventsFor(ms, [&] { return interrupt::requested() || (done && done()); });
    return !interrupt::requested();
}

// Phases of one cycle, in milliseconds.
constexpr int kCaptureBeforeMs = 2000;
constexpr int kCaptureAfterMs = 1000;
constexpr int kQuietMs = 300;
constexpr int kTakeInMs = 500;
// The largest --seed the command line takes.
constexpr qint64 kMaxSeed = 0x7fffffff;

struct SoakCamera
{
    bool awaitingFirst = false;    // a loss was seen; the next frame is checked
    ProductCapture lastBefore;
    qint64 received = 0;
    unsigned long long baseDelivered = 0;
    unsigned long long baseDropped = 0;
    int nextTrigger = 0;
};

struct Cycle
{
    int number = 0;
    QString serial;
    qint64 detachedMs = 0;
    bool lossSeen = false;
    qint64 reconnectMs = -1;       // after the re-attach; -1: none came
    bool checked = false;
    bool continuous = true;
    ProductCapture before, after;
};

class Soak
{
public:
    explicit Soak(const HostOptions& o) : o_(o), schedule_(o.capturesPerProduct) {}

    int run()
    {
        const int rc = openEverything();
        if (rc != kExitOk)
            return rc;
        // Printed first, so that a run that fails or hangs can be replayed.
        say(QStringLiteral("soak: seed %1 (run again with --seed %1 for the same unplug order and times)").arg(seed_));
        receive();
        startNumbering();
        for (int k = 1; k <= o_.cycles && !interrupted_; ++k)
            interrupted_ = !unplugCycle(k);
        quietAndTakeIn();
        writeSummary();
        return verdict();
    }

private:
    int openEverything()
    {
        int rc = prepareRun(o_, QStringLiteral("soak-out"), QStringLiteral("nothing was run"), out_, scan_);
        if (rc != kExitOk)
            return rc;
        QString where;
        vc_ = VirtualControl::find(where);
        if (!vc_.usable()) {
            say(QStringLiteral("error: soak needs the virtual camera SDK's control functions (VCC_DetachDevice, VCC_AttachDevice, "
                               "VCC_GetDeviceCounters, VCC_SetFreeRunPaused); none found in %1. "
                               "A real SDK cannot unplug its cameras: use capture there.").arg(where));
            releaseOutputFolder(o_, QStringLiteral("soak-out"), out_);
            return kExitNoCamera;
        }
        int unknown = 0;
        if ((rc = openCameras(o_, scan_, QStringLiteral("error: no camera to soak"), run_, unknown)) != kExitOk) {
            releaseOutputFolder(o_, QStringLiteral("soak-out"), out_);
            return rc;
        }
        soak_.resize(run_.cameras().size());
        return kExitOk;
    }

    void receive()
    {
        logwatch::setBeforeForward([this] { progress_.clearLine(); });
        run_.onFrame = [this](RunCamera& c, const ImageProcessData& d) { takeFrame(c, d); };
        run_.onLoss = [this](RunCamera& c) { noteLoss(c); };
    }

    void takeFrame(RunCamera& c, const ImageProcessData& d)
    {
        // Only numbered frames: the baseline is taken with the devices quiet
        // but a preview frame delivered before it may still be on its way.
        if (d.productId <= 0)
            return;
        SoakCamera& s = soak_[&c - run_.cameras().data()];
        ++s.received;
        const ProductCapture now{d.productId, d.cycleCapture};
        if (s.awaitingFirst) {
            s.awaitingFirst = false;
            checkContinuation(c.serial, s.lastBefore, now);
        }
        c.lastProduct = now.product;
        c.lastCapture = now.capture;
        ++c.received;
    }

    // The first frame after a loss must follow the last one before it.
    void checkContinuation(const QString& serial, ProductCapture before, ProductCapture now)
    {
        CameraTrigParams trig;
        fillTrigParams(o_, trig);
        const bool numbersFromTrigger = numberingRule(trig, false).fromTrigger;
        for (int i = cycles_.size() - 1; i >= 0; --i) {
            Cycle& cy = cycles_[i];
            if (cy.serial != serial || cy.checked)
                continue;
            const ProductCapture want = schedule_.next(before);
            cy.checked = true;
            cy.before = before;
            cy.after = now;
            cy.continuous = numbersFromTrigger || (want.product == now.product && want.capture == now.capture);
            return;
        }
    }

    void noteLoss(RunCamera& c)
    {
        SoakCamera& s = soak_[&c - run_.cameras().data()];
        if (!s.awaitingFirst) {
            s.awaitingFirst = true;
            s.lastBefore = {c.lastProduct, c.lastCapture};
        }
        for (Cycle& cy : cycles_)
            if (cy.serial == c.serial && cy.reconnectMs < 0)
                cy.lossSeen = true;
    }

    void pauseAll(int paused)
    {
        for (const RunCamera& c : run_.cameras())
            vc_.pauseFreeRun(c.serial.toUtf8().constData(), paused);
    }

    VCC_DEVICE_COUNTERS counters(const RunCamera& c) const
    {
        VCC_DEVICE_COUNTERS k{};
        vc_.counters(c.serial.toUtf8().constData(), &k);
        return k;
    }

    // Baseline with the devices quiet: every frame delivered from here on
    // is numbered and must arrive. Then software triggers at the rate.
    void startNumbering()
    {
        QVector<RunCamera>& cams = run_.cameras();
        pauseAll(1);
        waitFor(kQuietMs);
        for (int i = 0; i < cams.size(); ++i) {
            const VCC_DEVICE_COUNTERS k = counters(cams[i]);
            soak_[i].baseDelivered = k.framesDelivered;
            soak_[i].baseDropped = k.framesDropped;
        }
        run_.setRunning(true);
        pauseAll(0);
        ticker_.setInterval(std::max(1, static_cast<int>(std::lround(1000.0 / o_.rate))));
        QObject::connect(&ticker_, &QTimer::timeout, [this] { triggerAll(); });
        ticker_.start();
        clock_.start();
    }

    void triggerAll()
    {
        if (!triggertypes::firesBySoftware(o_.triggerType))
            return;
        QVector<RunCamera>& cams = run_.cameras();
        for (int i = 0; i < cams.size(); ++i) {
            if (cams[i].continuous)
                continue;
            const FrameNumbers n = schedule_.at(soak_[i].nextTrigger++);
            run_.trigger(i, n.product, n.capture);
        }
    }

    bool showProgress(int cycle, const QString& what)
    {
        qint64 total = 0;
        for (const SoakCamera& s : soak_)
            total += s.received;
        progress_.update(cycle, o_.cycles, QStringLiteral("cycles, %1 frames, %2").arg(total).arg(what));
        return false;
    }

    // Captures, unplugs a random camera, plugs it in, waits for its
    // reconnect and captures again. False when Ctrl-C was pressed.
    bool unplugCycle(int k)
    {
        if (!waitFor(kCaptureBeforeMs, [&] { return showProgress(k - 1, QStringLiteral("capturing")); }))
            return false;
        QVector<RunCamera>& cams = run_.cameras();
        Cycle cy;
        cy.number = k;
        const int pick = static_cast<int>(rng_.bounded(static_cast<quint32>(cams.size())));
        cy.serial = cams[pick].serial;
        cy.detachedMs = static_cast<qint64>(o_.detachedSeconds * 1000 * (0.5 + rng_.generateDouble()));
        cycles_ << cy;
        say(QStringLiteral("cycle %1: unplugging %2 for %3 ms").arg(k).arg(cy.serial).arg(cy.detachedMs));
        const int reconnectsBefore = cams[pick].reconnects;
        const QByteArray serial = cy.serial.toUtf8();
        vc_.detach(serial.constData());
        const bool stayed = waitFor(cy.detachedMs, [&] { return showProgress(k - 1, QStringLiteral("unplugged")); });
        vc_.attach(serial.constData());
        if (!stayed)
            return false;
        QElapsedTimer since;
        since.start();
        const bool came = waitFor(static_cast<qint64>(o_.reconnectTimeout * 1000), [&] {
            showProgress(k - 1, QStringLiteral("waiting for the reconnect"));
            return cams[pick].reconnects > reconnectsBefore;
        });
        if (cams[pick].reconnects > reconnectsBefore)
            cycles_.last().reconnectMs = since.elapsed();
        if (!came && interrupt::requested())
            return false;
        return waitFor(kCaptureAfterMs, [&] { return showProgress(k, QStringLiteral("capturing")); });
    }

    // Quiets the devices and takes in what is on its way.
    void quietAndTakeIn()
    {
        ticker_.stop();
        pauseAll(1);
        waitFor(kTakeInMs);
        QCoreApplication::processEvents();
        run_.setRunning(false);
        waitFor(100);
        progress_.finish();
        logwatch::setBeforeForward(nullptr);
    }

    QJsonArray cameraReports()
    {
        const LogCounts logs = logwatch::snapshot();
        QJsonArray camArray;
        const QVector<RunCamera>& cams = run_.cameras();
        for (int i = 0; i < cams.size(); ++i) {
            const VCC_DEVICE_COUNTERS k = counters(cams[i]);
            const qint64 delivered = static_cast<qint64>(k.framesDelivered - soak_[i].baseDelivered);
            const qint64 lost = std::max<qint64>(0, delivered - soak_[i].received);
            lostTotal_ += lost;
            const ContinuityCounts cc = logs.continuity.value(cams[i].index);
            QJsonObject j;
            j["serial"] = cams[i].serial;
            j["deliveredByDevice"] = delivered;
            j["received"] = soak_[i].received;
            j["lostAfterDelivery"] = lost;
            j["droppedInSdkBuffers"] = static_cast<qint64>(k.framesDropped - soak_[i].baseDropped);
            j["lostFramesInLog"] = cc.lostFrames;
            j["continuityWarnings"] = cc.warnings;
            j["losses"] = cams[i].losses;
            j["reconnects"] = cams[i].reconnects;
            camArray.append(j);
        }
        return camArray;
    }

    QJsonArray cycleReports()
    {
        QJsonArray cycleArray;
        for (const Cycle& cy : cycles_) {
            QJsonObject j;
            j["cycle"] = cy.number;
            j["serial"] = cy.serial;
            j["unpluggedMs"] = cy.detachedMs;
            j["lossSeen"] = cy.lossSeen;
            j["reconnectAfterAttachMs"] = cy.reconnectMs >= 0 ? QJsonValue(cy.reconnectMs) : QJsonValue();
            if (cy.checked) {
                j["lastBefore"] = QStringLiteral("p%1 c%2").arg(cy.before.product).arg(cy.before.capture);
                j["firstAfter"] = QStringLiteral("p%1 c%2").arg(cy.after.product).arg(cy.after.capture);
            }
            j["numberingContinuous"] = cy.checked ? QJsonValue(cy.continuous) : QJsonValue();
            cycleArray.append(j);
            if (cy.reconnectMs < 0)
                ++missingReconnects_;
            if (cy.checked && !cy.continuous)
                ++breaks_;
            if (cy.reconnectMs >= 0 && !cy.checked)
                ++breaks_; // reconnected but no frame came afterwards
        }
        return cycleArray;
    }

    void writeSummary()
    {
        const LogCounts logs = logwatch::snapshot();
        cameras_ = cameraReports();
        pauseAll(0);
        run_.close();
        QJsonObject s;
        s["cameras"] = cameras_;
        s["cycles"] = cycleReports();
        s["seed"] = static_cast<qint64>(seed_);
        failed_ = lostTotal_ > 0 || missingReconnects_ > 0 || breaks_ > 0;
        s["lostAfterDelivery"] = lostTotal_;
        s["missingReconnects"] = missingReconnects_;
        s["numberingBreaks"] = breaks_;
        s["interrupted"] = interrupted_;
        s["passed"] = !failed_ && !interrupted_;
        s["seconds"] = clock_.elapsed() / 1000.0;
        s["criticalsInLog"] = logs.criticals;
        s["featureFileFailuresInLog"] = logs.featureFileFailures;
        summaryPath_ = QDir(out_).filePath(QStringLiteral("summary.json"));
        QString error;
        if (!writeJsonFile(summaryPath_, s, error))
            say(QStringLiteral("error: %1").arg(error));
    }

    int verdict()
    {
        QTextStream os(stdout);
        os << QStringLiteral("soak: %1 cycle(s), %2 frame(s) lost after delivery, %3 reconnect(s) missing, %4 numbering break(s)\n")
                  .arg(cycles_.size()).arg(lostTotal_).arg(missingReconnects_).arg(breaks_);
        for (const QJsonValue& v : cameras_) {
            const QJsonObject j = v.toObject();
            os << QStringLiteral("  %1: %2 delivered, %3 received, %4 reconnect(s)\n")
                      .arg(j["serial"].toString()).arg(j["deliveredByDevice"].toInt()).arg(j["received"].toInt()).arg(j["reconnects"].toInt());
        }
        os << QStringLiteral("summary: %1\n").arg(QDir(summaryPath_).absolutePath());
        os.flush();
        if (interrupted_)
            return kExitInterrupted;
        return failed_ ? kExitIncomplete : kExitOk;
    }

    const HostOptions& o_;
    const ProductSchedule schedule_;
    QString out_;
    QString summaryPath_;
    PluginScan scan_;
    VirtualControl vc_;
    CameraRun run_;
    QVector<SoakCamera> soak_;
    QVector<Cycle> cycles_;
    Progress progress_;
    QTimer ticker_;
    QElapsedTimer clock_;
    // Within what --seed takes (1 and up; 0 picks one), so that it replays.
    const quint32 seed_ = o_.seed ? quint32(o_.seed)
                                  : quint32(QDateTime::currentMSecsSinceEpoch() % kMaxSeed) + 1;
    QRandomGenerator rng_{seed_};
    QJsonArray cameras_;
    bool interrupted_ = false;
    bool failed_ = false;
    qint64 lostTotal_ = 0;
    int missingReconnects_ = 0;
    int breaks_ = 0;
};

} // namespace

int runSoak(const HostOptions& o)
{
    return Soak(o).run();
}
