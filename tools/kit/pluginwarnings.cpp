// pluginwarnings.cpp
#include "pluginwarnings.h"

#include "CameraLorvex/serialrule.h"

#include <QRegularExpression>
#include <QVector>

namespace pluginwarnings {

namespace {

// The fixed words of each record; numbers go between them.
enum Record { kContinuity, kTriggerAccount, kTriggerDropped, kCycleTimeout, kOpenRefused, kFeatureFileFailed, kRecords };
const char* const kPatterns[kRecords] = {
    "^Camera (-?\\d+) SDK with product (-?\\d+) cycle (-?\\d+) last frame (\\d+) current frame (\\d+) "
    "width \\d+ height \\d+ lost packets (\\d+)$",
    "^Camera (-?\\d+) SDK with FrameCounter (\\d+) TriggerIndex (\\d+)$",
    "^Camera (-?\\d+) software trigger for product (-?\\d+) capture (-?\\d+) dropped: the device is busy$",
    "^Camera -?\\d+ cycle (capture|product) timeout with product -?\\d+ cycle -?\\d+$",
    "^(?:Open camera (-?\\d+) failed|Camera (-?\\d+) create handle failed): ([0-9a-f]+)$",
    "^Load configuration file\\(Lorvex\\.mfs\\) failed: (-?\\d+)$",
};

QRegularExpressionMatch match(Record record, const QString& text)
{
    // Compiled once, shared by every thread that logs.
    static const QVector<QRegularExpression> expressions = [] {
        QVector<QRegularExpression> out;
        for (const char* p : kPatterns)
            out << QRegularExpression(QLatin1String(p));
        return out;
    }();
    return expressions[record].match(text.trimmed());
}

} // namespace

bool parseContinuity(const QString& text, Continuity& out)
{
    const QRegularExpressionMatch m = match(kContinuity, text);
    if (!m.hasMatch())
        return false;
    out.camera = m.captured(1).toInt();
    out.product = m.captured(2).toInt();
    out.capture = m.captured(3).toInt();
    const qint64 expected = m.captured(4).toLongLong();
    const qint64 current = m.captured(5).toLongLong();
    // A number below the expected one (the device restarted its count) loses
    // nothing; a number above it skipped the frames in between.
    out.lostFrames = current > expected ? current - expected : 0;
    out.lostPackets = m.captured(6).toLongLong();
    return true;
}

bool parseTriggerAccount(const QString& text, TriggerAccount& out)
{
    const QRegularExpressionMatch m = match(kTriggerAccount, text);
    if (!m.hasMatch())
        return false;
    out.camera = m.captured(1).toInt();
    out.frameCounter = m.captured(2).toLongLong();
    out.triggerIndex = m.captured(3).toLongLong();
    return true;
}

bool parseTriggerDropped(const QString& text, TriggerDropped& out)
{
    const QRegularExpressionMatch m = match(kTriggerDropped, text);
    if (!m.hasMatch())
        return false;
    out.camera = m.captured(1).toInt();
    out.product = m.captured(2).toInt();
    out.capture = m.captured(3).toInt();
    return true;
}

bool isCycleTimeout(const QString& text)
{
    return match(kCycleTimeout, text).hasMatch();
}

bool parseOpenRefused(const QString& text, OpenRefused& out)
{
    const QRegularExpressionMatch m = match(kOpenRefused, text);
    if (!m.hasMatch())
        return false;
    out.camera = (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1)).toInt();
    // Written as a sign-extended 64-bit number: the low 32 bits are the status.
    out.status = static_cast<quint32>(m.captured(3).toULongLong(nullptr, 16));
    return true;
}

bool parseFeatureFileFailed(const QString& text, qint32& status)
{
    const QRegularExpressionMatch m = match(kFeatureFileFailed, text);
    if (!m.hasMatch())
        return false;
    status = static_cast<qint32>(m.captured(1).toLongLong());
    return true;
}

QString serialRefusal(const QString& serial)
{
    if (serial.size() > lorvex::kLongestRefusedSerial)
        return QString();
    return QStringLiteral("the plug-in opens no camera whose serial number has %1 characters or fewer").arg(lorvex::kLongestRefusedSerial);
}

} // namespace pluginwarnings
