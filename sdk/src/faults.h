// Scheduled failures of named MV_CC_* functions (VCC_FailNext).
#pragma once

namespace vcc {

void failNext(const char* function, int count, int status);
void clearFailures();
// True when this call of `function` is to fail; *status receives the status.
bool takeFailure(const char* function, int* status);

} // namespace vcc
