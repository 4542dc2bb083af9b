#include "faultscript.h"

#include "faults.h"
#include "lifecycle.h"
#include "state.h"

#include <sstream>
#include <thread>

namespace vcc {

namespace {

void applyParsed(const FaultEntry& p, const std::shared_ptr<Device>& dev)
{
    if (p.kind == "fail")
        failNext(p.function.c_str(), static_cast<int>(p.a), static_cast<int>(p.status));
    else
        applyToDevice(p, *dev);
}

// Unplugs and plugs the device back as scripted, on a thread of its own; the
// device and the registry are never destroyed, so the thread may outlive main().
void runUnplugs(std::shared_ptr<Device> dev, std::vector<Device::ScriptedUnplug> plan)
{
    const Clock::time_point start = Clock::now();
    for (const Device::ScriptedUnplug& u : plan) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(u.atMs));
        {
            std::lock_guard<std::mutex> lk(state().mu);
            if (!dev->attached)
                continue;
        }
        disconnectDevice(dev, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(u.forMs));
        std::lock_guard<std::mutex> lk(state().mu);
        dev->attached = true;
    }
}

} // namespace

void applyCallFaults(const std::vector<std::shared_ptr<Device>>& devices)
{
    for (const auto& dev : devices)
        for (const FaultEntry& f : dev->takeCallFaults())
            applyParsed(f, dev);
}

bool applyFaultScript(const std::string& text, const std::vector<std::shared_ptr<Device>>& devices, std::string* why)
{
    std::string normal = text;
    for (char& c : normal)
        if (c == ';' || c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    std::vector<std::pair<FaultEntry, std::shared_ptr<Device>>> plan;
    std::istringstream in(normal);
    std::string entry;
    while (in >> entry) {
        std::shared_ptr<Device> dev;
        std::string fault = entry;
        if (const size_t slash = entry.find('/'); slash != std::string::npos) {
            const std::string serial = entry.substr(0, slash);
            for (const auto& d : devices)
                if (d->serial() == serial)
                    dev = d;
            if (!dev) {
                *why = entry + ": no device " + serial;
                return false;
            }
            fault = entry.substr(slash + 1);
        }
        FaultEntry p;
        std::string reason;
        if (!parseFaultEntry(fault, p, &reason)) {
            *why = entry + ": " + reason;
            return false;
        }
        if (!dev && p.kind != "fail") {
            *why = entry + ": " + p.kind + " needs a device (SERIAL/" + fault + ")";
            return false;
        }
        plan.emplace_back(p, dev);
    }
    for (const auto& [p, dev] : plan)
        applyParsed(p, dev);
    return true;
}

void startScriptedUnplugs(const std::shared_ptr<Device>& dev)
{
    std::vector<Device::ScriptedUnplug> plan = dev->takeScriptedUnplugs();
    if (!plan.empty())
        std::thread(runUnplugs, dev, std::move(plan)).detach();
}

} // namespace vcc
