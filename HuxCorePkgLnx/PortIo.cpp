// Port I/O and the software-SMI write, CMOS, the keyboard lock, reboot and
// power-off.
#include <cstring>
#include "OsSeam.h"
#include "TKXDriver.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "TKXSignal.h"

UINT32 gIntrBufPhyAddr = 0;

namespace {

const UINT16 kCmosIndexPort = 0x70;
const UINT16 kCmosDataPort = 0x71;
// The u32 of the live mailbox that must keep the value the firmware put there.
const UINT32 kMailBoxGuardOffset = 20;

// Before each SMI on the mailbox's port: put back the guarded u32 of the
// live mailbox when it no longer equals the saved copy.
void RefreshSmiMailBox(UINT16 port) {
    if (gSmiMailBoxAddress == 0 || port != gAcpiSmiPort || VirtualSmiMailBox == nullptr) return;
    UINT8* live = VirtualSmiMailBox + kMailBoxGuardOffset;
    const UINT8* saved = gSmiMailBox + kMailBoxGuardOffset;
    if (memcmp(live, saved, sizeof(UINT32)) != 0) memcpy(live, saved, sizeof(UINT32));
}

// Under Secure Boot the driver performs the write inside the kernel. A
// refused request leaves the register set as it was sent.
void DriverPortWrite(UINT16 port, UINT8 value, TKX_GeneralPurposeRegisterBuffer* regs) {
    NUVFLDRV_PORTWRITEBYTE request;
    memset(&request, 0, sizeof(request));
    request.Port = port;
    request.Value = value;
    request.Edi = regs->Edi;
    request.Esi = regs->Esi;
    request.Ebx = regs->Ebx;
    request.Ecx = regs->Ecx;
    if (TKX_DriverRequest(CMD_PORTWRITEBYTE, &request) != 0) return;
    regs->Eax = static_cast<UINT32>(request.Eax);
    regs->Ebx = static_cast<UINT32>(request.Ebx);
    regs->Ecx = static_cast<UINT32>(request.Ecx);
    regs->Edx = static_cast<UINT32>(request.Edx);
    regs->Esi = static_cast<UINT32>(request.Esi);
    regs->Edi = static_cast<UINT32>(request.Edi);
}

}  // namespace

void OutPortByte(UINT16 port, UINT8 value, TKX_GeneralPurposeRegisterBuffer* regs) {
    RefreshSmiMailBox(port);
    if (TKX_Get_Linux_SecureBoot_Enable()) {
        DriverPortWrite(port, value, regs);
        return;
    }
    OsSeam_OutByteRegs(port, value, *regs);
}

void OutPortByte(UINT16 port, UINT8 value) {
    TKX_GeneralPurposeRegisterBuffer regs{};
    regs.Eax = value;
    regs.Ebx = gIntrBufPhyAddr;
    regs.Ecx = 0;
    regs.Edx = port;
    OutPortByte(port, value, &regs);
}

UINT32 DMIAccessIOByte(UINT16 port, UINT8 value, UINT32 ebx) {
    TKX_GeneralPurposeRegisterBuffer regs{};
    regs.Eax = value;
    regs.Ebx = ebx;
    regs.Edx = port;
    OsSeam_OutByteRegs(port, value, regs);
    return regs.Eax;
}

UINT32 DMIAccessIOByte(UINT16 port, UINT8 value, UINT32 ebx, UINT32 ecx) {
    TKX_GeneralPurposeRegisterBuffer regs{};
    regs.Eax = value;
    regs.Ebx = ebx;
    regs.Ecx = ecx;
    regs.Edx = port;
    OutPortByte(port, value, &regs);
    return regs.Eax;
}

UINT8 InPortByte(UINT16 port) { return OsSeam_InByte(port); }
UINT16 InPortWord(UINT16 port) { return OsSeam_InWord(port); }
UINT32 InPortDword(UINT16 port) { return OsSeam_InDword(port); }
void OutPortWord(UINT16 port, UINT16 value) { OsSeam_OutWord(port, value); }
void OutPortDword(UINT16 port, UINT32 value) { OsSeam_OutDword(port, value); }

UINT8 ReadCmos(UINT8 index) {
    OutPortByte(kCmosIndexPort, index);
    return InPortByte(kCmosDataPort);
}

void WriteCmos(UINT8 index, UINT8 value) {
    OutPortByte(kCmosIndexPort, index);
    OutPortByte(kCmosDataPort, value);
}

void YozEnableInput(UINT8 enable) {
    if (Fd == -1) return;
    TKX_DriverRequest(enable == 0 ? CMD_LOCK_KB : CMD_UNLOCK_KB, nullptr);
}

// An ending signal that came before a restart or power-off cancels it: the
// run leaves through its shutdown path instead.
int OsRestart() {
    TKX_LeaveOnEndSignal();
    return OsSeam_System("shutdown -r now");
}

int OsShutDown() {
    TKX_LeaveOnEndSignal();
    return OsSeam_System("shutdown -h now");
}

UINT8 TKX_GetWSMTisEnabled() { return gAcpiWSMTisEnabled; }
