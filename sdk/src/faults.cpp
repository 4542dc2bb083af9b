#include "faults.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace vcc {

namespace {

struct Pending {
    int count;
    int status;
};

std::mutex& mu()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

std::map<std::string, Pending>& table()
{
    static auto* t = new std::map<std::string, Pending>;
    return *t;
}

// Lets every call skip the lock while nothing is scheduled, the usual case.
std::atomic<int> g_scheduled{0};

} // namespace

void failNext(const char* function, int count, int status)
{
    std::lock_guard<std::mutex> lk(mu());
    if (count > 0)
        table()[function] = {count, status};
    else
        table().erase(function);
    g_scheduled = static_cast<int>(table().size());
}

void clearFailures()
{
    std::lock_guard<std::mutex> lk(mu());
    table().clear();
    g_scheduled = 0;
}

bool takeFailure(const char* function, int* status)
{
    if (g_scheduled.load(std::memory_order_acquire) == 0)
        return false;
    std::lock_guard<std::mutex> lk(mu());
    auto it = table().find(function);
    if (it == table().end())
        return false;
    *status = it->second.status;
    if (--it->second.count <= 0)
        table().erase(it);
    g_scheduled = static_cast<int>(table().size());
    return true;
}

} // namespace vcc
