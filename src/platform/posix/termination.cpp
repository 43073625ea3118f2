// Signals on Linux, the BSDs and macOS.
#include <unistd.h>

#include <csignal>

#include "platform/platform.h"

namespace sndblok {
namespace {

// Every signal whose default action ends a program ends a run; its outputs
// go first, as make does it. Left out: SIGKILL and SIGSTOP, which no program
// can answer; the program-error signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS), after which nothing the run has open can be
// trusted; and SIGPIPE and SIGXFSZ, ignored so that the write fails instead
// (process.cpp). The real-time signals follow, where the system has them.
constexpr int TerminationSignals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
#if defined(__linux__)
    // Elsewhere SIGIO is ignored by default, and the other two do not exist.
    SIGIO, SIGPWR,
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#endif
};

void (*volatile terminationCleanup)() = nullptr;
sigset_t termination;  // every signal above; filled once, before any handler
sigset_t blockedBefore;

void FillTerminationSet() {
    sigemptyset(&termination);
    for (const int signal : TerminationSignals) sigaddset(&termination, signal);
#if defined(SIGRTMIN)
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&termination, signal);
#endif
}

// Installed with the default action restored on entry and every signal
// blocked. Once the run is undone, the signal is let through and raised
// again, so the program ends the way the signal would have ended it. The
// first process of a PID namespace ignores a signal at its default action,
// so the raise can return: the run still ends, and not with success.
void Terminate(int signal) {
    if (terminationCleanup != nullptr) terminationCleanup();
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
    _exit(128 + signal);
}

}  // namespace

void CatchTermination() {
    // Blocked until every handler is in: the first process of a PID
    // namespace would drop one that came while its action was still the
    // default. Let through even where the parent left them blocked.
    FillTerminationSet();
    sigprocmask(SIG_BLOCK, &termination, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action;
        if (sigismember(&termination, signal) != 1 || sigaction(signal, nullptr, &action) != 0 ||
            action.sa_handler == SIG_IGN) {
            continue;
        }
        action.sa_handler = Terminate;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
    sigprocmask(SIG_UNBLOCK, &termination, nullptr);
}

void OnTermination(void (*cleanup)()) { terminationCleanup = cleanup; }

void DeferTermination() { sigprocmask(SIG_BLOCK, &termination, &blockedBefore); }

void AllowTermination() { sigprocmask(SIG_SETMASK, &blockedBefore, nullptr); }

}  // namespace sndblok
