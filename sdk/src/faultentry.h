// One scripted fault, read from its short text (the forms are listed in
// faultscript.h). Reading and the faults a device holds itself live here, in
// the device library, so that a device file's "faults" are checked wherever
// device files are read; a "fail" entry concerns the SDK's calls and is left
// to the SDK (faultscript.cpp).
#pragma once

#include <string>

namespace vcc {

class Device;

struct FaultEntry {
    std::string kind;     // gap, packets, unplug, overrun, bounce, fail
    std::string function; // fail: the MV_CC_ function
    unsigned a = 0, b = 0;
    unsigned status = 0;  // fail: the status to return
};

// Reads `text` into `out`; false with the reason in *why when it is not a fault.
bool parseFaultEntry(const std::string& text, FaultEntry& out, std::string* why);

// Gives the entry to the device: gap, packets, unplug and overrun act on its
// frames; a "fail" entry waits there until the SDK takes it.
void applyToDevice(const FaultEntry& entry, Device& dev);

} // namespace vcc
