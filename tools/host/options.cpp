// options.cpp - the command line, read with QCommandLineParser, one parser
// per subcommand. Strict: a bad number, an unknown flag, or a value that
// looks like another flag is an error, never silently a default.
#include "options.h"

#include "flagvalue.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

constexpr unsigned kList = 1u << 0, kPanel = 1u << 1, kCapture = 1u << 2, kSoak = 1u << 3;
constexpr unsigned kAll = kList | kPanel | kCapture | kSoak;
constexpr unsigned kRun = kCapture | kSoak;

// One flag: where its value goes and the limits it must keep. Exactly one
// of the member pointers is set; a switch sets its bool to true.
struct Flag
{
    const char* name;
    const char* value; // empty: a switch
    const char* help;
    unsigned commands; // the subcommands that accept it
    QString HostOptions::*text = nullptr;
    bool HostOptions::*on = nullptr;
    int HostOptions::*whole = nullptr;
    double HostOptions::*real = nullptr;
    double lo = 0, hi = 0;
    unsigned HostOptions::*natural = nullptr;
};

const Flag kFlags[] = {
    {"plugins", "DIR", "plug-in folder (<program dir>/../Plugins/Cameras)", kAll, &HostOptions::pluginDir},
    {"feature-dir", "DIR", "virtual cameras only: folder of their feature file Lorvex.mfs (<program dir>/../share/virtual)", kAll, &HostOptions::featureDir},
    {"verbose", "", "also show the plug-in's info and debug records", kAll, nullptr, &HostOptions::verbose},
    {"settings", "DIR", "settings folder, one file per camera (./settings)", kPanel | kRun, &HostOptions::settingsDir},
    {"reset-settings", "", "set an invalid settings file aside and start from defaults", kPanel | kRun, nullptr, &HostOptions::resetSettings},
    {"json", "", "print the panel's stored form, as a settings file holds it", kPanel, nullptr, &HostOptions::json},
    {"out", "DIR", "output folder (a new folder under ./capture-out or ./soak-out)", kRun, &HostOptions::outDir},
    {"overwrite", "", "reuse an --out folder that holds files, removing its pictures and reports", kRun, nullptr, &HostOptions::overwrite},
    {"trigger-type", "T", "trigger type 1, 2, 4, 8, 16 or 32; 2, 4 and 32 are fired by software (4)", kRun, nullptr, nullptr, &HostOptions::triggerType, nullptr, 1, 32},
    {"captures-per-product", "N", "captures that make one product (1)", kRun, nullptr, nullptr, &HostOptions::capturesPerProduct, nullptr, 1, 1000},
    {"products-per-cycle", "N", "products that make one product cycle (1)", kRun, nullptr, nullptr, &HostOptions::productsPerCycle, nullptr, 1, 1000},
    {"cycle-timeout", "MS", "time-out for completing a product or cycle, 0 = off (0)", kRun, nullptr, nullptr, &HostOptions::cycleTimeout, nullptr, 0, 3600000},
    {"sync", "", "numbering follows the product numbers the host triggers", kRun, nullptr, &HostOptions::sync},
    {"products", "P", "products to capture (5)", kCapture, nullptr, nullptr, &HostOptions::products, nullptr, 1, 1000000},
    {"captures", "C", "captures per product to trigger (--captures-per-product)", kCapture, nullptr, nullptr, &HostOptions::captures, nullptr, 1, 1000},
    {"rate", "HZ", "software triggers per second (10)", kRun, nullptr, nullptr, nullptr, &HostOptions::rate, 0.01, 1000},
    {"free-run", "SECONDS", "capture for this long instead of P x C", kCapture, nullptr, nullptr, nullptr, &HostOptions::freeRunSeconds, 0.1, 86400},
    {"timeout", "SECONDS", "wait for missing frames after the last trigger (10)", kRun, nullptr, nullptr, nullptr, &HostOptions::timeoutSeconds, 0.1, 3600},
    {"no-images", "", "write no PNG files (reports and contact sheet still)", kCapture, nullptr, &HostOptions::noImages},
    {"png-compression", "N", "PNG effort (1)", kCapture, nullptr, nullptr, &HostOptions::pngCompression, nullptr, 0, 9},
    {"sheet-limit", "N", "thumbnails on the contact sheet (48)", kCapture, nullptr, nullptr, &HostOptions::sheetLimit, nullptr, 0, 1000},
    {"allow-loss", "", "exit 0 even when frames were lost, dropped, left unwritten or misnumbered", kCapture, nullptr, &HostOptions::allowLoss},
    {"cycles", "N", "unplug cycles (3)", kSoak, nullptr, nullptr, &HostOptions::cycles, nullptr, 1, 100000},
    {"detached", "SECONDS", "time a camera stays unplugged, +-50 % (1.5)", kSoak, nullptr, nullptr, nullptr, &HostOptions::detachedSeconds, 0.1, 600},
    {"reconnect-timeout", "SECONDS", "wait for the reconnect (15)", kSoak, nullptr, nullptr, nullptr, &HostOptions::reconnectTimeout, 1, 600},
    {"seed", "N", "random seed, 0 = from the clock (0)", kSoak, nullptr, nullptr, nullptr, nullptr, 0, 0x7fffffff, &HostOptions::seed},
};

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

const Subcommand* findSubcommand(const QString& name)
{
    for (const Subcommand& s : kSubcommands)
        if (name == QLatin1String(s.name))
            return &s;
    return nullptr;
}

bool apply(HostOptions& o, const Flag& f, const QString& v, QString& error)
{
    const QString name = QLatin1String(f.name);
    if (f.text) {
        o.*f.text = v;
    } else if (f.on) {
        o.*f.on = true;
    } else {
        bool ok = false;
        const bool integral = !f.real;
        const double n = integral ? v.toInt(&ok) : v.toDouble(&ok);
        if (!ok || !(n >= f.lo && n <= f.hi)) {
            error = QStringLiteral("--%1 needs %2 from %3 to %4, not '%5'")
                        .arg(name, integral ? QStringLiteral("a whole number") : QStringLiteral("a number"))
                        .arg(f.lo).arg(f.hi, 0, 'f', 0).arg(v);
            return false;
        }
        if (f.whole)
            o.*f.whole = static_cast<int>(n);
        else if (f.natural)
            o.*f.natural = static_cast<unsigned>(n);
        else
            o.*f.real = n;
    }
    if (name == QLatin1String("trigger-type") && (o.triggerType & (o.triggerType - 1)) != 0) {
        error = QStringLiteral("--trigger-type is one of 1, 2, 4, 8, 16, 32, not %1").arg(v);
        return false;
    }
    return true;
}

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help"));

// The parser of one subcommand; flags of other subcommands are unknown to it.
void describe(QCommandLineParser& p, const Subcommand& sub)
{
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.addOption(kHelp);
    for (const Flag& f : kFlags)
        if (f.commands & sub.bit)
            p.addOption(QCommandLineOption(QLatin1String(f.name),
                                           QLatin1String(f.help) + (f.whole || f.real || f.natural ? QStringLiteral("; %1..%2").arg(f.lo).arg(f.hi) : QString()),
                                           QLatin1String(f.value)));
    if (*sub.args)
        p.addPositionalArgument(QLatin1String(sub.args), QStringLiteral("camera serial number(s)"));
}

QString subcommandHelp(const Subcommand& sub)
{
    QCommandLineParser p;
    describe(p, sub);
    // Qt's own usage line names the program only; ours names the subcommand.
    QString text = p.helpText();
    text = text.mid(text.indexOf('\n') + 1);
    return QStringLiteral("usage: lorvexhost %1 [options] %2\n%3\n%4")
        .arg(QLatin1String(sub.name), QLatin1String(sub.args), QLatin1String(sub.summary), text);
}

} // namespace

QString versionText()
{
    return QStringLiteral("lorvexhost %1\n").arg(QStringLiteral(LORVEX_VERSION));
}

bool parseOptions(const QStringList& args, HostOptions& o, QString& error)
{
    o = HostOptions();
    // "help SUBCOMMAND" is "SUBCOMMAND --help".
    if (args.size() > 1 && args.first() == "help")
        return parseOptions({args.at(1), QStringLiteral("--help")}, o, error);
    const QString first = args.value(0);
    if (args.isEmpty() || first == "help" || first == "--help" || first == "-h") {
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

    QCommandLineParser p;
    describe(p, *sub);
    if (!p.parse(QStringList{QStringLiteral("lorvexhost")} + args.mid(1))) {
        const QStringList unknown = p.unknownOptionNames();
        error = unknown.isEmpty() ? p.errorText()
                                  : QStringLiteral("%1 does not take --%2 (lorvexhost help %1)").arg(first, unknown.first());
        return false;
    }
    if (p.isSet(kHelp)) {
        o.command = Command::Help;
        o.helpText = subcommandHelp(*sub);
        return true;
    }
    for (const Flag& f : kFlags) {
        const QString name = QLatin1String(f.name);
        if (!(f.commands & sub->bit) || !p.isSet(name))
            continue;
        const QString value = *f.value ? p.value(name) : QString();
        if (looksLikeFlag(value)) {
            error = QStringLiteral("--%1 needs a value, and '%2' looks like a flag").arg(name, value);
            return false;
        }
        if (!apply(o, f, value, error))
            return false;
    }

    const QStringList positional = p.positionalArguments();
    for (const QString& s : positional)
        if (s.startsWith('-')) {
            error = QStringLiteral("'%1' is not a serial number or a flag of %2").arg(s, first);
            return false;
        }
    if (o.command == Command::List && !positional.isEmpty()) {
        error = QStringLiteral("list takes no serial number");
        return false;
    }
    if (o.command == Command::Panel && positional.size() != 1) {
        error = QStringLiteral("panel needs exactly one serial number");
        return false;
    }
    o.serials = positional;
    if (o.captures == 0)
        o.captures = o.capturesPerProduct;
    return true;
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
