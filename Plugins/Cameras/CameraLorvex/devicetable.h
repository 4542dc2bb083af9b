// devicetable.h - the process-wide table of accepted devices.
//
// One table per loaded plug-in, shared by every camera object: filled by each
// enumeration (the host's listing on its thread, reconnect tasks on pool
// threads), read by the selection by serial number. Every access goes through
// deviceTableMutex, so a selection never reads a table, or an SDK device
// record behind it, that another enumeration is replacing.
#ifndef DEVICETABLE_H
#define DEVICETABLE_H

#include "lockrank.h"
#include <QString>

#include "MVCameraControl.h"

namespace lorvex {

struct DeviceStrings
{
    QString manufacturer;
    QString model;
    QString serial;
};

// The three strings of a device record, read from the union member of its
// own transport layer and never past the end of their arrays.
DeviceStrings deviceStrings(const MV_CC_DEVICE_INFO& info);

// The acceptance filter, case-sensitive, tests in this order.
bool isAcceptedDevice(const DeviceStrings& device);

RankedMutex& deviceTableMutex();

// The following expect deviceTableMutex held.
MV_CC_DEVICE_INFO_LIST& acceptedDevices();
int& listedDeviceCount();
int enumAcceptedDevicesLocked();

} // namespace lorvex

#endif // DEVICETABLE_H
