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

#include <dlfcn.h>

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
    // A signal sent by a process re-runs nothing: deliver it again, now under
    // that disposition, rather than swallow it.
    if (!info || info->si_code <= 0)
        raise(sig);
}

void onFault(int sig, siginfo_t* info, void* context)
{
    if (tlsGuarded) {
        tlsGuarded = 0;
        siglongjmp(*tlsJump, 1);
    }
    forward(sig, info, context);
}

// The handlers stay installed for the life of the process, so the code they
// run must too: a host may unload the plug-in, and a fault after that would
// jump into unmapped memory instead of reaching the host's own handler.
void pinThisLibrary()
{
    Dl_info self;
    if (dladdr(reinterpret_cast<void*>(&onFault), &self) && self.dli_fname)
        dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void install()
{
    pinThisLibrary();
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
    // A signal handler that copies under the guard may interrupt this copy:
    // it must leave the outer guard as it found it.
    sigjmp_buf* const outerJump = tlsJump;
    const sig_atomic_t outerGuarded = tlsGuarded;
    sigjmp_buf env;
    if (sigsetjmp(env, 0) != 0) {
        tlsJump = outerJump;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        tlsGuarded = outerGuarded;
        return false;
    }
    tlsGuarded = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsJump = &env;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsGuarded = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(dst, src, n);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsGuarded = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsJump = outerJump;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tlsGuarded = outerGuarded;
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
