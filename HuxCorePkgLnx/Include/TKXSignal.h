// The signals that would end a run (an operator's SIGINT, SIGTERM, SIGHUP,
// SIGQUIT; SIGALRM, SIGUSR1/2, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF; SIGPWR,
// SIGIO, SIGSYS, SIGTRAP, SIGSTKFLT, SIGABRT and the real-time signals).
// While the flash interface is open every signal but SIGKILL and SIGSTOP is
// held back (the stops SIGTSTP, SIGTTIN and SIGTTOU too), so that the flash
// is never left half-written with its interface open; outside that window
// an ending signal leaves the run through the shutdown path (status 0x0C
// unless the run failed already). Past the run's point of no return (the
// update written, or armed with the firmware) such a signal stops only what
// remains (the restart, the power-off): the run-end list still runs, and the
// run says what stands before its 0x0C. SIGPIPE is ignored for the whole
// run: a write to a reader that went away fails instead.
#pragma once
#include "HuxTypes.h"

// At the start of the road: SIGPIPE is ignored and the ending signals are
// caught (one the program was started with ignored, as under nohup, stays
// ignored).
void TKX_InstallEndSignals();
// The flash interface opens: every signal that can be held is held back.
void TKX_HoldSignals();
// The flash interface is closed: what was held is delivered now, and an
// ending signal leaves the run.
void TKX_ReleaseSignals();
// A step that must not be cut between its first and last request (a file
// put aside until the firmware's answer settles its fate) holds them too,
// whether the flash interface is open or not; holds of steps nest.
void TKX_HoldSignalsForStep();
void TKX_ReleaseSignalsOfStep();
// 1 once an ending signal arrived.
UINT8 TKX_EndSignalArrived();
// Waits until the descriptor has input (1) or an ending signal arrived (0),
// also one that comes just before the wait.
UINT8 TKX_WaitForInput(int fd);
// Leaves through the shutdown path when an ending signal arrived and the
// signals are not held; returns otherwise. The road, the passes and the key
// input call it where they can stop.
void TKX_LeaveOnEndSignal();
// The shutdown path has begun: no signal starts it again.
void TKX_ShutdownStarted();

// Just before the request that cannot be taken back (the one that arms the
// firmware): an ending signal that came before it, held or not, ends the run
// here through the shutdown path (0x0C), so the request never goes out.
// Nothing once the run is past its point of no return.
void TKX_LeaveBeforeNoReturn();
// The run is past its point of no return: `stands` is the line it says
// (before 0x0C) when an ending signal stops it from here on. The first
// point passed names what stands; later ones change nothing.
void TKX_PassNoReturn(const char* stands);
// 1 while what the run did stands: no failure, or only an ending signal
// after the point of no return. A run-end whose work the firmware keeps for
// a standing run (a capsule handed over) asks this.
UINT8 TKX_RunStands();
// The shutdown path, after the run-end list: a run that an ending signal
// stopped past its point of no return, and whose ends all succeeded, says
// what stands and takes 0x0C.
void TKX_SayWhatStands();
