// commands.cpp - list and panel, and the steps every subcommand shares.
#include "commands.h"

#include "camerarun.h"
#include "panelprint.h"
#include "pluginwarnings.h"
#include "settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTextStream>

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

// The reports this tool writes into an output folder; --overwrite removes
// these and the pictures that frames.csv names, never anything else.
const QStringList kReportFiles{QStringLiteral("frames.csv"), QStringLiteral("summary.json"), QStringLiteral("contact-sheet.png")};

// A name this tool gives a frame's picture: SERIAL_pN_cN or, for a frame it
// could not place, SERIAL_unplaced_N; .png, .tif, .pgm or .ppm.
bool looksLikeFrame(const QString& name)
{
    static const QRegularExpression frame(QStringLiteral("^.+_(p\\d+_c\\d+|unplaced_\\d+)\\.(png|tif|pgm|ppm)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    return frame.match(name).hasMatch();
}

// The picture files a frames.csv names: its last field, quoted. Only plain
// names of files in the folder itself are taken.
QStringList picturesListedIn(const QString& csvPath)
{
    QStringList names;
    QFile f(csvPath);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return names;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const int open = line.lastIndexOf(QLatin1String(",\""));
        if (open < 0 || !line.endsWith(QLatin1Char('"')))
            continue;
        const QString name = line.mid(open + 2, line.size() - open - 3).replace(QLatin1String("\"\""), QLatin1String("\""));
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && name != QLatin1String("..")
            && looksLikeFrame(name))
            names << name;
    }
    return names;
}

// A fresh folder under `root`, named by the time; a suffix keeps runs started
// in the same second apart. mkdir fails on an existing folder, so two runs
// can never share one.
QString freshFolder(const QString& root)
{
    QDir().mkpath(root);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? stamp : QStringLiteral("%1-%2").arg(stamp).arg(n);
        if (QDir(root).mkdir(name))
            return QDir(root).filePath(name);
    }
    return QDir(root).filePath(stamp);
}

// Proves that a file can be written in `folder`.
bool canWriteIn(const QString& folder, QString& reason)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".write-test-XXXXXX")));
    if (!probe.open() || probe.write("x", 1) != 1 || !probe.flush()) {
        reason = probe.errorString();
        return false;
    }
    return true;
}

} // namespace

int loadPlugins(const HostOptions& o, PluginScan& scan)
{
    const QString folder = o.pluginDir.isEmpty() ? defaultPluginFolder() : o.pluginDir;
    scan = scanPlugins(folder);
    for (const RejectedFile& r : scan.rejected)
        say(QStringLiteral("skipped %1: %2").arg(r.file, r.reason));
    const QString problem = scanProblem(scan);
    if (!problem.isEmpty()) {
        say(QStringLiteral("error: %1").arg(problem));
        return kExitNoCamera;
    }
    return kExitOk;
}

QStringList chooseCameras(const HostOptions& o, const PluginScan& scan, int& unknown)
{
    unknown = 0;
    const QStringList attached = allSerials(scan);
    QStringList chosen;
    for (const QString& s : o.serials.isEmpty() ? attached : o.serials) {
        if (chosen.contains(s))
            continue;
        if (findCamera(scan, s).plugin < 0) {
            ++unknown;
            say(QStringLiteral("error: %1").arg(unknownSerialText(s, attached)));
            continue;
        }
        // Listed, but the plug-in would never open it: left out, and no loss.
        const QString refusal = pluginwarnings::serialRefusal(s);
        if (!refusal.isEmpty()) {
            say(QStringLiteral("%1: left out: %2").arg(s, refusal));
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
    QString reason;
    if (!canWriteIn(folder, reason)) {
        error = QStringLiteral("output folder %1 is not writable: %2").arg(folder, reason);
        return false;
    }
    return true;
}

void releaseOutputFolder(const HostOptions& o, const QString& defaultRoot, const QString& folder)
{
    // rmdir removes only empty folders: whatever the run or the user put
    // there stays.
    if (folder.isEmpty() || !QDir().rmdir(folder))
        return;
    if (o.outDir.isEmpty())
        QDir().rmdir(defaultRoot);
}

bool claimOutputFolder(const HostOptions& o, const QString& defaultRoot, QString& folder, QString& error)
{
    if (o.outDir.isEmpty()) {
        folder = freshFolder(defaultRoot);
        return prepareOutput(folder, error);
    }
    folder = o.outDir;
    QDir dir(folder);
    if (QFileInfo(folder).isDir() && !dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty()) {
        // Old pictures beside a new report would be taken for this run's.
        if (!o.overwrite) {
            error = QStringLiteral("output folder %1 is not empty (choose another, or add --overwrite to replace its pictures and reports)")
                        .arg(folder);
            return false;
        }
        const QStringList pictures = picturesListedIn(dir.filePath(QStringLiteral("frames.csv")));
        // A picture named like a frame that no frames.csv lists is the
        // user's: this run could write over it, so it stops instead.
        QStringList foreign;
        for (const QString& f : dir.entryList(QDir::Files))
            if (looksLikeFrame(f) && !pictures.contains(f))
                foreign << f;
        if (!foreign.isEmpty()) {
            error = QStringLiteral("output folder %1 holds %2 picture(s) named like frames that its frames.csv does not list "
                                   "(%3); --overwrite replaces only what a run wrote: move them or choose another folder")
                        .arg(folder).arg(foreign.size()).arg(foreign.first());
            return false;
        }
        for (const QString& f : pictures + kReportFiles)
            dir.remove(f);
    }
    return prepareOutput(folder, error);
}

int checkSettingsFolder(const HostOptions& o)
{
    const QString folder = o.settingsDir;
    QFileInfo info(folder);
    QString problem;
    if (info.exists() && !info.isDir())
        problem = QStringLiteral("it is a file");
    else if (!QDir().mkpath(folder))
        problem = QStringLiteral("it cannot be created");
    else if (!canWriteIn(folder, problem))
        problem = QStringLiteral("it is not writable: %1").arg(problem);
    if (problem.isEmpty())
        return kExitOk;
    say(QStringLiteral("error: settings folder %1 cannot be used: %2; stopped before opening any camera (use --settings DIR)")
            .arg(QDir(folder).absolutePath(), problem));
    return kExitSettingsFolder;
}

int prepareRun(const HostOptions& o, const QString& defaultRoot, const QString& nothingDone, QString& out, PluginScan& scan)
{
    QString error;
    if (!claimOutputFolder(o, defaultRoot, out, error)) {
        say(QStringLiteral("error: %1; %2").arg(error, nothingDone));
        return kExitOutput;
    }
    int rc = checkSettingsFolder(o);
    if (rc == kExitOk)
        rc = loadPlugins(o, scan);
    if (rc != kExitOk)
        releaseOutputFolder(o, defaultRoot, out);
    return rc;
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
        for (const QString& s : p.serials) {
            const QString refusal = pluginwarnings::serialRefusal(s);
            printOut(refusal.isEmpty() ? QStringLiteral("    %1\n").arg(s)
                                       : QStringLiteral("    %1  (cannot be opened: %2)\n").arg(s, refusal));
        }
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
        printOut(formatPanel(describePanel(items ? *items : QVector<ParamWrap*>(), deviceOwnedValues(cam), exposureValues(cam))));
    }
    run.close();
    return kExitOk;
}

