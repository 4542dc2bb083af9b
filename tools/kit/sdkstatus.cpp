// sdkstatus.cpp - the statuses camera SDKs of this kind return, as a table.
#include "sdkstatus.h"

#include <QObject>

#include <iterator>

namespace {

struct Meaning
{
    quint32 code;
    const char* words;
};

const Meaning kMeanings[] = {
    {0x80000000u, "bad or closed handle"},
    {0x80000001u, "not supported"},
    {0x80000002u, "buffer too small"},
    {0x80000003u, "called in the wrong state"},
    {0x80000004u, "bad parameter"},
    {0x80000005u, "API call failed"},
    {0x80000006u, "out of resources"},
    {0x80000007u, "no data"},
    {0x80000008u, "precondition not met"},
    {0x80000009u, "version mismatch"},
    {0x8000000Au, "not enough memory"},
    {0x800000FFu, "unknown error"},
    {0x80000100u, "feature error: unknown feature or wrong type"},
    {0x80000101u, "feature error: bad argument"},
    {0x80000102u, "value out of range or off the step"},
    {0x80000103u, "feature not implemented"},
    {0x80000104u, "feature error: invalid address"},
    {0x80000105u, "feature is read-only"},
    {0x80000106u, "feature not writable now"},
    {0x80000107u, "feature timed out"},
    {0x80000201u, "network error"},
    {0x80000203u, "device opened by another program"},
    {0x80000204u, "device busy"},
    {0x80000205u, "device gone (network)"},
    {0x80000300u, "USB read error"},
    {0x80000301u, "USB write error"},
    {0x80000302u, "USB device error"},
};

} // namespace

QString sdkStatusText(int status)
{
    if (status == 0)
        return QObject::tr("0 (ok)");
    const quint32 code = static_cast<quint32>(status);
    const QString number = QStringLiteral("0x%1").arg(code, 8, 16, QLatin1Char('0'));
    for (const Meaning& m : kMeanings)
        if (m.code == code)
            return QStringLiteral("%1 (%2)").arg(number, QObject::tr(m.words));
    return number;
}
