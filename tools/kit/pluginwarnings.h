// pluginwarnings.h - the warnings the plug-in writes about frames and
// triggers, and how a host reads them. The plug-in reports lost frames, lost
// packets and lost triggers only in its log; this file is the one place that
// knows those texts, so a change of wording breaks one test, not the counts.
//
// The records, items separated by single spaces as Qt's logger writes them:
//   Camera N SDK with product P cycle C last frame E current frame F width W height H lost packets L
//   Camera N SDK with FrameCounter X TriggerIndex Y
//   Camera N software trigger for product P capture C dropped: the device is busy
//   Camera N cycle capture timeout with product P cycle C
//   Camera N cycle product timeout with product P cycle C
//   Open camera N failed: S                      (S: the status in hexadecimal)
//   Camera N create handle failed: S
//   Load configuration file(Lorvex.mfs) failed: S (a critical record; S in decimal)
#ifndef LORVEXKIT_PLUGINWARNINGS_H
#define LORVEXKIT_PLUGINWARNINGS_H

#include <QString>
#include <QtGlobal>

namespace pluginwarnings {

// A frame-number gap or lost packets, logged for the frame that came next
// (product and capture are that frame's numbers, 0 while not running).
struct Continuity
{
    int camera = 0;
    int product = 0;
    int capture = 0;
    qint64 lostFrames = 0;   // frame numbers skipped before it (0 when the count restarted)
    qint64 lostPackets = 0;  // packets missing in the frame itself
};

// The device's frame counter and trigger index of a frame differ: the frame
// answers trigger `triggerIndex` (counted from the device's open).
struct TriggerAccount
{
    int camera = 0;
    qint64 frameCounter = 0;
    qint64 triggerIndex = 0;
};

// A software trigger the plug-in did not pass to the device.
struct TriggerDropped
{
    int camera = 0;
    int product = 0;
    int capture = 0;
};

// The SDK refused to open the device (another client may hold it) or to
// make its handle.
struct OpenRefused
{
    int camera = 0;
    quint32 status = 0;
};

// The status of a device that another application controls.
constexpr quint32 kAccessDenied = 0x80000203u;

bool parseContinuity(const QString& text, Continuity& out);
bool parseTriggerAccount(const QString& text, TriggerAccount& out);
bool parseTriggerDropped(const QString& text, TriggerDropped& out);
// A late capture or late product renumbered by the cycle time-out.
bool isCycleTimeout(const QString& text);
bool parseOpenRefused(const QString& text, OpenRefused& out);
// The device's feature file was not applied at an open; `status` is the SDK's.
bool parseFeatureFileFailed(const QString& text, qint32& status);

// Why the plug-in will never open a camera of this serial number (it takes
// one of 8 characters or fewer for a configuration left blank or cut, and
// never retries it), or empty when it may.
QString serialRefusal(const QString& serial);

} // namespace pluginwarnings

#endif
