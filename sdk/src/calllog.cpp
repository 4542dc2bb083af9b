#include "calllog.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace vcc {

namespace {

constexpr size_t kCapacity = 8192; // a ring: the oldest calls go first

struct Log {
    std::mutex mu;
    std::vector<VCC_CALL_RECORD> ring;
    size_t next = 0; // slot of the next record once the ring is full
};

Log& log()
{
    static Log* l = new Log; // never destroyed: threads may log during exit
    return *l;
}

std::atomic<bool> g_enabled{true};

void copyCut(char* dst, size_t cap, const char* src)
{
    if (!src) {
        dst[0] = 0;
        return;
    }
    size_t n = std::strlen(src);
    if (n >= cap)
        n = cap - 1;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

} // namespace

bool callLogEnabled()
{
    return g_enabled.load(std::memory_order_relaxed);
}

void callLogEnable(bool on)
{
    g_enabled = on;
}

void callLogAppend(const char* function, void* handle, const char* key, const std::string& value, int status)
{
    VCC_CALL_RECORD r;
    copyCut(r.function, sizeof r.function, function);
    r.handle = handle;
    copyCut(r.key, sizeof r.key, key);
    copyCut(r.value, sizeof r.value, value.c_str());
    r.status = status;
    Log& l = log();
    std::lock_guard<std::mutex> lk(l.mu);
    if (l.ring.size() < kCapacity) {
        l.ring.push_back(r);
    } else {
        l.ring[l.next] = r;
        l.next = (l.next + 1) % kCapacity;
    }
}

void callLogClear()
{
    Log& l = log();
    std::lock_guard<std::mutex> lk(l.mu);
    l.ring.clear();
    l.next = 0;
}

int callLogCount()
{
    Log& l = log();
    std::lock_guard<std::mutex> lk(l.mu);
    return static_cast<int>(l.ring.size());
}

bool callLogGet(int index, VCC_CALL_RECORD* out)
{
    Log& l = log();
    std::lock_guard<std::mutex> lk(l.mu);
    if (!out || index < 0 || static_cast<size_t>(index) >= l.ring.size())
        return false;
    *out = l.ring[(l.next + static_cast<size_t>(index)) % l.ring.size()];
    return true;
}

int callLogCountOf(const char* function, const char* key)
{
    if (!function)
        return 0;
    Log& l = log();
    std::lock_guard<std::mutex> lk(l.mu);
    int n = 0;
    for (const VCC_CALL_RECORD& r : l.ring)
        if (std::strcmp(r.function, function) == 0 && (!key || std::strcmp(r.key, key) == 0))
            ++n;
    return n;
}

} // namespace vcc
