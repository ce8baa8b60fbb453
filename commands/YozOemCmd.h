// "/OEMCMD:" pieces that other parts of the program may reach: the value
// reader and the after-flash and begin-end notifications, published as
// clean-up hooks (nothing calls them yet, so neither notification is sent).
#pragma once
#include "HuxCore.h"

// Reads hexadecimal text from its last character back; characters other
// than hex digits add nothing but keep their place (so "0x1F" is 0x1F).
// 0 when a significant digit lies beyond 32 bits.
UINT8 HexStringToValue(const char* text, UINT32* value);
void SetNeedRunAfterFlash_Enable();
void SetNeedRunBeginEnd_Enable();
// Each sends its notification once, when the start or begin request was sent.
void CleanUpAfterFlash();
void CleanUpBeginEnd();
extern CleanUpResourceHook CleanUpAfterFlashHook;
extern CleanUpResourceHook CleanUpBeginEndHook;
