// headless.cpp
#include "headless.h"

#include "camerasession.h"
#include "cameratab.h"
#include "eventwait.h"
#include "mainwindow.h"
#include "viewerhost.h"
#include "vieweroptions.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMap>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <functional>

namespace {

// Measurement goals: every delivered frame received, and this many drawn per
// second per camera.
constexpr double kShownPerSecondGoal = 20.0;
// Frames keep arriving for a moment after the free run is paused.
constexpr qint64 kQuietMs = 500;
constexpr qint64 kDrainLimitMs = 10000;
constexpr qint64 kWarmUpMs = 2000;

void tell(const QString& text)
{
    std::fprintf(stderr, "lorvexviewer: %s\n", text.toLocal8Bit().constData());
}

void out(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

QVector<CameraTab*> openAll(MainWindow& window, const QStringList& serials)
{
    QVector<CameraTab*> tabs;
    for (const QString& s : serials)
        if (CameraTab* t = window.openCamera(s))
            tabs << t;
    return tabs;
}

} // namespace

int runScreenshot(MainWindow& window, const ViewerOptions& o, const QStringList& serials)
{
    window.setTiled(serials.size() > 1);
    const QVector<CameraTab*> tabs = openAll(window, serials);
    if (tabs.isEmpty()) {
        tell(QStringLiteral("no camera could be opened"));
        return kExitNoCamera;
    }
    for (CameraTab* t : tabs)
        t->showStrip(o.strip);
    window.show();
    // Settled: enough frames, one of them drawn, and the state says the
    // camera delivers, so the picture never shows "open" beside frames.
    const bool arrived = runEventsFor(qint64(o.timeoutSeconds * 1000), [&] {
        for (CameraTab* t : tabs)
            if (t->session()->accounting().delivered() < o.frames || (t->isVisible() && t->shown().image.empty())
                || t->session()->state() != CameraState::Grabbing)
                return false;
        return true;
    });
    if (!arrived) {
        for (CameraTab* t : tabs)
            tell(QStringLiteral("%1: %2 of %3 frames after %4 s (%5)")
                     .arg(t->session()->serial()).arg(t->session()->accounting().delivered()).arg(o.frames)
                     .arg(o.timeoutSeconds).arg(stateText(t->session()->state())));
        return kExitIncomplete;
    }
    runEventsFor(200);  // lets the status lines and histograms catch up
    // On a display server the picture is what the screen shows of the window;
    // without one (offscreen), what the window draws.
    const bool onScreen = QGuiApplication::platformName() == QLatin1String("xcb") && window.screen();
    const QImage picture = onScreen ? window.screen()->grabWindow(window.winId()).toImage() : window.grab().toImage();
    QImageWriter writer(o.screenshot, "png");
    if (!writer.write(picture)) {
        tell(QStringLiteral("cannot write %1: %2").arg(o.screenshot, writer.errorString()));
        return kExitOutput;
    }
    tell(QStringLiteral("wrote %1").arg(o.screenshot));
    return kExitOk;
}

int runMeasure(MainWindow& window, const ViewerHost& host, const ViewerOptions& o, const QStringList& serials)
{
    if (!host.canCount()) {
        tell(QStringLiteral("--measure needs the virtual camera SDK's device counters; none were found"));
        return kExitNoCamera;
    }
    QMap<QString, DeviceCounters> before;
    for (const QString& s : serials)
        host.counters(s, before[s]);
    window.setTiled(true);
    const QVector<CameraTab*> tabs = openAll(window, serials);
    if (tabs.isEmpty()) {
        tell(QStringLiteral("no camera could be opened"));
        return kExitNoCamera;
    }
    window.show();
    runEventsFor(kWarmUpMs);
    QMap<CameraTab*, qint64> shownAtStart;
    for (CameraTab* t : tabs)
        shownAtStart[t] = t->session()->gate().shownCount();
    QElapsedTimer window_;
    window_.start();
    runEventsFor(qint64(o.measureSeconds * 1000));
    const double seconds = window_.elapsed() / 1000.0;
    QMap<CameraTab*, qint64> shownAtEnd;
    for (CameraTab* t : tabs)
        shownAtEnd[t] = t->session()->gate().shownCount();

    // Stop the devices, then take in what is still on its way.
    for (CameraTab* t : tabs)
        host.pauseFreeRun(t->session()->serial(), true);
    auto total = [&] {
        qint64 n = 0;
        for (CameraTab* t : tabs)
            n += t->session()->accounting().delivered();
        return n;
    };
    QElapsedTimer drain;
    drain.start();
    qint64 last = -1;
    QElapsedTimer quiet;
    quiet.start();
    while (drain.elapsed() < kDrainLimitMs && quiet.elapsed() < kQuietMs) {
        runEventsFor(50);
        const qint64 now = total();
        if (now != last) {
            last = now;
            quiet.restart();
        }
    }

    bool met = true;
    out(QStringLiteral("%1 s measured, display goal %2 shown/s per camera\n").arg(seconds, 0, 'f', 1).arg(kShownPerSecondGoal));
    out(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
            .arg(QStringLiteral("camera"), -14).arg(QStringLiteral("delivered"), 10).arg(QStringLiteral("received"), 10)
            .arg(QStringLiteral("shown/s"), 8).arg(QStringLiteral("not shown"), 10).arg(QStringLiteral("sdk dropped"), 11)
            .arg(QStringLiteral("lost up"), 8).arg(QStringLiteral("misnumbered"), 11).arg(QStringLiteral("verdict")));
    for (CameraTab* t : tabs) {
        CameraSession* s = t->session();
        DeviceCounters after;
        host.counters(s->serial(), after);
        const DeviceCounters& b = before[s->serial()];
        const qint64 delivered = qint64(after.delivered - b.delivered);
        const qint64 received = s->accounting().delivered();
        const double shownRate = (shownAtEnd[t] - shownAtStart[t]) / seconds;
        const bool ok = delivered == received && delivered > 0 && shownRate >= kShownPerSecondGoal;
        met = met && ok;
        out(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                .arg(s->serial(), -14).arg(delivered, 10).arg(received, 10).arg(shownRate, 8, 'f', 1)
                .arg(s->gate().notShownCount(), 10).arg(qint64(after.dropped - b.dropped), 11)
                .arg(s->accounting().lostUpstream(), 8)
                .arg(s->accounting().misnumbered(), 11)
                .arg(ok ? QStringLiteral("ok") : QStringLiteral("MISSED")));
        host.pauseFreeRun(s->serial(), false);
    }
    return met ? kExitOk : kExitIncomplete;
}
