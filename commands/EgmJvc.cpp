// Engineering "jvc": skips the firmware-family check for this run. Its parse
// turns the check on again; its execute, which comes before the family check
// module's, turns it off.
#include "HuxCoreHooks.h"
#include "YozEgm.h"
#include "YozOptionStore.h"

static TKX_QUEUE_ITEM EGM_JVC_QueueItem;

static ENUM_ERR_ID JvcParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    YOZ_SetOrvexCheck(1);
    EGM_TakeSelection(self, EGM_JVC);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID JvcExecute(TKXQueueItemList&) {
    YOZ_SetOrvexCheck(0);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_JVC_QueueItem(TKXQueueItemList& items) {
    return EGM_RegisterSubModule(items, EGM_JVC_QueueItem, eMID_EGM_JVC, JvcParse, JvcExecute, 0x8020);
}
