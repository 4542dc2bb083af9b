// commands.cpp - list, panel and capture.
#include "commands.h"

#include "camerarun.h"
#include "framewriter.h"
#include "interrupt.h"
#include "logwatch.h"
#include "panelprint.h"
#include "progress.h"
#include "reports.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryFile>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>

void say(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

namespace {

void printOut(const QString& text)
{
    QTextStream(stdout) << text;
}

// Lets queued signals arrive for `ms` milliseconds.
void drainEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    } while (t.elapsed() < ms);
    QCoreApplication::processEvents();
}

} // namespace

int loadPlugins(const HostOptions& o, PluginScan& scan)
{
    const QString folder = o.pluginDir.isEmpty() ? defaultPluginFolder() : o.pluginDir;
    scan = scanPlugins(folder);
    if (!scan.folderExists) {
        say(QStringLiteral("error: plug-in folder %1 does not exist (use --plugins DIR)").arg(scan.folder));
        return kExitNoCamera;
    }
    for (const RejectedFile& r : scan.rejected)
        say(QStringLiteral("skipped %1: %2").arg(r.file, r.reason));
    if (scan.plugins.isEmpty()) {
        say(QStringLiteral("error: no camera plug-in in %1").arg(scan.folder));
        return kExitNoCamera;
    }
    return kExitOk;
}

QStringList chooseCameras(const HostOptions& o, const PluginScan& scan, int& unknown)
{
    unknown = 0;
    const QStringList attached = allSerials(scan);
    if (o.serials.isEmpty())
        return attached;
    QStringList chosen;
    for (const QString& s : o.serials) {
        if (chosen.contains(s))
            continue;
        if (findCamera(scan, s).plugin < 0) {
            ++unknown;
            say(QStringLiteral("error: no attached camera has serial number %1; attached: %2")
                    .arg(s, attached.isEmpty() ? QStringLiteral("(none)") : attached.join(QStringLiteral(", "))));
            continue;
        }
        chosen << s;
    }
    return chosen;
}

int loadSettings(const HostOptions& o, const QStringList& serials, QVector<QJsonObject>& out)
{
    SettingsStore store(o.settingsDir);
    out.clear();
    bool stop = false;
    for (const QString& s : serials) {
        StoredSettings st = store.read(s);
        if (st.state == StoredSettings::State::Invalid) {
            if (!o.resetSettings) {
                say(QStringLiteral("error: %1").arg(st.problem));
                stop = true;
            } else {
                const QString aside = store.setAside(s);
                say(QStringLiteral("%1\n  --reset-settings: %2; starting from defaults").arg(st.problem,
                    aside.isEmpty() ? QStringLiteral("could not move it aside, it will be overwritten")
                                    : QStringLiteral("kept as %1").arg(aside)));
            }
            out << QJsonObject();
            continue;
        }
        out << st.json;
    }
    if (stop) {
        say(QStringLiteral("stopped before opening any camera; fix the file or run again with --reset-settings"));
        return kExitSettings;
    }
    return kExitOk;
}

int chooseAndLoadSettings(const HostOptions& o, const PluginScan& scan, const QString& noCamera,
                          QStringList& serials, QVector<QJsonObject>& settings, int& unknown)
{
    serials = chooseCameras(o, scan, unknown);
    if (serials.isEmpty()) {
        if (!noCamera.isEmpty())
            say(noCamera);
        return kExitNoCamera;
    }
    return loadSettings(o, serials, settings);
}

int openCameras(const HostOptions& o, const PluginScan& scan, const QString& noCamera, CameraRun& run, int& unknown)
{
    QStringList serials;
    QVector<QJsonObject> settings;
    const int rc = chooseAndLoadSettings(o, scan, noCamera, serials, settings, unknown);
    if (rc != kExitOk)
        return rc;

    CameraTrigParams trig;
    fillTrigParams(o, trig);
    const SettingsStore store(o.settingsDir);
    QStringList messages;
    run.open(scan, serials, settings, trig, &store, messages);
    for (const QString& m : messages)
        say(m);
    if (run.cameras().isEmpty())
        return kExitNoCamera;
    return kExitOk;
}

bool prepareOutput(const QString& folder, QString& error)
{
    QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        error = QStringLiteral("output folder %1 is a file").arg(folder);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("output folder %1 cannot be created").arg(folder);
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".write-test-XXXXXX")));
    if (!probe.open() || probe.write("x", 1) != 1 || !probe.flush()) {
        error = QStringLiteral("output folder %1 is not writable: %2").arg(folder, probe.errorString());
        return false;
    }
    return true;
}

void fillTrigParams(const HostOptions& o, CameraTrigParams& p)
{
    p.triggerType = o.triggerType;
    p.capturesPerProduct = o.capturesPerProduct;
    p.productsPerCycle = o.productsPerCycle;
    p.cycleTimeout = o.cycleTimeout;
    p.syncProductId = o.sync ? 1 : 0;
}

// ---------------------------------------------------------------------------

int runList(const HostOptions& o)
{
    PluginScan scan;
    const int rc = loadPlugins(o, scan);
    if (rc != kExitOk)
        return rc;
    for (const LoadedPlugin& p : scan.plugins) {
        printOut(QStringLiteral("plug-in %1\n  name    %2\n  version %3\n  IID     %4\n  cameras %5\n")
                     .arg(p.file, p.name, p.version, p.iid).arg(p.serials.size()));
        for (const QString& s : p.serials)
            printOut(QStringLiteral("    %1\n").arg(s));
    }
    return kExitOk;
}

int runPanel(const HostOptions& o)
{
    PluginScan scan;
    int rc = loadPlugins(o, scan);
    if (rc != kExitOk)
        return rc;
    int unknown = 0;
    QStringList serials;
    QVector<QJsonObject> settings;
    if ((rc = chooseAndLoadSettings(o, scan, QString(), serials, settings, unknown)) != kExitOk)
        return rc;

    // The panel shows the stored values when a settings file exists; the
    // panel never creates one.
    CameraRun run;
    QStringList messages;
    run.open(scan, serials, settings, CameraTrigParams(), nullptr, messages);
    for (const QString& m : messages)
        if (!m.contains(QLatin1String("settings written")))
            say(m);
    if (run.cameras().isEmpty())
        return kExitNoCamera;
    CameraInterface* cam = run.cameras().first().cam;
    if (o.json) {
        QJsonObject json;
        cam->serialize(json);
        printOut(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented)));
    } else {
        const QSize size = cam->getImageSize();
        printOut(QStringLiteral("camera %1: %2 x %3, %4 channel(s), %5\n")
                     .arg(cam->getSerialNumber()).arg(size.width()).arg(size.height()).arg(cam->getChannels())
                     .arg(run.cameras().first().continuous ? QStringLiteral("runs without triggers")
                                                           : QStringLiteral("waits for triggers")));
        const QVector<ParamWrap*>* items = cam->getParamItems();
        printOut(formatPanel(describePanel(items ? *items : QVector<ParamWrap*>())));
    }
    run.close();
    return kExitOk;
}

// ---------------------------------------------------------------------------

namespace {

// Numbers the plug-in is expected to give the i-th frame (from 0) of a run.
struct Numbers { int product, capture, productInCycle; };
Numbers expectedNumbers(int i, int capturesPerProduct, int productsPerCycle)
{
    const int cpp = std::max(1, capturesPerProduct), ppc = std::max(1, productsPerCycle);
    const int p = i / cpp + 1;
    return {p, i % cpp + 1, (p - 1) % ppc + 1};
}

struct CameraReport
{
    int mismatches = 0;
    QString firstMismatch;
    int expected = 0;
};

} // namespace

int runCapture(const HostOptions& o)
{
    const QString out = o.outDir.isEmpty()
        ? QStringLiteral("capture-out/%1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")))
        : o.outDir;
    QString error;
    if (!prepareOutput(out, error)) {
        say(QStringLiteral("error: %1; nothing was captured").arg(error));
        return kExitOutput;
    }

    PluginScan scan;
    int rc = loadPlugins(o, scan);
    if (rc != kExitOk)
        return rc;
    int unknown = 0;
    CameraRun run;
    if ((rc = openCameras(o, scan, QStringLiteral("error: no camera to capture from"), run, unknown)) != kExitOk)
        return rc;
    QVector<RunCamera>& cams = run.cameras();

    FrameCsv csv;
    if (!csv.open(QDir(out).filePath(QStringLiteral("frames.csv")), error)) {
        say(QStringLiteral("error: %1").arg(error));
        return kExitOutput;
    }
    FrameWriter writer(out, o.saveImages, o.pngCompression, o.sheetLimit);
    Progress progress;
    logwatch::setBeforeForward([&progress] { progress.clearLine(); });

    const bool freeRun = o.freeRunSeconds > 0;
    const int perCamera = freeRun ? 0 : o.products * o.captures;
    const bool softwareFired = firesBySoftware(o.triggerType);
    bool anyTriggered = false;
    for (const RunCamera& rc2 : cams) {
        if (!rc2.opened)
            continue;
        if (rc2.continuous) {
            say(QStringLiteral("%1: the device runs without triggers (its trigger mode is off); frames are counted as they come")
                    .arg(rc2.serial));
        } else {
            anyTriggered = true;
            if (!softwareFired)
                say(QStringLiteral("%1: trigger type %2 is not fired by software; waiting for external triggers")
                        .arg(rc2.serial).arg(o.triggerType));
        }
    }
    // Which numbers the plug-in should give the i-th frame of a camera; false
    // when the settings leave them to chance (no check then).
    auto expectedFor = [&](const RunCamera& c, int i, Numbers& e) {
        const bool fromTrigger = o.triggerType == 32 && !o.sync;
        if (fromTrigger && c.continuous)
            return false; // every frame carries the numbers of the one arming trigger
        if (fromTrigger) {
            e = expectedNumbers(i, o.captures, o.productsPerCycle);
            return true;
        }
        if (o.sync && o.captures != o.capturesPerProduct)
            return false;
        e = expectedNumbers(i, o.capturesPerProduct, o.productsPerCycle);
        return true;
    };
    QVector<CameraReport> reports(cams.size());
    for (CameraReport& r : reports)
        r.expected = perCamera;

    qint64 received = 0;
    QVector<FrameRecord> frames;
    run.onFrame = [&](RunCamera& rc2, const ImageProcessData& d) {
        if (d.productId <= 0) {
            ++rc2.preview; // a frame taken while not running: not part of the run
            return;
        }
        FrameRecord r;
        r.camera = rc2.serial;
        r.cameraIndex = rc2.index;
        r.product = d.productId;
        r.capture = d.cycleCapture;
        r.productInCycle = d.cycleProduct;
        r.deviceTimeMs = d.captureTime.isValid() ? d.captureTime.toMSecsSinceEpoch() : 0;
        r.receiveTimeMs = d.receiveTime;
        r.hostTimeMs = QDateTime::currentMSecsSinceEpoch();
        r.width = d.image.cols;
        r.height = d.image.rows;
        r.channels = d.image.channels();
        if (!d.image.empty())
            r.file = writer.submit(d.image, QStringLiteral("%1_p%2_c%3").arg(rc2.serial).arg(r.product).arg(r.capture),
                                   QStringLiteral("%1 p%2 c%3").arg(rc2.serial).arg(r.product).arg(r.capture),
                                   QStringLiteral("%1|%2|%3").arg(rc2.serial).arg(r.product, 10, 10, QChar('0')).arg(r.capture, 10, 10, QChar('0')));
        if (!o.saveImages)
            r.file.clear();
        csv.append(r);
        frames << r;
        Numbers e{0, 0, 0};
        if (expectedFor(rc2, rc2.received, e)) {
            const int slot = &rc2 - cams.data();
            if (e.product != r.product || e.capture != r.capture || e.productInCycle != r.productInCycle) {
                if (reports[slot].mismatches++ == 0)
                    reports[slot].firstMismatch = QStringLiteral("frame %1 numbered (%2, %3, %4), expected (%5, %6, %7)")
                        .arg(rc2.received + 1).arg(r.product).arg(r.capture).arg(r.productInCycle)
                        .arg(e.product).arg(e.capture).arg(e.productInCycle);
            }
        }
        ++rc2.received;
        ++received;
    };
    run.onLoss = [&](RunCamera& rc2) { say(QStringLiteral("%1: camera lost").arg(rc2.serial)); };
    run.onReconnect = [&](RunCamera& rc2) { say(QStringLiteral("%1: camera reconnected").arg(rc2.serial)); };

    // Triggering: one (product, capture) per tick on every triggered camera.
    const QDateTime started = QDateTime::currentDateTime();
    run.setRunning(true, perCamera);
    int nextTrigger = 0;
    const int triggerCount = freeRun ? -1 : perCamera;
    QElapsedTimer clock;
    clock.start();
    qint64 deadline = freeRun ? static_cast<qint64>(o.freeRunSeconds * 1000)
                              : static_cast<qint64>((perCamera / o.rate + o.timeoutSeconds) * 1000);
    bool interrupted = false;

    QEventLoop loop;
    QTimer ticker;
    ticker.setInterval(std::max(1, static_cast<int>(std::lround(1000.0 / o.rate))));
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (triggerCount >= 0 && nextTrigger >= triggerCount) {
            ticker.stop();
            return;
        }
        const int product = nextTrigger / o.captures + 1, capture = nextTrigger % o.captures + 1;
        if (softwareFired)
            for (int i = 0; i < cams.size(); ++i)
                if (!cams[i].continuous)
                    run.trigger(i, product, capture);
        ++nextTrigger;
        if (triggerCount >= 0 && nextTrigger >= triggerCount)
            deadline = std::min(deadline, clock.elapsed() + static_cast<qint64>(o.timeoutSeconds * 1000));
    });
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupt::requested()) {
            interrupted = true;
            loop.quit();
            return;
        }
        bool complete = !freeRun;
        for (const RunCamera& c : cams)
            if (c.received < perCamera)
                complete = false;
        if (complete || clock.elapsed() >= deadline) {
            loop.quit();
            return;
        }
        progress.update(received, freeRun ? 0 : perCamera * cams.size(),
                        freeRun ? QStringLiteral("%1 s").arg(clock.elapsed() / 1000) : QString());
    });
    if (anyTriggered)
        ticker.start();
    watch.start();
    loop.exec();
    ticker.stop();
    watch.stop();

    // Stop numbering, then take in what was already on its way.
    run.setRunning(false);
    drainEvents(300);
    run.close();
    drainEvents(50);
    progress.update(received, freeRun ? 0 : perCamera * cams.size(), interrupted ? QStringLiteral("interrupted") : QStringLiteral("done"));
    progress.finish();
    logwatch::setBeforeForward(nullptr);

    writer.finish();
    csv.close();
    const QString sheetPath = QDir(out).filePath(QStringLiteral("contact-sheet.png"));
    QString sheetError;
    const bool sheet = writeContactSheet(sheetPath, writer.thumbnails(), sheetError);

    // Summary.
    const LogCounts logs = logwatch::snapshot();
    QJsonArray camArray;
    bool missing = false;
    int delivered = 0;
    for (int i = 0; i < cams.size(); ++i) {
        const RunCamera& c = cams[i];
        const ContinuityCounts cc = logs.continuity.value(c.index);
        QJsonObject j;
        j["serial"] = c.serial;
        j["cameraIndex"] = c.index;
        j["opened"] = c.opened;
        j["mode"] = !c.opened ? "not opened" : c.continuous ? "runs without triggers" : "triggered";
        if (!freeRun)
            j["expected"] = perCamera;
        j["delivered"] = c.received;
        j["dropped"] = freeRun ? 0 : std::max(0, perCamera - c.received);
        j["previewFramesIgnored"] = c.preview;
        j["lostFramesInLog"] = cc.lostFrames;
        j["lostPacketsInLog"] = cc.lostPackets;
        j["continuityWarnings"] = cc.warnings;
        j["losses"] = c.losses;
        j["reconnects"] = c.reconnects;
        Numbers probe{0, 0, 0};
        if (expectedFor(c, 0, probe)) {
            j["numberingMismatches"] = reports[i].mismatches;
            if (reports[i].mismatches)
                j["firstNumberingMismatch"] = reports[i].firstMismatch;
        }
        camArray.append(j);
        delivered += c.received;
        if (!freeRun && c.received < perCamera)
            missing = true;
    }
    QJsonObject t;
    t["triggerType"] = o.triggerType;
    t["capturesPerProduct"] = o.capturesPerProduct;
    t["productsPerCycle"] = o.productsPerCycle;
    t["cycleTimeout"] = o.cycleTimeout;
    t["syncProductId"] = o.sync ? 1 : 0;
    QJsonObject s;
    s["started"] = started.toString(Qt::ISODateWithMs);
    s["finished"] = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    s["interrupted"] = interrupted;
    s["trigger"] = t;
    if (freeRun)
        s["freeRunSeconds"] = o.freeRunSeconds;
    else {
        s["products"] = o.products;
        s["captures"] = o.captures;
        s["rate"] = o.rate;
    }
    s["cameras"] = camArray;
    s["delivered"] = delivered;
    s["dropped"] = freeRun ? 0 : perCamera * cams.size() - delivered;
    qint64 lost = 0;
    for (const ContinuityCounts& cc : logs.continuity)
        lost += cc.lostFrames;
    s["lostFramesInLog"] = lost;
    int reconnects = 0;
    for (const RunCamera& c : cams)
        reconnects += c.reconnects;
    s["reconnects"] = reconnects;
    s["cycleTimeoutsInLog"] = logs.cycleTimeouts;
    s["warningsInLog"] = logs.warnings;
    s["criticalsInLog"] = logs.criticals;
    s["imagesWritten"] = writer.written();
    s["writerWaits"] = writer.stalls();
    s["writeErrors"] = QJsonArray::fromStringList(writer.errors());
    s["settingsFolder"] = QDir(o.settingsDir).absolutePath();
    s["contactSheet"] = sheet ? QStringLiteral("contact-sheet.png") : QString();
    const QString summaryPath = QDir(out).filePath(QStringLiteral("summary.json"));
    if (!writeJsonFile(summaryPath, s, error))
        say(QStringLiteral("error: %1").arg(error));
    for (const QString& e : writer.errors())
        say(QStringLiteral("error: %1").arg(e));

    const QString abs = QDir(out).absolutePath();
    printOut(QStringLiteral("%1 frames from %2 camera(s)%3\n").arg(delivered).arg(cams.size())
                 .arg(freeRun ? QString() : QStringLiteral(" (%1 expected)").arg(perCamera * cams.size())));
    printOut(QStringLiteral("pictures:      %1/\n").arg(abs));
    printOut(QStringLiteral("report:        %1\n").arg(QDir(abs).filePath(QStringLiteral("frames.csv"))));
    printOut(QStringLiteral("summary:       %1\n").arg(QDir(abs).filePath(QStringLiteral("summary.json"))));
    if (sheet)
        printOut(QStringLiteral("contact sheet: %1\n").arg(QDir(abs).filePath(QStringLiteral("contact-sheet.png"))));
    else
        say(QStringLiteral("no contact sheet: %1").arg(sheetError));

    if (interrupted)
        return kExitInterrupted;
    if (missing) {
        say(QStringLiteral("error: not every expected frame arrived (see %1)").arg(summaryPath));
        return kExitIncomplete;
    }
    if (!writer.errors().isEmpty())
        return kExitOutput;
    if (unknown > 0)
        say(QStringLiteral("note: %1 requested serial number(s) were not attached").arg(unknown));
    return kExitOk;
}
