// Port I/O, the software-SMI write, CMOS, NMI watchdog, reset and small
// process services.
#pragma once
#include "HuxTypes.h"

// Physical address of the interface buffer (set by the SMI transport).
extern UINT32 gIntrBufPhyAddr;

// The software-SMI write with a full register set (registers read back).
void OutPortByte(UINT16 port, UINT8 value, TKX_GeneralPurposeRegisterBuffer* regs);
// Short form: EAX = value, EBX = gIntrBufPhyAddr, ECX = 0, EDX = port.
void OutPortByte(UINT16 port, UINT8 value);
UINT32 DMIAccessIOByte(UINT16 port, UINT8 value, UINT32 ebx);
UINT32 DMIAccessIOByte(UINT16 port, UINT8 value, UINT32 ebx, UINT32 ecx);
UINT8 InPortByte(UINT16 port);
UINT16 InPortWord(UINT16 port);
UINT32 InPortDword(UINT16 port);
void OutPortWord(UINT16 port, UINT16 value);
void OutPortDword(UINT16 port, UINT32 value);
UINT8 ReadCmos(UINT8 index);
void WriteCmos(UINT8 index, UINT8 value);
void YozEnableInput(UINT8 enable);
// Restart and power-off through the shell; the shell's status (0: started).
// An ending signal that came before either leaves the run instead.
int OsRestart();
int OsShutDown();
int getch();
void Delay(UINT32 us);
UINT64 CPU_rdtsc();
UINT8 TKX_GetFileBaseName(char* path, char* out, UINT32 max);
char* TKX_GetExecFileFullName();
char* TKX_GetFileFullPathName(const char* path);
UINT8 TKX_GetWSMTisEnabled();
