// Plain port I/O of the emulated machine: CMOS behind 0x70/0x71, the reset
// register 0xCF9; every write is traced.
#pragma once
#include "HuxTypes.h"

void EmuPorts_OutByte(UINT16 port, UINT8 value);
UINT8 EmuPorts_InByte(UINT16 port);
