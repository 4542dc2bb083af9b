// notopened.h - why a camera did not open at its creation, in words, and
// whether the plug-in will keep trying it, for every host of this project.
// A camera whose open the SDK refused (another application controls it, for
// instance) is retried by the plug-in and counts as lost until it opens; a
// camera the plug-in refuses by its serial number is never tried again and is
// no loss.
#ifndef LORVEXKIT_NOTOPENED_H
#define LORVEXKIT_NOTOPENED_H

#include <QString>
#include <QtGlobal>

struct NotOpened
{
    QString text;         // "SERIAL: ..." for the console
    bool retried = true;  // the plug-in retries it every 3 s
};

// `status`: the SDK's status of the refused open (logwatch::takeOpenRefusal),
// 0 when the plug-in reported none.
NotOpened whyNotOpened(const QString& serial, quint32 status);

#endif
