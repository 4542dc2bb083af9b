// lorvexgige: serves the virtual SDK's devices as GigE Vision cameras, one
// per address, until Ctrl-C (SIGINT) or SIGTERM.
//
//   lorvexgige [--devices FILE] [--only SERIAL]...
#include "servedlist.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <time.h>
#include <vector>

namespace {

constexpr long kPollNs = 1000000; // how often an acquisition's end is looked for

const char* kUsage =
    "usage: lorvexgige [--devices FILE] [--only SERIAL]...\n"
    "Serves simulated line-scan cameras as GigE Vision cameras until Ctrl-C.\n"
    "  --devices FILE  a device file of the virtual SDK (docs/virtual-sdk.md), with\n"
    "                  \"address\" and \"lostPacketRatio\" per device (docs/gige.md);\n"
    "                  without it the built-in devices, on 127.0.0.1, .2 and .3\n"
    "  --only SERIAL   serve only this device (repeatable)\n"
    "Discovery broadcasts: run it where that is wanted, e.g. scripts/netns.\n";

} // namespace

int main(int argc, char** argv)
{
    std::string file;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--devices" || a == "--only") && i + 1 < argc) {
            (a == "--devices" ? file : only.emplace_back()) = argv[++i];
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "lorvexgige: unknown or incomplete option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    // Signals wait for sigwait on this thread only: every thread made later
    // (Aravis's) inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<gige::Served> served;
    if (!gige::loadServed(file, served))
        return 1;
    std::vector<std::unique_ptr<gige::ServedCamera>> cameras;
    for (const gige::Served& s : served) {
        if (!only.empty() && std::find(only.begin(), only.end(), s.device->serial()) == only.end())
            continue;
        std::string why;
        auto cam = gige::ServedCamera::start(s, &why);
        if (!cam) {
            std::fprintf(stderr, "lorvexgige: %s: %s\n", s.device->serial().c_str(), why.c_str());
            return 1;
        }
        std::printf("lorvexgige: serving %s at %s\n", s.device->serial().c_str(), s.address.c_str());
        cameras.push_back(std::move(cam));
    }
    if (cameras.empty()) {
        std::fprintf(stderr, "lorvexgige: no device to serve\n");
        return 1;
    }
    std::printf("lorvexgige: ready\n");
    std::fflush(stdout);
    const timespec poll{0, kPollNs};
    for (;;) {
        int sig = 0;
        if (sigtimedwait(&stopSignals, nullptr, &poll) > 0 || sig)
            break;
        for (auto& c : cameras)
            c->poll();
    }
    cameras.clear();
    std::printf("lorvexgige: stopped\n");
    return 0;
}
