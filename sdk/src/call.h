// Bookkeeping shared by every MV_CC_* entry point: start-up of the device set,
// scheduled failures and the call log.
#pragma once

#include "apiexport.h"
#include "calllog.h"
#include "faults.h"
#include "status.h"

#include <string>

namespace vcc {

void ensureInitialised();

class Call {
public:
    Call(const char* function, void* handle, const char* key = nullptr)
        : function_(function), handle_(handle), key_(key)
    {
        ensureInitialised();
        injected_ = takeFailure(function, &injectedStatus_);
    }

    bool injected() const { return injected_; }
    int injectedStatus() const { return injectedStatus_; }
    static bool logging() { return callLogEnabled(); }

    int done(int status, const std::string& value = std::string()) const
    {
        if (callLogEnabled())
            callLogAppend(function_, handle_, key_, value, status);
        return status;
    }

private:
    const char* function_;
    void* handle_;
    const char* key_;
    bool injected_ = false;
    int injectedStatus_ = 0;
};

} // namespace vcc
