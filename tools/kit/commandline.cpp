// commandline.cpp
#include "commandline.h"

namespace {

constexpr std::size_t kFirstNumber = 3; // the variant's index of int*

// A limit as people write it: 1000000, not 1e+06.
QString limit(double v)
{
    return QString::number(v, 'g', 10);
}

// True when a value is itself a flag ("--out --no-images"): a forgotten
// value, never a folder or file name. Negative numbers are not flags; range
// checks judge them.
bool looksLikeFlag(const QString& v)
{
    return v.startsWith(QLatin1Char('-')) && v.size() > 1 && !v.at(1).isDigit() && v.at(1) != QLatin1Char('.');
}

// Stores one value into the flag's variable; `ok` is false for a bad number.
struct Store
{
    const QString& v;
    const Flag& f;
    bool ok = true;
    void operator()(bool* t) { *t = true; }
    void operator()(QString* t) { *t = v; }
    void operator()(QStringList* t) { *t << v; }
    template <typename Number> void operator()(Number* t)
    {
        const double n = std::is_same_v<Number, double> ? v.toDouble(&ok) : v.toInt(&ok);
        ok = ok && n >= f.lo && n <= f.hi;
        if (ok)
            *t = static_cast<Number>(n);
    }
};

bool store(const Flag& f, const QString& name, const QString& v, QString& error)
{
    if (*f.value && (v.isEmpty() || looksLikeFlag(v))) {
        error = QStringLiteral("--%1 needs a value").arg(name) + (v.isEmpty() ? QString() : QStringLiteral(", and '%1' looks like a flag").arg(v));
        return false;
    }
    Store s{v, f};
    std::visit(s, f.target);
    if (!s.ok)
        error = QStringLiteral("--%1 needs %2 from %3 to %4, not '%5'")
                    .arg(name, std::holds_alternative<double*>(f.target) ? QStringLiteral("a number") : QStringLiteral("a whole number"),
                         limit(f.lo), limit(f.hi), v);
    return s.ok;
}

} // namespace

void describeFlags(QCommandLineParser& p, const FlagTable& flags)
{
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help")});
    for (const Flag& f : flags) {
        const QString limits = f.target.index() >= kFirstNumber ? QStringLiteral("; %1..%2").arg(limit(f.lo), limit(f.hi)) : QString();
        p.addOption({QLatin1String(f.name), QLatin1String(f.help) + limits, QLatin1String(f.value)});
    }
}

bool readFlags(QCommandLineParser& p, const QStringList& args, const FlagTable& flags, QString& error)
{
    if (!p.parse(QStringList{QString()} + args)) {
        error = p.errorText();
        return false;
    }
    for (const Flag& f : flags) {
        const QString name = QLatin1String(f.name);
        const QStringList values = !p.isSet(name) ? QStringList() : *f.value ? p.values(name) : QStringList{QString()};
        for (const QString& v : values)
            if (!store(f, name, v, error))
                return false;
    }
    return true;
}

QString flagHelp(const QCommandLineParser& p)
{
    const QString text = p.helpText();
    return text.mid(text.indexOf(QLatin1Char('\n')) + 1);
}

QString versionLine(const QString& program)
{
    return QStringLiteral("%1 %2\n").arg(program, QStringLiteral(LORVEX_VERSION));
}
