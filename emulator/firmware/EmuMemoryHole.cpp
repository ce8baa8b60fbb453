// SMI 0x7F: the firmware reports its reserved memory hole in EBX.
#include <cstdio>
#include "EmuMachine.h"
#include "EmuSmi.h"

void EmuSmi_MemoryHole(EmuSmiRequest& request) {
    if (EmuMachine_GetNum("mem_hole", 1) == 0) {
        request.TraceExtra += " hole=none";
        return;
    }
    request.Regs.Ebx = static_cast<UINT32>(EmuMachine_GetNum("mem_hole_addr", 0x7E000000));
    char buf[32];
    snprintf(buf, sizeof(buf), " hole=0x%08x", request.Regs.Ebx);
    request.TraceExtra += buf;
}
