// The mode filter every masked module asks before it parses, executes or
// prints help. The mode-switch module (commands/) chooses the filter; the
// items below it (the global items among them) only ask it.
#pragma once
#include "HuxTypes.h"

// Mode mask bits of a queue item.
enum : UINT8 {
    YOZ_MODE_NORMAL = 0x01,
    YOZ_MODE_BIOS_GUARD = 0x02,
    YOZ_MODE_EVERY = 0x04,
    YOZ_MODE_2X2 = 0x08,
    YOZ_MODE_FTF = 0x10,
};

// True when a module with this mask takes part in the current mode.
typedef BOOLEAN (*YOZ_SwitchModeFuncT)(INT8 mask);
// Empty until the mode-switch module registers.
extern YOZ_SwitchModeFuncT YOZ_pFSwitchModeFunc;

// The check a module with a non-zero mask makes first: false when a filter
// is installed and refuses the mask (the module then returns 0 at once).
BOOLEAN YOZ_ModeTakesPart(UINT8 mask);
