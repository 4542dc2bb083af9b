// options.cpp - command-line parsing with strict checks: a bad number or an
// unknown flag is an error, never silently a default.
#include "options.h"

#include <QHash>

namespace {

struct Flag
{
    const char* name;
    bool takesValue;
    unsigned commands; // bit mask of the subcommands that accept it
};

constexpr unsigned kList = 1u << 0, kPanel = 1u << 1, kCapture = 1u << 2, kSoak = 1u << 3;
constexpr unsigned kAll = kList | kPanel | kCapture | kSoak;
constexpr unsigned kRun = kCapture | kSoak;

const Flag kFlags[] = {
    {"plugins", true, kAll},
    {"verbose", false, kAll},
    {"settings", true, kPanel | kRun},
    {"reset-settings", false, kPanel | kRun},
    {"json", false, kPanel},
    {"out", true, kRun},
    {"overwrite", false, kRun},
    {"trigger-type", true, kRun},
    {"captures-per-product", true, kRun},
    {"products-per-cycle", true, kRun},
    {"cycle-timeout", true, kRun},
    {"sync", false, kRun},
    {"products", true, kCapture},
    {"captures", true, kCapture},
    {"rate", true, kRun},
    {"free-run", true, kCapture},
    {"timeout", true, kRun},
    {"no-images", false, kCapture},
    {"png-compression", true, kCapture},
    {"sheet-limit", true, kCapture},
    {"cycles", true, kSoak},
    {"detached", true, kSoak},
    {"reconnect-timeout", true, kSoak},
    {"seed", true, kSoak},
};

bool toInt(const QString& flag, const QString& text, int lo, int hi, int& out, QString& error)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi) {
        error = QStringLiteral("--%1 needs a whole number from %2 to %3, not '%4'").arg(flag).arg(lo).arg(hi).arg(text);
        return false;
    }
    out = v;
    return true;
}

bool toDouble(const QString& flag, const QString& text, double lo, double hi, double& out, QString& error)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !(v >= lo && v <= hi)) {
        error = QStringLiteral("--%1 needs a number from %2 to %3, not '%4'").arg(flag).arg(lo).arg(hi).arg(text);
        return false;
    }
    out = v;
    return true;
}

bool apply(HostOptions& o, const QString& name, const QString& v, QString& error)
{
    if (name == "plugins") { o.pluginDir = v; return true; }
    if (name == "verbose") { o.verbose = true; return true; }
    if (name == "settings") { o.settingsDir = v; return true; }
    if (name == "reset-settings") { o.resetSettings = true; return true; }
    if (name == "json") { o.json = true; return true; }
    if (name == "out") { o.outDir = v; return true; }
    if (name == "overwrite") { o.overwrite = true; return true; }
    if (name == "sync") { o.sync = true; return true; }
    if (name == "no-images") { o.saveImages = false; return true; }
    if (name == "trigger-type") {
        if (!toInt(name, v, 1, 32, o.triggerType, error))
            return false;
        if ((o.triggerType & (o.triggerType - 1)) != 0) {
            error = QStringLiteral("--trigger-type is one of 1, 2, 4, 8, 16, 32, not %1").arg(v);
            return false;
        }
        return true;
    }
    if (name == "captures-per-product") return toInt(name, v, 1, 1000, o.capturesPerProduct, error);
    if (name == "products-per-cycle") return toInt(name, v, 1, 1000, o.productsPerCycle, error);
    if (name == "cycle-timeout") return toInt(name, v, 0, 3600000, o.cycleTimeout, error);
    if (name == "products") return toInt(name, v, 1, 1000000, o.products, error);
    if (name == "captures") return toInt(name, v, 1, 1000, o.captures, error);
    if (name == "rate") return toDouble(name, v, 0.01, 1000, o.rate, error);
    if (name == "free-run") return toDouble(name, v, 0.1, 86400, o.freeRunSeconds, error);
    if (name == "timeout") return toDouble(name, v, 0.1, 3600, o.timeoutSeconds, error);
    if (name == "png-compression") return toInt(name, v, 0, 9, o.pngCompression, error);
    if (name == "sheet-limit") return toInt(name, v, 0, 1000, o.sheetLimit, error);
    if (name == "cycles") return toInt(name, v, 1, 100000, o.cycles, error);
    if (name == "detached") return toDouble(name, v, 0.1, 600, o.detachedSeconds, error);
    if (name == "reconnect-timeout") return toDouble(name, v, 1, 600, o.reconnectTimeout, error);
    if (name == "seed") {
        int s = 0;
        if (!toInt(name, v, 0, 0x7fffffff, s, error))
            return false;
        o.seed = static_cast<unsigned>(s);
        return true;
    }
    error = QStringLiteral("unknown option --%1").arg(name);
    return false;
}

} // namespace

bool parseOptions(const QStringList& args, HostOptions& o, QString& error)
{
    o = HostOptions();
    if (args.isEmpty()) {
        o.command = Command::Help;
        return true;
    }
    const QString cmd = args.first();
    unsigned bit = 0;
    if (cmd == "help" || cmd == "--help" || cmd == "-h") { o.command = Command::Help; return true; }
    else if (cmd == "list") { o.command = Command::List; bit = kList; }
    else if (cmd == "panel") { o.command = Command::Panel; bit = kPanel; }
    else if (cmd == "capture") { o.command = Command::Capture; bit = kCapture; }
    else if (cmd == "soak") { o.command = Command::Soak; bit = kSoak; }
    else {
        error = QStringLiteral("unknown subcommand '%1' (list, panel, capture, soak, help)").arg(cmd);
        return false;
    }

    QStringList positional;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == "--") {
            positional += args.mid(i + 1);
            break;
        }
        if (!a.startsWith("--")) {
            positional << a;
            continue;
        }
        QString name = a.mid(2), value;
        bool inlineValue = false;
        const int eq = name.indexOf('=');
        if (eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
            inlineValue = true;
        }
        const Flag* flag = nullptr;
        for (const Flag& f : kFlags)
            if (name == QLatin1String(f.name))
                flag = &f;
        if (!flag || !(flag->commands & bit)) {
            error = QStringLiteral("%1 does not take --%2").arg(cmd, name);
            return false;
        }
        if (flag->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("--%1 needs a value").arg(name);
                return false;
            }
            value = args.at(++i);
        } else if (!flag->takesValue && inlineValue) {
            error = QStringLiteral("--%1 takes no value").arg(name);
            return false;
        }
        if (!apply(o, name, value, error))
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
    return QStringLiteral(
        "usage: lorvexhost <subcommand> [options]\n"
        "\n"
        "  list                     plug-ins found and the cameras they see\n"
        "  panel SERIAL [--json]    a camera's parameter panel (--json: its stored form)\n"
        "  capture [SERIAL...]      trigger, receive and write images and reports\n"
        "  soak [SERIAL...]         capture while the virtual SDK unplugs and replugs cameras\n"
        "\n"
        "common:    --plugins DIR  --verbose\n"
        "settings:  --settings DIR (default ./settings)  --reset-settings\n"
        "trigger:   --trigger-type 1|2|4|8|16|32 (4)  --captures-per-product N (1)\n"
        "           --products-per-cycle N (1)  --cycle-timeout MS (0)  --sync\n"
        "capture:   --products P (5)  --captures C (captures per product)  --rate HZ (10)\n"
        "           --free-run SECONDS  --timeout SECONDS (10)  --out DIR  --no-images\n"
        "           --png-compression 0..9 (1)  --sheet-limit N (48)\n"
        "soak:      --cycles N (3)  --detached SECONDS (1.5)  --reconnect-timeout SECONDS (15)\n"
        "           --seed N  --rate HZ  --out DIR\n"
        "\n"
        "exit codes: 0 done, 1 bad command line, 2 no usable camera or plug-in,\n"
        "            3 output folder not writable, 4 settings file invalid,\n"
        "            5 frames missing or soak failed, 130 stopped by Ctrl-C\n");
}
