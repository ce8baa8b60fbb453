// The emulated firmware's SMI entry: one handler per command byte. A handler
// answers from the request alone (registers and the memory they point to),
// as firmware would.
#pragma once
#include <string>
#include "HuxTypes.h"

struct EmuSmiRequest {
    UINT8 Command;
    UINT16 Port;
    TKX_GeneralPurposeRegisterBuffer& Regs;  // updated in place by the handler
    std::string TraceExtra;                  // " key=value" pairs for the smi trace line
};

typedef void (*EmuSmiHandler)(EmuSmiRequest& request);

struct EmuSmiHandlerEntry {
    UINT8 Command;
    EmuSmiHandler Handler;
};

// Handler table (EmuSmiTable.cpp), ended by a null handler.
extern const EmuSmiHandlerEntry EmuSmiHandlers[];

// True when a write to this port raises a software SMI on this machine.
bool EmuSmi_IsSmiPort(UINT16 port);
// Runs the handler of the command and writes the "smi" trace line.
void EmuSmi_Dispatch(UINT16 port, UINT8 command, TKX_GeneralPurposeRegisterBuffer& regs);

// The firmware's WSMT mailbox watches every SMI while it is handed out:
// before the handler (records the guarded word) and after it (changes it).
void EmuMailBox_BeforeSmi(EmuSmiRequest& request);
void EmuMailBox_AfterSmi(EmuSmiRequest& request);
