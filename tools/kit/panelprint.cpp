// panelprint.cpp - reads panel items the way a host does: the kind from the
// type name, values and limits through the item's pointers by value type.
#include "panelprint.h"

#include "camerainterface.h"
#include "cameraparams.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>

namespace {

QString valueText(int type, const void* p)
{
    if (!p)
        return QStringLiteral("-");
    switch (type) {
    case Bool: return *static_cast<const bool*>(p) ? QStringLiteral("true") : QStringLiteral("false");
    case Int: return QString::number(*static_cast<const int*>(p));
    case Float: return QString::number(static_cast<double>(*static_cast<const float*>(p)), 'g', 6);
    case Double: return QString::number(*static_cast<const double*>(p), 'g', 10);
    case String: return *static_cast<const QString*>(p);
    default: return QStringLiteral("(value type %1)").arg(type);
    }
}

QString optionList(int count, const QString* names, const bool* flags, int selected)
{
    QStringList out;
    for (int i = 0; names && i < count; ++i) {
        QString s = names[i];
        if (flags)
            s = QStringLiteral("[%1] %2").arg(flags[i] ? 'x' : ' ').arg(s);
        else if (i == selected)
            s = QStringLiteral("*%1").arg(s);
        out << s;
    }
    return out.join(QStringLiteral(", "));
}

double number(int type, const void* p)
{
    switch (type) {
    case Int: return *static_cast<const int*>(p);
    case Float: return static_cast<double>(*static_cast<const float*>(p));
    case Double: return *static_cast<const double*>(p);
    default: return 0;
    }
}

bool outside(const LineEditCameraParam& p)
{
    if (!p.value || !p.minimum || !p.maximum || (p.valueType != Int && p.valueType != Float && p.valueType != Double))
        return false;
    const double v = number(p.valueType, p.value);
    return v < number(p.valueType, p.minimum) || v > number(p.valueType, p.maximum);
}

} // namespace

// The record's type information lives in the plug-in only, so the sanitizer's
// dynamic-type check cannot follow this access; it reads the shared layout.
namespace {

#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
const CameraBase* cameraBase(CameraInterface* camera)
{
    void* base = camera ? camera->qt_metacast("CameraBase") : nullptr;
    return static_cast<const CameraBase*>(base);
}

} // namespace

#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
QSet<const void*> deviceOwnedValues(CameraInterface* camera)
{
    const CameraBase* b = cameraBase(camera);
    if (!b)
        return {};
    return {&b->offsetX, &b->offsetY, &b->width, &b->height, &b->mirrorX, &b->mirrorY};
}

#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("vptr")))
#endif
QSet<const void*> exposureValues(CameraInterface* camera)
{
    const CameraBase* b = cameraBase(camera);
    if (!b)
        return {};
    QSet<const void*> out;
    for (int i = 0; i < b->exposureTimes.size(); ++i)
        out.insert(b->exposureTimes.constData() + i);
    return out;
}

QVector<PanelRow> describePanel(const QVector<ParamWrap*>& items, const QSet<const void*>& deviceValues,
                                const QSet<const void*>& exposureValues)
{
    QVector<PanelRow> rows;
    QString heading;
    int index = -1;
    for (ParamWrap* item : items) {
        ++index;
        if (!item)
            continue;
        PanelRow r;
        r.index = index;
        r.kind = item->typeName();
        r.label = item->name;
        if (r.kind == QLatin1String("SeparateParam")) {
            heading = item->name;
            r.heading = heading;
            rows << r;
            continue;
        }
        r.heading = heading;
        if (r.kind == QLatin1String("LineEditCameraParam")) {
            auto* p = static_cast<LineEditCameraParam*>(item);
            r.value = valueText(p->valueType, p->value);
            r.limits = QStringLiteral("%1 .. %2 step %3")
                           .arg(valueText(p->valueType, p->minimum), valueText(p->valueType, p->maximum),
                                valueText(p->valueType, p->step));
            r.deviceOwned = deviceValues.contains(p->value);
            r.exposure = exposureValues.contains(p->value);
            r.outOfLimits = outside(*p);
        } else if (r.kind == QLatin1String("RadioBoxParam") || r.kind == QLatin1String("CheckBoxParam")) {
            auto* p = static_cast<RadioBoxParam*>(item);
            QStringList on;
            for (int i = 0; p->values && p->names && i < p->count; ++i)
                if (p->values[i])
                    on << p->names[i];
            r.value = on.isEmpty() ? QStringLiteral("(none)") : on.join(QStringLiteral(", "));
            r.options = optionList(p->count, p->names, p->values, -1);
            r.deviceOwned = deviceValues.contains(p->values);
        } else if (r.kind == QLatin1String("ComboBoxParam")) {
            auto* p = static_cast<ComboBoxParam*>(item);
            const int sel = p->selectedIndex ? *p->selectedIndex : -1;
            r.value = (p->names && sel >= 0 && sel < p->count) ? p->names[sel] : QStringLiteral("(index %1)").arg(sel);
            r.options = optionList(p->count, p->names, nullptr, sel);
        } else {
            r.value = QStringLiteral("(unknown kind)");
        }
        rows << r;
    }
    return rows;
}

QString formatPanel(const QVector<PanelRow>& rows)
{
    // Column widths in characters; wide (CJK) characters take two cells.
    auto cells = [](const QString& s) {
        int n = 0;
        for (const QChar c : s)
            n += c.unicode() >= 0x1100 ? 2 : 1;
        return n;
    };
    auto pad = [&](const QString& s, int w) { return s + QString(std::max(0, w - cells(s)), ' '); };
    const QStringList head{QStringLiteral("label"), QStringLiteral("kind"), QStringLiteral("value"), QStringLiteral("limits"), QStringLiteral("options")};
    int w[4] = {cells(head[0]), cells(head[1]), cells(head[2]), cells(head[3])};
    bool anyDevice = false, anyOutside = false, anyExposure = false;
    for (const PanelRow& r : rows) {
        anyDevice = anyDevice || r.deviceOwned;
        anyExposure = anyExposure || r.exposure;
        anyOutside = anyOutside || r.outOfLimits;
        if (r.kind == QLatin1String("SeparateParam"))
            continue;
        w[0] = std::max(w[0], cells(r.label.isEmpty() ? QStringLiteral("-") : r.label));
        w[1] = std::max(w[1], cells(r.kind));
        w[2] = std::max(w[2], cells(r.value));
        w[3] = std::max(w[3], cells(r.limits));
    }
    // The row number is the position in a settings file's "paramsWrap" array.
    auto lead = [](const PanelRow& r) {
        const QChar reach = r.deviceOwned ? 'D' : r.exposure ? 'E' : ' ';
        const QString mark = QStringLiteral("%1%2").arg(reach).arg(r.outOfLimits ? '!' : ' ');
        return QStringLiteral("%1 %2 ").arg(r.index, 3).arg(mark);
    };
    QString out = QStringLiteral("row    ") + pad(head[0], w[0]) + "  " + pad(head[1], w[1]) + "  " + pad(head[2], w[2]) + "  " +
                  pad(head[3], w[3]) + "  " + head[4] + '\n';
    for (const PanelRow& r : rows) {
        if (r.kind == QLatin1String("SeparateParam")) {
            out += lead(r) + QStringLiteral("== %1 ==\n").arg(r.label);
            continue;
        }
        out += lead(r) + pad(r.label.isEmpty() ? QStringLiteral("-") : r.label, w[0]) + "  " + pad(r.kind, w[1]) + "  " +
               pad(r.value, w[2]) + "  " + pad(r.limits, w[3]) + "  " + r.options + '\n';
    }
    if (anyDevice)
        out += QStringLiteral("D: read back from the device at every open; a value in a settings file is replaced "
                              "(change the device's feature file instead)\n");
    if (anyExposure)
        out += QStringLiteral("E: an exposure time; it reaches the device only when a host selects its configuration "
                              "(lorvexviewer's exposure bar does; lorvexhost does not, so its runs use the feature file's "
                              "exposure)\n");
    if (anyOutside)
        out += QStringLiteral("!: the value lies outside its own limits\n");
    if (!rows.isEmpty())
        out += QStringLiteral("rows without D or E (gain, gamma, sharpness and the rest) stay in the panel and the settings "
                              "file: the device never receives them; its feature file sets them\n");
    return out;
}

QJsonObject panelReach(const QVector<PanelRow>& rows, bool exposureSent)
{
    QJsonArray readBack, exposure, panelOnly;
    for (const PanelRow& r : rows) {
        if (r.kind == QLatin1String("SeparateParam"))
            continue;
        const QString name = QStringLiteral("%1 %2").arg(r.index).arg(r.label).trimmed();
        (r.deviceOwned ? readBack : r.exposure ? exposure : panelOnly).append(name);
    }
    QJsonObject j;
    j["readBackAtOpen"] = readBack;
    j["exposure"] = exposure;
    j["exposureSent"] = exposureSent;
    j["panelOnly"] = panelOnly;
    j["sentByThisRun"] = exposureSent ? exposure : QJsonArray();
    return j;
}

QString panelReachText(const QJsonObject& reach)
{
    auto rows = [](const QJsonValue& v) {
        QStringList out;
        for (const QJsonValue& r : v.toArray())
            out << r.toString().section(QLatin1Char(' '), 0, 0);
        return out.isEmpty() ? QStringLiteral("none") : out.join(QStringLiteral(", "));
    };
    return QStringLiteral("panel rows to the device: read back from it at every open: %1; exposure rows %2: %3; "
                          "never sent (the feature file sets them): %4")
        .arg(rows(reach["readBackAtOpen"]),
             reach["exposureSent"].toBool() ? QStringLiteral("sent at the start") : QStringLiteral("not sent by this run"),
             rows(reach["exposure"]), rows(reach["panelOnly"]));
}
