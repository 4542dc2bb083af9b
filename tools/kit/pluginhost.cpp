// pluginhost.cpp - plug-in discovery: each step that can fail names the file
// and the reason, and the next file is tried.
#include "pluginhost.h"

#include <algorithm>
#include <vector>

#include "camerainterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

const char* const kCameraInterfaceIid = CameraInterface_iid;

namespace {
#ifdef LORVEX_REAL_CAMERA_SDK
constexpr bool kVirtualCameraSdk = false;
#else
constexpr bool kVirtualCameraSdk = true;
#endif
} // namespace

QString defaultPluginFolder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../Plugins/Cameras"));
}

bool chooseFeatureFolder(const QString& chosen, QString& error)
{
    if (!chosen.isEmpty()) {
        const QFileInfo info(chosen);
        if (!info.isDir()) {
            error = QStringLiteral("--feature-dir %1 %2").arg(chosen, info.exists() ? QStringLiteral("is not a folder")
                                                                                    : QStringLiteral("does not exist"));
            return false;
        }
        if (!QFileInfo(QDir(chosen).filePath(QStringLiteral("Lorvex.mfs"))).isFile()) {
            error = QStringLiteral("--feature-dir %1 holds no feature file Lorvex.mfs").arg(chosen);
            return false;
        }
    }
    QString folder = chosen;
    // The folder beside the program holds the virtual cameras' feature file:
    // over an SDK for real cameras it would set another maker's camera up as
    // a virtual one (or fail on its features), so there is no default there.
    if (folder.isEmpty() && kVirtualCameraSdk && qEnvironmentVariableIsEmpty("VCC_FEATURE_DIR")) {
        const QString beside = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/virtual"));
        if (QFileInfo::exists(beside))
            folder = beside;
    }
    if (!folder.isEmpty())
        qputenv("VCC_FEATURE_DIR", QDir(folder).absolutePath().toLocal8Bit());
    return true;
}

namespace {

// The loaders of every plug-in file looked at, for the life of the process.
std::vector<QPluginLoader*>& keptLoaders()
{
    static std::vector<QPluginLoader*>* const loaders = new std::vector<QPluginLoader*>;
    return *loaders;
}

// A loader of a file that turned out not to be a camera plug-in.
void forget(QPluginLoader* loader)
{
    auto& loaders = keptLoaders();
    loaders.erase(std::remove(loaders.begin(), loaders.end(), loader), loaders.end());
    delete loader;
}

} // namespace

PluginScan scanPlugins(const QString& folder)
{
    PluginScan scan;
    scan.folder = QDir::cleanPath(QDir(folder).absolutePath());
    QFileInfo info(scan.folder);
    scan.folderExists = info.exists() && info.isDir();
    if (!scan.folderExists)
        return scan;

    const QFileInfoList files = QDir(scan.folder).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& f : files) {
        const QString path = f.absoluteFilePath();
        // Kept alive on purpose (and reachable, so leak checkers agree):
        // unloading a library whose objects may still be referenced by Qt's
        // meta-type system is never safe.
        auto* loader = new QPluginLoader(path);
        keptLoaders().push_back(loader);
        const QJsonObject meta = loader->metaData();
        if (meta.isEmpty()) {
            scan.rejected.push_back({path, QStringLiteral("not a Qt plug-in (no plug-in metadata)")});
            forget(loader);
            continue;
        }
        const QString iid = meta.value(QStringLiteral("IID")).toString();
        if (!iid.startsWith(QLatin1String(kCameraInterfaceIid))) {
            scan.rejected.push_back({path, QStringLiteral("IID '%1' is not a camera plug-in's (%2...)").arg(iid, kCameraInterfaceIid)});
            forget(loader);
            continue;
        }
        QObject* instance = loader->instance();
        if (!instance) {
            scan.rejected.push_back({path, QStringLiteral("cannot be loaded: %1").arg(loader->errorString())});
            forget(loader);
            continue;
        }
        auto* root = qobject_cast<CameraInterface*>(instance);
        if (!root) {
            scan.rejected.push_back({path, QStringLiteral("its instance (%1) does not implement %2")
                                               .arg(instance->metaObject()->className(), kCameraInterfaceIid)});
            continue;
        }
        LoadedPlugin p;
        p.file = path;
        p.iid = iid;
        p.root = root;
        p.name = root->getPluginName();
        p.version = root->getVersion();
        p.pluginId = root->getPluginID();
        int count = 0;
        p.serials = root->getCameraList(count);
        if (count != p.serials.size())
            p.serials.resize(qBound(0, count, p.serials.size()));
        scan.plugins.push_back(p);
    }
    return scan;
}

CameraLocation findCamera(const PluginScan& scan, const QString& serial)
{
    for (int i = 0; i < scan.plugins.size(); ++i) {
        const int d = scan.plugins[i].serials.indexOf(serial);
        if (d >= 0)
            return {i, d};
    }
    return {};
}

QStringList allSerials(const PluginScan& scan)
{
    QStringList out;
    for (const LoadedPlugin& p : scan.plugins)
        for (const QString& s : p.serials)
            out << s;
    return out;
}

QString scanProblem(const PluginScan& scan)
{
    if (!scan.folderExists)
        return QStringLiteral("plug-in folder %1 does not exist (use --plugins DIR)").arg(scan.folder);
    if (scan.plugins.isEmpty())
        return QStringLiteral("no camera plug-in in %1").arg(scan.folder);
    return QString();
}

QString unknownSerialText(const QString& serial, const QStringList& attached)
{
    return QStringLiteral("no attached camera has serial number %1; attached: %2")
        .arg(serial, attached.isEmpty() ? QStringLiteral("(none)") : attached.join(QStringLiteral(", ")));
}
