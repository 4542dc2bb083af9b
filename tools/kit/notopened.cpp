// notopened.cpp
#include "notopened.h"

#include "pluginwarnings.h"
#include "sdkstatus.h"

NotOpened whyNotOpened(const QString& serial, quint32 status)
{
    NotOpened out;
    const QString refusal = pluginwarnings::serialRefusal(serial);
    if (!refusal.isEmpty()) {
        out.retried = false;
        out.text = QStringLiteral("%1: not opened: %2; it is never retried").arg(serial, refusal);
        return out;
    }
    if (status == pluginwarnings::kAccessDenied)
        out.text = QStringLiteral("%1: the camera did not open: another application controls it (the SDK said %2); "
                                  "it is retried every 3 s and opens once that application lets it go")
                       .arg(serial, sdkStatusText(static_cast<int>(status)));
    else if (status != 0)
        out.text = QStringLiteral("%1: the camera did not open: the SDK refused the open with %2; it is retried every 3 s")
                       .arg(serial, sdkStatusText(static_cast<int>(status)));
    else
        out.text = QStringLiteral("%1: the camera did not open (it reports no image size); it is retried every 3 s").arg(serial);
    return out;
}
