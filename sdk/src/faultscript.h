// Faults a person scripts without writing C: entries of a device file's
// "faults" list or of the environment variable VCC_FAULTS, each one short text.
//
//   gap:AFTER:SKIP          SKIP frame numbers lost in transit after frame AFTER
//   packets:FRAME:COUNT     frame FRAME arrives with COUNT packets lost
//   unplug:AT:FOR           unplugged AT ms after its first start of grabbing, for FOR ms
//   overrun:TRIGGER         the TRIGGER-th trigger since the open is lost, as in a read-out
//   bounce:TRIGGER          the TRIGGER-th trigger since the open is received twice (a
//                           bouncing trigger line): two triggers counted, two frames made
//   fail:FUNCTION:COUNT[:STATUS]  the next COUNT calls of an MV_CC_* function fail
//                                 (STATUS decimal or 0x hex; MV_E_UNKNOW when left out)
//
// In VCC_FAULTS a device's entry begins with its serial and a slash
// (ZQ4096M0001/gap:40:2); entries are separated by ';' or white space.
#pragma once

#include "device.h"

#include <memory>
#include <string>
#include <vector>

namespace vcc {

constexpr const char* kFaultsEnv = "VCC_FAULTS";

// Gives the SDK the "fail" entries that loaded device files left on their
// devices (faultentry.h).
void applyCallFaults(const std::vector<std::shared_ptr<Device>>& devices);

// Applies every entry of VCC_FAULTS's text to the devices. The whole text is
// checked first: on any error nothing is applied and *why says which entry.
bool applyFaultScript(const std::string& text, const std::vector<std::shared_ptr<Device>>& devices, std::string* why);

// Called when a device starts grabbing: a scripted unplug starts its clock at
// the device's first start.
void startScriptedUnplugs(const std::shared_ptr<Device>& dev);

} // namespace vcc
