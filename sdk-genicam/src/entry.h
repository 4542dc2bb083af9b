// What every MV_CC_* entry point of this SDK shares: its export marking, the
// status codes (one table with the virtual SDK) and the handle lookup.
#pragma once

#include "apiexport.h" // shared with the virtual SDK (sdk/src)
#include "handles.h"
#include "VirtualCameraControl.h" // the MV_E_* status codes

namespace gcc {

inline int err(unsigned code)
{
    return static_cast<int>(code);
}

} // namespace gcc

namespace gcc {

// Runs `op(handle)` under the handle's lock when the handle is live and open:
// MV_E_HANDLE for an unknown handle, MV_E_CALLORDER for a closed one and
// MV_E_NETER once the camera is lost.
template <class Op> int onOpenHandle(void* token, Op op)
{
    std::shared_ptr<Handle> h = findHandle(token);
    if (!h)
        return err(MV_E_HANDLE);
    std::lock_guard<std::mutex> lk(h->mu);
    if (!h->device)
        return err(MV_E_CALLORDER);
    if (h->counters->lost)
        return err(MV_E_NETER);
    return op(*h);
}

// Ends a handle's session and connection; waits for its running callbacks
// (not for the one it is called from). MV_E_CALLORDER when not open.
int closeHandle(Handle& h);
// Ends a handle's acquisition session, waiting likewise; MV_OK when none runs.
int stopHandle(Handle& h);

} // namespace gcc
