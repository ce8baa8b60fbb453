// The ending signals: caught into a flag, held back while the flash
// interface is open, and turned into the shutdown path where the run can stop.
// A closed pipe never ends the run: SIGPIPE is ignored throughout, so a
// write to a reader that went away fails (EPIPE) and only that output is lost.
#include <csignal>
#include "HuxCore.h"
#include "TKXSignal.h"

namespace {

volatile sig_atomic_t s_EndSignal = 0;
UINT8 s_Held = 0;
UINT8 s_ShuttingDown = 0;
sigset_t s_MaskBeforeHold;

// Every signal that would end the process and can be caught: the operator's
// and the timers' and limits' of the environment the program was started in.
const int kEndSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGALRM,
                           SIGUSR1, SIGUSR2, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF};

void OnEndSignal(int signal) { s_EndSignal = signal; }

}  // namespace

void TKX_InstallEndSignals() {
    signal(SIGPIPE, SIG_IGN);
    struct sigaction caught = {};
    caught.sa_handler = OnEndSignal;
    sigemptyset(&caught.sa_mask);
    caught.sa_flags = SA_RESTART;
    for (int signal : kEndSignals) {
        struct sigaction before = {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &caught, nullptr);
    }
}

void TKX_HoldSignals() {
    if (s_Held) return;
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kEndSignals) sigaddset(&held, signal);
    sigaddset(&held, SIGTSTP);
    sigprocmask(SIG_BLOCK, &held, &s_MaskBeforeHold);
    s_Held = 1;
}

void TKX_ReleaseSignals() {
    if (!s_Held) return;
    s_Held = 0;
    sigprocmask(SIG_SETMASK, &s_MaskBeforeHold, nullptr);
    TKX_LeaveOnEndSignal();
}

UINT8 TKX_EndSignalArrived() { return s_EndSignal != 0 ? 1 : 0; }

void TKX_LeaveOnEndSignal() {
    if (s_EndSignal == 0 || s_Held || s_ShuttingDown) return;
    if (g_LastErrorCode == eEID_NO_ERROR) g_LastErrorCode = eEID_UPDATE_CANCEL_BY_USER;
    PlatformFinalize(ArgvItemList);
}

void TKX_ShutdownStarted() { s_ShuttingDown = 1; }
