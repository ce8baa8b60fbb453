// Manufacturing switch: at registration it asks the firmware for its table
// of manufacturing option words and records whether the firmware answered
// (manufacturing mode). It claims no word and does nothing later.
#include "HuxCoreHooks.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "ZoktMfg.h"

// Like every masked module it asks the mode filter, which may install the
// BIOS Guard usage printer.
static ENUM_ERR_ID MfgParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    YOZ_ModeTakesPart(self->ModeMask);
    return eEID_NO_ERROR;
}
static ENUM_ERR_ID MfgExecute(TKXQueueItemList&) {
    YOZ_ModeTakesPart(YOZ_MODE_EVERY);
    return eEID_NO_ERROR;
}
static void MfgHelp(UINT8) { YOZ_ModeTakesPart(YOZ_MODE_EVERY); }

static TKX_QUEUE_ITEM s_MfgItem;

ENUM_ERR_ID RegisterMFGQueueItem(TKXQueueItemList& items) {
    // Module id 22 is shared with the configuration module.
    s_MfgItem = TKX_QUEUE_ITEM{eMID_CFG, MfgParse, MfgExecute, MfgHelp, nullptr, 1, 0, 0x4E20, YOZ_MODE_EVERY, 0};
    YOZ_SetMFGIsEnable(ZOKT_YOZMFG_Support());
    items.push_back(&s_MfgItem);
    return eEID_NO_ERROR;
}
