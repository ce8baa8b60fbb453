// The always-on secure-flash module: reads the firmware's secure-flash
// policy in the execute pass, after the BIOS-information module has opened
// the flash interface.
#include "HuxCoreHooks.h"
#include "SecureFlash.h"

static TKX_QUEUE_ITEM SecureFlashQueueItem;

// A firmware that answers the policy request without a policy has secure
// flash whose rules are unknown: the run stops before anything is written.
static ENUM_ERR_ID ExecutionActionFunction(TKXQueueItemList&) {
    FLASH_SetSecureFlashSupported(FLASH_InitialSecureFlashPolicy());
    return FLASH_PolicyRefused() ? eEID_SECURE_FLASH_POLICY_GET : eEID_NO_ERROR;
}

static ENUM_ERR_ID RegisterFunction(TKXQueueItemList& items) {
    SecureFlashQueueItem = TKX_QUEUE_ITEM{};
    SecureFlashQueueItem.ModuleId = eMID_SECUREFLASH;
    SecureFlashQueueItem.ExecutionActionFunction = ExecutionActionFunction;
    SecureFlashQueueItem.Enabled = 1;
    SecureFlashQueueItem.StopParse = 0;
    SecureFlashQueueItem.OrderKey = 0x6000;
    FLASH_ResetSecureFlashState();
    items.push_back(&SecureFlashQueueItem);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterSecureFlashQueueItem(TKXQueueItemList& items) { return RegisterFunction(items); }
