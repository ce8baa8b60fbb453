// The mode filter every masked module asks before it parses, executes or
// prints help, and the usage printer of BIOS Guard mode.
#pragma once
#include "HuxCore.h"

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

BOOLEAN PFAT_YOZ_SwitchMode(INT8 mask);
BOOLEAN ONLY_PFAT_SwitchMode(INT8 mask);
BOOLEAN ONLY_YOZ_SwitchMode(INT8 mask);
BOOLEAN ONLY_2X2_SwitchMode(INT8 mask);
BOOLEAN ONLY_FTF_SwitchMode(INT8 mask);

// The check a module with a non-zero mask makes first: false when a filter
// is installed and refuses the mask (the module then returns 0 at once).
BOOLEAN YOZ_ModeTakesPart(UINT8 mask);

// Usage of BIOS Guard mode: both help passes without the "| Options:" line.
void PFAT_PrintUsageHelp(char* word, char* errorText, TKXQueueItemList& items);
