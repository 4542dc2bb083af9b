// vieweroptions.h - the viewer's command line.
#ifndef LORVEXVIEWER_VIEWEROPTIONS_H
#define LORVEXVIEWER_VIEWEROPTIONS_H

#include "exitcodes.h"  // the viewer exits with lorvexhost's codes

#include <QString>
#include <QStringList>

struct ViewerOptions
{
    QString pluginDir;                         // empty: <program dir>/../Plugins/Cameras
    QString settingsDir = QStringLiteral("settings");
    QString featureDir;                        // empty: VCC_FEATURE_DIR, else <program dir>/../share/virtual
    QStringList serials;                       // cameras to open at start
    bool running = false;                      // open with the running flag set
    QString screenshot;                        // write a picture of the window and exit
    int frames = 10;                           // frames per camera before the picture
    double timeoutSeconds = 30;                // how long to wait for them
    double measureSeconds = 0;                 // > 0: the display measurement
    bool strip = false;                        // open in the strip view
    bool verbose = false;                      // show the plug-in's info and debug records
    bool help = false;
    bool version = false;
};

bool parseViewerOptions(const QStringList& args, ViewerOptions& o, QString& error);
QString viewerUsage();

#endif
