// Hook lists of the flash library.
#include "FlashLibHooks.h"

HuxFlashLibHook FlashLibBeforeOperationHooks[FLASH_LIB_HOOK_SLOTS] = {
    FlashLibBeforeOperation_SMI_IFC_Delay,
    FlashLibHookNull,
    nullptr,
    nullptr,
};

HuxFlashLibHook FlashLibAfterOperationHooks[FLASH_LIB_HOOK_SLOTS] = {
    FlashLibHookNull,
    nullptr,
    nullptr,
    nullptr,
};

ENUM_ERR_ID FlashLibHookNull(UINT32, UINT32, UINT32, void*, CallBackFn_T) { return eEID_NO_ERROR; }
