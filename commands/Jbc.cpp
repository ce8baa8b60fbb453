// "/jbc": skip the AC adapter and battery check of the pre-flash pipeline.
// The skip is set as soon as the word is claimed, because the check runs in
// the global check item, which executes before this module.
#include "HuxCompat.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM s_JbcItem;

static ENUM_ERR_ID JbcParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    YOZ_Set_JumpBatteryCheckStatus(0);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/jbc", 1) != 1) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
        YOZ_Set_JumpBatteryCheckStatus(1);
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID JbcExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_JbcItem.ModeMask)) return eEID_NO_ERROR;
    YOZ_Set_JumpBatteryCheckStatus(1);
    return eEID_NO_ERROR;
}

static void JbcHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_JbcItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Don't Check AC adapter and battery                           |\n", 11, "/JBC");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID Register_JBC_QueueItem(TKXQueueItemList& items) {
    s_JbcItem = TKX_QUEUE_ITEM{eMID_JBC, JbcParse, JbcExecute, JbcHelp, nullptr, 0, 0, 18, YOZ_MODE_EVERY, 0};
    items.push_back(&s_JbcItem);
    HuxDeclareCompat(&s_JbcItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
