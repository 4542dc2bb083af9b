// POSIX: memcpy under a thread-local jump buffer, with SIGSEGV and SIGBUS
// handlers installed once. A fault inside a guarded copy jumps back out of it;
// every other fault goes on to whatever handler was installed before ours, so
// the host's own crash handling keeps working.
//
// A copy through process_vm_readv would be safe as well, but costs several
// times a memcpy per frame and refuses some readable memory.
#include "memoryguard.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

namespace lorvex {
namespace platform {
namespace {

// Initial-exec TLS: a fault handler must not call into the dynamic linker.
__thread sigjmp_buf* tlsJump __attribute__((tls_model("initial-exec"))) = nullptr;
__thread volatile sig_atomic_t tlsGuarded __attribute__((tls_model("initial-exec"))) = 0;

struct sigaction previousSegv;
struct sigaction previousBus;
std::once_flag installed;

void forward(int sig, siginfo_t* info, void* context)
{
    struct sigaction& previous = (sig == SIGBUS) ? previousBus : previousSegv;
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) {
            previous.sa_sigaction(sig, info, context);
            return;
        }
    } else if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL && previous.sa_handler) {
        previous.sa_handler(sig);
        return;
    }
    // Default (or ignored, which a fault cannot honour): put the previous
    // disposition back; returning re-runs the faulting instruction under it.
    sigaction(sig, &previous, nullptr);
}

void onFault(int sig, siginfo_t* info, void* context)
{
    if (tlsGuarded) {
        tlsGuarded = 0;
        siglongjmp(*tlsJump, 1);
    }
    forward(sig, info, context);
}

void install()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onFault;
    // No signal is blocked on the way out through siglongjmp, so the mask
    // needs no restoring (sigsetjmp(env, 0) is cheap).
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &previousSegv);
    sigaction(SIGBUS, &action, &previousBus);
}

} // namespace

bool guardedCopy(void* dst, const void* src, std::size_t n)
{
    std::call_once(installed, install);
    sigjmp_buf env;
    if (sigsetjmp(env, 0) != 0) {
        tlsGuarded = 0;
        return false;
    }
    tlsJump = &env;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsGuarded = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(dst, src, n);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsGuarded = 0;
    return true;
}

bool isReadable(const void* p)
{
    if (!p)
        return false;
    unsigned char byte;
    return guardedCopy(&byte, p, 1);
}

} // namespace platform
} // namespace lorvex
