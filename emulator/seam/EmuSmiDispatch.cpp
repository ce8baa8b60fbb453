// Dispatch of software SMIs to the emulated firmware's handlers.
#include "EmuSmi.h"
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include "EmuMachine.h"
#include "EmuSignalRule.h"

bool EmuSmi_IsSmiPort(UINT16 port) {
    if (port == EmuMachine_GetNum("smi_port", 0xB2)) return true;
    return EmuMachine_Has("asf_port") && port == EmuMachine_GetNum("asf_port", 0);
}

// Standard output's reader goes away: the output becomes a pipe whose
// reading end is closed, and the kernel answers the next write with SIGPIPE.
static void DropOutputReader() {
    int ends[2];
    if (pipe(ends) != 0) return;
    close(ends[0]);
    fflush(stdout);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
}

// The operator's signal of the setting signal_smi, sent to the program once
// the firmware has answered the request it names.
static void SendConfiguredSignal(UINT8 command) {
    static UINT32 seen = 0;
    EmuSignalRule rule;
    std::string error;
    if (!EmuSignalRule_Parse(EmuMachine_Get("signal_smi", ""), rule, error) || rule.Signal == 0) return;
    if (command != rule.Command || ++seen != rule.Nth) return;
    EmuTrace("signal %s", rule.Name.c_str());
    if (rule.Signal == SIGPIPE) DropOutputReader();
    else kill(getpid(), rule.Signal);
}

void EmuSmi_Dispatch(UINT16 port, UINT8 command, TKX_GeneralPurposeRegisterBuffer& regs) {
    EmuSmiRequest request{command, port, regs, std::string()};
    char ebx[24];
    snprintf(ebx, sizeof(ebx), " ebx=0x%08x", regs.Ebx);
    request.TraceExtra = ebx;
    EmuMailBox_BeforeSmi(request);
    bool handled = false;
    for (UINT32 i = 0; EmuSmiHandlers[i].Handler != nullptr; ++i) {
        if (EmuSmiHandlers[i].Command == command) {
            EmuSmiHandlers[i].Handler(request);
            handled = true;
            break;
        }
    }
    EmuMailBox_AfterSmi(request);
    EmuTrace("smi cmd=0x%02x port=0x%x%s%s", command, port, request.TraceExtra.c_str(),
             handled ? "" : " unhandled");
    SendConfiguredSignal(command);
}
