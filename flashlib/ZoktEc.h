// EC battery check (ZOKT type 0x5B).
#pragma once
#include "HuxCore.h"

// Battery check before flashing: 1 lets the run go on, 0 ends it with
// ZOKT_ECB_Check_GetLastErrorID.
UINT8 ZOKT_ECB_Check();
ENUM_ERR_ID ZOKT_ECB_Check_GetLastErrorID();
