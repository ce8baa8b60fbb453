// Opening and closing of the firmware's flash interface (SMI 0x20 / 0x24)
// and the ROM size of the run: declared with the block requests and the
// ROM information.
#pragma once
#include "FlashBlock.h"
#include "RomInfo.h"
