// The ending signals: caught into a flag, held back while the flash
// interface is open, and turned into the shutdown path where the run can stop.
// Before the run's point of no return such a signal cancels the run (0x0C);
// past it the update stands, and the signal stops only what remains of the
// run (its restart or power-off): the run's ends still run, and when they
// all succeed the run says what stands and keeps 0x0C.
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
#include "TKXOutput.h"
#include "TKXSignal.h"
#include "TKXString.h"

namespace {

volatile sig_atomic_t s_EndSignal = 0;
UINT8 s_Held = 0;        // by the flash interface
UINT32 s_StepHolds = 0;  // by steps that must not be cut, nested
UINT8 s_ShuttingDown = 0;
UINT8 s_StoppedBySignal = 0;  // an ending signal, not a failure, ends the run
// What stands once the run is past its point of no return (empty before).
char s_NoReturnLine[256];
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

// An ending signal that came while held becomes the ending signal: one the
// program caught (not one it was started with ignored, which waits blocked).
void TakeHeldEndSignal() {
    TakeHeldLibrarySignals();
    sigset_t pending;
    if (s_EndSignal != 0 || sigpending(&pending) != 0) return;
    for (int signal = 1; signal <= SIGRTMAX && s_EndSignal == 0; ++signal) {
        struct sigaction now = {};
        if (sigismember(&pending, signal) == 1 && sigaction(signal, nullptr, &now) == 0 &&
            now.sa_handler == OnEndSignal)
            s_EndSignal = signal;
    }
}

// The shutdown path on an ending signal. Past the point of no return a run
// without failure keeps its status 0 through its ends (PlatformFinalize
// then says what stands and sets 0x0C); before it the signal cancels.
void Leave() {
    if (g_LastErrorCode == eEID_NO_ERROR) {
        s_StoppedBySignal = 1;
        if (s_NoReturnLine[0] == '\0') g_LastErrorCode = eEID_UPDATE_CANCEL_BY_USER;
    }
    PlatformFinalize(ArgvItemList);
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
    Leave();
}

void TKX_LeaveBeforeNoReturn() {
    if (s_ShuttingDown || s_NoReturnLine[0] != '\0') return;
    if (Held()) TakeHeldEndSignal();
    if (s_EndSignal != 0) Leave();
}

void TKX_PassNoReturn(const char* stands) {
    if (s_NoReturnLine[0] != '\0' || stands == nullptr || stands[0] == '\0') return;
    TKX_BoundedCopy(s_NoReturnLine, stands, sizeof(s_NoReturnLine) - 1);
}

UINT8 TKX_RunStands() {
    return g_LastErrorCode == eEID_NO_ERROR || (s_StoppedBySignal && s_NoReturnLine[0] != '\0') ? 1 : 0;
}

void TKX_SayWhatStands() {
    if (!s_StoppedBySignal || s_NoReturnLine[0] == '\0' || g_LastErrorCode != eEID_NO_ERROR) return;
    TKX_EndProgressLine();
    WriteOut("%s\n", s_NoReturnLine);
    g_LastErrorCode = eEID_UPDATE_CANCEL_BY_USER;
}

void TKX_ShutdownStarted() { s_ShuttingDown = 1; }
