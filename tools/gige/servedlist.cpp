#include "servedlist.h"

#include "devicefile.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace gige {

namespace {

std::string defaultAddress(size_t index)
{
    return "127.0.0." + std::to_string(index + 1);
}

bool isIPv4(const std::string& s)
{
    in_addr a{};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

// Reads the simulator's own keys; the device file loader has checked the rest.
bool readExtras(const std::string& path, std::vector<Served>& served)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const auto doc = nlohmann::json::parse(text.str(), nullptr, false);
    const auto& list = doc.at("devices");
    for (size_t i = 0; i < served.size() && i < list.size(); ++i) {
        const auto& d = list[i];
        const std::string where = path + ": device " + std::to_string(i) + ": ";
        if (auto a = d.find("address"); a != d.end()) {
            if (!a->is_string() || !isIPv4(a->get<std::string>())) {
                std::fprintf(stderr, "lorvexgige: %saddress must be an IPv4 address such as \"127.0.0.2\"\n",
                             where.c_str());
                return false;
            }
            served[i].address = a->get<std::string>();
        }
        if (auto r = d.find("lostPacketRatio"); r != d.end()) {
            if (!r->is_number() || r->get<double>() < 0 || r->get<double>() > 1) {
                std::fprintf(stderr, "lorvexgige: %slostPacketRatio must be a number from 0 to 1\n", where.c_str());
                return false;
            }
            served[i].lostPacketRatio = r->get<double>();
        }
    }
    return true;
}

} // namespace

bool loadServed(const std::string& path, std::vector<Served>& out)
{
    std::vector<std::shared_ptr<vcc::Device>> devices;
    if (path.empty())
        devices = vcc::defaultDevices();
    else if (vcc::loadDeviceFile(path, devices) != MV_OK)
        return false;
    out.clear();
    for (size_t i = 0; i < devices.size(); ++i)
        out.push_back({devices[i], defaultAddress(i), 0});
    if (!path.empty() && !readExtras(path, out))
        return false;
    for (size_t i = 0; i < out.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (out[i].address == out[j].address) {
                std::fprintf(stderr, "lorvexgige: devices %zu and %zu both want %s: one camera per address\n", j, i,
                             out[i].address.c_str());
                return false;
            }
    return true;
}

} // namespace gige
