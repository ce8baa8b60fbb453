// Physical memory: mappings of physical ranges and the physically contiguous
// pool (firmware mailbox, firmware memory hole or the kernel driver).
#pragma once
#include "HuxCore.h"

UINT8* MapPhyMem(UINT32 physical, UINT32 length);
UINT8 UnMapPhyMem(UINT8* pointer, UINT32 length);
// Hands out the pool: 1 with its physical and process address, 0 when there
// is none or it is smaller than the size asked.
UINT8 AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress);
UINT8 FreePhyMem(UINT32 physical, UINT32 size);
void CleanMemMgr();
// Unmaps whatever is still mapped through the driver's device (the pool of
// the driver or the mailbox, areas nobody unmapped): the driver's unloader
// runs it before closing, as a mapping keeps the device, and the device the
// module, in use. Pointers into those areas are dead afterwards.
void TKX_UnmapDriverMappings();

// General zero-filled heap buffers.
UINT8* AllocMem(UINT32 size);
UINT8 FreeMem(void* buffer);

// "/dev/mem", opened by InitMemMgr; -1 while closed.
extern int FdMem;

// Replaceable buffer allocation (driver by default, memory hole when found).
typedef UINT8 (*AllocPhyMemImplT)(UINT32 size, UINT32* physical, UINT8** virtualAddress);
typedef UINT8 (*FreePhyMemImplT)(UINT32 physical, UINT32 size);
extern AllocPhyMemImplT AllocPhyMemImpl;
extern FreePhyMemImplT FreePhyMemImpl;
UINT8 _AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress);
UINT8 _FreePhyMem(UINT32 physical, UINT32 size);
UINT8 _AllocRuntimeMemoryHole(UINT32 size, UINT32* physical, UINT8** virtualAddress);
UINT8 _DeallocRuntimeMemoryHole(UINT32 physical, UINT32 size);

// The pool and the allocation paths behind it.
UINT8 TKX_PhysicalMemoryLibInit();
void TKX_PhysicalMemoryLibFree();
UINT8 OS_AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress);
UINT8 OS_AllocPhyMemWithOutWSMT(UINT32 size, UINT32* physical, UINT8** virtualAddress);
UINT8 OS_FreePhyMem(UINT32 physical, UINT32 size);
extern UINT32 MemoryPoolSize;
extern UINT32 MemoryPoolPhysical;
extern UINT8* MemoryPoolVirtual;

// Firmware WSMT mailbox (SMI 0xD9): its physical address (0 when none), the
// port it was obtained through, the saved 24-byte copy and the live mapping.
const UINT32 kSmiMailBoxSize = 24;
const UINT32 kSmiMailBoxBufferSize = 0x11000;
extern UINT32 gSmiMailBoxAddress;
extern UINT16 gAcpiSmiPort;
extern UINT8 gSmiMailBox[kSmiMailBoxSize];
extern UINT8* VirtualSmiMailBox;
extern UINT8 gAcpiWSMTisEnabled;

// Firmware memory hole (SMI 0x7F): the port asked and the address granted.
extern UINT16 SmiPort;
extern UINT32 RuntimeMemoryHoleAddress;

// Set to CleanMemMgr once the memory manager is up; no clean-up table runs it.
extern CleanUpResourceHook CleanMemMgrHook;
