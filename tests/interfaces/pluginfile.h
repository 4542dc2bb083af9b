// Where a host finds the built plug-in: LORVEX_PLUGIN_DIR (set by ctest to the
// build's Plugins/Cameras folder) and the module's file name from the build.
#ifndef TESTS_PLUGINFILE_H
#define TESTS_PLUGINFILE_H

#include <QDir>
#include <QString>
#include <QtGlobal>

inline QString pluginFilePath()
{
    const QString dir = qEnvironmentVariable("LORVEX_PLUGIN_DIR");
    if (dir.isEmpty())
        return QString();
    return QDir(dir).absoluteFilePath(QStringLiteral(LORVEX_PLUGIN_FILE));
}

#endif
