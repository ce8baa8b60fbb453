// The mode filters the mode-switch module chooses from, and the usage
// printer of BIOS Guard mode. The filter's pointer and the question the
// modules ask it are the updater's (YozModeFilter.h).
#pragma once
#include "HuxCore.h"
#include "YozModeFilter.h"

BOOLEAN PFAT_YOZ_SwitchMode(INT8 mask);
BOOLEAN ONLY_PFAT_SwitchMode(INT8 mask);
BOOLEAN ONLY_YOZ_SwitchMode(INT8 mask);
BOOLEAN ONLY_2X2_SwitchMode(INT8 mask);
BOOLEAN ONLY_FTF_SwitchMode(INT8 mask);

// Usage of BIOS Guard mode: both help passes without the "| Options:" line.
void PFAT_PrintUsageHelp(char* word, char* errorText, TKXQueueItemList& items);
