// interrupt.cpp
#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_requested{false};

extern "C" void onSignal(int sig)
{
    g_requested.store(true);
    std::signal(sig, SIG_DFL); // a second Ctrl-C ends the process
}

} // namespace

namespace interrupt {

void install()
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

bool requested()
{
    return g_requested.load();
}

} // namespace interrupt
