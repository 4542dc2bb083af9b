// virtualcontrol.h - the virtual SDK's control functions, looked up at run
// time, so that the host also runs on a real SDK that has none of them.
#ifndef LORVEXKIT_VIRTUALCONTROL_H
#define LORVEXKIT_VIRTUALCONTROL_H

#include "VirtualCameraControl.h" // declarations only; nothing is linked

#include <QString>

struct VirtualControl
{
    decltype(&VCC_DetachDevice) detach = nullptr;
    decltype(&VCC_AttachDevice) attach = nullptr;
    decltype(&VCC_GetDeviceCounters) counters = nullptr;
    decltype(&VCC_SetFreeRunPaused) pauseFreeRun = nullptr;
    decltype(&VCC_SetFloatFeature) setFloat = nullptr;  // a device feature, written past the plug-in

    // True when the functions that a soak run needs were found.
    bool usable() const { return detach && attach && counters && pauseFreeRun; }

    // Looks in the already loaded SDK (loaded by the camera plug-in) and in
    // the process. `where` tells what was searched when nothing was found.
    static VirtualControl find(QString& where);
};

#endif
