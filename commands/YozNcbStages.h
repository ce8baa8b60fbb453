// Stages shared by the two non-critical block commands ("/K" and "/K" with
// block numbers): the chosen blocks are copied from the image into the
// system ROM copy, which is then flashed (message set 4).
#pragma once
#include "YozNcbProc.h"
#include "YozRegionStages.h"

// Open half: the non-critical block commands do nothing in capsule or
// recovery mode.
ENUM_ERR_ID YOZ_NcbOpen_Execute(const YOZ_REGION_OPEN& r);
// Block check: 0x12 when the system has no non-critical block.
ENUM_ERR_ID YOZ_NcbOpen_HaveNcb();

// Process stage, first half: the do-it list and the system ROM copy (0x22
// when either is missing, or when the image is).
ENUM_ERR_ID YOZ_NcbFlash_Buffers(UINT8** system);
// Flash stage: the system ROM copy with the region's total.
ENUM_ERR_ID YOZ_NcbFlash_Flash(const YOZ_REGION_FLASH& r);
// Secure flash stage: session of area 0 without a policy test, compare pass
// on the system ROM copy, then the engine on the signed image's data.
ENUM_ERR_ID YOZ_NcbFlash_SecureFlash(const YOZ_REGION_FLASH& r);
