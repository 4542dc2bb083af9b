// options.cpp - the subcommands and their flags; the kit's command-line
// reader parses them, one parser per subcommand.
#include "options.h"

#include "commandline.h"
#include "triggertypes.h"

namespace {

constexpr unsigned kList = 1u << 0, kPanel = 1u << 1, kCapture = 1u << 2, kSoak = 1u << 3;
constexpr unsigned kAll = kList | kPanel | kCapture | kSoak;
constexpr unsigned kRun = kCapture | kSoak;

struct Subcommand
{
    Command command;
    const char* name;
    unsigned bit;
    const char* args;
    const char* summary;
};

const Subcommand kSubcommands[] = {
    {Command::List, "list", kList, "", "plug-ins found and the cameras they see"},
    {Command::Panel, "panel", kPanel, "SERIAL", "a camera's parameter panel"},
    {Command::Capture, "capture", kCapture, "[SERIAL...]", "trigger, receive and write images and reports"},
    {Command::Soak, "soak", kSoak, "[SERIAL...]", "capture while the virtual SDK unplugs and replugs cameras"},
};

// The flags one subcommand accepts; those of other subcommands are unknown to it.
FlagTable flagsOf(HostOptions& o, unsigned bit)
{
    const std::pair<unsigned, Flag> all[] = {
        {kAll, {"plugins", "DIR", "plug-in folder (<program dir>/../Plugins/Cameras)", &o.pluginDir}},
        {kAll, {"feature-dir", "DIR", "virtual cameras only: folder of their feature file Lorvex.mfs (<program dir>/../share/virtual)", &o.featureDir}},
        {kAll, {"verbose", "", "also show the plug-in's info and debug records", &o.verbose}},
        {kPanel | kRun, {"settings", "DIR", "settings folder, one file per camera (./settings)", &o.settingsDir}},
        {kPanel | kRun, {"reset-settings", "", "set an invalid settings file aside and start from defaults", &o.resetSettings}},
        {kPanel, {"json", "", "print the panel's stored form, as a settings file holds it", &o.json}},
        {kRun, {"out", "DIR", "output folder (a new folder under ./capture-out or ./soak-out)", &o.outDir}},
        {kRun, {"overwrite", "", "reuse an --out folder that holds files, removing its pictures and reports", &o.overwrite}},
        {kRun, {"trigger-type", "T", "trigger type 1, 2, 4, 8, 16 or 32; 2, 4 and 32 are fired by software (4)", &o.triggerType,
                triggertypes::kExternal, triggertypes::kHostNumbered}},
        {kRun, {"captures-per-product", "N", "captures that make one product (1)", &o.capturesPerProduct, 1, 1000}},
        {kRun, {"products-per-cycle", "N", "products that make one product cycle (1)", &o.productsPerCycle, 1, 1000}},
        {kRun, {"cycle-timeout", "MS", "time-out for completing a product or cycle, 0 = off (0)", &o.cycleTimeout, 0, 3600000}},
        {kRun, {"sync", "", "numbering follows the product numbers the host triggers", &o.sync}},
        {kCapture, {"products", "P", "products to capture (5)", &o.products, 1, 1000000}},
        {kCapture, {"captures", "C", "captures per product to trigger (--captures-per-product)", &o.captures, 1, 1000}},
        {kRun, {"rate", "HZ", "software triggers per second (10)", &o.rate, 0.01, 1000}},
        {kCapture, {"free-run", "SECONDS", "capture for this long instead of P x C", &o.freeRunSeconds, 0.1, 86400}},
        {kRun, {"timeout", "SECONDS", "wait for missing frames after the last trigger (10)", &o.timeoutSeconds, 0.1, 3600}},
        {kCapture, {"no-images", "", "write no image files (reports and contact sheet still)", &o.noImages}},
        {kCapture, {"image-format", "FORMAT", "png; tiff: LZW, faster than png; or pnm: uncompressed .pgm/.ppm for sustained rates (png)", &o.imageFormat}},
        {kCapture, {"png-compression", "N", "PNG effort (1)", &o.pngCompression, 0, 9}},
        {kCapture, {"queue-memory", "MIB", "memory for images waiting to be written; holds 200 products of the demo cameras (2048)", &o.queueMemoryMiB, 16, 1048576}},
        {kCapture, {"min-free", "MIB", "stop before the images leave less free on the output disk, 0 = no check (512)", &o.minFreeMiB, 0, 1048576}},
        {kCapture, {"sheet-limit", "N", "thumbnails on the contact sheet (48)", &o.sheetLimit, 0, 1000}},
        {kCapture, {"allow-loss", "", "exit 0 even when frames were lost, dropped, left unwritten or misnumbered", &o.allowLoss}},
        {kSoak, {"cycles", "N", "unplug cycles (3)", &o.cycles, 1, 100000}},
        {kSoak, {"detached", "SECONDS", "time a camera stays unplugged, +-50 % (1.5)", &o.detachedSeconds, 0.1, 600}},
        {kSoak, {"reconnect-timeout", "SECONDS", "wait for the reconnect (15)", &o.reconnectTimeout, 1, 600}},
        {kSoak, {"seed", "N", "random seed, 0 = from the clock (0)", &o.seed, 0, 0x7fffffff}},
    };
    FlagTable flags;
    for (const auto& [commands, flag] : all)
        if (commands & bit)
            flags.push_back(flag);
    return flags;
}

const Subcommand* findSubcommand(const QString& name)
{
    for (const Subcommand& s : kSubcommands)
        if (name == QLatin1String(s.name))
            return &s;
    return nullptr;
}

void describe(QCommandLineParser& p, const Subcommand& sub, const FlagTable& flags)
{
    describeFlags(p, flags);
    if (*sub.args)
        p.addPositionalArgument(QLatin1String(sub.args), QStringLiteral("camera serial number(s)"));
}

QString subcommandHelp(const Subcommand& sub, const FlagTable& flags)
{
    QCommandLineParser p;
    describe(p, sub, flags);
    return QStringLiteral("usage: lorvexhost %1 [options] %2\n%3\n%4")
        .arg(QLatin1String(sub.name), QLatin1String(sub.args), QLatin1String(sub.summary), flagHelp(p));
}

// What the flag table cannot say: the trigger type is a single bit, and
// which subcommands take how many serial numbers.
QString badCombination(const HostOptions& o, const QString& sub)
{
    for (const QString& s : o.serials)
        if (s.startsWith('-'))
            return QStringLiteral("'%1' is not a serial number or a flag of %2").arg(s, sub);
    if (!triggertypes::isType(o.triggerType))
        return QStringLiteral("--trigger-type is one of %1, not %2").arg(triggertypes::codesText()).arg(o.triggerType);
    if (o.imageFormat != QLatin1String("png") && o.imageFormat != QLatin1String("pnm") && o.imageFormat != QLatin1String("tiff"))
        return QStringLiteral("--image-format is png, tiff or pnm, not '%1'").arg(o.imageFormat);
    if (o.command == Command::List && !o.serials.isEmpty())
        return QStringLiteral("list takes no serial number");
    if (o.command == Command::Panel && o.serials.size() != 1)
        return QStringLiteral("panel needs exactly one serial number");
    return QString();
}

} // namespace

bool parseOptions(const QStringList& args, HostOptions& o, QString& error)
{
    o = HostOptions();
    const QString first = args.value(0);
    const bool askedForHelp = first == "help" || first == "--help" || first == "-h";
    // "help SUBCOMMAND" and "--help SUBCOMMAND" are "SUBCOMMAND --help".
    if (args.size() > 1 && askedForHelp)
        return parseOptions({args.at(1), QStringLiteral("--help")}, o, error);
    if (args.isEmpty()) {
        error = QStringLiteral("a subcommand is needed");
        o.command = Command::None;
        return false;
    }
    if (askedForHelp) {
        o.command = Command::Help;
        return true;
    }
    if (first == "--version" || first == "-v") {
        o.command = Command::Version;
        return true;
    }
    const Subcommand* sub = findSubcommand(first);
    if (!sub) {
        error = QStringLiteral("unknown subcommand '%1' (list, panel, capture, soak, help)").arg(first);
        return false;
    }
    o.command = sub->command;

    const FlagTable flags = flagsOf(o, sub->bit);
    QCommandLineParser p;
    describe(p, *sub, flags);
    if (!readFlags(p, args.mid(1), flags, error)) {
        const QStringList unknown = p.unknownOptionNames();
        if (!unknown.isEmpty())
            error = QStringLiteral("%1 does not take --%2 (lorvexhost help %1)").arg(first, unknown.first());
        return false;
    }
    if (p.isSet(QStringLiteral("help"))) {
        o.command = Command::Help;
        o.helpText = subcommandHelp(*sub, flags);
        return true;
    }
    o.serials = p.positionalArguments();
    if (o.captures == 0)
        o.captures = o.capturesPerProduct;
    error = badCombination(o, first);
    return error.isEmpty();
}

QString usageText()
{
    QString subs;
    for (const Subcommand& s : kSubcommands)
        subs += QStringLiteral("  %1 %2\n").arg(QStringLiteral("%1 %2").arg(QLatin1String(s.name), QLatin1String(s.args)), -22)
                    .arg(QLatin1String(s.summary));
    return QStringLiteral(
        "usage: lorvexhost <subcommand> [options]\n"
        "\n%1"
        "\n"
        "lorvexhost help SUBCOMMAND (or SUBCOMMAND --help) lists its flags with their limits and defaults;\n"
        "lorvexhost --version prints the version.\n"
        "\n"
        "exit codes: 0 done, every frame accounted for; 1 bad command line;\n"
        "            2 no usable camera or plug-in; 3 output folder not usable or an image not written;\n"
        "            4 settings file invalid; 5 frames lost, dropped, unwritten or misnumbered, or soak failed;\n"
        "            6 settings folder not usable; 130 stopped by Ctrl-C\n").arg(subs);
}
