// Engineering "2x2": selectable, acts on nothing. Its registrar clears the
// eMMC 2+2 mode flag, which the platform probe sets later when it applies.
#include "HuxCoreHooks.h"
#include "YozEgm.h"
#include "YozOptionStore.h"

static TKX_QUEUE_ITEM EGM_R2x2_QueueItem;

static ENUM_ERR_ID R2x2Parse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    EGM_TakeSelection(self, EGM_R2X2);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID R2x2Execute(TKXQueueItemList&) { return eEID_NO_ERROR; }

ENUM_ERR_ID RegisterEGM_R2x2_QueueItem(TKXQueueItemList& items) {
    YOZ_SetEMMC_2x2_Mode(0);
    return EGM_RegisterSubModule(items, EGM_R2x2_QueueItem, eMID_EGM_R2X2, R2x2Parse, R2x2Execute, 0x8020);
}
