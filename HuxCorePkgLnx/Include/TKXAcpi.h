// ACPI tables by signature and the firmware's SMI command port.
#pragma once
#include "HuxTypes.h"

UINT32 TKX_GetAcpiTable(UINT32 signature, void* buffer, UINT32 length);
// 0, or 0x98 when there is no valid FADT or its SMI_CMD is 0.
UINT32 TKX_GetAcpiSmiPort(UINT16* port);
// Port from the "$ASF" record, else 0xB2; always 0.
UINT32 TKX_GetLegacySmiPort(UINT16* port);
