// Engineering "er": every block-map run of this run erases its blocks and
// neither writes nor verifies them. The global check's parse sets the steps
// back for the next run.
#include "HuxCoreHooks.h"
#include "YozEgm.h"
#include "YozFlash.h"

static TKX_QUEUE_ITEM EGM_ERASE_QueueItem;

static ENUM_ERR_ID EraseParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    EGM_TakeSelection(self, EGM_ERASE);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID EraseExecute(TKXQueueItemList&) {
    WriteOut(" EGM Erase Enable.\n");
    YOZ_FlashStep = YOZ_FLASH_STEP_ERASE;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_ERASE_QueueItem(TKXQueueItemList& items) {
    return EGM_RegisterSubModule(items, EGM_ERASE_QueueItem, eMID_EGM_ERASE, EraseParse, EraseExecute, 0x8020);
}
