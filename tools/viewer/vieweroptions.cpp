// vieweroptions.cpp
#include "vieweroptions.h"

#include "flagvalue.h"

namespace {

bool number(const QStringList& args, int& i, double lo, double hi, double& out, QString& error)
{
    const QString flag = args[i];
    if (i + 1 >= args.size()) {
        error = QStringLiteral("%1 needs a value").arg(flag);
        return false;
    }
    bool ok = false;
    out = args[++i].toDouble(&ok);
    if (!ok || out < lo || out > hi) {
        error = QStringLiteral("%1: '%2' is not a number from %3 to %4").arg(flag, args[i]).arg(lo).arg(hi);
        return false;
    }
    return true;
}

bool text(const QStringList& args, int& i, QString& out, QString& error)
{
    if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
        error = QStringLiteral("%1 needs a value").arg(args[i]);
        return false;
    }
    if (looksLikeFlag(args[i + 1])) {
        error = QStringLiteral("%1 needs a value, and '%2' looks like a flag").arg(args[i], args[i + 1]);
        return false;
    }
    out = args[++i];
    return true;
}

} // namespace

bool parseViewerOptions(const QStringList& args, ViewerOptions& o, QString& error)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        double v = 0;
        QString s;
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            o.help = true;
        } else if (a == QLatin1String("--plugins")) {
            if (!text(args, i, o.pluginDir, error)) return false;
        } else if (a == QLatin1String("--settings")) {
            if (!text(args, i, o.settingsDir, error)) return false;
        } else if (a == QLatin1String("--feature-dir")) {
            if (!text(args, i, o.featureDir, error)) return false;
        } else if (a == QLatin1String("--verbose")) {
            o.verbose = true;
        } else if (a == QLatin1String("--serial")) {
            if (!text(args, i, s, error)) return false;
            o.serials << s;
        } else if (a == QLatin1String("--running")) {
            o.running = true;
        } else if (a == QLatin1String("--strip")) {
            o.strip = true;
        } else if (a == QLatin1String("--screenshot")) {
            if (!text(args, i, o.screenshot, error)) return false;
        } else if (a == QLatin1String("--frames")) {
            if (!number(args, i, 1, 1e6, v, error)) return false;
            o.frames = int(v);
        } else if (a == QLatin1String("--timeout")) {
            if (!number(args, i, 1, 3600, v, error)) return false;
            o.timeoutSeconds = v;
        } else if (a == QLatin1String("--measure")) {
            if (!number(args, i, 1, 86400, v, error)) return false;
            o.measureSeconds = v;
        } else {
            error = QStringLiteral("unknown argument '%1'").arg(a);
            return false;
        }
    }
    if (!o.screenshot.isEmpty() && o.measureSeconds > 0) {
        error = QStringLiteral("--screenshot and --measure cannot be combined");
        return false;
    }
    return true;
}

QString viewerUsage()
{
    return QStringLiteral(
        "usage: lorvexviewer [--serial S]... [--running] [--strip] [--plugins DIR] [--settings DIR]\n"
        "                    [--feature-dir DIR] [--verbose]\n"
        "       lorvexviewer --screenshot FILE [--serial S]... [--frames N] [--timeout SECONDS]\n"
        "       lorvexviewer --measure SECONDS --running [--serial S]...\n"
        "\n"
        "Opens the cameras of the camera plug-ins in a window: the live image, the\n"
        "camera's parameter panel, trigger and numbering settings.\n"
        "\n"
        "  --serial S          open this camera at start (repeatable; --screenshot and\n"
        "                      --measure: default every attached camera)\n"
        "  --running           open cameras with the running flag set (numbered, no\n"
        "                      preview thinning)\n"
        "  --strip             show the strip of consecutive frames instead of one image\n"
        "  --plugins DIR       plug-in folder (default <program dir>/../Plugins/Cameras)\n"
        "  --settings DIR      settings folder shared with lorvexhost (default ./settings)\n"
        "  --feature-dir DIR   virtual cameras only: folder of their feature file Lorvex.mfs\n"
        "                      (default VCC_FEATURE_DIR, else <program dir>/../share/virtual)\n"
        "  --verbose           show the plug-in's info and debug records (its warnings\n"
        "                      are always shown)\n"
        "  --screenshot FILE   wait for N frames per camera, write a PNG of the window, exit\n"
        "  --frames N          frames per camera before the picture (10)\n"
        "  --timeout SECONDS   how long to wait for them (30)\n"
        "  --measure SECONDS   receive and display for this long, then print frames\n"
        "                      delivered, received and displayed per camera (virtual SDK)\n"
        "\n"
        "Exit codes: 0 done, 1 bad command line, 2 no camera, 3 picture not written,\n"
        "5 frames missing or goals not met.\n");
}
