// The flash engine's whole-flash read and its progress-line selection.
#pragma once
#include "HuxCore.h"

// Selects the progress message set and the region total (255: flash read).
void YOZ_SetFlashMsg(UINT8 set, UINT32 total);
// Reads gRomSize bytes of flash into the buffer.
ENUM_ERR_ID YOZ_Flash_Read(UINT8* buffer);
