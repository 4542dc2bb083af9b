// commands.h - the subcommands and the steps they share. capture lives in
// capture.cpp, soak in soak.cpp.
#ifndef LORVEXHOST_COMMANDS_H
#define LORVEXHOST_COMMANDS_H

#include "exitcodes.h"
#include "options.h"
#include "pluginhost.h"

#include <QJsonObject>
#include <QVector>


int runList(const HostOptions& o);
int runPanel(const HostOptions& o);
int runCapture(const HostOptions& o);
int runSoak(const HostOptions& o);

// Shared steps. Each prints its own messages to standard error.

// Scans the plug-in folder and reports rejected files. Returns kExitOk or
// kExitNoCamera (folder missing, or no usable plug-in).
int loadPlugins(const HostOptions& o, PluginScan& scan);

// The serial numbers to run: the requested ones that are attached (unknown
// ones are reported with the list of attached cameras), or every listed one.
QStringList chooseCameras(const HostOptions& o, const PluginScan& scan, int& unknown);

// Reads the settings file of each serial. An invalid file stops the run
// (kExitSettings) unless --reset-settings, which sets it aside and starts
// from defaults. An empty object in `out` means "write defaults".
int loadSettings(const HostOptions& o, const QStringList& serials, QVector<QJsonObject>& out);

// chooseCameras, then loadSettings for the chosen serials. With none chosen
// it returns kExitNoCamera, after printing `noCamera` unless that is empty.
int chooseAndLoadSettings(const HostOptions& o, const PluginScan& scan, const QString& noCamera,
                          QStringList& serials, QVector<QJsonObject>& settings, int& unknown);

// chooseAndLoadSettings, then opens the cameras in `run` with the trigger
// settings from the flags, writing default settings files where none exist,
// and prints what the opening reported. Returns kExitOk when `run` has at
// least one camera, kExitNoCamera when it has none, or the code of the
// failed step.
class CameraRun;
int openCameras(const HostOptions& o, const PluginScan& scan, const QString& noCamera, CameraRun& run, int& unknown);

// A run that stopped before writing anything leaves no folder behind: removes
// `folder` when it is empty (and the default root when that is empty too).
void releaseOutputFolder(const HostOptions& o, const QString& defaultRoot, const QString& folder);

// Creates `folder` and proves that a file can be written in it.
bool prepareOutput(const QString& folder, QString& error);

// The run's output folder: --out when given (refused when it holds anything,
// unless --overwrite, which removes the reports and the pictures that its
// frames.csv names, and nothing else), else a new
// folder under `defaultRoot` that no other run uses. Then prepareOutput.
bool claimOutputFolder(const HostOptions& o, const QString& defaultRoot, QString& folder, QString& error);

// The settings folder must exist or be creatable, and be writable, before
// any camera opens: otherwise the operator's settings would silently be
// neither used nor saved. Returns kExitOk or kExitSettingsFolder (after
// saying why).
int checkSettingsFolder(const HostOptions& o);

// The first steps of a run that writes files: claimOutputFolder (saying
// "error: ...; `nothingDone`" when it fails, kExitOutput), checkSettingsFolder,
// loadPlugins. Returns kExitOk or the code of the failed step.
int prepareRun(const HostOptions& o, const QString& defaultRoot, const QString& nothingDone, QString& out, PluginScan& scan);

// The trigger settings record from the flags.
class CameraTrigParams;
void fillTrigParams(const HostOptions& o, CameraTrigParams& p);

// Messages for people: to standard error, clear of the progress line.
void say(const QString& text);

#endif
