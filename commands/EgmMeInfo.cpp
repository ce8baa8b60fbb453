// Engineering "meinfo": the ME debug dumps: the firmware's ME region table,
// then the ignition support query and, when that reports no support, the
// full support query. It reports nothing as an error.
#include "HuxCoreHooks.h"
#include "YozEgm.h"
#include "ZoktMe.h"

static TKX_QUEUE_ITEM EGM_MEINFO_QueueItem;

static ENUM_ERR_ID MeInfoParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    EGM_TakeSelection(self, EGM_MEINFO);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MeInfoExecute(TKXQueueItemList&) {
    ZOKT_MER_Load_debug();
    if (!ZOKT_ME_Ignition_CheckSupport_debug()) ZOKT_ME_CheckSupport_debug();
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_MEINFO_QueueItem(TKXQueueItemList& items) {
    return EGM_RegisterSubModule(items, EGM_MEINFO_QueueItem, eMID_EGM_MEINFO, MeInfoParse, MeInfoExecute, 0x4E34);
}
