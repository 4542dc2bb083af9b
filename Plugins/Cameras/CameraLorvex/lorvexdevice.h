// lorvexdevice.h - the SDK handle of one camera and the state of its device.
//
// The SDK calls that change the device's state are made here (lorvexdevice.cpp),
// each with its transition; the camera's device-life steps (devicelife.cpp,
// recovery.cpp) decide when, and report. The table is the whole story of the
// device.
//
// ---------------------------------------------------------------------------
// Device states
//
//   state     open  grabbing  lost   left by
//   closed    0     0         0      opened() -> open; a failed open -> lost
//   open      1     0         0      startGrabbing() -> grabbing; a refused
//                                    start -> lost; closeHandle() -> closed;
//                                    a notice -> lost
//   grabbing  1     1         0      stopGrabbing() -> open; closeHandle()
//                                    -> closed; a notice -> lost
//   lost      0     0         1      a reopen that grabs (found()) ->
//                                    grabbing; the host's close
//                                    (closedForGood()) -> closed, final
//   closing   (a CameraLorvex::DeviceOperation ending Closed in progress): a
//             notice that comes meanwhile leaves the camera closed, not lost
//
// Every path that starts grabbing (restart, restore of a device that is not
// grabbing, reopen) checks the start: a refused one closes the device and
// makes the camera lost, retried at the next timeout. A restore on a device
// already grabbing starts nothing.
//
// Threads and locks (letters as in cameralorvex.h)
//   devHandle, opened, grabbing        H, E, P   the camera's deviceMutex
//      (I uses the handle for the conversion only between start and stop,
//      which the SDK orders against the close.)
//   generation                         H, E, P   atomic, written under
//      deviceMutex; read by E without it to tell whether a deferred notice
//      is about the handle open now
//   lost                               H, E, P   atomic (the timer reads it)
// ---------------------------------------------------------------------------
#ifndef DEVICE_H
#define DEVICE_H

#include <atomic>

#include "MVCameraControl.h"

class LorvexDevice
{
public:
    void* handle() const { return devHandle; }
    bool isOpen() const { return bOpened != 0; }
    bool isGrabbing() const { return bGrabbing; }
    bool isLost() const { return bCameraLost; }
    // Counts handles that got as far as their callbacks: an SDK may give a
    // new handle the address of one it destroyed.
    unsigned int generation() const { return openGeneration; }

    // Where the SDK writes a handle it creates.
    void** handleSlot() { return &devHandle; }
    // The open of this handle has begun its callbacks' registration.
    void countHandle() { ++openGeneration; }
    // The handle was destroyed before the device became open.
    void handleDropped() { devHandle = nullptr; }
    // closed -> open; also where an open begins (not open yet).
    void opening() { bOpened = 0; }
    void opened() { bOpened = 1; }

    // The SDK's status of each call. open -> grabbing when it succeeds.
    int startGrabbing();
    // grabbing -> open when it succeeds; a refused stop leaves the device
    // grabbing, and the close ends it anyway. Waits for a running image
    // callback: the caller announces it to the frame path.
    int stopGrabbing();
    // Closes the device and destroys the handle: -> closed. Waits for running
    // callbacks, as stopGrabbing.
    void closeHandle();
    // Destroys a handle whose device did not open.
    void destroyHandle();
    // -> lost; a lost camera that is back -> not lost; a close is final.
    void lost() { bCameraLost = true; }
    void found() { bCameraLost = false; }
    void closedForGood() { bCameraLost = false; }

private:
    friend class CameraLorvexProbe;

    void* devHandle = nullptr;
    int bOpened = 0;
    bool bGrabbing = false;  // the last start succeeded and no stop came since
    std::atomic<bool> bCameraLost{false};
    std::atomic<unsigned int> openGeneration{0};
};

#endif // DEVICE_H
