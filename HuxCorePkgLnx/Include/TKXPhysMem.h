// Physical memory: mappings of physical ranges and the physically contiguous
// pool (firmware mailbox, firmware memory hole or the kernel driver).
#pragma once
#include "HuxTypes.h"

UINT8* MapPhyMem(UINT32 physical, UINT32 length);
UINT8 UnMapPhyMem(UINT8* pointer, UINT32 length);
// Hands out the pool: 1 with its physical and process address, 0 when there is none.
UINT8 AllocPhyMem(UINT32 size, UINT32* physical, UINT8** virtualAddress);
UINT8 FreePhyMem(UINT32 physical, UINT32 size);
void CleanMemMgr();

// General zero-filled heap buffers.
UINT8* AllocMem(UINT32 size);
UINT8 FreeMem(void* buffer);
