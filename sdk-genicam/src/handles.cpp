#include "handles.h"

#include <thread>

#include <map>
#include <set>

namespace gcc {

namespace {

std::mutex gRegistryMu;
std::map<void*, std::shared_ptr<Handle>> gHandles;
std::set<std::string> gOpenDevices;

} // namespace

void* addHandle(std::shared_ptr<Handle> h)
{
    void* token = h.get();
    std::lock_guard<std::mutex> lk(gRegistryMu);
    gHandles[token] = std::move(h);
    return token;
}

std::shared_ptr<Handle> findHandle(void* token)
{
    std::lock_guard<std::mutex> lk(gRegistryMu);
    auto it = gHandles.find(token);
    return it == gHandles.end() ? nullptr : it->second;
}

std::shared_ptr<Handle> takeHandle(void* token)
{
    std::lock_guard<std::mutex> lk(gRegistryMu);
    auto it = gHandles.find(token);
    if (it == gHandles.end())
        return nullptr;
    auto h = std::move(it->second);
    gHandles.erase(it);
    return h;
}

bool claimDevice(const std::string& id)
{
    std::lock_guard<std::mutex> lk(gRegistryMu);
    return gOpenDevices.insert(id).second;
}

void releaseDevice(const std::string& id)
{
    std::lock_guard<std::mutex> lk(gRegistryMu);
    gOpenDevices.erase(id);
}

void unrefAside(gpointer object)
{
    if (object)
        std::thread([object] { g_object_unref(object); }).detach();
}

} // namespace gcc
