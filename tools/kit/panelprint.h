// panelprint.h - a camera's parameter panel as a table a person can read.
#ifndef LORVEXKIT_PANELPRINT_H
#define LORVEXKIT_PANELPRINT_H

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QVector>

class CameraInterface;
class ParamWrap;

// One panel row, read through the item's type name and pointers.
struct PanelRow
{
    int index = -1;   // position in the stored form's "paramsWrap" array
    bool deviceOwned = false;  // read back from the device; a stored value is replaced
    bool outOfLimits = false;  // the value lies outside the row's own limits
    bool exposure = false;     // an exposure time: the one row a host can send to the device
    QString heading;  // the group heading the row is under
    QString label;
    QString kind;     // the item's type name
    QString value;
    QString limits;
    QString options;
};

// `deviceValues`: the addresses of values the camera reads back from its
// device (see deviceOwnedValues); rows bound to them are marked.
// `exposureValues`: the addresses of the exposure times (see exposureValues).
QVector<PanelRow> describePanel(const QVector<ParamWrap*>& items, const QSet<const void*>& deviceValues = {},
                                const QSet<const void*>& exposureValues = {});
QString formatPanel(const QVector<PanelRow>& rows);

// Which rows reach the device and when, for a run's report: "readBackAtOpen"
// (the device's values replace the panel's at every open), "exposure" (sent
// only when a host selects their configuration; `exposureSent` says whether
// this host does), "panelOnly" (never sent) and "sentByThisRun". Each row is
// "N label", N its position in a settings file's "paramsWrap" array.
QJsonObject panelReach(const QVector<PanelRow>& rows, bool exposureSent);
// The same in one line for a console.
QString panelReachText(const QJsonObject& reach);

// The values of a camera's settings record that come from the device
// (geometry and mirroring), found through the record's layout, which hosts
// share with the plug-in. Empty when the camera has no such record.
QSet<const void*> deviceOwnedValues(CameraInterface* camera);
// The exposure times of the record: of all panel values only these ever
// reach the device, and only when a host selects their configuration.
QSet<const void*> exposureValues(CameraInterface* camera);

#endif
