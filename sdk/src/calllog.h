// Record of MV_CC_* calls, so tests can assert which SDK calls were made.
#pragma once

#include "VirtualCameraControl.h"

#include <string>

namespace vcc {

bool callLogEnabled();
void callLogEnable(bool on);
void callLogAppend(const char* function, void* handle, const char* key, const std::string& value, int status);
void callLogClear();
int callLogCount();
bool callLogGet(int index, VCC_CALL_RECORD* out);
int callLogCountOf(const char* function, const char* key);

} // namespace vcc
