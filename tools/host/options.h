// options.h - the host's subcommands and their flags.
#ifndef LORVEXHOST_OPTIONS_H
#define LORVEXHOST_OPTIONS_H

#include <QString>
#include <QStringList>

enum class Command { None, Help, Version, List, Panel, Capture, Soak };

// Everything a run needs, filled from the command line with defaults.
struct HostOptions
{
    Command command = Command::None;
    QString helpText;           // Help for one subcommand; empty: the tool's usage
    QString pluginDir;          // empty: <program dir>/../Plugins/Cameras
    QString featureDir;         // empty: VCC_FEATURE_DIR, else <program dir>/../share/virtual
    QStringList serials;        // capture/soak: empty means every listed camera
    QString settingsDir = QStringLiteral("settings");
    bool resetSettings = false;
    QString outDir;             // empty: a time-stamped folder under the default root
    bool overwrite = false;     // an --out that holds files may be reused
    bool json = false;          // panel: print the stored form
    bool verbose = false;       // forward the plug-in's debug records too

    // Trigger settings handed to every camera.
    int triggerType = 4;
    int capturesPerProduct = 1;
    int productsPerCycle = 1;
    int cycleTimeout = 0;
    bool sync = false;

    // What to capture.
    int products = 5;
    int captures = 0;           // 0: the same as capturesPerProduct
    double rate = 10.0;         // software triggers per second
    double freeRunSeconds = 0;  // > 0: capture for this long instead of P x C
    double timeoutSeconds = 10; // wait for missing frames after the last trigger
    bool noImages = false;      // write no image files
    QString imageFormat = QStringLiteral("png"); // png, tiff (LZW), or pnm: uncompressed PGM/PPM
    int pngCompression = 1;     // 0..9; fast by default, line-scan images are big
    // Memory the images waiting to be written may take, in MiB. The default
    // holds 200 products of the two demo cameras (4 MB mono, 6 MB colour).
    int queueMemoryMiB = 2048;
    // Free space the images must leave on the output folder's disk, in MiB;
    // 0: not checked. A run that would go below it stops.
    int minFreeMiB = 512;
    int sheetLimit = 48;        // thumbnails on the contact sheet
    bool allowLoss = false;     // exit 0 although frames are not all accounted for

    // soak
    int cycles = 3;
    double detachedSeconds = 1.5;
    double reconnectTimeout = 15;
    unsigned seed = 0;          // 0: from the clock
};

// Parses argv (without the program name). On failure returns false with a
// message for the user in `error`.
bool parseOptions(const QStringList& args, HostOptions& options, QString& error);

// The usage text of the tool.
QString usageText();

#endif
