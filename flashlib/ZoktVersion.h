// ZOKT version handshake.
#pragma once
#include "HuxCore.h"

// The firmware's ZOKT version, asking for it while it is unknown (0: no ZOKT).
UINT16 Zokt_GetVer();
