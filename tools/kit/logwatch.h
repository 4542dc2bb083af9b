// logwatch.h - reads the plug-in's log as it passes, for the run's summary.
#ifndef LORVEXKIT_LOGWATCH_H
#define LORVEXKIT_LOGWATCH_H

#include <QMap>
#include <QString>
#include <QtGlobal>

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

namespace logwatch {

// Installs the handler (records from any thread). Debug and info records are
// forwarded only when `verbose`; warnings and criticals always go to the
// previous handler, and are counted. A feature file that fails is no failed
// run (the camera keeps the settings it had, and every reopen would say it
// again): the first such record is forwarded in words, later ones counted.
void install(bool verbose);
// Called before a record is forwarded, on the thread that logged it (the
// progress bar clears its line). Set once, before capture starts.
void setBeforeForward(std::function<void()> hook);
LogCounts snapshot();
void reset();

// What the continuity records said about the frames before a received one.
struct LossBefore
{
    qint64 frames = 0;   // frames missing just before it
    qint64 idleFrames = 0; // of those before it, frames lost while the camera was not running
    qint64 packets = 0;  // packets missing in the frame itself
};
// Takes the pending continuity records of camera `cameraIndex` up to the one
// logged for the received frame (product, capture). Call it on the thread
// that receives frames, in the order they arrive. Losses while the camera was
// not running (product 0) are no part of a run: they go to `idleFrames`,
// not to `frames`.
LossBefore takeLossBefore(int cameraIndex, int product, int capture);
// Frames of running records that no received frame claimed (their own frame
// and the gap before it), and forgets them.
qint64 takeUnmatchedLoss(int cameraIndex);

// The trigger index that the plug-in's trigger warning named for the frame
// it is handing over now, or -1 when it wrote none. Call it from a receiver
// connected directly to captureCompleted: the warning is written on that
// thread just before the emission.
qint64 takeTriggerOfFrame(int cameraIndex);
// Software triggers of the camera that the plug-in reported it did not
// pass to the device, since the last reset.
int triggersDropped(int cameraIndex);
// The SDK's status of the camera's latest refused open (or refused handle),
// or 0 when the plug-in reported none since the last take, and forgets it.
// Take it before a camera is made, then after: a camera whose open was
// refused may still report a stored image size.
quint32 takeOpenRefusal(int cameraIndex);

} // namespace logwatch

#endif
