#include "faultentry.h"

#include "device.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

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

} // namespace

bool parseFaultEntry(const std::string& entry, FaultEntry& p, std::string* why)
{
    p = FaultEntry{};
    p.status = MV_E_UNKNOW;
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
    if (p.kind == "overrun" || p.kind == "bounce") {
        if (numbers(1, 1) && p.a > 0)
            return true;
        *why = p.kind + (p.kind == "overrun" ? " takes the number of the trigger to lose, from 1"
                                             : " takes the number of the trigger that bounces, from 1");
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
    *why = "unknown fault '" + p.kind + "' (gap, packets, unplug, overrun, bounce, fail)";
    return false;
}

void applyToDevice(const FaultEntry& p, Device& dev)
{
    if (p.kind == "gap")
        dev.addGap(p.a, p.b);
    else if (p.kind == "packets")
        dev.addLostPackets(p.a, p.b);
    else if (p.kind == "unplug")
        dev.addScriptedUnplug(p.a, p.b);
    else if (p.kind == "overrun")
        dev.addOverrun(p.a);
    else if (p.kind == "bounce")
        dev.addBounce(p.a);
    else if (p.kind == "fail")
        dev.addCallFault(p);
}

} // namespace vcc
