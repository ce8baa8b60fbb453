// Pieces of the "/CMD:" and "/OEMCMD:" stage modules: the stage item
// registration they share, and the "/OEMCMD:" value reader and after-flash
// and begin-end notifications, published as clean-up hooks (nothing calls
// them yet, so neither notification is sent).
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

// Fills and appends one stage item (not enabled, no stop-parse).
ENUM_ERR_ID YOZ_RegisterStageItem(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, ENUM_MODULE_ID id, UINT8 modeMask,
                                  ParsingCommandFunctionT parse, ExecutionActionFunctionT execute, CommandHelpT help,
                                  UINT16 orderKey);
