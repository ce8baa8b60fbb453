// The ending signals: caught into a flag, held back while the flash
// interface is open, and turned into the shutdown path where the run can stop.
// While the interface is open every signal waits but SIGKILL and SIGSTOP,
// which cannot be held: the stops too, and those whose default is to be
// ignored. A closed pipe never ends the run: SIGPIPE is ignored throughout,
// so a write to a reader that went away fails (EPIPE) and only that output
// is lost.
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#include "HuxCore.h"
#include "TKXSignal.h"

namespace {

volatile sig_atomic_t s_EndSignal = 0;
UINT8 s_Held = 0;        // by the flash interface
UINT32 s_StepHolds = 0;  // by steps that must not be cut, nested
UINT8 s_ShuttingDown = 0;
sigset_t s_MaskBeforeHold;

// Every signal whose default ends the process and that can be caught: the
// operator's, the timers' and limits' of the environment, a power-supply
// daemon's, and the real-time signals (below). The faults a program raises
// in itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL) still end it at once.
const int kEndSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTRAP, SIGABRT,   SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
                           SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

// The two real-time signals below SIGRTMIN that the C library keeps for
// itself and lets no program hold or catch: the kernel holds them here
// directly (its signal set is one 64-bit word), and one that came while
// held is taken as an ending signal.
const int kLibrarySignals[] = {32, 33};

UINT64 LibrarySignalBits() {
    UINT64 bits = 0;
    for (int signal : kLibrarySignals) bits |= 1ull << (signal - 1);
    return bits;
}

void OnEndSignal(int signal) { s_EndSignal = signal; }

void Catch(int signal, const struct sigaction& caught) {
    struct sigaction before = {};
    // One the program was started with ignored (nohup) stays ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) return;
    sigaction(signal, &caught, nullptr);
}

// The library's signals that arrived while held become the ending signal.
void TakeHeldLibrarySignals() {
    UINT64 pending = 0;
    if (syscall(SYS_rt_sigpending, &pending, sizeof(pending)) != 0) return;
    for (int signal : kLibrarySignals) {
        UINT64 one = 1ull << (signal - 1);
        if ((pending & one) == 0) continue;
        if (syscall(SYS_rt_sigtimedwait, &one, nullptr, nullptr, sizeof(one)) == signal) s_EndSignal = signal;
    }
}

// The signals are held while the flash interface holds them or a step does.
bool Held() { return s_Held || s_StepHolds != 0; }

void MaskSignals() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &s_MaskBeforeHold);
    UINT64 library = LibrarySignalBits();
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, &library, nullptr, sizeof(library));
}

// The last hold is gone: what was held is delivered, and may end the run.
void UnmaskSignals() {
    TakeHeldLibrarySignals();
    UINT64 library = LibrarySignalBits();
    syscall(SYS_rt_sigprocmask, SIG_UNBLOCK, &library, nullptr, sizeof(library));
    sigprocmask(SIG_SETMASK, &s_MaskBeforeHold, nullptr);
    TKX_LeaveOnEndSignal();
}

}  // namespace

void TKX_InstallEndSignals() {
    signal(SIGPIPE, SIG_IGN);
    struct sigaction caught = {};
    caught.sa_handler = OnEndSignal;
    sigemptyset(&caught.sa_mask);
    caught.sa_flags = SA_RESTART;
    for (int signal : kEndSignals) Catch(signal, caught);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) Catch(signal, caught);
}

void TKX_HoldSignals() {
    if (s_Held) return;
    if (!Held()) MaskSignals();
    s_Held = 1;
}

void TKX_ReleaseSignals() {
    if (!s_Held) return;
    s_Held = 0;
    if (!Held()) UnmaskSignals();
}

void TKX_HoldSignalsForStep() {
    if (!Held()) MaskSignals();
    ++s_StepHolds;
}

void TKX_ReleaseSignalsOfStep() {
    if (s_StepHolds == 0) return;
    --s_StepHolds;
    if (!Held()) UnmaskSignals();
}

UINT8 TKX_EndSignalArrived() { return s_EndSignal != 0 ? 1 : 0; }

UINT8 TKX_WaitForInput(int fd) {
    // The ending signals wait between the look at the flag and the wait
    // itself, which lets them in: one that comes at any moment ends the wait.
    sigset_t ending, before;
    sigemptyset(&ending);
    for (int signal : kEndSignals) sigaddset(&ending, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&ending, signal);
    sigprocmask(SIG_BLOCK, &ending, &before);
    struct pollfd input = {fd, POLLIN, 0};
    while (!TKX_EndSignalArrived() && ppoll(&input, 1, nullptr, &before) < 0 && errno == EINTR) {
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return TKX_EndSignalArrived() ? 0 : 1;
}

void TKX_LeaveOnEndSignal() {
    if (s_EndSignal == 0 || Held() || s_ShuttingDown) return;
    if (g_LastErrorCode == eEID_NO_ERROR) g_LastErrorCode = eEID_UPDATE_CANCEL_BY_USER;
    PlatformFinalize(ArgvItemList);
}

void TKX_ShutdownStarted() { s_ShuttingDown = 1; }
