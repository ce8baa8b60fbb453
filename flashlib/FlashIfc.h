// Opening and closing of the firmware's flash interface (SMI 0x20 / 0x24)
// and the ROM size of the run.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

// Opens the flash interface and arms its clean-up hook.
ENUM_ERR_ID EnableFlashIfc();
// Closes the flash interface when it is open.
void CleanFlashIfc();

// Total flash size from the firmware's ROM information (0 until it is read).
extern UINT32 gRomSize;
