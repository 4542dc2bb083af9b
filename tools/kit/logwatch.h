// logwatch.h - reads the plug-in's log as it passes, for the run's summary
// and for the hosts' cameras (losses before a frame, the trigger a frame
// answers, triggers the plug-in dropped).
//
// Threads: records arrive on any thread (the SDK's callback threads, Qt's
// pool, the host's thread); the host's thread reads the counts and takes the
// events. A LogWatch's one mutex guards everything it collects; its lock
// comes after the camera's mutex (the frame path logs with it held) and
// before nothing else. Qt has one message handler per process: the watch
// that is installed receives the records; `verbose` and the previous
// handler are set before any camera exists.
#ifndef LORVEXKIT_LOGWATCH_H
#define LORVEXKIT_LOGWATCH_H

#include <QMap>
#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <functional>

// Per camera index: what the continuity warnings of the frame path said.
struct ContinuityCounts
{
    int warnings = 0;       // records about a frame-number gap or lost packets
    qint64 lostFrames = 0;  // frame numbers skipped, summed over the warnings
    qint64 lostPackets = 0;
};

// Counters kept by the installed message handler.
struct LogCounts
{
    int warnings = 0;
    int criticals = 0;         // besides the feature-file failures
    int featureFileFailures = 0; // opens whose feature file the device did not take
    int cycleTimeouts = 0;
    int triggerWarnings = 0;   // frames that answered another trigger than their count says
    QMap<int, ContinuityCounts> continuity;
};

// One continuity record: the numbers of the frame it was logged for, and
// what was missing before it.
struct ContinuityEvent
{
    int product = 0;
    int capture = 0;
    qint64 lostFrames = 0;
    qint64 lostPackets = 0;
};

// Parses one continuity record with the frame's numbers.
bool parseContinuityRecord(const QString& text, int& cameraIndex, ContinuityEvent& e);

// Parses one record; returns true when it was a continuity warning and fills
// camera index and counts. Exposed for the handler and for testing.
bool parseContinuityWarning(const QString& text, int& cameraIndex, qint64& lostFrames, qint64& lostPackets);

// What the continuity records said about the frames before a received one.
struct LossBefore
{
    qint64 frames = 0;   // frames missing just before it
    qint64 idleFrames = 0; // of those before it, frames lost while the camera was not running
    qint64 packets = 0;  // packets missing in the frame itself
};

class LogWatch;
namespace logwatch {
void install(bool verbose);
}

class LogWatch
{
public:
    // Debug and info records are forwarded only when `verbose`; warnings and
    // criticals always go to the previous handler, and are counted. A feature
    // file that fails is no failed run (the camera keeps the settings it had,
    // and every reopen would say it again): the first such record is forwarded
    // in words, later ones counted. With
    // `install` the watch becomes the process's message handler until it is
    // destroyed (then the watch or handler before it gets them again;
    // destroy watches in the reverse order of their making); without, records
    // reach it only through record() (tests).
    explicit LogWatch(bool verbose, bool install = true);
    ~LogWatch();
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    // The watch that receives the process's records now, or null.
    static LogWatch* installed();

    // Reads one record, then forwards it as the constructor says.
    void record(QtMsgType type, const QMessageLogContext& context, const QString& text);

    // Called before a record is forwarded, on the thread that logged it (the
    // progress bar clears its line). Set before capture starts.
    void setBeforeForward(std::function<void()> hook);
    LogCounts snapshot() const;
    void reset();

    // Takes the pending continuity records of camera `cameraIndex` up to the
    // one logged for the received frame (product, capture). Call it on the
    // thread that receives frames, in the order they arrive. Losses while
    // the camera was not running (product 0) are no part of a run: they go
    // to `idleFrames`, not to `frames`.
    LossBefore takeLossBefore(int cameraIndex, int product, int capture);
    // Frames of running records that no received frame claimed (their own
    // frame and the gap before it), and forgets them.
    qint64 takeUnmatchedLoss(int cameraIndex);
    // The trigger index that the plug-in's trigger warning named for the
    // frame it is handing over now, or -1 when it wrote none. Call it from a
    // receiver connected directly to captureCompleted: the warning is
    // written on that thread just before the emission.
    qint64 takeTriggerOfFrame(int cameraIndex);
    // Software triggers of the camera that the plug-in reported it did not
    // pass to the device, since the last reset.
    int triggersDropped(int cameraIndex) const;
    // The SDK's status of the camera's latest refused open (or refused
    // handle), or 0 when the plug-in reported none since the last take, and
    // forgets it. Take it before a camera is made, then after: a camera whose
    // open was refused may still report a stored image size.
    quint32 takeOpenRefusal(int cameraIndex);

private:
    // Per camera index, the continuity records not yet matched to a received
    // frame are bounded: a run that never takes them (no host matching
    // frames) must not grow without end.
    static constexpr size_t kMaxPendingEvents = 4096;

    friend void logwatch::install(bool);
    void installHandler();

    bool verbose_;  // written before any camera exists
    QtMessageHandler previous_ = nullptr;
    bool installed_ = false;
    LogWatch* outer_ = nullptr;  // the watch installed before this one, if any
    mutable QMutex mutex_;  // guards everything below
    std::function<void()> before_;
    LogCounts counts_;
    QMap<int, std::deque<ContinuityEvent>> events_;
    QMap<int, qint64> triggerOfFrame_;
    QMap<int, int> triggersDropped_;
    QMap<int, quint32> openRefusals_;
};

// The installed watch, for code that is handed none: the host programs own
// one LogWatch for their run and install it first thing.
namespace logwatch {

// Installs a watch owned by the process for the rest of its life (a second
// call installs it again, with the new `verbose`). For tests and small tools;
// the hosts own theirs.
void install(bool verbose);
// These act on the installed watch; without one they do nothing and answer
// as an empty watch would.
void setBeforeForward(std::function<void()> hook);
LogCounts snapshot();
void reset();
quint32 takeOpenRefusal(int cameraIndex);

} // namespace logwatch

#endif
