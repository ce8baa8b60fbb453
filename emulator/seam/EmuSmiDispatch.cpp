// Dispatch of software SMIs to the emulated firmware's handlers.
#include "EmuSmi.h"
#include <cstdio>
#include "EmuMachine.h"

bool EmuSmi_IsSmiPort(UINT16 port) {
    if (port == EmuMachine_GetNum("smi_port", 0xB2)) return true;
    return EmuMachine_Has("asf_port") && port == EmuMachine_GetNum("asf_port", 0);
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
}
