// devicestate.h - the states of a camera's device and the transitions
// between them. The table below is the whole story; devicestate.cpp holds it
// as data, and LorvexDevice::transition() refuses any move it does not list.
//
// ---------------------------------------------------------------------------
//   state      handle  grabbing  meaning
//   Closed     none    no        never opened, closed by the host (final:
//                                never reopened on its own), or shut down
//   Opening    being   no        an open in progress: selection, handle,
//              made              feature file, callbacks, limits
//   Open       open    no        opened, not grabbing yet: the host's restore
//                                (or the restart, or the reopen) starts it
//   Grabbing   open    yes       frames arrive
//   Closing    open    maybe     a stop and close in progress, pauses included
//   Lost       none    no        the device went away or would not open or
//                                grab; the reconnect task tries again
//
//   from       to         by
//   Closed     Opening    open, restart
//   Lost       Opening    restart, reopen
//   Lost       Closed     close (final), shut-down
//   Opening    Open       the open succeeded
//   Opening    Lost       not found, handle refused, open refused, callbacks
//                         refused (the loss is told)
//   Open       Grabbing   a start (restart, restore, reopen)
//   Open       Closing    close, restart, a notice, a refused start, shut-down
//   Grabbing   Closing    close, restart, a notice, shut-down
//   Closing    Closed     close, restart (then Opening), shut-down
//   Closing    Lost       a notice, a refused start (the loss is told)
//
// Accesses (trigger, feature reads and writes, read-backs) are allowed in
// Open and Grabbing only (isAccessAllowed); in Opening and Closing the device
// is busy, in Closed and Lost it is closed.
// ---------------------------------------------------------------------------
#ifndef DEVICESTATE_H
#define DEVICESTATE_H

enum class DeviceState { Closed, Opening, Open, Grabbing, Closing, Lost };
constexpr int kDeviceStateCount = 6;

// Whether the table holds the move.
bool transitionAllowed(DeviceState from, DeviceState to);
const char* stateName(DeviceState state);

constexpr bool deviceIsOpen(DeviceState state)
{
    return state == DeviceState::Open || state == DeviceState::Grabbing;
}

constexpr bool deviceIsBusy(DeviceState state)
{
    return state == DeviceState::Opening || state == DeviceState::Closing;
}

constexpr bool isAccessAllowed(DeviceState state)
{
    return deviceIsOpen(state);
}

#endif // DEVICESTATE_H
