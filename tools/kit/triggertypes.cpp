// triggertypes.cpp
#include "triggertypes.h"

#include "camerainterface.h"

#include <QStringList>

namespace triggertypes {

const QVector<TypeInfo>& all()
{
    static const QVector<TypeInfo> types{
        {kExternal, "1: external, counted"},
        {kSoftware, "2: software, counted"},
        {kSoftwareDefault, "4: software, counted"},
        {kExternal8, "8: external, counted"},
        {kExternal16, "16: external, counted"},
        {kHostNumbered, "32: software, numbers from the trigger"},
    };
    return types;
}

QString codesText()
{
    QStringList codes;
    for (const TypeInfo& t : all())
        codes << QString::number(t.code);
    const QString last = codes.takeLast();
    return QStringLiteral("%1 or %2").arg(codes.join(QStringLiteral(", ")), last);
}

bool isType(int code)
{
    for (const TypeInfo& t : all())
        if (t.code == code)
            return true;
    return false;
}

} // namespace triggertypes

NumberingRule numberingRule(const CameraTrigParams& p, bool continuous, int capturesTriggered)
{
    const int captures = capturesTriggered > 0 ? capturesTriggered : p.capturesPerProduct;
    NumberingRule r;
    r.fromTrigger = p.triggerType == triggertypes::kHostNumbered && p.syncProductId <= 0;
    if (r.fromTrigger) {
        r.schedule = ProductSchedule(captures, p.productsPerCycle);
        r.checked = !continuous;
    } else {
        r.schedule = ProductSchedule(p.capturesPerProduct, p.productsPerCycle);
        r.checked = p.cycleTimeout <= 0 && !(p.syncProductId > 0 && captures != p.capturesPerProduct);
    }
    return r;
}
