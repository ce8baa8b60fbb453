// Engineering "npslp": the region flashes do not carry the system's SLP data
// into the new image, so the image's SLP data is written; the check that
// stops a flash which would lose an SLP key is lifted with it.
#include "HuxCoreHooks.h"
#include "YozEgm.h"
#include "YozOptionStore.h"

static TKX_QUEUE_ITEM EGM_NPSLP_QueueItem;

static ENUM_ERR_ID NpslpParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    YOZ_SetNPSLPMode(0);
    EGM_TakeSelection(self, EGM_NPSLP);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NpslpExecute(TKXQueueItemList&) {
    YOZ_SetNPSLPMode(1);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_NPSLP_QueueItem(TKXQueueItemList& items) {
    return EGM_RegisterSubModule(items, EGM_NPSLP_QueueItem, eMID_EGM_NPSLP, NpslpParse, NpslpExecute, 0x8020);
}
