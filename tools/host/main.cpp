// main.cpp - lorvexhost: loads camera plug-ins and drives them as a host does.
#include "commandline.h"
#include "commands.h"
#include "interrupt.h"
#include "logwatch.h"
#include "options.h"
#include "pluginhost.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // A plain core application: the cameras' reconnect timers need this
    // thread's event loop, and no window system is required.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorvexhost"));

    HostOptions options;
    QString error;
    if (!parseOptions(app.arguments().mid(1), options, error)) {
        std::fprintf(stderr, "lorvexhost: %s\n", error.toLocal8Bit().constData());
        if (app.arguments().size() < 2)
            std::fputs(usageText().toLocal8Bit().constData(), stderr);
        else
            std::fputs("(lorvexhost --help for usage)\n", stderr);
        return kExitUsage;
    }
    if (options.command == Command::Help) {
        std::fputs((options.helpText.isEmpty() ? usageText() : options.helpText).toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    if (options.command == Command::Version) {
        std::fputs(versionLine(QStringLiteral("lorvexhost")).toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    // A feature folder that is not there would leave every camera in
    // whatever mode the device happens to be in: stop before any opens.
    if (!chooseFeatureFolder(options.featureDir, error)) {
        std::fprintf(stderr, "lorvexhost: error: %s; stopped before opening any camera\n", error.toLocal8Bit().constData());
        return kExitUsage;
    }
    LogWatch logs(options.verbose);  // installed for the run; the cameras and reports read it
    interrupt::install();
    switch (options.command) {
    case Command::List: return runList(options);
    case Command::Panel: return runPanel(options);
    case Command::Capture: return runCapture(options);
    case Command::Soak: return runSoak(options);
    default: return kExitUsage;
    }
}
