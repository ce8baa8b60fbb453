// What the emulated driver tells its wrappers before it hands a request to
// the driver's core (see EmuDriverWrap.cpp).
#pragma once
#include "HuxTypes.h"

// The next allocation: the size asked for, the largest the machine grants
// and the physical address the emulated kernel gives the area.
struct EMU_DRIVER_ALLOCATION {
    UINT64 Requested;
    UINT64 Limit;
    UINT64 Physical;
};
void EmuDriverWrap_PlanAllocation(const EMU_DRIVER_ALLOCATION& allocation);
// How often the core switched the keyboard line so far.
int EmuDriverWrap_KeyboardChanges();
