// logwatch.cpp
#include "logwatch.h"

#include <QMutex>
#include <QRegularExpression>

namespace {

QMutex g_mutex;
LogCounts g_counts;
QtMessageHandler g_previous = nullptr;
bool g_verbose = false;
std::function<void()> g_before;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        QMutexLocker lock(&g_mutex);
        if (type == QtWarningMsg) {
            ++g_counts.warnings;
            int cam = 0;
            qint64 frames = 0, packets = 0;
            if (parseContinuityWarning(text, cam, frames, packets)) {
                ContinuityCounts& c = g_counts.continuity[cam];
                ++c.warnings;
                c.lostFrames += frames;
                c.lostPackets += packets;
            } else if (text.contains(QLatin1String("cycle capture timeout")) || text.contains(QLatin1String("cycle product timeout"))) {
                ++g_counts.cycleTimeouts;
            }
        } else if (type == QtCriticalMsg || type == QtFatalMsg) {
            ++g_counts.criticals;
        }
    }
    if (type == QtDebugMsg && !g_verbose)
        return;
    if (g_before)
        g_before();
    if (g_previous)
        g_previous(type, context, text);
}

} // namespace

bool parseContinuityWarning(const QString& text, int& cameraIndex, qint64& lostFrames, qint64& lostPackets)
{
    static const QRegularExpression re(QStringLiteral(
        "Camera (-?\\d+) SDK with product -?\\d+ cycle -?\\d+ last frame (\\d+) current frame (\\d+)"
        ".* lost packets (\\d+)"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    cameraIndex = m.captured(1).toInt();
    const qint64 expected = m.captured(2).toLongLong();
    const qint64 current = m.captured(3).toLongLong();
    // A number below the expected one (the device restarted its count) loses
    // nothing; a number above it skipped the frames in between.
    lostFrames = current > expected ? current - expected : 0;
    lostPackets = m.captured(4).toLongLong();
    return true;
}

namespace logwatch {

void install(bool verbose)
{
    g_verbose = verbose;
    g_previous = qInstallMessageHandler(handler);
}

void setBeforeForward(std::function<void()> hook)
{
    QMutexLocker lock(&g_mutex);
    g_before = std::move(hook);
}

LogCounts snapshot()
{
    QMutexLocker lock(&g_mutex);
    return g_counts;
}

void reset()
{
    QMutexLocker lock(&g_mutex);
    g_counts = LogCounts();
}

} // namespace logwatch
