// vieweroptions.cpp - the viewer's flags, read by the kit as lorvexhost's are.
#include "vieweroptions.h"

#include "commandline.h"

namespace {

// Declares the flags on `p`, bound to `o`.
FlagTable describe(QCommandLineParser& p, ViewerOptions& o)
{
    const FlagTable flags = {
        {"serial", "S", "open this camera at start (repeatable; --screenshot and --measure: default every attached camera)", &o.serials},
        {"running", "", "open cameras with the running flag set (numbered, no preview thinning)", &o.running},
        {"strip", "", "show the strip of consecutive frames instead of one image", &o.strip},
        {"plugins", "DIR", "plug-in folder (<program dir>/../Plugins/Cameras)", &o.pluginDir},
        {"settings", "DIR", "settings folder shared with lorvexhost (./settings)", &o.settingsDir},
        {"feature-dir", "DIR", "virtual cameras only: folder of their feature file Lorvex.mfs (VCC_FEATURE_DIR, else <program dir>/../share/virtual)", &o.featureDir},
        {"verbose", "", "show the plug-in's info and debug records (its warnings are always shown)", &o.verbose},
        {"version", "", "print the version", &o.version},
        {"screenshot", "FILE", "wait for N frames per camera, write a PNG of the window, exit", &o.screenshot},
        {"frames", "N", "frames per camera before the picture (10)", &o.frames, 1, 1000000},
        {"timeout", "SECONDS", "how long to wait for them (30)", &o.timeoutSeconds, 1, 3600},
        {"measure", "SECONDS", "receive and display for this long, then print frames delivered, received and displayed per camera (virtual SDK)", &o.measureSeconds, 1, 86400},
    };
    describeFlags(p, flags);
    p.setApplicationDescription(QStringLiteral(
        "Opens the cameras of the camera plug-ins in a window: the live image, the camera's\n"
        "parameter panel, trigger and numbering settings. --screenshot and --measure run\n"
        "without anyone at the window (--measure implies --running).\n\n"
        "Exit codes: 0 done, 1 bad command line, 2 no camera, 3 picture not written,\n"
        "5 frames missing or goals not met."));
    return flags;
}

} // namespace

bool parseViewerOptions(const QStringList& args, ViewerOptions& o, QString& error)
{
    QCommandLineParser p;
    if (!readFlags(p, args, describe(p, o), error))
        return false;
    o.help = p.isSet(QStringLiteral("help"));
    if (!p.positionalArguments().isEmpty())
        error = QStringLiteral("unknown argument '%1'").arg(p.positionalArguments().first());
    else if (!o.screenshot.isEmpty() && o.measureSeconds > 0)
        error = QStringLiteral("--screenshot and --measure cannot be combined");
    else if (o.screenshot.isEmpty() && (p.isSet(QStringLiteral("frames")) || p.isSet(QStringLiteral("timeout"))))
        error = QStringLiteral("--%1 counts the frames of a --screenshot; add --screenshot FILE")
                    .arg(p.isSet(QStringLiteral("frames")) ? QStringLiteral("frames") : QStringLiteral("timeout"));
    return error.isEmpty();
}

QString viewerUsage()
{
    ViewerOptions o;
    QCommandLineParser p;
    describe(p, o);
    return QStringLiteral("usage: lorvexviewer [options]\n") + flagHelp(p);
}
