// virtualcontrol.cpp
#include "virtualcontrol.h"

#include <dlfcn.h>

namespace {

template <typename F>
void lookUp(void* lib, const char* name, F& out)
{
    void* p = lib ? dlsym(lib, name) : nullptr;
    if (!p)
        p = dlsym(RTLD_DEFAULT, name);
    out = reinterpret_cast<F>(p);
}

} // namespace

VirtualControl VirtualControl::find(QString& where)
{
    // RTLD_NOLOAD: only an SDK that the plug-in already brought in counts;
    // the host never loads a camera SDK of its own.
    void* lib = dlopen("libMVCameraControl.so", RTLD_LAZY | RTLD_NOLOAD);
    VirtualControl c;
    lookUp(lib, "VCC_DetachDevice", c.detach);
    lookUp(lib, "VCC_AttachDevice", c.attach);
    lookUp(lib, "VCC_GetDeviceCounters", c.counters);
    lookUp(lib, "VCC_SetFreeRunPaused", c.pauseFreeRun);
    lookUp(lib, "VCC_SetFloatFeature", c.setFloat);
    where = lib ? QStringLiteral("the loaded libMVCameraControl.so") : QStringLiteral("the process (no libMVCameraControl.so is loaded)");
    if (lib)
        dlclose(lib); // balances the NOLOAD reference; the plug-in keeps it loaded
    return c;
}
