// pluginhost.h - finding camera plug-ins in a folder and listing their cameras.
#ifndef LORVEXKIT_PLUGINHOST_H
#define LORVEXKIT_PLUGINHOST_H

#include <QString>
#include <QStringList>
#include <QVector>

class CameraInterface;
class QPluginLoader;

// One plug-in that passed every check, with the cameras it listed.
struct LoadedPlugin
{
    QString file;
    QString iid;
    QString name;
    QString version;
    QString pluginId;
    CameraInterface* root = nullptr; // owned by the plug-in library
    QVector<QString> serials;        // from getCameraList, in its order
};

// A file of the folder that is not a usable camera plug-in, and why.
struct RejectedFile
{
    QString file;
    QString reason;
};

struct PluginScan
{
    QString folder;
    bool folderExists = false;
    QVector<LoadedPlugin> plugins;
    QVector<RejectedFile> rejected;
};

// The interface id every camera plug-in's metadata IID begins with.
extern const char* const kCameraInterfaceIid;

// The folder used without --plugins: <program dir>/../Plugins/Cameras.
QString defaultPluginFolder();

// The virtual SDK reads its feature file from VCC_FEATURE_DIR; without one
// every open would fail to find it. Sets the variable to `chosen` when given,
// else, when the variable is unset, to the folder the build writes beside
// the program (<program dir>/../share/virtual), only in a build over the
// virtual SDK: a build over an SDK for real cameras sets no default. Call
// before the plug-ins are loaded. False, with the reason in `error`, when
// `chosen` is not a folder holding Lorvex.mfs.
bool chooseFeatureFolder(const QString& chosen, QString& error);

// Loads every file of `folder` with QPluginLoader, checks the metadata IID,
// casts the instance to CameraInterface and lists its cameras. A file that
// fails a step is recorded in `rejected` and the scan goes on. Libraries stay
// loaded for the life of the process.
PluginScan scanPlugins(const QString& folder);

// Why `scan` leaves no camera to open (its folder is missing, or no file in
// it is a camera plug-in), for people; empty when it found a plug-in.
QString scanProblem(const PluginScan& scan);

// The message for a serial number that no plug-in lists.
QString unknownSerialText(const QString& serial, const QStringList& attached);

// Where a serial number was found: plug-in index and device index.
struct CameraLocation
{
    int plugin = -1;
    int device = -1;
};
CameraLocation findCamera(const PluginScan& scan, const QString& serial);

// Every serial number the scan listed, in plug-in then device order.
QStringList allSerials(const PluginScan& scan);

#endif
