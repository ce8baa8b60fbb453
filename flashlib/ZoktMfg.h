// Manufacturing option names (ZOKT type 0x71).
#pragma once
#include "HuxCore.h"

void ZOKT_YOZMFG_Release();
