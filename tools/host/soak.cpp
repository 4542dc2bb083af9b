// soak.cpp - the reliability run. Every frame the devices delivered while the
// run was numbering must reach the host, every unplug must be followed by a
// reconnect, and numbering must go on where it stopped.
#include "soak.h"

#include "camerarun.h"
#include "commands.h"
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
#include <QThread>
#include <QTimer>

#include <cmath>
#include <functional>

namespace {

// Runs the event loop for up to `ms` or until `done` answers true. Returns
// false when Ctrl-C was pressed.
bool waitFor(qint64 ms, const std::function<bool()>& done = {})
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (interrupt::requested())
            return false;
        if (done && done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return !interrupt::requested();
}

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

} // namespace

int runSoak(const HostOptions& o)
{
    QString out, error;
    if (!claimOutputFolder(o, QStringLiteral("soak-out"), out, error)) {
        say(QStringLiteral("error: %1; nothing was run").arg(error));
        return kExitOutput;
    }
    int rc = checkSettingsFolder(o);
    if (rc != kExitOk)
        return rc;
    PluginScan scan;
    rc = loadPlugins(o, scan);
    if (rc != kExitOk)
        return rc;
    QString where;
    const VirtualControl vc = VirtualControl::find(where);
    if (!vc.usable()) {
        say(QStringLiteral("error: soak needs the virtual camera SDK's control functions (VCC_DetachDevice, VCC_AttachDevice, "
                           "VCC_GetDeviceCounters, VCC_SetFreeRunPaused); none found in %1. "
                           "A real SDK cannot unplug its cameras: use capture there.").arg(where));
        return kExitNoCamera;
    }
    int unknown = 0;
    CameraRun run;
    if ((rc = openCameras(o, scan, QStringLiteral("error: no camera to soak"), run, unknown)) != kExitOk)
        return rc;
    QVector<RunCamera>& cams = run.cameras();

    const bool numbersFromTrigger = o.triggerType == 32 && !o.sync;
    QVector<SoakCamera> soak(cams.size());
    QVector<Cycle> cycles;
    Progress progress;
    logwatch::setBeforeForward([&progress] { progress.clearLine(); });

    run.onFrame = [&](RunCamera& c, const ImageProcessData& d) {
        SoakCamera& s = soak[&c - cams.data()];
        ++s.received;
        if (d.productId <= 0)
            return;
        const ProductCapture now{d.productId, d.cycleCapture};
        if (s.awaitingFirst) {
            s.awaitingFirst = false;
            for (int i = cycles.size() - 1; i >= 0; --i) {
                if (cycles[i].serial != c.serial || cycles[i].checked)
                    continue;
                const ProductCapture want = nextNumbers(s.lastBefore, o.capturesPerProduct);
                cycles[i].checked = true;
                cycles[i].before = s.lastBefore;
                cycles[i].after = now;
                cycles[i].continuous = numbersFromTrigger || (want.product == now.product && want.capture == now.capture);
                break;
            }
        }
        c.lastProduct = now.product;
        c.lastCapture = now.capture;
        ++c.received;
    };
    run.onLoss = [&](RunCamera& c) {
        SoakCamera& s = soak[&c - cams.data()];
        if (!s.awaitingFirst) {
            s.awaitingFirst = true;
            s.lastBefore = {c.lastProduct, c.lastCapture};
        }
        for (Cycle& cy : cycles)
            if (cy.serial == c.serial && cy.reconnectMs < 0)
                cy.lossSeen = true;
    };

    auto pauseAll = [&](int paused) {
        for (const RunCamera& c : cams)
            vc.pauseFreeRun(c.serial.toUtf8().constData(), paused);
    };
    auto counters = [&](const RunCamera& c) {
        VCC_DEVICE_COUNTERS k{};
        vc.counters(c.serial.toUtf8().constData(), &k);
        return k;
    };

    // Baseline: with the devices quiet, every frame delivered from here on
    // is numbered and must arrive.
    pauseAll(1);
    waitFor(300);
    for (int i = 0; i < cams.size(); ++i) {
        const VCC_DEVICE_COUNTERS k = counters(cams[i]);
        soak[i].baseDelivered = k.framesDelivered;
        soak[i].baseDropped = k.framesDropped;
    }
    run.setRunning(true);
    pauseAll(0);

    QTimer ticker;
    ticker.setInterval(std::max(1, static_cast<int>(std::lround(1000.0 / o.rate))));
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!firesBySoftware(o.triggerType))
            return;
        for (int i = 0; i < cams.size(); ++i) {
            if (cams[i].continuous)
                continue;
            const int n = soak[i].nextTrigger++;
            const int cpp = std::max(1, o.capturesPerProduct);
            run.trigger(i, n / cpp + 1, n % cpp + 1);
        }
    });
    ticker.start();

    QRandomGenerator rng(o.seed ? o.seed : static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    bool interrupted = false;
    QElapsedTimer clock;
    clock.start();
    auto showProgress = [&](int cycle, const QString& what) {
        qint64 total = 0;
        for (const SoakCamera& s : soak)
            total += s.received;
        progress.update(cycle, o.cycles, QStringLiteral("cycles, %1 frames, %2").arg(total).arg(what));
        return false;
    };
    for (int k = 1; k <= o.cycles && !interrupted; ++k) {
        if (!waitFor(2000, [&] { return showProgress(k - 1, QStringLiteral("capturing")); })) { interrupted = true; break; }
        Cycle cy;
        cy.number = k;
        const int pick = static_cast<int>(rng.bounded(static_cast<quint32>(cams.size())));
        cy.serial = cams[pick].serial;
        cy.detachedMs = static_cast<qint64>(o.detachedSeconds * 1000 * (0.5 + rng.generateDouble()));
        cycles << cy;
        say(QStringLiteral("cycle %1: unplugging %2 for %3 ms").arg(k).arg(cy.serial).arg(cy.detachedMs));
        const int reconnectsBefore = cams[pick].reconnects;
        vc.detach(cy.serial.toUtf8().constData());
        if (!waitFor(cy.detachedMs, [&] { return showProgress(k - 1, QStringLiteral("unplugged")); })) {
            vc.attach(cy.serial.toUtf8().constData());
            interrupted = true;
            break;
        }
        vc.attach(cy.serial.toUtf8().constData());
        QElapsedTimer since;
        since.start();
        const bool came = waitFor(static_cast<qint64>(o.reconnectTimeout * 1000), [&] {
            showProgress(k - 1, QStringLiteral("waiting for the reconnect"));
            return cams[pick].reconnects > reconnectsBefore;
        });
        if (cams[pick].reconnects > reconnectsBefore)
            cycles.last().reconnectMs = since.elapsed();
        if (!came && interrupt::requested()) { interrupted = true; break; }
        if (!waitFor(1000, [&] { return showProgress(k, QStringLiteral("capturing")); })) { interrupted = true; break; }
    }

    // End: quiet the devices, take in what is on its way, then compare.
    ticker.stop();
    pauseAll(1);
    waitFor(500);
    QCoreApplication::processEvents();
    run.setRunning(false);
    waitFor(100);
    progress.finish();
    logwatch::setBeforeForward(nullptr);

    const LogCounts logs = logwatch::snapshot();
    QJsonArray camArray;
    qint64 lostTotal = 0;
    bool failed = false;
    for (int i = 0; i < cams.size(); ++i) {
        const VCC_DEVICE_COUNTERS k = counters(cams[i]);
        const qint64 delivered = static_cast<qint64>(k.framesDelivered - soak[i].baseDelivered);
        const qint64 lost = std::max<qint64>(0, delivered - soak[i].received);
        lostTotal += lost;
        const ContinuityCounts cc = logs.continuity.value(cams[i].index);
        QJsonObject j;
        j["serial"] = cams[i].serial;
        j["deliveredByDevice"] = delivered;
        j["received"] = soak[i].received;
        j["lostAfterDelivery"] = lost;
        j["droppedInSdkBuffers"] = static_cast<qint64>(k.framesDropped - soak[i].baseDropped);
        j["lostFramesInLog"] = cc.lostFrames;
        j["continuityWarnings"] = cc.warnings;
        j["losses"] = cams[i].losses;
        j["reconnects"] = cams[i].reconnects;
        camArray.append(j);
    }
    pauseAll(0);
    run.close();

    QJsonArray cycleArray;
    int missingReconnects = 0, breaks = 0;
    for (const Cycle& cy : cycles) {
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
            ++missingReconnects;
        if (cy.checked && !cy.continuous)
            ++breaks;
        if (cy.reconnectMs >= 0 && !cy.checked)
            ++breaks; // reconnected but no frame came afterwards
    }
    failed = lostTotal > 0 || missingReconnects > 0 || breaks > 0;
    QJsonObject s;
    s["cameras"] = camArray;
    s["cycles"] = cycleArray;
    s["lostAfterDelivery"] = lostTotal;
    s["missingReconnects"] = missingReconnects;
    s["numberingBreaks"] = breaks;
    s["interrupted"] = interrupted;
    s["passed"] = !failed && !interrupted;
    s["seconds"] = clock.elapsed() / 1000.0;
    s["criticalsInLog"] = logs.criticals;
    const QString summaryPath = QDir(out).filePath(QStringLiteral("summary.json"));
    if (!writeJsonFile(summaryPath, s, error))
        say(QStringLiteral("error: %1").arg(error));

    QTextStream os(stdout);
    os << QStringLiteral("soak: %1 cycle(s), %2 frame(s) lost after delivery, %3 reconnect(s) missing, %4 numbering break(s)\n")
              .arg(cycles.size()).arg(lostTotal).arg(missingReconnects).arg(breaks);
    for (const QJsonValue& v : camArray) {
        const QJsonObject j = v.toObject();
        os << QStringLiteral("  %1: %2 delivered, %3 received, %4 reconnect(s)\n")
                  .arg(j["serial"].toString()).arg(j["deliveredByDevice"].toInt()).arg(j["received"].toInt()).arg(j["reconnects"].toInt());
    }
    os << QStringLiteral("summary: %1\n").arg(QDir(summaryPath).absolutePath());
    os.flush();
    if (interrupted)
        return kExitInterrupted;
    return failed ? kExitIncomplete : kExitOk;
}
