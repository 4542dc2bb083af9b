// The fault-guarded copy: a fault inside it is an answer, a fault outside it
// still belongs to whoever handled faults before. Every case that installs
// handlers or faults runs in a forked child, so the test process keeps its own
// dispositions.
#include "platform/memoryguard.h"

#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using lorvex::platform::guardedCopy;
using lorvex::platform::isReadable;

const size_t kPage = size_t(sysconf(_SC_PAGESIZE));

// Two pages: the first readable, the second not.
unsigned char* readableThenUnreadable()
{
    void* p = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    auto* bytes = static_cast<unsigned char*>(p);
    std::memset(bytes, 0x5a, kPage);
    mprotect(bytes + kPage, kPage, PROT_NONE);
    return bytes;
}

// A page of a file mapping past the file's end: reading it raises SIGBUS.
unsigned char* pastEndOfFile()
{
    char path[] = "/tmp/lorvex-guard-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return nullptr;
    unlink(path);
    void* p = mmap(nullptr, kPage, PROT_READ, MAP_SHARED, fd, 0);  // the file is empty
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

// Runs `body` in a child whose fault dispositions are the defaults (not the
// test framework's crash handler) and where the guard is not yet installed:
// the parent never uses it. Returns the child's status as waitpid reports it.
int inChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGSEGV, SIG_DFL);
        signal(SIGBUS, SIG_DFL);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// ThreadSanitizer's own fault handling does not survive a fork of a threaded
// process; the guard's behaviour under it is covered in-process by the frame
// path's tests.
#if defined(__SANITIZE_THREAD__)
#define SKIP_FORKED_FAULTS_UNDER_TSAN() QSKIP("faults in a forked child are not supported under ThreadSanitizer")
#else
#define SKIP_FORKED_FAULTS_UNDER_TSAN() do {} while (false)
#endif

int exitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void plainHandler(int)
{
    _exit(43);
}

void infoHandler(int sig, siginfo_t* info, void*)
{
    // Only the fault the test made, with its address, counts.
    _exit(info && info->si_signo == sig && info->si_code > 0 ? 42 : 41);
}

void install(int sig, bool withInfo)
{
    struct sigaction a;
    std::memset(&a, 0, sizeof a);
    sigemptyset(&a.sa_mask);
    if (withInfo) {
        a.sa_sigaction = infoHandler;
        a.sa_flags = SA_SIGINFO;
    } else {
        a.sa_handler = plainHandler;
    }
    sigaction(sig, &a, nullptr);
}

// Installs the guard's handlers (their first use) with a harmless copy.
bool armGuard()
{
    unsigned char a = 1, b = 0;
    return guardedCopy(&b, &a, 1) && b == 1;
}

unsigned char readOutsideGuard(const unsigned char* p)
{
    return *static_cast<const volatile unsigned char*>(p);
}

} // namespace

class TestMemoryGuard : public QObject
{
    Q_OBJECT

private slots:
    void copiesReadableMemoryExactly()
    {
        const int status = inChild([] {
            std::vector<unsigned char> src(3 * kPage + 17), dst(src.size() + 8, 0xee);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = static_cast<unsigned char>(i * 7);
            if (!guardedCopy(dst.data(), src.data(), src.size()))
                return 10;
            if (std::memcmp(dst.data(), src.data(), src.size()) != 0)
                return 11;
            for (size_t i = src.size(); i < dst.size(); ++i)
                if (dst[i] != 0xee)
                    return 12;  // nothing beyond n
            return guardedCopy(dst.data(), src.data(), 0) ? 0 : 13;
        });
        QCOMPARE(exitCode(status), 0);
    }

    void faultsInsideTheGuardAreAnswers()
    {
        SKIP_FORKED_FAULTS_UNDER_TSAN();
        const int status = inChild([] {
            unsigned char* pages = readableThenUnreadable();
            unsigned char* beyond = pastEndOfFile();
            if (!pages || !beyond)
                return 10;
            std::vector<unsigned char> dst(2 * kPage);
            if (!isReadable(pages) || isReadable(pages + kPage) || isReadable(nullptr))
                return 11;
            if (guardedCopy(dst.data(), pages + kPage, 16))
                return 12;  // wholly unreadable
            if (guardedCopy(dst.data(), pages, 2 * kPage))
                return 13;  // runs off the readable page
            if (guardedCopy(dst.data(), beyond, 16))
                return 15;  // SIGBUS, not SIGSEGV
            // The guard is still armed after those faults, and copies still work.
            if (guardedCopy(dst.data(), pages + kPage, 1) || !guardedCopy(dst.data(), pages, kPage))
                return 16;
            return 0;
        });
        QCOMPARE(exitCode(status), 0);
    }

    void faultsOutsideReachThePreviousHandler_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<bool>("withInfo");
        QTest::addColumn<int>("expected");
        QTest::newRow("SIGSEGV, siginfo handler") << int(SIGSEGV) << true << 42;
        QTest::newRow("SIGSEGV, plain handler") << int(SIGSEGV) << false << 43;
        QTest::newRow("SIGBUS, siginfo handler") << int(SIGBUS) << true << 42;
    }

    void faultsOutsideReachThePreviousHandler()
    {
        SKIP_FORKED_FAULTS_UNDER_TSAN();
        QFETCH(int, sig);
        QFETCH(bool, withInfo);
        QFETCH(int, expected);
        const int status = inChild([sig, withInfo] {
            unsigned char* pages = readableThenUnreadable();
            unsigned char* beyond = pastEndOfFile();
            if (!pages || !beyond)
                return 10;
            install(sig, withInfo);  // the host's handler, first
            if (!armGuard())
                return 11;
            std::vector<unsigned char> dst(16);
            if (guardedCopy(dst.data(), sig == SIGBUS ? beyond : pages + kPage, 16))
                return 12;  // a guarded fault does not reach the host's handler
            readOutsideGuard(sig == SIGBUS ? beyond : pages + kPage);
            return 13;  // the fault went nowhere
        });
        QCOMPARE(exitCode(status), expected);
    }

    void withoutAPreviousHandlerAFaultStillEndsTheProcess()
    {
        const int status = inChild([] {
            unsigned char* pages = readableThenUnreadable();
            if (!pages || !armGuard())
                return 10;
            readOutsideGuard(pages + kPage);
            return 11;
        });
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV, qPrintable(QString::number(status)));
    }

    void aSentSignalIsNotSwallowed()
    {
        // No fault to re-run: the default disposition must still end the process.
        const int status = inChild([] {
            if (!armGuard())
                return 10;
            kill(getpid(), SIGSEGV);
            return 11;
        });
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV, qPrintable(QString::number(status)));
    }

    void aSentSignalReachesThePreviousHandler()
    {
        const int status = inChild([] {
            install(SIGSEGV, false);
            if (!armGuard())
                return 10;
            kill(getpid(), SIGSEGV);
            return 11;
        });
        QCOMPARE(exitCode(status), 43);
    }
};

QTEST_GUILESS_MAIN(TestMemoryGuard)
#include "tst_memoryguard.moc"
