// The TDR-delay family. The options exist for another operating system;
// here they only arm two modules: one prints a note when the execute pass
// starts, the other (near the end of the table) does nothing.
#pragma once
#include "HuxTypes.h"

// Forgets both armed modules' enabled bytes.
void TDRDLY_InitWindowsTdrDelayReg();
void TDRDLY_InitTdrdelayprocEnable(UINT8* enabled);
void TDRDLY_InitTdrdelayprocEndEnable(UINT8* enabled);
// Arms both modules; the value has no use on Linux.
void TDRDLY_SetWindowsTdrDelayRegValue(int value);
// Prints the note that the option works on another platform only.
void TDRDLY_ChangeWindowsRegTdrDelayValue();
// Nothing to put back on Linux.
void TDRDLY_RestoreWindowsTdrDelayReg();
