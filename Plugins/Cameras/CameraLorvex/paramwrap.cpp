// Panel items: construction, type names and the JSON object of each item.
//
// An item never validates a value against its limits (those are for the
// host's editing controls). Reading is forgiving: a missing key keeps the
// bound value, a value of the wrong JSON type gives the type's default, and
// nothing is ever written except through the item's own pointers and counts.
#include "cameraparams.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr QLatin1String kIsRunningShow("isRunningShow");
constexpr QLatin1String kValues("values");
constexpr QLatin1String kSelectedIndex("selectedIndex");

// JSON number to float. A number a float cannot hold (beyond its range, or
// not finite) counts as no number at all and gives 0, as an integer item does
// with values it cannot represent; the narrowing itself is then always defined.
float toFloat(const QJsonValue& value)
{
    const double d = value.toDouble(0.0);
    if (!std::isfinite(d) || std::fabs(d) > double(std::numeric_limits<float>::max()))
        return 0.0f;
    return static_cast<float>(d);
}

} // namespace

// ---------------------------------------------------------------------------
ParamWrap::ParamWrap(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level)
    : name(std::move(name)),
      toolTip(std::move(toolTip)),
      itemFlag(itemFlag),
      level(level),
      isRunningShow(isRunningShow),
      itemFlag2(false)
{
}

ParamWrap::~ParamWrap() = default;

QString ParamWrap::typeName() { return QString(); }

bool ParamWrap::queryFlag() { return false; }

void ParamWrap::readJson(QJsonObject& json)
{
    if (json.contains(kIsRunningShow))
        isRunningShow = json.value(kIsRunningShow).toBool(false);
}

void ParamWrap::writeJson(QJsonObject& json)
{
    json.insert(kIsRunningShow, isRunningShow);
}

// ---------------------------------------------------------------------------
SeparateParam::SeparateParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow)
    : ParamWrap(std::move(name), std::move(toolTip), itemFlag, isRunningShow, 0)
{
}

QString SeparateParam::typeName() { return QStringLiteral("SeparateParam"); }

// ---------------------------------------------------------------------------
LineEditCameraParam::LineEditCameraParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow,
                                         int level, void* value, int valueType, void* minimum,
                                         void* maximum, void* step)
    : ParamWrap(std::move(name), std::move(toolTip), itemFlag, isRunningShow, level),
      valueType(valueType),
      minimum(minimum),
      maximum(maximum),
      step(step),
      value(value)
{
}

QString LineEditCameraParam::typeName() { return QStringLiteral("LineEditCameraParam"); }

void LineEditCameraParam::readJson(QJsonObject& json)
{
    ParamWrap::readJson(json);
    if (!value || !json.contains(kValues))
        return;
    const QJsonValue v = json.value(kValues);
    switch (valueType) {
    case Bool:
        *static_cast<bool*>(value) = v.toBool(false);
        break;
    case Int:
        // Only integral numbers within int range; 12.5 or "12" give 0.
        *static_cast<int*>(value) = v.toInt(0);
        break;
    case Float:
        *static_cast<float*>(value) = toFloat(v);
        break;
    case Double:
        *static_cast<double*>(value) = v.toDouble(0.0);
        break;
    case String:
        *static_cast<QString*>(value) = v.toString();
        break;
    default:
        break;  // unknown type: the bound memory's layout is unknown, leave it
    }
}

void LineEditCameraParam::writeJson(QJsonObject& json)
{
    ParamWrap::writeJson(json);
    if (!value)
        return;
    switch (valueType) {
    case Bool:
        json.insert(kValues, *static_cast<const bool*>(value));
        break;
    case Int:
        json.insert(kValues, *static_cast<const int*>(value));
        break;
    case Float:
        // Widened exactly: a float 0.1 is stored as 0.10000000149011612, so
        // reading it back yields the very same float.
        json.insert(kValues, double(*static_cast<const float*>(value)));
        break;
    case Double:
        json.insert(kValues, *static_cast<const double*>(value));
        break;
    case String:
        json.insert(kValues, *static_cast<const QString*>(value));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
RadioBoxParam::RadioBoxParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                             bool* values, int count, QString* names, QString* toolTips)
    : ParamWrap(std::move(name), std::move(toolTip), itemFlag, isRunningShow, level),
      count(count),
      names(names),
      toolTips(toolTips),
      values(values)
{
}

QString RadioBoxParam::typeName() { return QStringLiteral("RadioBoxParam"); }

void RadioBoxParam::readJson(QJsonObject& json)
{
    ParamWrap::readJson(json);
    if (!values || !json.contains(kValues))
        return;
    // Exactly `count` flags are written, whatever the stored array's length:
    // missing elements read as false, surplus ones are ignored.
    const QJsonArray stored = json.value(kValues).toArray();
    for (int i = 0; i < count; ++i)
        values[i] = i < stored.size() ? stored.at(i).toBool(false) : false;
}

void RadioBoxParam::writeJson(QJsonObject& json)
{
    ParamWrap::writeJson(json);
    QJsonArray flags;
    for (int i = 0; values && i < count; ++i)
        flags.append(values[i]);
    json.insert(kValues, flags);
}

// ---------------------------------------------------------------------------
CheckBoxParam::CheckBoxParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                             bool* values, int count, QString* names, QString* toolTips)
    : RadioBoxParam(std::move(name), std::move(toolTip), itemFlag, isRunningShow, level, values, count,
                    names, toolTips)
{
}

QString CheckBoxParam::typeName() { return QStringLiteral("CheckBoxParam"); }

// ---------------------------------------------------------------------------
ComboBoxParam::ComboBoxParam(QString name, QString toolTip, bool itemFlag, bool isRunningShow, int level,
                             int* selectedIndex, int count, QString* names, QString* toolTips)
    : ParamWrap(std::move(name), std::move(toolTip), itemFlag, isRunningShow, level),
      count(count),
      names(names),
      toolTips(toolTips),
      selectedIndex(selectedIndex)
{
}

QString ComboBoxParam::typeName() { return QStringLiteral("ComboBoxParam"); }

void ComboBoxParam::readJson(QJsonObject& json)
{
    ParamWrap::readJson(json);
    if (!selectedIndex || !json.contains(kSelectedIndex))
        return;
    // Stored as read, not checked against `count`: users of the index range-check it.
    *selectedIndex = json.value(kSelectedIndex).toInt(0);
}

void ComboBoxParam::writeJson(QJsonObject& json)
{
    ParamWrap::writeJson(json);
    if (selectedIndex)
        json.insert(kSelectedIndex, *selectedIndex);
}
