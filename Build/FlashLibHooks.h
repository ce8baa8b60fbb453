// The flash library's hook lists: run before and after every flash SMI, each
// ended by an empty slot.
#pragma once
#include "SmiTransport.h"

#define FLASH_LIB_HOOK_SLOTS 4
extern HuxFlashLibHook FlashLibBeforeOperationHooks[FLASH_LIB_HOOK_SLOTS];
extern HuxFlashLibHook FlashLibAfterOperationHooks[FLASH_LIB_HOOK_SLOTS];

// Does nothing; returns 0.
ENUM_ERR_ID FlashLibHookNull(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data, CallBackFn_T CallBack);
// The SMI delay of the flash engine.
ENUM_ERR_ID FlashLibBeforeOperation_SMI_IFC_Delay(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data,
                                                  CallBackFn_T CallBack);
