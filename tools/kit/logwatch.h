// logwatch.h - reads the plug-in's log as it passes, for the run's summary.
#ifndef LORVEXHOST_LOGWATCH_H
#define LORVEXHOST_LOGWATCH_H

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
    int criticals = 0;
    int cycleTimeouts = 0;
    QMap<int, ContinuityCounts> continuity;
};

// Parses one record; returns true when it was a continuity warning and fills
// camera index and counts. Exposed for the handler and for testing.
bool parseContinuityWarning(const QString& text, int& cameraIndex, qint64& lostFrames, qint64& lostPackets);

namespace logwatch {

// Installs the handler (records from any thread). Debug records are forwarded
// only when `verbose`; the rest always go to the previous handler.
void install(bool verbose);
// Called before a record is forwarded, on the thread that logged it (the
// progress bar clears its line). Set once, before capture starts.
void setBeforeForward(std::function<void()> hook);
LogCounts snapshot();
void reset();

} // namespace logwatch

#endif
