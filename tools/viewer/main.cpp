// main.cpp - lorvexviewer: camera plug-ins in a window.
#include "camerasession.h"
#include "cameratab.h"
#include "commandline.h"
#include "headless.h"
#include "logwatch.h"
#include "mainwindow.h"
#include "pluginhost.h"
#include "pluginwarnings.h"
#include "viewerhost.h"
#include "vieweroptions.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

void tell(const QString& text)
{
    std::fprintf(stderr, "lorvexviewer: %s\n", text.toLocal8Bit().constData());
}

// Whether Qt can open a window here: a platform chosen by hand, or a display.
bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Qt keeps per-session files in XDG_RUNTIME_DIR and warns on every lookup
// when a session (a service, a container, ssh without a login) has none. A
// private folder (mode 0700, as Qt requires) serves this run and is removed
// at its end.
std::unique_ptr<QTemporaryDir> provideRuntimeDir()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return nullptr;
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid())
        return nullptr;  // Qt then falls back to its own choice, with its warning
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir->path()));
    return dir;
}

} // namespace

int main(int argc, char** argv)
{
    // Without a display Qt's window system would abort the program: the
    // application is made off screen, and only the modes that need no
    // window go on.
    const bool display = haveDisplay();
    if (!display)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QTemporaryDir> runtimeDir = provideRuntimeDir();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lorvexviewer"));

    ViewerOptions o;
    QString error;
    if (!parseViewerOptions(app.arguments().mid(1), o, error)) {
        // One line that names the fault; the whole list is one flag away.
        tell(QStringLiteral("%1 (lorvexviewer --help lists the flags)").arg(error));
        return kExitUsage;
    }
    if (o.help) {
        std::fputs(viewerUsage().toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    if (o.version) {
        std::fputs(versionLine(QStringLiteral("lorvexviewer")).toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    const bool headless = !o.screenshot.isEmpty() || o.measureSeconds > 0;
    if (!display && !headless) {
        tell(QStringLiteral("error: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set); "
                            "run it on a desktop, or use --screenshot or --measure, which need none"));
        return kExitUsage;
    }
    if (o.measureSeconds > 0)
        o.running = true;  // without it the plug-in thins frames to a preview

    if (!chooseFeatureFolder(o.featureDir, error)) {
        tell(QStringLiteral("error: %1; stopped before opening any camera").arg(error));
        return kExitUsage;
    }
    // Before any camera: every camera's records reach it.
    LogWatch logs(o.verbose);
    ViewerHost host(o.pluginDir, o.settingsDir);
    QStringList notes;
    if (!host.scan(error, notes)) {
        for (const QString& n : notes)
            tell(n);
        tell(error);
        return kExitNoCamera;
    }
    QStringList serials;
    for (const QString& s : o.serials) {
        if (!host.serials().contains(s)) {
            tell(unknownSerialText(s, host.serials()));
            continue;
        }
        serials << s;
    }
    if (headless && o.serials.isEmpty())
        serials = host.serials();
    // Listed, but never opened by the plug-in: left out with the reason.
    for (const QString& s : QStringList(serials)) {
        const QString refusal = pluginwarnings::serialRefusal(s);
        if (!refusal.isEmpty()) {
            tell(QStringLiteral("%1: left out: %2").arg(s, refusal));
            serials.removeAll(s);
        }
    }
    if (serials.isEmpty() && (headless || !o.serials.isEmpty())) {
        tell(QStringLiteral("no camera to open"));
        return kExitNoCamera;
    }

    MainWindow window(&host, o.running);
    window.resize(1600, 1000);
    int rc = kExitOk;
    if (!o.screenshot.isEmpty()) {
        rc = runScreenshot(window, o, serials);
    } else if (o.measureSeconds > 0) {
        rc = runMeasure(window, host, o, serials);
    } else {
        for (const QString& s : serials)
            if (CameraTab* t = window.openCamera(s))
                t->showStrip(o.strip);
        window.show();
        rc = app.exec();
    }
    return rc;
}
