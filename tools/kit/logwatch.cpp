// logwatch.cpp
#include "logwatch.h"

#include "pluginwarnings.h"
#include "sdkstatus.h"

#include <QMutex>

#include <deque>

namespace {

// Records arrive on any thread (the SDK's callback threads, Qt's pool, the
// main thread); the receiving thread reads the counts and takes the events.
// g_mutex guards g_counts, g_events and g_before. g_previous and g_verbose
// are written once by install(), before any camera exists.
QMutex g_mutex;
LogCounts g_counts;
QtMessageHandler g_previous = nullptr;
bool g_verbose = false;
std::function<void()> g_before;
// Per camera index, the continuity records not yet matched to a received
// frame, oldest first. Bounded: a run that never takes them (no host
// matching frames) must not grow without end.
QMap<int, std::deque<ContinuityEvent>> g_events;
constexpr size_t kMaxPendingEvents = 4096;
// Per camera index: the trigger index named by the plug-in's trigger warning
// for the frame it is about to hand over, and the software triggers it
// reported it did not pass on.
QMap<int, qint64> g_triggerOfFrame;
QMap<int, int> g_triggersDropped;
// Per camera index: the status of its latest refused open.
QMap<int, quint32> g_openRefusals;

// The feature-file failure in words, for its one appearance.
QString featureFileText(qint32 status)
{
    const QString folder = qEnvironmentVariable("VCC_FEATURE_DIR");
    return QStringLiteral("note: a camera's feature file Lorvex.mfs failed at its open (%1; looked for in the working "
                          "folder%2): what it did not set stays as the camera had it; said once, later opens are "
                          "counted in the summary (featureFileFailuresInLog)")
        .arg(sdkStatusText(status), folder.isEmpty() ? QString() : QStringLiteral(" and in %1").arg(folder));
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    std::function<void()> before;
    QString reworded;
    bool quiet = false;
    {
        QMutexLocker lock(&g_mutex);
        before = g_before;
        if (type == QtWarningMsg) {
            ++g_counts.warnings;
            int cam = 0;
            ContinuityEvent e;
            pluginwarnings::TriggerAccount t;
            pluginwarnings::TriggerDropped d;
            if (parseContinuityRecord(text, cam, e)) {
                ContinuityCounts& c = g_counts.continuity[cam];
                ++c.warnings;
                c.lostFrames += e.lostFrames;
                c.lostPackets += e.lostPackets;
                std::deque<ContinuityEvent>& q = g_events[cam];
                q.push_back(e);
                if (q.size() > kMaxPendingEvents)
                    q.pop_front();
            } else if (pluginwarnings::parseTriggerAccount(text, t)) {
                ++g_counts.triggerWarnings;
                g_triggerOfFrame[t.camera] = t.triggerIndex;
            } else if (pluginwarnings::parseTriggerDropped(text, d)) {
                ++g_triggersDropped[d.camera];
            } else if (pluginwarnings::isCycleTimeout(text)) {
                ++g_counts.cycleTimeouts;
            } else {
                pluginwarnings::OpenRefused o;
                if (pluginwarnings::parseOpenRefused(text, o))
                    g_openRefusals[o.camera] = o.status;
            }
        } else if (type == QtCriticalMsg) {
            qint32 status = 0;
            if (pluginwarnings::parseFeatureFileFailed(text, status)) {
                quiet = g_counts.featureFileFailures++ > 0;
                reworded = featureFileText(status);
            } else {
                ++g_counts.criticals;
            }
        } else if (type == QtFatalMsg) {
            ++g_counts.criticals;
        }
    }
    if (quiet)
        return;
    // The plug-in's info and debug records are for whoever asked for them.
    if ((type == QtDebugMsg || type == QtInfoMsg) && !g_verbose)
        return;
    if (before)
        before();
    if (g_previous)
        g_previous(type, context, reworded.isEmpty() ? text : reworded);
}

} // namespace

bool parseContinuityWarning(const QString& text, int& cameraIndex, qint64& lostFrames, qint64& lostPackets)
{
    ContinuityEvent e;
    if (!parseContinuityRecord(text, cameraIndex, e))
        return false;
    lostFrames = e.lostFrames;
    lostPackets = e.lostPackets;
    return true;
}

bool parseContinuityRecord(const QString& text, int& cameraIndex, ContinuityEvent& e)
{
    pluginwarnings::Continuity c;
    if (!pluginwarnings::parseContinuity(text, c))
        return false;
    cameraIndex = c.camera;
    e.product = c.product;
    e.capture = c.capture;
    e.lostFrames = c.lostFrames;
    e.lostPackets = c.lostPackets;
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
    g_events.clear();
    g_triggerOfFrame.clear();
    g_triggersDropped.clear();
    g_openRefusals.clear();
}

LossBefore takeLossBefore(int cameraIndex, int product, int capture)
{
    QMutexLocker lock(&g_mutex);
    LossBefore out;
    auto it = g_events.find(cameraIndex);
    if (it == g_events.end())
        return out;
    std::deque<ContinuityEvent>& q = *it;
    // The record of a frame is logged before the frame is handed over, so it
    // is here already; records before it belong to frames that never came.
    size_t match = 0;
    while (match < q.size() && !(q[match].product == product && q[match].capture == capture))
        ++match;
    if (match == q.size())
        return out;
    for (size_t i = 0; i <= match; ++i) {
        (q[i].product > 0 ? out.frames : out.idleFrames) += q[i].lostFrames;
        if (i == match)
            out.packets = q[i].lostPackets;
    }
    q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(match) + 1);
    return out;
}

qint64 takeUnmatchedLoss(int cameraIndex)
{
    QMutexLocker lock(&g_mutex);
    qint64 frames = 0;
    for (const ContinuityEvent& e : g_events.value(cameraIndex))
        if (e.product > 0)
            frames += e.lostFrames + 1; // the frame of the record never came either
    g_events.remove(cameraIndex);
    return frames;
}

qint64 takeTriggerOfFrame(int cameraIndex)
{
    QMutexLocker lock(&g_mutex);
    const auto it = g_triggerOfFrame.find(cameraIndex);
    if (it == g_triggerOfFrame.end())
        return -1;
    const qint64 index = *it;
    g_triggerOfFrame.erase(it);
    return index;
}

int triggersDropped(int cameraIndex)
{
    QMutexLocker lock(&g_mutex);
    return g_triggersDropped.value(cameraIndex);
}

quint32 takeOpenRefusal(int cameraIndex)
{
    QMutexLocker lock(&g_mutex);
    return g_openRefusals.take(cameraIndex);
}

} // namespace logwatch
