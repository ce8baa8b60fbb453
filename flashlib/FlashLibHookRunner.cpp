// The before/after hook runners of the flash SMIs.
#include "FlashLibHooks.h"
#include "TKXString.h"

// Bytes of the request kept across the hooks: the function block of the
// block requests, the head of the ROM information request.
static const UINT32 kFuncBlockSaveSize = 17;
static const UINT32 kRomInfoSaveSize = 25;
static const UINT32 kRomInfoStatusOffset = 4;

static UINT32 SavedSize(UINT32 operation) {
    if (operation >= SMI_CMD_ENABLE_FLASH && operation <= SMI_CMD_WRITE_FLASH) return kFuncBlockSaveSize;
    if (operation == SMI_CMD_GET_FLASH_INFO) return kRomInfoSaveSize;
    return 0;
}

// The copy lives in the runner's own frame, so that a hook that sends a
// request of its own (and so runs the runners again) cannot overwrite it.
static ENUM_ERR_ID RunHooks(const HuxFlashLibHook* list, UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data,
                            CallBackFn_T CallBack) {
    UINT8 saved[kRomInfoSaveSize];
    UINT32 savedSize = gpIntrBuf != nullptr ? SavedSize(Operation) : 0;
    MemCpy(saved, gpIntrBuf, savedSize);

    ENUM_ERR_ID result = eEID_NO_ERROR;
    for (UINT32 i = 0; i < FLASH_LIB_HOOK_SLOTS && list[i] != nullptr; ++i) {
        result = list[i](Operation, Offset, Size, Data, CallBack);
    }

    if (savedSize == kRomInfoSaveSize) {
        // The ROM information status keeps what the hooks left in it.
        saved[kRomInfoStatusOffset] = gpIntrBuf[kRomInfoStatusOffset];
    }
    MemCpy(gpIntrBuf, saved, savedSize);
    return result;
}

ENUM_ERR_ID FlashLibBeforeOperation(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data, CallBackFn_T CallBack) {
    return RunHooks(FlashLibBeforeOperationHooks, Operation, Offset, Size, Data, CallBack);
}

ENUM_ERR_ID FlashLibAfterOperation(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data, CallBackFn_T CallBack) {
    return RunHooks(FlashLibAfterOperationHooks, Operation, Offset, Size, Data, CallBack);
}
