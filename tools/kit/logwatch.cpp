// logwatch.cpp
#include "logwatch.h"

#include "pluginwarnings.h"
#include "sdkstatus.h"

#include <QMutexLocker>

#include <atomic>

namespace {

// The watch Qt's one message handler hands records to.
std::atomic<LogWatch*> g_installed{nullptr};

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
    if (LogWatch* watch = g_installed.load())
        watch->record(type, context, text);
}

} // namespace

LogWatch::LogWatch(bool verbose, bool install) : verbose_(verbose)
{
    if (install)
        installHandler();
}

LogWatch::~LogWatch()
{
    if (!installed_)
        return;
    // A watch installed over another hands the records back to it.
    LogWatch* self = this;
    if (g_installed.compare_exchange_strong(self, outer_) && !outer_)
        qInstallMessageHandler(previous_);
}

void LogWatch::installHandler()
{
    LogWatch* was = g_installed.exchange(this);
    if (was != this)
        outer_ = was;
    const QtMessageHandler handlerWas = qInstallMessageHandler(handler);
    if (handlerWas != handler)
        previous_ = handlerWas;
    else if (outer_)
        previous_ = outer_->previous_;  // forward where the outer watch does
    installed_ = true;
}

LogWatch* LogWatch::installed()
{
    return g_installed.load();
}

namespace {

// What one record says, read before the watch's lock is taken: the lock only
// guards the counting, so a thread that logs never waits on another's parsing.
struct ParsedRecord
{
    enum Kind { Other, Continuity, TriggerAccount, TriggerDropped, CycleTimeout, OpenRefused, FeatureFile, Critical } kind = Other;
    int camera = 0;
    ContinuityEvent continuity;
    qint64 triggerIndex = 0;
    quint32 openStatus = 0;
    qint32 featureFileStatus = 0;
};

ParsedRecord parseRecord(QtMsgType type, const QString& text)
{
    ParsedRecord r;
    if (type == QtWarningMsg) {
        pluginwarnings::TriggerAccount t;
        pluginwarnings::TriggerDropped d;
        pluginwarnings::OpenRefused o;
        if (parseContinuityRecord(text, r.camera, r.continuity)) {
            r.kind = ParsedRecord::Continuity;
        } else if (pluginwarnings::parseTriggerAccount(text, t)) {
            r.kind = ParsedRecord::TriggerAccount;
            r.camera = t.camera;
            r.triggerIndex = t.triggerIndex;
        } else if (pluginwarnings::parseTriggerDropped(text, d)) {
            r.kind = ParsedRecord::TriggerDropped;
            r.camera = d.camera;
        } else if (pluginwarnings::isCycleTimeout(text)) {
            r.kind = ParsedRecord::CycleTimeout;
        } else if (pluginwarnings::parseOpenRefused(text, o)) {
            r.kind = ParsedRecord::OpenRefused;
            r.camera = o.camera;
            r.openStatus = o.status;
        }
    } else if (type == QtCriticalMsg) {
        r.kind = pluginwarnings::parseFeatureFileFailed(text, r.featureFileStatus) ? ParsedRecord::FeatureFile
                                                                                    : ParsedRecord::Critical;
    } else if (type == QtFatalMsg) {
        r.kind = ParsedRecord::Critical;
    }
    return r;
}

} // namespace

void LogWatch::record(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const ParsedRecord r = parseRecord(type, text);
    std::function<void()> before;
    bool quiet = false;
    {
        QMutexLocker lock(&mutex_);
        before = before_;
        if (type == QtWarningMsg)
            ++counts_.warnings;
        switch (r.kind) {
        case ParsedRecord::Continuity: {
            ContinuityCounts& c = counts_.continuity[r.camera];
            ++c.warnings;
            c.lostFrames += r.continuity.lostFrames;
            c.lostPackets += r.continuity.lostPackets;
            std::deque<ContinuityEvent>& q = events_[r.camera];
            q.push_back(r.continuity);
            if (q.size() > kMaxPendingEvents)
                q.pop_front();
            break;
        }
        case ParsedRecord::TriggerAccount:
            ++counts_.triggerWarnings;
            triggerOfFrame_[r.camera] = r.triggerIndex;
            break;
        case ParsedRecord::TriggerDropped: ++triggersDropped_[r.camera]; break;
        case ParsedRecord::CycleTimeout: ++counts_.cycleTimeouts; break;
        case ParsedRecord::OpenRefused: openRefusals_[r.camera] = r.openStatus; break;
        case ParsedRecord::FeatureFile: quiet = counts_.featureFileFailures++ > 0; break;
        case ParsedRecord::Critical: ++counts_.criticals; break;
        case ParsedRecord::Other: break;
        }
    }
    if (quiet)
        return;
    // The plug-in's info and debug records are for whoever asked for them.
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verbose_)
        return;
    if (before)
        before();
    if (previous_)
        previous_(type, context, r.kind == ParsedRecord::FeatureFile ? featureFileText(r.featureFileStatus) : text);
}

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

void LogWatch::setBeforeForward(std::function<void()> hook)
{
    QMutexLocker lock(&mutex_);
    before_ = std::move(hook);
}

LogCounts LogWatch::snapshot() const
{
    QMutexLocker lock(&mutex_);
    return counts_;
}

void LogWatch::reset()
{
    QMutexLocker lock(&mutex_);
    counts_ = LogCounts();
    events_.clear();
    triggerOfFrame_.clear();
    triggersDropped_.clear();
    openRefusals_.clear();
}

LossBefore LogWatch::takeLossBefore(int cameraIndex, int product, int capture)
{
    QMutexLocker lock(&mutex_);
    LossBefore out;
    auto it = events_.find(cameraIndex);
    if (it == events_.end())
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

qint64 LogWatch::takeUnmatchedLoss(int cameraIndex)
{
    QMutexLocker lock(&mutex_);
    qint64 frames = 0;
    for (const ContinuityEvent& e : events_.value(cameraIndex))
        if (e.product > 0)
            frames += e.lostFrames + 1; // the frame of the record never came either
    events_.remove(cameraIndex);
    return frames;
}

qint64 LogWatch::takeTriggerOfFrame(int cameraIndex)
{
    QMutexLocker lock(&mutex_);
    const auto it = triggerOfFrame_.find(cameraIndex);
    if (it == triggerOfFrame_.end())
        return -1;
    const qint64 index = *it;
    triggerOfFrame_.erase(it);
    return index;
}

int LogWatch::triggersDropped(int cameraIndex) const
{
    QMutexLocker lock(&mutex_);
    return triggersDropped_.value(cameraIndex);
}

quint32 LogWatch::takeOpenRefusal(int cameraIndex)
{
    QMutexLocker lock(&mutex_);
    return openRefusals_.take(cameraIndex);
}

namespace logwatch {

void install(bool verbose)
{
    // Lives as long as the process: records may come from any thread until
    // its very end.
    static LogWatch* own = nullptr;
    if (!own) {
        own = new LogWatch(verbose);
        return;
    }
    own->verbose_ = verbose;
    own->installHandler();
}

void setBeforeForward(std::function<void()> hook)
{
    if (LogWatch* w = LogWatch::installed())
        w->setBeforeForward(std::move(hook));
}

LogCounts snapshot()
{
    LogWatch* w = LogWatch::installed();
    return w ? w->snapshot() : LogCounts();
}

void reset()
{
    if (LogWatch* w = LogWatch::installed())
        w->reset();
}

quint32 takeOpenRefusal(int cameraIndex)
{
    LogWatch* w = LogWatch::installed();
    return w ? w->takeOpenRefusal(cameraIndex) : 0;
}

} // namespace logwatch
