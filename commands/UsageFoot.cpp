// Usage-foot module: closes the usage box after every option line.
#include "HuxCoreHooks.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"

static const UINT8 kUsageFootMask = YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF;

static ENUM_ERR_ID UsageFootParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    self->Enabled = 1;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID UsageFootExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }

static void UsageFootHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(kUsageFootMask)) return;
    if (pass != 0) return;
    WriteOut("+---------------------------------------------------------------------------+\n");
    YOZ_CheckGlobalLineCont(0);
}

static TKX_QUEUE_ITEM s_UsageFootItem;

ENUM_ERR_ID RegisterusagefootQueueItem(TKXQueueItemList& items) {
    s_UsageFootItem = TKX_QUEUE_ITEM{eMID_USAGEFOOT, UsageFootParse, UsageFootExecute, UsageFootHelp, nullptr, 0, 0, 0,
                                     kUsageFootMask, 0};
    items.push_back(&s_UsageFootItem);
    return eEID_NO_ERROR;
}
