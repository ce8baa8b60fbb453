// Firmware configuration commands (ZOKT type 0x51).
#pragma once
#include "HuxCore.h"

void ZOKT_CfgCmd_Release();
