// ZOKT ME update requests used by the image and system models.
#pragma once
#include "HuxCore.h"

UINT8 ZOKT_ME_CheckSupport();
UINT8 ZOKT_ME_Ignition_CheckSupport();
UINT8 ZOKT_ME_CheckMEData(UINT8* file, UINT32 size);
UINT8 ZOKT_ME_GetBIOSAddrSeting(UINT8** bios, UINT32& size);
UINT8 ZOKT_ME_BufferISSingleBin();
void ZOKT_ME_Release();
ENUM_ERR_ID ZOKT_ME_GetLastError();
