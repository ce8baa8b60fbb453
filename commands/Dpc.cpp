// "/dpc": skip the firmware-generation (Orvex) check. Its parse puts the
// battery-check skip back to off; "/jbc", which parses later, may set it.
#include "HuxCompat.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM s_DpcItem;

static ENUM_ERR_ID DpcParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    YOZ_Set_JumpBatteryCheckStatus(0);
    YOZ_SetOrvexCheck(1);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/dpc", 1) != 1) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID DpcExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_DpcItem.ModeMask)) return eEID_NO_ERROR;
    YOZ_SetOrvexCheck(0);
    return eEID_NO_ERROR;
}

static void DpcHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_DpcItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Don't Check Orvex 4 and Orvex 5 platform.                    |\n", 11, "/DPC");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID Register_DPC_QueueItem(TKXQueueItemList& items) {
    s_DpcItem = TKX_QUEUE_ITEM{eMID_DPC, DpcParse, DpcExecute, DpcHelp, nullptr, 0, 0, 17, YOZ_MODE_EVERY, 0};
    items.push_back(&s_DpcItem);
    HuxDeclareCompat(&s_DpcItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
