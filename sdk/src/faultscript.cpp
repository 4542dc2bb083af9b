#include "faultscript.h"

#include "faults.h"
#include "lifecycle.h"
#include "state.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace vcc {

namespace {

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep))
        parts.push_back(part);
    if (!text.empty() && text.back() == sep)
        parts.emplace_back();
    return parts;
}

// A whole number of 0..4294967295 written in decimal or 0x hex, nothing else.
bool number(const std::string& text, unsigned& out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    out = static_cast<unsigned>(v);
    return true;
}

struct Parsed {
    std::string kind;
    std::string function;
    unsigned a = 0, b = 0, status = MV_E_UNKNOW;
};

bool parse(const std::string& entry, Parsed& p, std::string* why)
{
    const std::vector<std::string> f = split(entry, ':');
    p.kind = f.empty() ? std::string() : f[0];
    auto numbers = [&](size_t from, size_t count) {
        if (f.size() != from + count)
            return false;
        return number(f[from], p.a) && (count < 2 || number(f[from + 1], p.b));
    };
    if (p.kind == "gap" || p.kind == "packets" || p.kind == "unplug") {
        if (numbers(1, 2) && p.b > 0 && (p.kind != "packets" || p.a > 0))
            return true;
        *why = p.kind + " takes two whole numbers, the second above 0" + (p.kind == "packets" ? ", the frame from 1" : "");
        return false;
    }
    if (p.kind == "overrun") {
        if (numbers(1, 1) && p.a > 0)
            return true;
        *why = "overrun takes the number of the trigger to lose, from 1";
        return false;
    }
    if (p.kind == "fail") {
        if ((f.size() == 3 || f.size() == 4) && f[1].rfind("MV_CC_", 0) == 0 && number(f[2], p.a) && p.a > 0
            && (f.size() == 3 || number(f[3], p.status))) {
            p.function = f[1];
            return true;
        }
        *why = "fail takes an MV_CC_ function, a count above 0 and optionally a status";
        return false;
    }
    *why = "unknown fault '" + p.kind + "' (gap, packets, unplug, overrun, fail)";
    return false;
}

void applyParsed(const Parsed& p, const std::shared_ptr<Device>& dev)
{
    if (p.kind == "gap")
        dev->addGap(p.a, p.b);
    else if (p.kind == "packets")
        dev->addLostPackets(p.a, p.b);
    else if (p.kind == "unplug")
        dev->addScriptedUnplug(p.a, p.b);
    else if (p.kind == "overrun")
        dev->addOverrun(p.a);
    else if (p.kind == "fail")
        failNext(p.function.c_str(), static_cast<int>(p.a), static_cast<int>(p.status));
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

bool applyFault(const std::string& entry, const std::shared_ptr<Device>& dev, std::string* why)
{
    Parsed p;
    if (!parse(entry, p, why))
        return false;
    if (!dev && p.kind != "fail") {
        *why = p.kind + " needs a device: write SERIAL/" + entry;
        return false;
    }
    applyParsed(p, dev);
    return true;
}

bool applyFaultScript(const std::string& text, const std::vector<std::shared_ptr<Device>>& devices, std::string* why)
{
    std::string normal = text;
    for (char& c : normal)
        if (c == ';' || c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    std::vector<std::pair<Parsed, std::shared_ptr<Device>>> plan;
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
        Parsed p;
        std::string reason;
        if (!parse(fault, p, &reason)) {
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
